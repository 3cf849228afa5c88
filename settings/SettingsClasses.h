// The settings components, for stored definitions to name.
#pragma once

#include "FormReader.h"
#include "Placemnt.h"
#include "RxHook.h"

inline void RegisterSettingsClasses() {
    TClassRegistry::Register<TFormPlacement>();
    TClassRegistry::Register<TFormStorage>();
    TClassRegistry::Register<TRxWindowHook>();
}
