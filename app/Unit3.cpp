#include "Unit3.h"

TForm3* Form3 = nullptr;

TForm3::TForm3(TComponent* AOwner) : TForm(AOwner) {
    ReadDefinition(QStringLiteral(":/app/Unit3.gxf"));
    BindComponent(GroupBox2, "GroupBox2");
    BindComponent(Image1, "Image1");
    BindComponent(GroupBox1, "GroupBox1");
    BindComponent(SecretPanel1, "SecretPanel1");
    BindComponent(UrlLabel1, "UrlLabel1");
    BindComponent(UrlLabel2, "UrlLabel2");
    BindComponent(Button1, "Button1");
}

std::span<const TMethodBinding> TForm3::PublishedMethods() const {
    static const TMethodBinding methods[] = {
        PUBLISHED_METHOD(TForm3, FormShow),
        PUBLISHED_METHOD(TForm3, Button1Click),
        PUBLISHED_METHOD(TForm3, SecretPanel1MouseDown),
        PUBLISHED_METHOD(TForm3, Image1DblClick),
    };
    return methods;
}

void TForm3::FormShow(TObject*) {
    SecretPanel1->SetActive(true);
}

void TForm3::Button1Click(TObject*) {
    SecretPanel1->SetActive(false);
    GroupBox1->Show();
    GroupBox2->Hide();
    Close();
}

void TForm3::SecretPanel1MouseDown(TObject*, TMouseButton Button, TShiftState Shift, int, int) {
    if (Button != mbLeft || !Shift.testFlag(ssCtrl)) return;
    GroupBox1->Hide();
    GroupBox2->Show();
}

void TForm3::Image1DblClick(TObject*) {
    GroupBox1->Show();
    GroupBox2->Hide();
}
