#include "Startup.h"

#include "FormReader.h"
#include "RXSplit.h"
#include "Trans.h"
#include "Unit2.h"
#include "Unit4.h"
#include "unit1.h"

#include <QStandardPaths>

void RegisterGlyvexClasses() {
    RegisterStandardClasses();
    TClassRegistry::Register<TRxSplitter>();
    TClassRegistry::Register<TTranslator>();
}

QString FaceMetricsCacheFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/glyvex/facemetrics.cache");
}

int RunGlyvex() {
    Application->SetTitle(QStringLiteral("Glyvex"));
    Form2 = TForm::Create<TForm2>(Application);
    Form2->Label1->SetCaption(QStringLiteral("Reading..."));
    Form2->Show();
    Form2->Update();
    Application->CreateForm(Form1);
    Application->CreateForm(Form4);
    Application->Run();
    return 0;
}
