// What the program remembers between runs: the settings file after a first
// start, and the language, sample text and size coming back at the next start.
#include "TestMain.h"

#include "Placemnt.h"
#include "Startup.h"
#include "Unit2.h"
#include "Unit4.h"
#include "unit1.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

QString HiveText() {
    QFile f(TRegIniFile::HivePath());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

class TstSettings : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnvironment> env;
    const QStringList fonts{"Gamma Mono", "Alpha Sans", "beta serif"};

    // The main procedure's steps up to the message loop, which shows the main window.
    void Start(const QString& kept = {}) {
        env = std::make_unique<TestEnvironment>(fonts);
        if (!kept.isEmpty()) {
            QFile f(TRegIniFile::HivePath());
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(kept.toUtf8());
        }
        Form2 = TForm::Create<TForm2>(Application);
        Form2->Label1->SetCaption("Reading...");
        Application->CreateForm(Form1);
        Application->CreateForm(Form4);
        Form1->Show();
    }
    // "Datei / Beenden", then the end of the program.
    void Quit() {
        Form1->Beenden1Click(Form1->Beenden1);
        End();
    }
    // The application object goes, and every window it still owns with it.
    void End() {
        env.reset();
        Form1 = nullptr;
        Form2 = nullptr;
        Form4 = nullptr;
    }
    // The next start finds the settings the last one left.
    void Restart() {
        Quit();
        Start(HiveText());
    }

private slots:
    void cleanup() { End(); }

    void aFirstStartLeavesTheBaseKeyAndTheMainWindowsValues() {
        Start();
        QCOMPARE(Form1->Width(), 646);
        QCOMPARE(Form1->Height(), 472);
        const QString sample = Form1->Edit1->Text().trimmed();
        const QRect r = Form1->BoundsRect();
        Quit();
        QCOMPARE(HiveText(), QStringLiteral("Windows Registry Editor Version 5.00\n\n"
                                            "[HKEY_CURRENT_USER\\Software\\Tandor\\Glyvex\\Forms]\n"
                                            "\"Flags\"=\"0\"\n"
                                            "\"ShowCmd\"=\"1\"\n"
                                            "\"MinMaxPos\"=\"-1,-1,-4,-4\"\n"
                                            "\"NormPos\"=\"%1,%2,%3,%4\"\n"
                                            "\"Visible\"=\"0\"\n"
                                            "\"Edit1_Text\"=\"%5\"\n"
                                            "\"Translator1_CurrentLanguage\"=\"German\"\n\n"
                                            "[HKEY_CURRENT_USER\\Software\\tst_settings]\n\n")
                                 .arg(r.left())
                                 .arg(r.top())
                                 .arg(r.left() + r.width())
                                 .arg(r.top() + r.height())
                                 .arg(sample));
    }

    void theFontInfoWindowShownOnceIsSavedAtTheEnd() {
        Start();
        Form1->FontInfo1Click(Form1->FontInfo1);
        QVERIFY(Form4->Visible());
        Form4->SetBounds(40, 60, Form4->Width(), Form4->Height());
        Form1->FontInfo1Click(Form1->FontInfo1); // hidden by the command: not saved yet
        QVERIFY(!HiveText().contains("Forms\\info"));
        const int w = Form4->Width(), h = Form4->Height();
        Quit();
        const QString text = HiveText();
        const QString info =
            QStringLiteral("[HKEY_CURRENT_USER\\Software\\Tandor\\Glyvex\\Forms\\info]\n"
                           "\"Flags\"=\"0\"\n\"ShowCmd\"=\"1\"\n\"MinMaxPos\"=\"-1,-1,-1,-1\"\n"
                           "\"NormPos\"=\"40,60,%1,%2\"\n\"Visible\"=\"1\"\n\n")
                .arg(40 + w)
                .arg(60 + h);
        QVERIFY2(text.contains(info), qPrintable(text));
        QVERIFY(text.indexOf("Glyvex\\Forms]") < text.indexOf("Glyvex\\Forms\\info]"));

        // It comes back at its place every time it is shown.
        Start(text);
        Form1->FontInfo1Click(Form1->FontInfo1);
        QCOMPARE(Form4->Left(), 40);
        QCOMPARE(Form4->Top(), 60);
        Form4->SetBounds(300, 200, w, h);
        Form1->FontInfo1Click(Form1->FontInfo1);
        Form1->FontInfo1Click(Form1->FontInfo1);
        QCOMPARE(Form4->Left(), 40);
        Form4->Close(); // its own close button saves
        Form4->Show();
        QCOMPARE(Form4->Left(), 40);
    }

    void theLanguageAtExitIsTheLanguageAtTheNextStart() {
        Start();
        Form1->English1Click(Form1->English1);
        Restart();
        QCOMPARE(Form1->Translator1->CurrentLanguage(), English);
        QVERIFY(Form1->Memo2->Visible());
        QVERIFY(!Form1->Memo1->Visible());
        QCOMPARE(Application->HelpFile(), "glyvexe.hlp");
        QCOMPARE(Form1->Beenden1->Caption(), "E&xit");
        QCOMPARE(Form2->Label1->Caption(), "Reading fonts...");
        Form1->English1Click(Form1->English1);
        Restart();
        QCOMPARE(Form1->Translator1->CurrentLanguage(), German);
        QCOMPARE(Application->HelpFile(), "glyvex.hlp");
    }

    void theSampleTextAndSizeComeBack() {
        Start();
        Form1->Edit1->SetText("  Zwölf Boxkämpfer  ");
        Form1->SetBounds(Form1->Left(), Form1->Top(), 700, 500);
        Restart();
        QCOMPARE(Form1->Edit1->Text(), "Zwölf Boxkämpfer");
        QCOMPARE(Form1->Width(), 700);
        QCOMPARE(Form1->Height(), 500);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(Form1->Left(), screen.left() + (screen.width() - 700) / 2);
        Form1->VorgegebenenTextansehen1Click(Form1->VorgegebenenTextansehen1);
        int fields = 0;
        for (int i = 0; i < Form1->ComponentCount(); ++i)
            if (auto* e = dynamic_cast<TEdit*>(Form1->Components(i)); e && e->Tag() == TForm1::PerFontTag) {
                QVERIFY2(e->Text().startsWith("Zwölf Boxkämpfer ("), qPrintable(e->Text()));
                ++fields;
            }
        QCOMPARE(fields, fonts.size());
    }
};

QTEST_MAIN(TstSettings)
#include "tst_settings.moc"
