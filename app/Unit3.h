// The About dialog: scrolling credits over the program picture, the maker's web
// page and mail address as links, and a hidden second view with another picture.
#pragma once

#include "ExtCtrls.h"
#include "Forms.h"
#include "RXCtrls.h"
#include "StdCtrls.h"
#include "UrlLabel.h"

class TForm3 : public TForm {
    Q_OBJECT
public:
    explicit TForm3(TComponent* AOwner);

    TGroupBox* GroupBox2 = nullptr;
    TImage* Image1 = nullptr;
    TGroupBox* GroupBox1 = nullptr;
    TSecretPanel* SecretPanel1 = nullptr;
    TUrlLabel* UrlLabel1 = nullptr;
    TUrlLabel* UrlLabel2 = nullptr;
    TButton* Button1 = nullptr;

    void FormShow(TObject* Sender);
    void Button1Click(TObject* Sender);
    void SecretPanel1MouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
    void Image1DblClick(TObject* Sender);

    std::span<const TMethodBinding> PublishedMethods() const override;
};

extern TForm3* Form3;
