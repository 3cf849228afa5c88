// Form placement and storage: when a form saves and restores, what it writes,
// how stored placements are applied, the stores behind it, size limits and
// resize prevention.
#include "TestMain.h"

#include "Placemnt.h"
#include "StdCtrls.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace {

const QString Section = QStringLiteral("\\Software\\Test\\Forms");

QString HiveText() {
    QFile f(TRegIniFile::HivePath());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

void WriteHive(const QString& body) {
    const QString path = TRegIniFile::HivePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Test\\Forms]\n" + body)
                .toUtf8());
}

QString Stored(const QString& name) {
    TRegIniFile reg("Software\\probe");
    return reg.ReadString(Section, name, QStringLiteral("<absent>"));
}

} // namespace

// A form class of its own whose OnDestroy handler uses the derived part of the form.
class TKeptForm : public TForm {
    Q_OBJECT
public:
    using TForm::TForm;
    static inline QStringList calls;
    QStringList own; // a member of the derived form: gone once its destructor has run

    void FormDestroy(TObject* sender) {
        if (!dynamic_cast<TKeptForm*>(sender)) {
            calls << QStringLiteral("partial");
            return;
        }
        own << Stored(QStringLiteral("Visible"));
        calls << QStringLiteral("whole, stored ") + own.last();
    }
    std::span<const TMethodBinding> PublishedMethods() const override {
        static const TMethodBinding methods[] = {PUBLISHED_METHOD(TKeptForm, FormDestroy)};
        return methods;
    }
};

class TstPlacemnt : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnvironment> env;

    TForm* MakeForm(const QString& formProps = {}, const QString& storageProps = {},
                    TComponent* owner = Application) {
        auto* f = new TForm(owner);
        ReadInto(f, formProps, storageProps);
        return f;
    }
    static void ReadInto(TForm* f, const QString& formProps = {}, const QString& storageProps = {}) {
        TFormReader::ReadFormText(
            f,
            "F: " + QString::fromLatin1(f->metaObject()->className()) +
                " {\n Left = 100\n Top = 80\n Width = 400\n Height = 300\n" + formProps +
                "\n Edit1: TEdit {\n  Left = 8\n  Top = 8\n  Width = 100\n  Text = \"sample\"\n }\n"
                " Storage: TFormStorage {\n  IniSection = \"\\\\Software\\\\Test\\\\Forms\"\n"
                "  UseRegistry = True\n  StoredProps = (\"Edit1.Text\")\n" +
                storageProps + "\n }\n}\n",
            "test");
    }
    static TFormStorage* StorageOf(TForm* f) {
        return dynamic_cast<TFormStorage*>(f->FindComponent("Storage"));
    }
    static TEdit* EditOf(TForm* f) { return dynamic_cast<TEdit*>(f->FindComponent("Edit1")); }

