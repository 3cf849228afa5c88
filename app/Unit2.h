// The splash window, which later serves as the progress window of every Text-page refresh.
#pragma once

#include "ComCtrls.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "StdCtrls.h"
#include "Trans.h"

class TForm2 : public TForm {
    Q_OBJECT
public:
    explicit TForm2(TComponent* AOwner);

    TPanel* Panel1 = nullptr;
    TImage* Image1 = nullptr;
    TLabel* Label1 = nullptr;
    TProgressBar* ProgressBar1 = nullptr;
    TTranslator* Translator1 = nullptr;
};

extern TForm2* Form2;
