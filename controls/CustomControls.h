// The custom controls, for stored definitions to name.
#pragma once

#include "FormReader.h"
#include "RXCtrls.h"
#include "RXSplit.h"
#include "RxTimer.h"
#include "UrlLabel.h"

inline void RegisterCustomControls() {
    TClassRegistry::Register<TRxSplitter>();
    TClassRegistry::Register<TRxTimer>();
    TClassRegistry::Register<TSecretPanel>();
    TClassRegistry::Register<TUrlLabel>();
}