private slots:
    void init() {
        env = std::make_unique<TestEnvironment>();
        QFile::remove(QFileInfo(TRegIniFile::HivePath()).absolutePath()); // a case may leave a file there
        QDir(QFileInfo(TRegIniFile::HivePath()).absolutePath()).removeRecursively();
    }
    void cleanup() { env.reset(); }

    void aClosedFormWritesItsPlacementAndPropertiesInOrder() {
        TForm* f = MakeForm();
        f->Show();
        f->Close();
        QVERIFY(!f->Visible());
        const QString expected =
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Software\\Test\\Forms]\n"
            "\"Flags\"=\"0\"\n\"ShowCmd\"=\"1\"\n\"MinMaxPos\"=\"-1,-1,-4,-4\"\n"
            "\"NormPos\"=\"100,80,500,380\"\n\"Visible\"=\"0\"\n\"Edit1_Text\"=\"sample\"\n\n"
            "[HKEY_CURRENT_USER\\Software\\tst_placemnt]\n\n";
        QCOMPARE(HiveText(), expected);
        delete f; // saved since the last restore: nothing more
        QCOMPARE(HiveText(), expected);
        QVERIFY(env->errors.isEmpty());
    }

    void whenFormsSave() {
        delete MakeForm(); // never shown: nothing stored is overwritten
        QVERIFY(!QFileInfo::exists(TRegIniFile::HivePath()));

        TForm* f = MakeForm();
        f->Show();
        f->Hide(); // hiding does not save
        QCOMPARE(Stored("Visible"), "<absent>");
        delete f; // destroyed without a save since its last show
        QCOMPARE(Stored("Visible"), "1");

        f = MakeForm();
        f->Show();
        f->Close();
        QCOMPARE(Stored("Visible"), "0");
        f->Show(); // shown again: saved again at its end
        EditOf(f)->SetText("changed");
        delete f;
        QCOMPARE(Stored("Visible"), "1");
        QCOMPARE(Stored("Edit1_Text"), "changed");
    }

    // However a form with a placement keeper ends, the keeper saves, and the form's own
    // OnDestroy handler (which the keeper chains to) runs on the whole form, after the save;
    // a form ended in place (not deleted) is no longer whole then, so its handler does not run.
    void theFormsOwnDestroyHandlerRunsOnAWholeForm() {
        enum Way { Deleted, ByOwner, InPlace };
        for (const Way way : {Deleted, ByOwner, InPlace}) {
            QFile::remove(TRegIniFile::HivePath());
            TKeptForm::calls.clear();
            const auto use = [](TKeptForm* f) {
                ReadInto(f, QStringLiteral(" OnDestroy = FormDestroy"));
                f->Show();
                EditOf(f)->SetText(QStringLiteral("typed"));
            };
            if (way == InPlace) {
                TKeptForm f(nullptr);
                use(&f);
            } else {
                auto owner = std::make_unique<TComponent>(nullptr);
                auto* f = new TKeptForm(owner.get());
                use(f);
                if (way == Deleted) delete f;
            }
            QCOMPARE(TKeptForm::calls, way == InPlace ? QStringList() : QStringList{"whole, stored 1"});
            QCOMPARE(Stored("Visible"), "1");
            QCOMPARE(Stored("Edit1_Text"), "typed");
        }
        QVERIFY(env->errors.isEmpty());
    }

    void aShowRestoresPlacementAndProperties() {
        WriteHive("\"NormPos\"=\"110,90,530,400\"\n\"Edit1_Text\"=\"  from before  \"\n");
        TForm* f = MakeForm();
        int restored = 0;
        StorageOf(f)->SetOnRestorePlacement(TNotifyEvent(f, [&](TObject*) { ++restored; }));
        f->Show();
        QCOMPARE(f->BoundsRect(), QRect(110, 90, 420, 310));
        QCOMPARE(EditOf(f)->Text(), "from before");
        QCOMPARE(restored, 1);
        f->Hide();
        f->SetBounds(10, 10, 400, 300);
        f->Show(); // every show restores again
        QCOMPARE(f->BoundsRect(), QRect(110, 90, 420, 310));
        QCOMPARE(restored, 2);
    }

    void storedNormalRectangles_data() {
        QTest::addColumn<QString>("normPos");
        QTest::addColumn<QRect>("bounds");
        QTest::newRow("applied") << "100,50,700,500" << QRect(100, 50, 600, 450);
        QTest::newRow("right not beyond left") << "100,50,100,500" << QRect(100, 80, 400, 300);
        QTest::newRow("bottom not below top") << "100,500,700,500" << QRect(100, 80, 400, 300);
        QTest::newRow("inverted") << "700,500,100,50" << QRect(100, 80, 400, 300);
        QTest::newRow("two words") << "30,40" << QRect(30, 40, 470, 340);
        QTest::newRow("malformed word") << "abc 50 , 700,500" << QRect(100, 50, 600, 450);
        // Edges beyond any desktop are damage (and their differences overflow).
        QTest::newRow("width beyond the integers") << "-2147483640,50,500,300" << QRect(100, 80, 400, 300);
        QTest::newRow("far off every desktop") << "20000000,50,20000600,300" << QRect(100, 80, 400, 300);
        // A restored window fits the screen it lands on and stays of use.
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QTest::newRow("larger than the screen") << "0,0,100000,100000" << screen;
        QTest::newRow("at the widget limit") << "0,0,16777215,16777215" << screen;
        QTest::newRow("menu bar off the screen") << QStringLiteral("%1,%2,%3,%4")
                                                        .arg(screen.left())
                                                        .arg(screen.top())
                                                        .arg(screen.left() + 4000)
                                                        .arg(screen.top() + 3000)
                                                 << screen;
        QTest::newRow("too small to use") << "10,10,20,20" << QRect(QPoint(10, 10), MinimumRestoredSize);
        QTest::newRow("partly off the screen")
            << "-100,-50,500,400" << QRect(screen.topLeft(), QSize(600, 450));
        QTest::newRow("past the bottom right")
            << QStringLiteral("%1,%2,%3,%4")
                   .arg(screen.right() - 50)
                   .arg(screen.bottom() - 40)
                   .arg(screen.right() + 350)
                   .arg(screen.bottom() + 260)
            << QRect(screen.right() + 1 - 400, screen.bottom() + 1 - 300, 400, 300);
    }
    void storedNormalRectangles() {
        QFETCH(QString, normPos);
        QFETCH(QRect, bounds);
        WriteHive("\"NormPos\"=\"" + normPos + "\"\n");
        TForm* f = MakeForm();
        f->Show();
        QCOMPARE(f->BoundsRect(), bounds);
        QVERIFY(env->errors.isEmpty());
    }

    // What is saved is the rectangle the window got, not the damage it was restored from.
    void aBoundedRectangleIsWrittenBackAsTheWindowHadIt() {
        WriteHive("\"NormPos\"=\"0,0,100000,100000\"\n");
        TForm* f = MakeForm();
        f->Show();
        f->Close();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(Stored("NormPos"), QStringLiteral("%1,%2,%3,%4")
                                        .arg(screen.left())
                                        .arg(screen.top())
                                        .arg(screen.left() + screen.width())
                                        .arg(screen.top() + screen.height()));
        QCOMPARE(f->BoundsRect(), screen);
    }

    // A form placed where its design puts it (centred) has not changed its placement: a
    // copy the user left alone keeps what another copy stored meanwhile, whether a
    // placement was stored at its start or none; one that was resized saves its own.
    void aPlacementLeftAloneKeepsAnotherCopysNewerOne() {
        for (const bool storedBefore : {true, false}) {
            QDir(QFileInfo(TRegIniFile::HivePath()).absolutePath()).removeRecursively();
            if (storedBefore) WriteHive("\"NormPos\"=\"100,50,700,500\"\n");
            TComponent otherOwner(nullptr);
            TForm* a = MakeForm(" Position = poScreenCenter", " Options = [fpPosition]");
            TForm* b = MakeForm(" Position = poScreenCenter", " Options = [fpPosition]", &otherOwner);
            a->Show();
            b->Show();
            a->SetBounds(a->Left(), a->Top(), 500, 400); // as the user's resize
            a->Close();
            const QString fromA = Stored("NormPos");
            QCOMPARE(fromA, NormPosText(a));
            b->Close();
            QCOMPARE(Stored("NormPos"), fromA);
            // Shown again (restored at A's size, centred) and then resized: its own.
            b->Show();
            QCOMPARE(b->Width(), 500);
            b->SetBounds(b->Left(), b->Top(), 520, 410);
            b->Close();
            QCOMPARE(Stored("NormPos"), NormPosText(b));
            delete a;
            delete b;
        }
        QVERIFY(env->errors.isEmpty());
    }

    void aStoredSizeIsTheOuterSizeOnceTheFrameIsKnown() {
        WriteHive("\"NormPos\"=\"100,50,700,500\"\n");
        TForm* f = MakeForm();
        f->Show();
        QWidget* w = f->Widget();
        w->move(120, 60); // the window system places it and so shows its frame
        const QSize frame = w->frameGeometry().size() - w->size();
        if (frame.isNull()) QSKIP("this platform draws no frame");
        QTRY_COMPARE(w->size(), QSize(600, 450) - frame);
        QCOMPARE(f->Width(), 600);
        QCOMPARE(f->Height(), 450);
    }

    void aWindowStoredOffEveryScreenComesBackOnOne() {
        WriteHive("\"NormPos\"=\"-5000,-4000,-4400,-3550\"\n");
        TForm* f = MakeForm();
        f->Show();
        QCOMPARE(f->Width(), 600);
        QCOMPARE(f->Height(), 450);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(screen.intersects(f->BoundsRect()),
                 qPrintable(QString("%1,%2").arg(f->Left()).arg(f->Top())));
        QCOMPARE(f->Left(), screen.left());
        QCOMPARE(f->Top(), screen.top());
        // Partly on a screen is the user's choice and stays.
        QCOMPARE(OntoScreen(QRect(-100, -50, 300, 200)), QRect(-100, -50, 300, 200));
        // Beyond the right and bottom edges: back by its own size, so it ends at the edge.
        const QRect all = QGuiApplication::primaryScreen()->virtualGeometry();
        QCOMPARE(OntoScreen(QRect(all.right() + 5000, all.bottom() + 4000, 300, 200)),
                 QRect(screen.right() + 1 - 300, screen.bottom() + 1 - 200, 300, 200));
    }

    void aCentredFormTakesTheStoredSizeOnly() {
        WriteHive("\"NormPos\"=\"100,50,700,500\"\n");
        TForm* f = MakeForm(" Position = poScreenCenter", " Options = [fpPosition]");
        f->Show();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(f->BoundsRect(), QRect(screen.left() + (screen.width() - 600) / 2,
                                        screen.top() + (screen.height() - 450) / 2, 600, 450));
    }

    void aToolWindowKeepsItsSize() {
        WriteHive("\"NormPos\"=\"20,30,700,500\"\n");
        TForm* f = MakeForm(" BorderStyle = bsToolWindow");
        f->Show();
        QCOMPARE(f->Left(), 20);
        QCOMPARE(f->Top(), 30);
        QCOMPARE(f->Width(), 400);
        f->Close();
        QCOMPARE(Stored("MinMaxPos"), "-1,-1,-1,-1");
        QCOMPARE(Stored("NormPos"), "20,30,420,330");
        // One whose border can be dragged takes the stored size.
        delete f;
        WriteHive("\"NormPos\"=\"20,30,700,500\"\n");
        f = MakeForm(" BorderStyle = bsSizeToolWin");
        f->Show();
        QCOMPARE(f->BoundsRect(), QRect(20, 30, 680, 470));
    }

    void aDefaultPlacedFormSavesWhereTheWindowSystemPutIt() {
        TForm* f = MakeForm(" Position = poDefaultPosOnly");
        f->Show();
        const QPoint at = f->Widget()->pos();
        QVERIFY(at != QPoint(100, 80));
        f->Close();
        QCOMPARE(Stored("NormPos"),
                 QStringLiteral("%1,%2,%3,%4").arg(at.x()).arg(at.y()).arg(at.x() + 400).arg(at.y() + 300));
    }

    void aMaximizedWindowSavesItsNormalRectangle() {
        TForm* f = MakeForm();
        f->Show();
        f->Widget()->showMaximized(); // as the user would
        QTRY_COMPARE(f->WindowState(), wsMaximized);
        QTRY_VERIFY(f->Width() > 500);
        f->Close();
        QCOMPARE(Stored("ShowCmd"), "3");
        // Where it goes back to: the place and (give or take the frame) the size it had.
        const QStringList norm = Stored("NormPos").split(',');
        QCOMPARE(norm.mid(0, 2), QStringList({"100", "80"}));
        QVERIFY(norm[2].toInt() - 100 < 410 && norm[3].toInt() - 80 < 310);
    }

    void theStoredShowCommand_data() {
        QTest::addColumn<QString>("showCmd");
        QTest::addColumn<int>("state");
        QTest::newRow("maximized") << "3" << int(wsMaximized);
        QTest::newRow("minimized") << "2" << int(wsMinimized);
        QTest::newRow("6 is minimized") << "6" << int(wsMinimized);
        QTest::newRow("normal") << "1" << int(wsNormal);
        QTest::newRow("7 is normal") << "7" << int(wsNormal);
        QTest::newRow("not a number") << "three" << int(wsNormal);
    }
    void theStoredShowCommand() {
        QFETCH(QString, showCmd);
        QFETCH(int, state);
        WriteHive("\"ShowCmd\"=\"" + showCmd + "\"\n");
        TForm* f = MakeForm(" WindowState = wsMaximized");
        f->Show();
        QCOMPARE(int(f->WindowState()), state);
        if (state == wsMaximized) QVERIFY(f->Widget()->windowState() & Qt::WindowMaximized);
        if (state == wsMinimized) QVERIFY(f->Widget()->windowState() & Qt::WindowMinimized);
        // Without fpState the state stays as it was.
        delete f;
        f = MakeForm(" WindowState = wsMaximized", " Options = [fpPosition]");
        f->Show();
        QCOMPARE(f->WindowState(), wsMaximized);
    }

    void aValueOfAnotherTypeStopsTheRestoreAndThenTheSave() {
        WriteHive("\"NormPos\"=dword:00000064\n\"Edit1_Text\"=\"stored\"\n");
        TForm* f = MakeForm();
        f->Show();
        QVERIFY(f->Visible());
        QCOMPARE(env->errors, QStringList({"Ungültiger Datentyp für 'NormPos'"}));
        QCOMPARE(EditOf(f)->Text(), "sample");
        QVERIFY(!StorageOf(f)->Restored());
        // Each show stops there again, but the user has been told.
        f->Hide();
        f->Show();
        QVERIFY(f->Visible() && !StorageOf(f)->Restored());
        QCOMPARE(env->errors.size(), 1);
        f->Close();
        delete f;
        QVERIFY(HiveText().contains("\"NormPos\"=dword:00000064"));
        QVERIFY(!HiveText().contains("Visible"));
        QCOMPARE(env->errors.size(), 1);
    }

    void aStoredPropertyOfAnotherTypeIsSkippedSilently() {
        WriteHive("\"NormPos\"=\"100,50,700,500\"\n\"Edit1_Text\"=hex:01,02\n");
        TForm* f = MakeForm();
        f->Show();
        QVERIFY(env->errors.isEmpty());
        QCOMPARE(EditOf(f)->Text(), "sample");
        QCOMPARE(f->Width(), 600);
        QVERIFY(StorageOf(f)->Restored());
    }

    void theFocusedControlIsKeptWhenAsked() {
        TForm* f = MakeForm({}, "  Options = [fpState, fpPosition, fpActiveControl]");
        f->Show();
        f->SetActiveControl(EditOf(f));
        f->Close();
        QCOMPARE(Stored("ActiveControl"), "Edit1");
        delete f;
        f = MakeForm({}, "  Options = [fpState, fpPosition, fpActiveControl]");
        f->Show();
        QCOMPARE(f->ActiveControl(), EditOf(f));
        delete f;
        // A name that is no windowed control of the form changes nothing.
        WriteHive("\"ActiveControl\"=\"Storage\"\n");
        f = MakeForm({}, "  Options = [fpState, fpPosition, fpActiveControl]");
        f->Show();
        QCOMPARE(f->ActiveControl(), nullptr);
        QVERIFY(env->errors.isEmpty());
    }

    void anInactiveComponentSavesOnlyWhenAsked() {
        WriteHive("\"NormPos\"=\"100,50,700,500\"\n");
        TForm* f = MakeForm({}, "  Active = False");
        f->Show();
        QCOMPARE(f->Width(), 400);
        f->Close();
        QCOMPARE(Stored("Visible"), "<absent>");
        StorageOf(f)->SaveToStore();
        QCOMPARE(Stored("NormPos"), "100,80,500,380");
    }

    void aSaveThatCannotBeWrittenIsReportedNotAnnounced() {
        TForm* f = MakeForm();
        int saved = 0;
        StorageOf(f)->SetOnSavePlacement(TNotifyEvent(f, [&](TObject*) { ++saved; }));
        f->Show();
        QFile::remove(TRegIniFile::HivePath() + ".lock");
        QVERIFY(QDir().mkpath(TRegIniFile::HivePath() + ".lock")); // the lock cannot be taken
        f->Close();
        QCOMPARE(
            env->errors,
            QStringList({QStringLiteral("Konnte Daten für '%1' nicht setzen").arg(TRegIniFile::HivePath())}));
        QCOMPARE(saved, 0);
        QVERIFY(!StorageOf(f)->Saved());
        QDir().rmdir(TRegIniFile::HivePath() + ".lock");
        delete f; // not saved, so the end tries again
        QCOMPARE(Stored("Visible"), "1");
        QCOMPARE(saved, 1);
    }

    void anUnreadableSettingsFileIsSetAsideAndReplaced() {
        const QString path = TRegIniFile::HivePath();
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile bad(path);
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write("this is not a settings file\n");
        bad.close();
        TForm* f = MakeForm();
        f->Show();
        QCOMPARE(env->errors.size(), 1);
        QCOMPARE(f->Width(), 400);
        f->Close();
        QCOMPARE(env->errors.size(), 1);
        QCOMPARE(Stored("NormPos"), "100,80,500,380");
        QCOMPARE(QFileInfo(path).dir().entryList({"registry.reg.bad-*"}).size(), 1);
    }

    void twoCopiesSavingKeepEachOthersChanges() {
        WriteHive("\"NormPos\"=\"100,50,700,500\"\n\"Edit1_Text\"=\"old\"\n");
        // Two copies of one form, as two running copies of the program have them.
        TForm* a = MakeForm();
        std::unique_ptr<TForm> second(MakeForm({}, {}, nullptr));
        TForm* b = second.get();
        a->Show();
        b->Show();
        EditOf(b)->SetText("from b");
        a->SetBounds(100, 50, 500, 400);
        b->Close();
        a->Close(); // saves its unchanged text too, which must not undo b's
        QCOMPARE(Stored("Edit1_Text"), "from b");
        QCOMPARE(Stored("NormPos"), "100,50,600,450");
        // Changed by both: the later save wins.
        a->Show();
        b->Show();
        EditOf(a)->SetText("a again");
        EditOf(b)->SetText("b again");
        a->Close();
        b->Close();
        QCOMPARE(Stored("Edit1_Text"), "b again");
        // A value gone from the file is written again, changed or not.
        WriteHive("");
        a->Show();
        a->Close();
        QCOMPARE(Stored("Edit1_Text"), "a again");
        // Absent when both restored (a first start): what each held is its base.
        WriteHive("");
        a->Show();
        b->Show();
        EditOf(a)->SetText("a third");
        a->Close();
        b->Close();
        QCOMPARE(Stored("Edit1_Text"), "a third");
        QVERIFY(env->errors.isEmpty());
    }

    void aSettingsFileThatCannotBeReadIsToldOfOnceAndKept() {
        const QString path = TRegIniFile::HivePath();
        QVERIFY(QDir().mkpath(path)); // a directory where the file should be
        TForm* f = MakeForm();
        for (int i = 0; i < 3; ++i) {
            f->Show();
            QVERIFY(f->Visible());
            f->Hide();
        }
        QVERIFY(!StorageOf(f)->Restored());
        f->Close();
        delete f;
        QCOMPARE(env->errors, QStringList({QStringLiteral("Konnte Daten für '%1' nicht holen").arg(path)}));
        QVERIFY(QFileInfo(path).isDir());
    }

    void aSettingsDirectoryThatCannotBeWrittenIsToldOfOnce() {
        const QString dir = QFileInfo(TRegIniFile::HivePath()).absolutePath();
        {
            QFile file(dir); // a file where the directory should be
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        TForm* f = MakeForm();
        f->Show();
        QVERIFY(StorageOf(f)->Restored());
        f->Close();
        delete f; // nothing was saved, so the end tries again
        QCOMPARE(
            env->errors,
            QStringList({QStringLiteral("Konnte Daten für '%1' nicht setzen").arg(TRegIniFile::HivePath())}));
        QVERIFY(QFileInfo(dir).isFile());
    }

    void theIniStoreHoldsTheSameItems() {
        TForm* f = MakeForm({}, "  UseRegistry = False\n  IniFileName = \"test.ini\"\n  IniSection = \"\"");
        QCOMPARE(StorageOf(f)->IniSection(), "TForm");
        f->Show();
        EditOf(f)->SetText("ini text");
        f->Close();
        QFile ini(TIniFile::FilePath("test.ini"));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(ini.readAll()),
                 "[TForm]\nFlags=0\nShowCmd=1\nMinMaxPos=-1,-1,-4,-4\nNormPos=100,80,500,380\nVisible=0\n"
                 "Edit1_Text=ini text\n");
        delete f;
        f = MakeForm({}, "  UseRegistry = False\n  IniFileName = \"test.ini\"\n  IniSection = \"\"");
        f->Show();
        QCOMPARE(EditOf(f)->Text(), "ini text");
    }

    void defaultNames() {
        QCOMPARE(DefaultIniName(), "tst_placemnt.INI");
        QCOMPARE(DefaultRegKey(), "Software\\tst_placemnt");
        TForm* f = MakeForm({}, "  IniSection = \"\"");
        TFormStorage* s = StorageOf(f);
        QCOMPARE(DefaultSectionName(f), "TForm");
        QCOMPARE(DefaultSectionName(EditOf(f)), "TFormEdit1");
        QCOMPARE(DefaultSectionName(s), "TForm.Storage");
        QCOMPARE(DefaultSectionName(nullptr), QString());
        QCOMPARE(s->IniSection(), "TForm");
        QCOMPARE(s->IniFileName(), "Software\\tst_placemnt");
        s->SetUseRegistry(false);
        QCOMPARE(s->IniFileName(), "tst_placemnt.INI");
        TEdit loose(nullptr);
        loose.SetName("Loose");
        QCOMPARE(DefaultSectionName(&loose), "Loose");
        TFormPlacement alone(nullptr);
        QCOMPARE(alone.Options(), TPlacementOptions());
        QCOMPARE(StorageOf(f)->Options(), TPlacementOptions(fpState | fpPosition));
    }

    void aDestroyedComponentLeavesTheList() {
        TForm* f = MakeForm();
        TFormStorage* s = StorageOf(f);
        QCOMPARE(s->StoredProps()->ToStringList(), QStringList({"Edit1.Text"}));
        QCOMPARE(s->StoredProps()->Objects(0), EditOf(f));
        delete EditOf(f);
        QCOMPARE(s->StoredProps()->Count(), 0);
    }

    void preventResizeFixesTheSize() {
        TForm* f = MakeForm();
        TFormStorage* s = StorageOf(f);
        f->Show();
        QVERIFY(!s->WinHook()->WinControl());
        s->SetPreventResize(true);
        QVERIFY(!f->BorderIcons().testFlag(biMaximize));
        QCOMPARE(s->WinHook()->WinControl(), f);
        QWidget* w = f->Widget();
        QCOMPARE(w->minimumSize(), w->maximumSize());
        QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
        w->resize(w->width() + 50, w->height() + 50); // as a border drag would
        QCOMPARE(f->Width(), 400);
        f->SetWidth(420); // the program itself still may
        QCOMPARE(f->Width(), 420);
        QCOMPARE(w->maximumWidth(), 420);
        f->Close(); // still saves
        QCOMPARE(Stored("NormPos"), "100,80,520,380");
        f->Show();

        s->SetPreventResize(false);
        QVERIFY(f->BorderIcons().testFlag(biMaximize));
        QVERIFY(!s->WinHook()->WinControl());
        QCOMPARE(w->maximumWidth(), QWIDGETSIZE_MAX);

        // Without the icon before, it does not come back; nor on a dialog.
        f->SetBorderIcons(biSystemMenu);
        s->SetPreventResize(true);
        s->SetPreventResize(false);
        QVERIFY(!f->BorderIcons().testFlag(biMaximize));
        f->SetBorderIcons(TBorderIcons(biSystemMenu | biMaximize));
        f->SetBorderStyle(bsDialog);
        s->SetPreventResize(true);
        s->SetPreventResize(false);
        QVERIFY(!f->BorderIcons().testFlag(biMaximize));
    }

    void aMinimumTrackWidthLimitsOnlyTheWidth() {
        TForm* f = MakeForm();
        TFormStorage* s = StorageOf(f);
        f->Show();
        s->MinMaxInfo()->SetMinTrackWidth(300);
        QCOMPARE(s->WinHook()->WinControl(), f);
        QWidget* w = f->Widget();
        QCOMPARE(w->minimumWidth(), 300 - (f->Width() - w->width()));
        QCOMPARE(w->minimumHeight(), 0);
        QCOMPARE(w->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
        f->SetWidth(200);
        QCOMPARE(f->Width(), 300);
        f->SetHeight(100);
        QCOMPARE(f->Height(), 100);

        TWinMinMaxInfo other;
        other.SetMaxTrackHeight(500);
        s->SetMinMaxInfo(&other); // assigned as a whole
        QCOMPARE(s->MinMaxInfo()->MinTrackWidth(), 0);
        QCOMPARE(w->maximumHeight(), 500 - (f->Height() - w->height()));
        s->MinMaxInfo()->SetMaxTrackHeight(0);
        QVERIFY(s->MinMaxInfo()->IsDefault());
        QVERIFY(!s->WinHook()->WinControl());
        QCOMPARE(w->minimumSize(), QSize(0, 0));
        QCOMPARE(w->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    }

    void limitsKeepTheStoredMaximizedPosition() {
        WriteHive("\"MinMaxPos\"=\"5,6,7,8\"\n");
        TForm* f = MakeForm({}, "  MinMaxInfo.MinTrackWidth = 100");
        f->Show();
        f->Close();
        QCOMPARE(Stored("MinMaxPos"), "5,6,7,8");
        delete f;
        f = MakeForm();
        f->Show();
        f->Close();
        QCOMPARE(Stored("MinMaxPos"), "5,6,-4,-4");
    }
};

QTEST_MAIN(TstPlacemnt)
#include "tst_placemnt.moc"
