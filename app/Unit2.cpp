#include "Unit2.h"

TForm2* Form2 = nullptr;

TForm2::TForm2(TComponent* AOwner) : TForm(AOwner) {
    ReadDefinition(QStringLiteral(":/app/Unit2.gxf"));
    BindComponent(Panel1, "Panel1");
    BindComponent(Image1, "Image1");
    BindComponent(Label1, "Label1");
    BindComponent(ProgressBar1, "ProgressBar1");
    BindComponent(Translator1, "Translator1");
}
