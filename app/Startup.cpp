#include "Startup.h"

#include "CustomControls.h"
#include "FormReader.h"
#include "SettingsClasses.h"
#include "Trans.h"
#include "Unit2.h"
#include "Unit3.h"
#include "Unit4.h"
#include "WhenShown.h"
#include "unit1.h"

#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QStandardPaths>

#include "FaceMetrics.h"

void RegisterGlyvexClasses() {
    RegisterStandardClasses();
    RegisterCustomControls();
    RegisterSettingsClasses();
    TClassRegistry::Register<TTranslator>();
}

QString FaceMetricsCacheFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/glyvex/facemetrics.cache");
}

QStringList InterfaceFontNames() {
    QStringList names{QGuiApplication::font().family()};
    static const QRegularExpression fontName(QStringLiteral(R"re(^\s*Font\.Name\s*=\s*"([^"\\]+)"\s*$)re"),
                                             QRegularExpression::MultilineOption);
    for (const char* definition :
         {":/app/Unit2.gxf", ":/app/unit1.gxf", ":/app/Unit3.gxf", ":/app/Unit4.gxf"}) {
        QFile file(QString::fromLatin1(definition));
        if (!file.open(QIODevice::ReadOnly)) continue;
        const QString text = QString::fromUtf8(file.readAll());
        for (auto it = fontName.globalMatch(text); it.hasNext();) {
            const QString name = it.next().captured(1);
            if (!names.contains(name)) names << name;
        }
    }
    return names;
}

// Keeps the face metrics for the next start once the main window is on screen, so a
// session that never ends cleanly still leaves them. Not before: a first start writes
// every family's figures, and the user would wait for that before seeing the window.
// A window that stays hidden (started minimised) waits a few seconds at most.
static void SaveFaceMetricsWhenShown() {
    using namespace std::chrono_literals;
    WhenShown(
        Form1, [] { return Form1 && Form1->Exposed(); }, 5s,
        [] {
            if (TFaceMetrics* metrics = Screen ? Screen->FaceMetrics() : nullptr) metrics->saveCache();
        });
}

void CreateGlyvexForms(const QStringList& fontFiles) {
    Application->SetTitle(QStringLiteral("Glyvex"));
    Form2 = TForm::Create<TForm2>(Application);
    Form2->Label1->SetCaption(QStringLiteral("Reading..."));
    Form2->Show();
    Form2->Update();
    // Before the main window: its list and fields are made from the screen's families.
    const TFontFileBatch opened = OpenFontFiles(fontFiles);
    Screen->AddFonts(opened.families);
    Application->CreateForm(Form1);
    if (!opened.first.isEmpty()) Form1->SelectFamily(opened.first);
    Form1->ReportFontFiles(opened.failed);
    Application->CreateForm(Form3);
    Application->CreateForm(Form4);
    SaveFaceMetricsWhenShown();
}

int RunGlyvex(const QStringList& fontFiles) {
    CreateGlyvexForms(fontFiles);
    Application->Run();
    return 0;
}

QStringList FontFileArguments(int argc, char* argv[]) {
    QStringList files;
    for (int i = 1; i < argc; ++i)
        if (argv[i]) files << QFile::decodeName(argv[i]); // file names are bytes, not text
    return files;
}
