// The main window's menu, keys, help and language switch, with the splash following.
#include "TestMain.h"

#include "HelpViewer.h"
#include "Startup.h"
#include "Unit2.h"
#include "Unit4.h"
#include "unit1.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

namespace {

QStringList BarTexts() {
    QStringList r;
    for (auto* a : Form1->MainMenu2->MenuBar()->actions())
        r << a->text();
    return r;
}

// The entries of a menu as the user sees them: hidden ones left out, separators as "-".
QStringList ShownEntries(TMenuItem* menu) {
    QStringList r;
    for (int i = 0; i < menu->Count(); ++i) {
        QAction* a = menu->Items(i)->Action();
        if (a->isVisible()) r << (a->isSeparator() ? QStringLiteral("-") : a->text());
    }
    return r;
}

void Activate(TCustomForm* f) {
    f->Show();
    QApplication::setActiveWindow(f->Widget());
    QVERIFY(QTest::qWaitForWindowActive(f->Widget()));
}

} // namespace

class TstLanguage : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnvironment> env;

private slots:
    void init() {
        env = std::make_unique<TestEnvironment>(QStringList{"Gamma Mono", "Alpha Sans", "beta serif"});
        RegisterGlyvexClasses();
        // As the main procedure does it.
        Form2 = TForm::Create<TForm2>(Application);
        Form2->Label1->SetCaption("Reading...");
        Application->CreateForm(Form1);
        Application->CreateForm(Form4);
    }
    void cleanup() {
        env.reset();
        Form1 = nullptr;
        Form2 = nullptr;
        Form4 = nullptr;
    }

    void theWindowsComeUpGerman() {
        QCOMPARE(Form1->Translator1->TranslateList()->Count(), 210);
        QCOMPARE(Form2->Translator1->TranslateList()->Count(), 34);
        QVERIFY(Form1->Translator1->TranslateAllForms());
        QVERIFY(!Form2->Translator1->TranslateAllForms());

        QCOMPARE(BarTexts(), QStringList({"&Datei", "&Ansicht", "&Hilfe"}));
        QCOMPARE(ShownEntries(Form1->Ansicht1), QStringList({"&Alphabet", "&Textansicht", "-", "&English"}));
        QCOMPARE(ShownEntries(Form1->Hilfe1), QStringList({"&Hilfethemen...\tF1", "&Info..."}));
        QCOMPARE(Form1->Caption(), QStringLiteral("Glyvex"));
        QCOMPARE(Form1->Label1->Caption(), QStringLiteral("Größe:"));
        QCOMPARE(Form1->Label2->Caption(), QString::number(Form1->TrackBar1->Position()));
        QVERIFY(Form1->Memo1->Visible());
        QVERIFY(!Form1->Memo2->Visible());
        QCOMPARE(Application->HelpFile(), QStringLiteral("glyvex.hlp"));
        // The main window's first translation reached the splash too.
        QCOMPARE(Form2->Label1->Caption(), QStringLiteral("Fonts einlesen..."));
    }

    void theLanguageItemSwitchesTheInterfaceAndBack() {
        Form1->TrackBar1->MoveByUser(37);
        const QString sample = Form1->Edit1->Text();
        Form1->English1->Click();

        QCOMPARE(Form1->Translator1->CurrentLanguage(), English);
        QCOMPARE(Form2->Translator1->CurrentLanguage(), English);
        QCOMPARE(BarTexts(), QStringList({"&File", "&View", "&Help"}));
        QCOMPARE(ShownEntries(Form1->Ansicht1), QStringList({"&Alphabet", "&Textview", "-", "&Deutsch"}));
        QCOMPARE(ShownEntries(Form1->Datei1), QStringList({"E&xit"}));
        QCOMPARE(ShownEntries(Form1->Hilfe1), QStringList({"&Help Topics...\tF1", "&Info..."}));
        QCOMPARE(Form1->Label1->Caption(), QStringLiteral("Size:"));
        QCOMPARE(Form1->Label3->Caption(), QStringLiteral("Display Text:"));
        QCOMPARE(Form1->CheckBox1->Caption(), QStringLiteral("&Bold"));
        QCOMPARE(Form1->CheckBox2->Caption(), QStringLiteral("&Italic"));
        QCOMPARE(Form1->Button1->Caption(), QStringLiteral("&Refresh"));
        QCOMPARE(Form1->Label2->Caption(), QStringLiteral("37"));
        QVERIFY(!Form1->Memo1->Visible());
        QVERIFY(Form1->Memo2->Visible());
        QCOMPARE(Application->HelpFile(), QStringLiteral("glyvexe.hlp"));
        QCOMPARE(Form2->Label1->Caption(), QStringLiteral("Reading fonts..."));
        // What the table does not reach stays as designed.
        QCOMPARE(Form1->TabSheet1->Caption(), QStringLiteral("Alphabet"));
        QCOMPARE(Form1->TabSheet2->Caption(), QStringLiteral("Text"));
        QCOMPARE(Form1->Edit1->Text(), sample);
        QCOMPARE(Form1->StatusBar1->Panels()->Items(0)->Text(), QStringLiteral("3 Fonts"));
        QCOMPARE(Form4->Label2->Caption(), QStringLiteral("Dateiname:"));
        QCOMPARE(Form4->Button1->Caption(), QStringLiteral("Kopieren..."));

        // The splash keeps its English label through a refresh of the Text page.
        Form1->RefreshEditfields();
        QCOMPARE(Form2->Label1->Caption(), QStringLiteral("Reading fonts..."));

        Form1->English1->Action()->trigger();
        QCOMPARE(Form1->Translator1->CurrentLanguage(), German);
        QCOMPARE(BarTexts(), QStringList({"&Datei", "&Ansicht", "&Hilfe"}));
        QCOMPARE(Form1->English1->Caption(), QStringLiteral("&English"));
        QCOMPARE(Form1->Label1->Caption(), QStringLiteral("Größe:"));
        QCOMPARE(Form1->Label2->Caption(), QStringLiteral("37"));
        QVERIFY(Form1->Memo1->Visible());
        QVERIFY(!Form1->Memo2->Visible());
        QCOMPARE(Application->HelpFile(), QStringLiteral("glyvex.hlp"));
        QCOMPARE(Form2->Label1->Caption(), QStringLiteral("Fonts einlesen..."));
    }

    void theStoredLanguageRunsTheAfterTranslateHandler() {
        // What the settings store does at the first showing: set the property by name.
        QVERIFY(Form1->Translator1->setProperty("CurrentLanguage", QVariant::fromValue(English)));
        QCOMPARE(Form1->Translator1->CurrentLanguage(), English);
        QVERIFY(Form1->Memo2->Visible());
        QCOMPARE(Application->HelpFile(), QStringLiteral("glyvexe.hlp"));
        QCOMPARE(Form1->Label2->Caption(), QString::number(Form1->TrackBar1->Position()));
        QCOMPARE(Form2->Label1->Caption(), QStringLiteral("Reading fonts..."));
        // And back to German the same way (a store holding "German"): help file and memo follow.
        QVERIFY(Form1->Translator1->setProperty("CurrentLanguage", QStringLiteral("German")));
        QCOMPARE(Form1->Translator1->CurrentLanguage(), German);
        QCOMPARE(Application->HelpFile(), QStringLiteral("glyvex.hlp"));
        QVERIFY(Form1->Memo1->Visible() && !Form1->Memo2->Visible());
        QCOMPARE(Form1->Label2->Caption(), QString::number(Form1->TrackBar1->Position()));
    }

    void f1OpensTheHelpOfTheCurrentLanguage() {
        Activate(Form1);
        QTest::keyClick(Form1->Widget(), Qt::Key_F1);
        QTextBrowser* help = Application->HelpViewer()->Window();
        QVERIFY(help && help->isVisible());
        QCOMPARE(help->windowTitle(), QStringLiteral("Glyvex-Hilfe"));
        help->close();

        Form1->English1->Click();
        Activate(Form1);
        QTest::keyClick(Form1->Widget(), Qt::Key_F1);
        QVERIFY(help->isVisible());
        QCOMPARE(help->windowTitle(), QStringLiteral("Glyvex Help"));
        help->close();

        // F1 reaching the window itself does the same; other keys do nothing.
        Word key = 'A';
        Form1->FormKeyDown(Form1, key, {});
        QVERIFY(!help->isVisible());
        key = VK_F1;
        Form1->FormKeyDown(Form1, key, {});
        QCOMPARE(key, VK_F1);
        QVERIFY(help->isVisible());
    }

    void ctrlIShowsAndHidesTheFontInfoWindow() {
        QVERIFY(!Form4->Visible());
        Activate(Form1);
        QTest::keyClick(Form1->Widget(), Qt::Key_I, Qt::ControlModifier);
        QVERIFY(Form4->Visible());
        QVERIFY(Form1->FontInfo1->Checked());
        QVERIFY(!Form1->FontInfo1->Visible());

        Activate(Form1);
        QTest::keyClick(Form1->Widget(), Qt::Key_I, Qt::ControlModifier);
        QVERIFY(!Form4->Visible());
        QVERIFY(!Form1->FontInfo1->Checked());

        // Closing the window itself leaves the check mark; the next Ctrl+I flips both.
        Activate(Form1);
        QTest::keyClick(Form1->Widget(), Qt::Key_I, Qt::ControlModifier);
        Form4->Close();
        QVERIFY(!Form4->Visible());
        QVERIFY(Form1->FontInfo1->Checked());
        Activate(Form1);
        QTest::keyClick(Form1->Widget(), Qt::Key_I, Qt::ControlModifier);
        QVERIFY(Form4->Visible());
        QVERIFY(!Form1->FontInfo1->Checked());
        // German in both languages.
        Form1->English1->Click();
        QCOMPARE(Form4->Caption(), QStringLiteral("Font Info"));
        QCOMPARE(Form4->Label2->Caption(), QStringLiteral("Dateiname:"));
    }

    void exitEndsTheProgramWhateverWindowsAreOpen() {
        // "Datei / Beenden" with the font-info window showing: the first one ends the
        // message loop, through the main window's close sequence.
        Form4->Show();
        bool timedOut = false;
        QTimer::singleShot(0, [] { Form1->Beenden1->Click(); });
        QObject watchdogScope; // the watchdog must not outlive this test's locals
        QTimer::singleShot(2000, &watchdogScope, [&] {
            timedOut = true;
            QCoreApplication::exit(1);
        });
        Application->Run();
        QVERIFY(!timedOut);
        QVERIFY(Application->Terminated());
        QVERIFY(Form1->Closing());
        QCOMPARE(Form2, nullptr);
        QVERIFY(env->errors.isEmpty());
    }

    void theViewCommandsChangeThePage() {
        Form1->VorgegebenenTextansehen1->Click();
        QCOMPARE(Form1->PageControl1->ActivePage(), Form1->TabSheet2);
        // The command refreshes the fields also when the page is already showing.
        auto* field = dynamic_cast<TEdit*>(Form1->FindComponent("MyEdit1"));
        QVERIFY(field);
        const QString text = field->Text();
        field->SetText("überschrieben");
        Form1->VorgegebenenTextansehen1->Click();
        QCOMPARE(field->Text(), text);

        Form1->Alphabetansehen1->Click();
        QCOMPARE(Form1->PageControl1->ActivePage(), Form1->TabSheet1);
    }
};

QTEST_MAIN(TstLanguage)
#include "tst_language.moc"
