// The main window as a user meets it: the font list, the preview, the size and
// style bar, the Text page with its per-font fields, and the splash's progress.
#include "Startup.h"
#include "TestMain.h"
#include "Unit2.h"
#include "Unit3.h"
#include "Unit4.h"
#include "WhenShown.h"
#include "unit1.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextLayout>
#include <QTimer>
#include <QUrl>

#include <fontconfig/fontconfig.h>

#include <dlfcn.h>

// Qt asks fontconfig for a font's fallback families (FcFontSort) when a font that may
// borrow glyphs meets a character it lacks; with thousands of families installed, Qt then
// filters all of them against its whole list. Counted here by standing in for fontconfig.
static QStringList gFallbackSearches; // the family each search was for
extern "C" FcFontSet* FcFontSort(FcConfig* c, FcPattern* p, FcBool trim, FcCharSet** cs, FcResult* r) {
    using Sort = FcFontSet* (*)(FcConfig*, FcPattern*, FcBool, FcCharSet**, FcResult*);
    static const auto library = reinterpret_cast<Sort>(dlsym(RTLD_NEXT, "FcFontSort"));
    FcChar8* family = nullptr;
    FcPatternGetString(p, FC_FAMILY, 0, &family);
    gFallbackSearches << QString::fromUtf8(family ? reinterpret_cast<const char*>(family) : "");
    return library(c, p, trim, cs, r);
}

namespace {

// Real installed families where the test needs fonts of different heights.
QStringList RealFamilies(int wanted) {
    QStringList r;
    const QStringList preferred = {QStringLiteral("DejaVu Sans"),     QStringLiteral("DejaVu Sans Mono"),
                                   QStringLiteral("DejaVu Serif"),    QStringLiteral("Liberation Serif"),
                                   QStringLiteral("Liberation Sans"), QStringLiteral("Liberation Mono")};
    const QStringList all = QFontDatabase::families();
    for (const auto& f : preferred)
        if (all.contains(f) && r.size() < wanted) r << f;
    for (const auto& f : all)
        if (!r.contains(f) && r.size() < wanted) r << f;
    return r;
}

struct MainWindow {
    explicit MainWindow(const QStringList& fonts, int ppi = 96) : env(fonts, ppi) {
        RegisterGlyvexClasses();
        Form2 = TForm::Create<TForm2>(Application);
        Form2->Label1->SetCaption(QStringLiteral("Reading..."));
        Application->CreateForm(Form1);
    }
    ~MainWindow() {
        // The application object owns and destroys the forms.
        Form1 = nullptr;
        Form2 = nullptr;
    }
    std::vector<TEdit*> Fields() const {
        std::vector<TEdit*> r;
        for (int i = 0; i < Form1->ComponentCount(); ++i)
            if (auto* e = dynamic_cast<TEdit*>(Form1->Components(i)); e && e->Tag() == 99) r.push_back(e);
        return r;
    }
    void ShowAndSettle() {
        Form1->Show();
        QCoreApplication::processEvents();
    }
    TestEnvironment env;
};

class RecordingProgressBar : public TProgressBar {
public:
    RecordingProgressBar(TComponent* owner, QList<int>* seen) : TProgressBar(owner), FSeen(seen) {}

protected:
    void Apply() override {
        if (FSeen->isEmpty() || FSeen->last() != Position()) *FSeen << Position();
        TProgressBar::Apply();
    }

private:
    QList<int>* FSeen;
};

int ExpectedHeight(const QString& face, int points, bool bold = false, bool italic = false) {
    QFont f(face);
    f.setPixelSize(MulDiv(points, Screen->PixelsPerInch(), 72));
    f.setBold(bold);
    f.setItalic(italic);
    const QFontMetrics fm(f);
    return fm.ascent() + fm.descent() + 8;
}

} // namespace

class TestUnit1 : public QObject {
    Q_OBJECT
private slots:
    void startsInGermanWithFirstFontSelected();
    void sizeFollowsScreenResolution();
    void listSortsIgnoringCaseAndKeepsDuplicates();
    void perFontFieldsAreMadeOncePerFont();
    void refreshRepairsFieldsAndKeepsScrollPosition();
    void emptySampleTextGivesBlankAndName();
    void doubleClickOnFieldJumpsToFont();
    void sizeAndStyleWithEitherPage();
    void codeChangesDoNotFireHandlers();
    void userActionsFireHandlers();
    void noInstalledFonts();
    void splashProgressCoversTheWholeLoop();
    void closingStopsRefreshes();
    void onlyFieldsInViewGetWidgets();
    void textPageReadiesTheNextFacesOfTheFieldsInView();
    void neighboursAreReadiedOnlyOnceTheWindowShows();
    void workWaitingForTheWindowRunsOnceItShowsOrAtItsLimit();
    void mainWindowBarIsInert();
    void resizeLaysOutAndRefreshesWhicheverPageShows();
    void refreshShowsHourglassAndPaintedSplash();
    void noWindowButTheFormsAppears();
    void interfaceFontNamesComeFromTheDefinitions();
    void fontFilesDroppedOnTheWindowJoinTheList();
    void fontFilesGivenAtStartAreSelectedAndReportedOnce();
    void previewsShowOnlyTheirOwnGlyphs();
};

void TestUnit1::interfaceFontNamesComeFromTheDefinitions() {
    const QStringList names = InterfaceFontNames();
    QCOMPARE(names.value(0), QGuiApplication::font().family());
    // The windows name these; each once.
    QVERIFY(names.contains(QStringLiteral("Arial")));
    QVERIFY(names.contains(QStringLiteral("MS Sans Serif")));
    QCOMPARE(names.count(QStringLiteral("Arial")), 1);
}

void TestUnit1::previewsShowOnlyTheirOwnGlyphs() {
    // Characters no installed font of the test has, or only some: a CJK ideograph, a
    // snowman, a Gothic letter beyond the basic plane.
    const QString lacking = QString::fromUtf8("\u4E00 \u2603 \U00010330");
    // Previewed families that no interface font resolves to: the interface may borrow
    // glyphs for the user's own sample text (once per interface font), a preview may not.
    QStringList previewed = RealFamilies(12);
    {
        TestEnvironment probe(previewed);
        for (const QString& name : InterfaceFontNames() + QStringList{QApplication::font().family()})
            previewed.removeAll(Screen->QtFamily(name));
    }
    if (previewed.size() < 3) QSKIP("needs installed fonts besides the interface's");
    // Qt remembers a family's fallbacks: the counter's own check takes a family of its own.
    const QString control = previewed.takeLast();
    previewed = previewed.mid(0, 3);
    auto searchedPreviews = [&](qsizetype from) {
        QStringList r;
        for (qsizetype i = from; i < gFallbackSearches.size(); ++i)
            if (previewed.contains(gFallbackSearches[i]) || gFallbackSearches[i] == control)
                r << gFallbackSearches[i];
        return r.join(u',');
    };
    // The counter sees Qt's search: a font allowed to borrow glyphs starts one.
    {
        QFont merging(control);
        merging.setPixelSize(17);
        const qsizetype before = gFallbackSearches.size();
        QTextLayout layout(lacking, merging);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        QVERIFY(searchedPreviews(before).contains(control));
    }
    QStringList fonts;
    for (int i = 0; i < 300; ++i)
        fonts << previewed[i % previewed.size()];
    MainWindow w(fonts);
    Form1->Memo1->Lines()->SetText(Form1->Memo1->Lines()->Text() + lacking);
    Form1->Memo2->Lines()->SetText(Form1->Memo2->Lines()->Text() + lacking);
    Form1->Edit1->SetText(lacking);
    const qsizetype before = gFallbackSearches.size();
    w.ShowAndSettle();
    QWidget* list = Form1->ListBox1->Widget();
    const std::vector<std::pair<const char*, std::function<void()>>> steps = {
        {"shown", [] {}},
        {"next family", [list] { QTest::keyClick(list, Qt::Key_Down); }},
        {"English", [] { Form1->English1Click(Form1->English1); }},
        {"Text page", [] { Form1->PageControl1->SelectByUser(Form1->TabSheet2); }},
        {"scrolled",
         [] { Form1->ScrollBox1->VertScrollBar()->SetPosition(Form1->ScrollBox1->MaxScrollPosition() / 2); }},
        {"bold", [] { Form1->CheckBox1->Toggle(); }},
        {"italic", [] { Form1->CheckBox2->Toggle(); }},
        {"size", [] { Form1->TrackBar1->MoveByUser(Form1->TrackBar1->Position() + 1); }},
        {"refresh", [] { Form1->Button1Click(Form1->Button1); }},
        {"resized", [] { Form1->SetWidth(Form1->Width() + 40); }},
        {"scrolled to the end",
         [] { Form1->ScrollBox1->VertScrollBar()->SetPosition(Form1->ScrollBox1->MaxScrollPosition()); }},
        {"Alphabet page", [] { Form1->PageControl1->SelectByUser(Form1->TabSheet1); }},
        {"German", [] { Form1->English1Click(Form1->English1); }},
    };
    for (const auto& [what, step] : steps) {
        step();
        QTest::qWait(400);             // the work done ahead while idle too
        (void)Form1->Widget()->grab(); // every preview in view laid out and painted
        QVERIFY2(searchedPreviews(before).isEmpty(),
                 qPrintable(QString::fromUtf8(what) + u' ' + searchedPreviews(before)));
        std::vector<QWidget*> previews = {Form1->Memo1->Widget(), Form1->Memo2->Widget()};
        for (TEdit* e : w.Fields())
            if (e->HandleAllocated()) previews.push_back(e->Widget());
        for (QWidget* preview : previews)
            QVERIFY2(preview && (preview->font().styleStrategy() & QFont::NoFontMerging), what);
        for (const QFont& f : Form1->WarmedNeighbours() + Form1->TextPageWarmList())
            QVERIFY2(f.styleStrategy() & QFont::NoFontMerging, what);
    }
}

void TestUnit1::startsInGermanWithFirstFontSelected() {
    MainWindow w(RealFamilies(3));
    QCOMPARE(Form1->Caption(), QStringLiteral("Glyvex"));
    QCOMPARE(Form1->Width(), 646);
    QCOMPARE(Form1->Height(), 472);
    QCOMPARE(Form1->ListBox1->ItemIndex(), 0);
    const QString first = Form1->ListBox1->Items()->Strings(0);
    QCOMPARE(Form1->Memo1->Font()->Name(), first);
    QCOMPARE(Form1->Memo2->Font()->Name(), first);
    QCOMPARE(Form1->StatusBar1->Panels()->Items(0)->Text(), QStringLiteral("3 Fonts"));
    QCOMPARE(Form1->StatusBar1->Panels()->Items(1)->Text(), first);
    QVERIFY(Form1->Memo1->Visible());
    QVERIFY(!Form1->Memo2->Visible());
    QCOMPARE(Form1->Memo1->Lines()->Count(), 16);
    QCOMPARE(Form1->Memo1->Lines()->Strings(0), QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZÄ"));
    QCOMPARE(Form1->Memo1->Lines()->Strings(3), QStringLiteral("0123456789~!@#$%^&*?()[]{}+\"§/<>"));
    QCOMPARE(Form1->Memo1->Lines()->Strings(5), QStringLiteral("An diesem Beispieltext läßt "));
    QCOMPARE(Form1->Memo2->Lines()->Count(), 10);
    QCOMPARE(Form1->Memo2->Lines()->Strings(4), QStringLiteral("This is some sample text so you can "));
    QCOMPARE(Form1->PageControl1->ActivePage(), Form1->TabSheet1);
    QCOMPARE(Form1->Label1->Caption(), QStringLiteral("Größe:"));
    QCOMPARE(Form1->CheckBox1->Caption(), QStringLiteral("&Fett"));
    QVERIFY(!Form1->CheckBox1->Checked() && !Form1->CheckBox2->Checked());
    // "Reading..." lasts until the main window's language is set, which translates the splash too.
    QCOMPARE(Form2->Label1->Caption(), QStringLiteral("Fonts einlesen..."));

    // Shown: centred on the screen, the aligned panels fill the client area.
    w.ShowAndSettle();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(Form1->Left(), screen.left() + (screen.width() - 646) / 2);
    QCOMPARE(Form1->Top(), screen.top() + (screen.height() - 472) / 2);
    QCOMPARE(Form1->Panel1->Width(), 241);
    QCOMPARE(Form1->Panel1->Left(), 0);
    QCOMPARE(Form1->Panel2->Left() + Form1->Panel2->Width(), Form1->ClientWidth());
    QCOMPARE(Form1->StatusBar1->Top() + Form1->StatusBar1->Height(), Form1->ClientHeight());
    QCOMPARE(Form1->Panel3->Top() + Form1->Panel3->Height(), Form1->StatusBar1->Top());
    QCOMPARE(Form1->Panel1->Height(), Form1->Panel3->Top());
}

void TestUnit1::sizeFollowsScreenResolution() {
    {
        MainWindow w(RealFamilies(1), 96);
        QCOMPARE(Form1->TrackBar1->Position(), 14);
        QCOMPARE(Form1->Label2->Caption(), QStringLiteral("14"));
    }
    {
        MainWindow w(RealFamilies(1), 120);
        QCOMPARE(Form1->TrackBar1->Position(), 11);
        QCOMPARE(Form1->Label2->Caption(), QStringLiteral("11"));
    }
}

void TestUnit1::listSortsIgnoringCaseAndKeepsDuplicates() {
    MainWindow w({QStringLiteral("beta"), QStringLiteral("Alpha"), QStringLiteral("alpha two"),
                  QStringLiteral("Beta"), QStringLiteral("ZETA"), QStringLiteral("delta"),
                  QStringLiteral("Alpha")});
    const QStringList items = Form1->ListBox1->Items()->ToStringList();
    QCOMPARE(items.size(), 7);
    for (int i = 1; i < items.size(); ++i)
        QVERIFY2(AnsiCompareText(items[i - 1], items[i]) <= 0, qPrintable(items.join(',')));
    QCOMPARE(items.count(QStringLiteral("Alpha")), 2);
    QCOMPARE(items.first(), QStringLiteral("Alpha"));
    QCOMPARE(items.last(), QStringLiteral("ZETA"));
    QVERIFY(items.indexOf(QStringLiteral("delta")) < items.indexOf(QStringLiteral("ZETA")));
    // Each field shows the list entry of its position.
    const auto fields = w.Fields();
    for (size_t i = 0; i < fields.size(); ++i)
        QCOMPARE(fields[i]->Font()->Name(), items[qsizetype(i)]);
}

void TestUnit1::perFontFieldsAreMadeOncePerFont() {
    const QStringList fonts = RealFamilies(5);
    MainWindow w(fonts);
    const auto fields = w.Fields();
    QCOMPARE(int(fields.size()), fonts.size());
    int top = 0;
    bool heightsDiffer = false;
    for (size_t i = 0; i < fields.size(); ++i) {
        TEdit* e = fields[i];
        const QString face = Form1->ListBox1->Items()->Strings(int(i));
        QCOMPARE(e->Name(), QStringLiteral("MyEdit%1").arg(i + 1));
        QCOMPARE(e->Owner(), Form1);
        QCOMPARE(e->Parent(), Form1->ScrollBox1);
        QCOMPARE(e->Font()->Name(), face);
        QCOMPARE(e->Font()->Size(), 14);
        QCOMPARE(e->Text(), QStringLiteral("Sample Text (%1)").arg(face));
        QCOMPARE(e->Left(), 0);
        QCOMPARE(e->Top(), top);
        QCOMPARE(e->Width(), Form1->ScrollBox1->Width());
        QCOMPARE(e->Height(), ExpectedHeight(face, 14));
        QVERIFY(!e->TabStop());
        QVERIFY(e->OnDblClick().Assigned());
        if (e->Height() != fields[0]->Height()) heightsDiffer = true;
        top += e->Height();
    }
    QCOMPARE(Form1->EditTop(), top);
    QVERIFY2(heightsDiffer, "fonts of different heights give fields of different heights");
    // Edit1 is an edit too, but not a per-font field.
    QCOMPARE(Form1->Edit1->Tag(), 0);
}

void TestUnit1::refreshRepairsFieldsAndKeepsScrollPosition() {
    QStringList fonts;
    for (int i = 0; i < 60; ++i)
        fonts << RealFamilies(4)[i % 4];
    MainWindow w(fonts);
    w.ShowAndSettle();
    Form1->PageControl1->SelectByUser(Form1->TabSheet2);
    QCoreApplication::processEvents();
    auto fields = w.Fields();
    TScrollBox* box = Form1->ScrollBox1;
    QVERIFY(box->MaxScrollPosition() > 100);
    box->VertScrollBar()->SetPosition(box->MaxScrollPosition() / 2);
    const int pos = box->VertScrollBar()->Position();

    // The user types over a field and changes the sample text; the button repairs both.
    fields[3]->SetText(QStringLiteral("typed over"));
    fields[5]->SetTop(fields[5]->Top() + 50);
    Form1->Edit1->SetText(QStringLiteral("Hallo"));
    Form1->Button1->Click();
    QCOMPARE(box->VertScrollBar()->Position(), pos);
    QCOMPARE(fields[3]->Text(), QStringLiteral("Hallo (%1)").arg(fields[3]->Font()->Name()));
    // Tops are relative to the visible origin, so the stack starts above it by the scroll position.
    int top = -pos;
    for (auto* e : fields) {
        QCOMPARE(e->Top(), top);
        top += e->Height();
    }
    QVERIFY(box->Showing());
    QCOMPARE(Screen->Cursor(), crDefault);

    // The same sample again: fields typed over since, by hand or in code, are repaired,
    // also one typed back to the text it had, and a field that was left alone stays right.
    box->VertScrollBar()->SetPosition(0);
    QCoreApplication::processEvents();
    auto* edit = qobject_cast<QLineEdit*>(fields[0]->Widget());
    QVERIFY(edit);
    QTest::keyClicks(edit, QStringLiteral("xyz"));
    QVERIFY(fields[0]->Text().contains(QStringLiteral("xyz")));
    fields[7]->SetText(QStringLiteral("in code"));
    fields[9]->SetText(QStringLiteral("other"));
    fields[9]->SetText(QStringLiteral("Hallo (%1)").arg(fields[9]->Font()->Name()));
    Form1->Button1->Click();
    for (auto* e : fields)
        QCOMPARE(e->Text(), QStringLiteral("Hallo (%1)").arg(e->Font()->Name()));
    QCOMPARE(edit->text(), fields[0]->Text());

    // A list entry renamed in code: its field takes the new name, text included.
    const QString renamed = Form1->ListBox1->Items()->Strings(12) == fonts[0] ? fonts[1] : fonts[0];
    Form1->ListBox1->Items()->Put(12, renamed);
    Form1->Button1->Click();
    QCOMPARE(fields[12]->Font()->Name(), renamed);
    QCOMPARE(fields[12]->Text(), QStringLiteral("Hallo (%1)").arg(renamed));
}

void TestUnit1::emptySampleTextGivesBlankAndName() {
    MainWindow w(RealFamilies(2));
    Form1->Edit1->SetText(QString());
    Form1->RefreshEditfields();
    const auto fields = w.Fields();
    QCOMPARE(fields[1]->Text(), QStringLiteral(" (%1)").arg(fields[1]->Font()->Name()));
}

void TestUnit1::doubleClickOnFieldJumpsToFont() {
    MainWindow w(RealFamilies(6));
    w.ShowAndSettle();
    Form1->PageControl1->SelectByUser(Form1->TabSheet2);
    const auto fields = w.Fields();
    fields[4]->DblClick();
    QCOMPARE(Form1->ListBox1->ItemIndex(), 4);
    const QString face = Form1->ListBox1->Items()->Strings(4);
    QCOMPARE(Form1->Memo1->Font()->Name(), face);
    QCOMPARE(Form1->Memo2->Font()->Name(), face);
    QCOMPARE(Form1->PageControl1->ActivePage(), Form1->TabSheet1);
    // The status bar names the selected font, never an earlier one.
    QCOMPARE(Form1->StatusBar1->Panels()->Items(1)->Text(), face);

    // A real double click on a field's widget does the same.
    Form1->PageControl1->SelectByUser(Form1->TabSheet2);
    QCoreApplication::processEvents();
    QVERIFY(fields[1]->Widget());
    QTest::mouseDClick(fields[1]->Widget(), Qt::LeftButton);
    QCOMPARE(Form1->ListBox1->ItemIndex(), 1);
    QCOMPARE(Form1->PageControl1->ActivePage(), Form1->TabSheet1);
}

void TestUnit1::sizeAndStyleWithEitherPage() {
    MainWindow w(RealFamilies(3));
    const auto fields = w.Fields();
    // Alphabet page: the memos change, the fields wait for their next refresh.
    Form1->TrackBar1->MoveByUser(100);
    QCOMPARE(Form1->Memo1->Font()->Size(), 100);
    QCOMPARE(Form1->Memo2->Font()->Size(), 100);
    QCOMPARE(Form1->Label2->Caption(), QStringLiteral("100"));
    QCOMPARE(fields[0]->Font()->Size(), 14);
    Form1->CheckBox1->Toggle();
    QVERIFY(Form1->Memo1->Font()->Style().testFlag(fsBold));
    QVERIFY(Form1->Memo2->Font()->Style().testFlag(fsBold));
    QVERIFY(!fields[0]->Font()->Style().testFlag(fsBold));

    // Text page: style changes refresh every field at once; size still waits.
    Form1->PageControl1->SelectByUser(Form1->TabSheet2);
    for (auto* e : fields)
        QVERIFY(e->Font()->Style().testFlag(fsBold) && e->Font()->Size() == 100);
    Form1->TrackBar1->MoveByUser(1);
    QCOMPARE(Form1->Memo1->Font()->Size(), 1);
    QCOMPARE(fields[0]->Font()->Size(), 100);
    Form1->CheckBox2->Toggle();
    for (auto* e : fields) {
        QCOMPARE(e->Font()->Style(), TFontStyles(fsBold | fsItalic));
        QCOMPARE(e->Font()->Size(), 1);
        QCOMPARE(e->Height(), ExpectedHeight(e->Font()->Name(), 1, true, true));
    }
    QCOMPARE(Form1->Memo1->Font()->Style(), TFontStyles(fsBold | fsItalic));
    Form1->CheckBox1->Toggle();
    QCOMPARE(Form1->Memo1->Font()->Style(), TFontStyles(fsItalic));
    for (auto* e : fields)
        QCOMPARE(e->Font()->Style(), TFontStyles(fsItalic));
    // Double-clicking the list goes back to the Alphabet page.
    Form1->ListBox1->SetItemIndex(2);
    Form1->ListBox1->DblClick();
    QCOMPARE(Form1->PageControl1->ActivePage(), Form1->TabSheet1);
}

void TestUnit1::codeChangesDoNotFireHandlers() {
    MainWindow w(RealFamilies(3));
    w.ShowAndSettle();
    const QString before = Form1->StatusBar1->Panels()->Items(1)->Text();
    Form1->ListBox1->SetItemIndex(2);
    QCOMPARE(Form1->StatusBar1->Panels()->Items(1)->Text(), before);
    Form1->TrackBar1->SetPosition(40);
    QCOMPARE(Form1->Label2->Caption(), QStringLiteral("14"));
    QCOMPARE(Form1->Memo1->Font()->Size(), 14);
    Form1->CheckBox1->SetChecked(true);
    QVERIFY(!Form1->Memo1->Font()->Style().testFlag(fsBold));
    const QString text = w.Fields()[0]->Text();
    Form1->Edit1->SetText(QStringLiteral("changed"));
    Form1->PageControl1->SetActivePage(Form1->TabSheet2);
    QCOMPARE(w.Fields()[0]->Text(), text);
    // The widgets agree with the state set in code.
    QCOMPARE(static_cast<QSlider*>(Form1->TrackBar1->Widget())->value(), 40);
    QCOMPARE(static_cast<QTabWidget*>(Form1->PageControl1->Widget())->currentIndex(), 1);
    QVERIFY(static_cast<QCheckBox*>(Form1->CheckBox1->Widget())->isChecked());
}

void TestUnit1::userActionsFireHandlers() {
    MainWindow w(RealFamilies(4));
    w.ShowAndSettle();
    // Keyboard selection in the list updates memos and status bar as a click does.
    auto* view = static_cast<QListView*>(Form1->ListBox1->Widget());
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Down);
    QCOMPARE(Form1->ListBox1->ItemIndex(), 1);
    const QString face = Form1->ListBox1->Items()->Strings(1);
    QCOMPARE(Form1->Memo1->Font()->Name(), face);
    QCOMPARE(Form1->Memo2->Font()->Name(), face);
    QCOMPARE(Form1->StatusBar1->Panels()->Items(1)->Text(), face);
    // Keyboard on the track bar.
    auto* slider = static_cast<QSlider*>(Form1->TrackBar1->Widget());
    QTest::keyClick(slider, Qt::Key_Right);
    QCOMPARE(Form1->TrackBar1->Position(), 15);
    QCOMPARE(Form1->Label2->Caption(), QStringLiteral("15"));
    QCOMPARE(Form1->Memo2->Font()->Size(), 15);
    // A click on the check box.
    QTest::mouseClick(Form1->CheckBox2->Widget(), Qt::LeftButton, {}, QPoint(5, 8));
    QVERIFY(Form1->CheckBox2->Checked());
    QCOMPARE(Form1->Memo1->Font()->Style(), TFontStyles(fsItalic));
    QCOMPARE(Form1->Memo2->Font()->Style(), TFontStyles(fsItalic));
    // Clicking the Text tab refreshes the fields with the new size.
    auto* tabs = static_cast<QTabWidget*>(Form1->PageControl1->Widget());
    QTabBar* bar = tabs->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    QCOMPARE(Form1->PageControl1->ActivePage(), Form1->TabSheet2);
    QCOMPARE(w.Fields()[0]->Font()->Size(), 15);
    QVERIFY(w.Fields()[0]->Font()->Style().testFlag(fsItalic));
}

void TestUnit1::noInstalledFonts() {
    MainWindow w({});
    QCOMPARE(Form1->ListBox1->Items()->Count(), 0);
    QCOMPARE(Form1->ListBox1->ItemIndex(), -1);
    QCOMPARE(Form1->StatusBar1->Panels()->Items(0)->Text(), QStringLiteral("0 Fonts"));
    QCOMPARE(Form1->StatusBar1->Panels()->Items(1)->Text(), QString());
    QCOMPARE(Form1->Memo1->Font()->Name(), QStringLiteral("Arial"));
    QVERIFY(w.Fields().empty());
    QCOMPARE(Form1->EditTop(), 0);
    w.ShowAndSettle();
    Form1->ListBox1->Click();
    Form1->ListBox1->DblClick();
    Form1->CheckBox1->Toggle();
    Form1->PageControl1->SelectByUser(Form1->TabSheet2);
    Form1->Button1->Click();
    Form1->TrackBar1->MoveByUser(30);
    QCOMPARE(Form1->Label2->Caption(), QStringLiteral("30"));
    QVERIFY(w.env.errors.isEmpty());
}

void TestUnit1::splashProgressCoversTheWholeLoop() {
    QStringList fonts;
    for (int i = 0; i < 250; ++i)
        fonts << RealFamilies(2)[i % 2];
    TestEnvironment env(fonts);
    RegisterGlyvexClasses();
    // Watch every position the splash's bar shows while the fields are made and refreshed.
    QList<int> seen;
    struct Restore {
        ~Restore() { RegisterStandardClasses(); }
    } restore;
    TClassRegistry::Register(QStringLiteral("TProgressBar"), [&seen](TComponent* owner) -> TComponent* {
        return new RecordingProgressBar(owner, &seen);
    });
    Form2 = TForm::Create<TForm2>(Application);
    QCOMPARE(Form2->ProgressBar1->Min(), 0);
    QCOMPARE(Form2->ProgressBar1->Max(), 100);
    seen.clear();
    Application->CreateForm(Form1);
    auto checkSweep = [&] {
        QVERIFY(!seen.isEmpty());
        QVERIFY(std::is_sorted(seen.begin(), seen.end()));
        QCOMPARE(seen.last(), 100);
        // At the 100th of 250 fonts the bar stands at 40, not full.
        QVERIFY(seen.contains(40));
        QVERIFY(seen.size() >= 90);
    };
    checkSweep();
    seen.clear();
    Form1->RefreshEditfields();
    checkSweep();
    QVERIFY(!Form2->Visible());
    Form1 = nullptr;
    Form2 = nullptr;
}

void TestUnit1::closingStopsRefreshes() {
    MainWindow w(RealFamilies(2));
    w.ShowAndSettle();
    Form1->Close();
    QVERIFY(Form1->Closing());
    QCOMPARE(Form2, nullptr);
    QVERIFY(Application->Terminated());
    // A late resize notification touches nothing, not even what the user typed.
    auto* field = w.Fields()[1];
    field->SetText(QStringLiteral("typed"));
    Form1->Edit1->SetText(QStringLiteral("other"));
    Form1->SetWidth(500);
    Form1->RefreshEditfields();
    Form1->Button1->Click();
    QCOMPARE(field->Text(), QStringLiteral("typed"));
    QVERIFY(w.env.errors.isEmpty());
}

void TestUnit1::onlyFieldsInViewGetWidgets() {
    QStringList fonts;
    for (int i = 0; i < 1500; ++i)
        fonts << RealFamilies(3)[i % 3];
    MainWindow w(fonts);
    w.ShowAndSettle();
    QCOMPARE(Form1->ScrollBox1->RealizedCount(), 0); // the Text page is not showing
    Form1->PageControl1->SelectByUser(Form1->TabSheet2);
    QCoreApplication::processEvents();
    const int realized = Form1->ScrollBox1->RealizedCount();
    QVERIFY2(realized > 0 && realized < 60, qPrintable(QString::number(realized)));
    // What the user sees is a real edit field of that font, with the field's text.
    auto fields = w.Fields();
    auto* edit = qobject_cast<QLineEdit*>(fields[0]->Widget());
    QVERIFY(edit);
    QCOMPARE(edit->text(), fields[0]->Text());
    QCOMPARE(edit->font().family(), fields[0]->Font()->Name());
    QCOMPARE(edit->geometry(), fields[0]->BoundsRect());
    // Text typed into a field survives the field scrolling out of view and back.
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("!"));
    edit->clearFocus();
    const QString typed = fields[0]->Text();
    QVERIFY(typed.contains(u'!'));
    Form1->ScrollBox1->VertScrollBar()->SetPosition(Form1->ScrollBox1->MaxScrollPosition());
    QCoreApplication::processEvents();
    QVERIFY(!fields[0]->HandleAllocated());
    QVERIFY(fields.back()->HandleAllocated());
    QCOMPARE(fields[0]->Text(), typed);
    Form1->ScrollBox1->VertScrollBar()->SetPosition(0);
    QCoreApplication::processEvents();
    QCOMPARE(qobject_cast<QLineEdit*>(fields[0]->Widget())->text(), typed);
}

void TestUnit1::workWaitingForTheWindowRunsOnceItShowsOrAtItsLimit() {
    using namespace std::chrono_literals;
    TestEnvironment env;
    {
        // Shown later: nothing before, once after, not again on the next showing.
        TForm form(nullptr);
        int runs = 0;
        WhenShown(
            &form, [&] { return form.Exposed(); }, 30s, [&] { ++runs; });
        QTest::qWait(200);
        QCOMPARE(runs, 0);
        form.Show();
        QTRY_COMPARE(runs, 1);
        QVERIFY(form.Exposed());
        form.Hide();
        form.Show();
        QTest::qWait(200);
        QCOMPARE(runs, 1);
    }
    {
        // Never shown: once, at the limit.
        TForm form(nullptr);
        int runs = 0;
        WhenShown(
            &form, [] { return false; }, 600ms, [&] { ++runs; });
        QTest::qWait(200);
        QCOMPARE(runs, 0);
        QTRY_COMPARE(runs, 1);
        QTest::qWait(700);
        QCOMPARE(runs, 1);
    }
    {
        // Ready already: at the next turn, not inside the call.
        TForm form(nullptr);
        int runs = 0;
        WhenShown(
            &form, [] { return true; }, 30s, [&] { ++runs; });
        QCOMPARE(runs, 0);
        QTRY_COMPARE(runs, 1);
    }
    {
        // The form gone first: never.
        int runs = 0;
        auto form = std::make_unique<TForm>(nullptr);
        WhenShown(
            form.get(), [] { return true; }, 50ms, [&] { ++runs; });
        form.reset();
        QTest::qWait(200);
        QCOMPARE(runs, 0);
    }
}

// The splitter between the list and the pages has nothing to resize: it neither shows the
// resize cursor nor moves the panels.
void TestUnit1::mainWindowBarIsInert() {
    TestEnvironment env{{QStringLiteral("DejaVu Sans")}};
    Application->CreateForm(Form1);
    std::unique_ptr<TForm1> owner(Form1);
    TRxSplitter* bar = Form1->RxSplitter1;
    QCOMPARE(bar->ControlFirst(), nullptr);
    QCOMPARE(bar->ControlSecond(), Form1->Panel2);
    QCOMPARE(bar->BoundsRect(), QRect(241, 0, 6, Form1->Panel1->Height()));
    QCOMPARE(bar->Cursor(), crDefault);
    Form1->Show();
    QVERIFY(QTest::qWaitForWindowExposed(Form1->Widget()));
    QVERIFY(!bar->Widget()->testAttribute(Qt::WA_SetCursor));
    const QRect panel1 = Form1->Panel1->BoundsRect(), panel2 = Form1->Panel2->BoundsRect();
    auto at = [&](int x) { return Form1->Widget()->mapFromGlobal(bar->ClientToScreen(QPoint(x, 100))); };
    QWindow* win = Form1->Widget()->windowHandle();
    QTest::mousePress(win, Qt::LeftButton, {}, at(3));
    QVERIFY(!bar->Tracking());
    QCOMPARE(QWidget::mouseGrabber(), nullptr);
    QTest::mouseMove(win, at(80));
    QTest::mouseRelease(win, Qt::LeftButton, {}, at(80));
    QCOMPARE(Form1->Panel1->BoundsRect(), panel1);
    QCOMPARE(Form1->Panel2->BoundsRect(), panel2);
    owner.reset();
    Form1 = nullptr;
}

void TestUnit1::neighboursAreReadiedOnlyOnceTheWindowShows() {
    const QStringList fonts = RealFamilies(3);
    MainWindow w(fonts);
    // Made but not shown: readying a face would only delay the window.
    QTest::qWait(200);
    QVERIFY(Form1->WarmedNeighbours().isEmpty());
    w.ShowAndSettle();
    QTRY_COMPARE(Form1->WarmedNeighbours().size(), qsizetype(1));
    const QFont next = Form1->WarmedNeighbours().front();
    QCOMPARE(next.families(), QStringList{Screen->QtFamily(Form1->ListBox1->Items()->Strings(1))});
    QCOMPARE(next.pixelSize(), Form1->Memo1->Widget()->font().pixelSize());
}

void TestUnit1::textPageReadiesTheNextFacesOfTheFieldsInView() {
    QStringList fonts;
    for (int i = 0; i < 300; ++i)
        fonts << RealFamilies(3)[i % 3];
    MainWindow w(fonts);
    w.ShowAndSettle();
    QVERIFY(Form1->TextPageWarmList().isEmpty()); // the Alphabet page shows
    Form1->PageControl1->SelectByUser(Form1->TabSheet2);
    Form1->ScrollBox1->VertScrollBar()->SetPosition(Form1->ScrollBox1->MaxScrollPosition() / 2);
    QCoreApplication::processEvents();
    // Fields in view first, then those near it that have a widget.
    std::vector<TEdit*> inView, nearView;
    for (TEdit* e : w.Fields()) {
        if (e->Top() + e->Height() > 0 && e->Top() < Form1->ScrollBox1->ClientHeight())
            inView.push_back(e);
        else if (e->HandleAllocated())
            nearView.push_back(e);
    }
    QVERIFY(inView.size() > 2 && inView.size() < 60);
    QVERIFY(inView.front() != w.Fields().front());
    inView.insert(inView.end(), nearView.begin(), nearView.end());
    const QList<QFont> warm = Form1->TextPageWarmList();
    // Bold flipped for every field with a widget, then Italic flipped, then a size step each way.
    QCOMPARE(warm.size(), qsizetype(inView.size() * 4));
    const qsizetype n = qsizetype(inView.size());
    for (qsizetype i = 0; i < n; ++i) {
        QCOMPARE(warm[i].family(), inView[size_t(i)]->Font()->Name());
        QVERIFY(warm[i].bold() && !warm[i].italic());
        QVERIFY(!warm[n + i].bold() && warm[n + i].italic());
    }
    // They are the very fonts the fields take, so Qt finds the faces made.
    Form1->CheckBox1->Toggle();
    QCoreApplication::processEvents();
    auto* edit = qobject_cast<QLineEdit*>(inView.front()->Widget());
    QVERIFY(edit);
    QCOMPARE(edit->font(), warm[0]);
    const QFont italicNext = warm[n];
    Form1->CheckBox1->Toggle();
    Form1->CheckBox2->Toggle();
    QCoreApplication::processEvents();
    QCOMPARE(qobject_cast<QLineEdit*>(inView.front()->Widget())->font(), italicNext);
}

namespace {
// The page's widget sits exactly in the tab widget's page area and the memo fills it.
void CheckPageLayout() {
    auto* tabs = static_cast<QTabWidget*>(Form1->PageControl1->Widget());
    QWidget* page = Form1->TabSheet1->Widget();
    QWidget* stack = page->parentWidget();
    QCOMPARE(stack->parentWidget(), static_cast<QWidget*>(tabs));
    QCOMPARE(page->geometry(), QRect(QPoint(0, 0), stack->size()));
    QCOMPARE(Form1->TabSheet1->BoundsRect(), stack->geometry());
    QCOMPARE(Form1->Memo1->Widget()->geometry(), QRect(QPoint(0, 0), stack->size()));
    QCOMPARE(tabs->size(), Form1->PageControl1->BoundsRect().size());
}
} // namespace

void TestUnit1::resizeLaysOutAndRefreshesWhicheverPageShows() {
    MainWindow w(RealFamilies(4));
    w.ShowAndSettle();
    CheckPageLayout();
    const auto fields = w.Fields();
    const int oldWidth = Form1->ScrollBox1->Width();
    // The user resizes the window with the Alphabet page showing: the page keeps
    // its place, and every field is refreshed to the new width.
    fields[2]->SetText(QStringLiteral("typed"));
    Form1->Widget()->resize(Form1->Widget()->width() + 150, Form1->Widget()->height() + 90);
    QCoreApplication::processEvents();
    CheckPageLayout();
    QCOMPARE(Form1->ScrollBox1->Width(), oldWidth + 150);
    for (auto* e : fields)
        QCOMPARE(e->Width(), Form1->ScrollBox1->Width());
    QCOMPARE(fields[2]->Text(), QStringLiteral("Sample Text (%1)").arg(fields[2]->Font()->Name()));

    // The same with the Text page showing, and then shrinking.
    Form1->PageControl1->SelectByUser(Form1->TabSheet2);
    QCoreApplication::processEvents();
    Form1->Widget()->resize(Form1->Widget()->width() - 250, Form1->Widget()->height() - 40);
    QCoreApplication::processEvents();
    QCOMPARE(Form1->ScrollBox1->Width(), oldWidth - 100);
    for (auto* e : fields)
        QCOMPARE(e->Width(), Form1->ScrollBox1->Width());
    auto* tabs = static_cast<QTabWidget*>(Form1->PageControl1->Widget());
    QCOMPARE(Form1->TabSheet2->Widget()->geometry(),
             QRect(QPoint(0, 0), Form1->TabSheet2->Widget()->parentWidget()->size()));
    QCOMPARE(Form1->TabSheet2->BoundsRect().size(), tabs->currentWidget()->size());

    // A field whose text is set in code shows its start, as a new field does.
    Form1->Edit1->SetText(QStringLiteral("Hallo Welt äöü, ein Text, der länger ist als jedes Feld breit"));
    Form1->Button1->Click();
    QCoreApplication::processEvents();
    auto* edit = qobject_cast<QLineEdit*>(fields[0]->Widget());
    QVERIFY(edit);
    QCOMPARE(edit->text(), fields[0]->Text());
    QCOMPARE(edit->cursorPosition(), 0);
}

namespace {
// Sees what the splash looks like whenever it paints.
struct SplashWatcher : QObject {
    struct Seen {
        TCursor cursor;
        Qt::CursorShape shape;
        bool refreshing;
    };
    QList<Seen> painted;
    bool refreshing = false;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) {
            const QCursor* c = QGuiApplication::overrideCursor();
            painted << Seen{Screen->Cursor(), c ? c->shape() : Qt::ArrowCursor, refreshing};
        }
        return false;
    }
};
} // namespace

void TestUnit1::refreshShowsHourglassAndPaintedSplash() {
    MainWindow w(RealFamilies(3));
    w.ShowAndSettle();
    QVERIFY(!Form2->Visible());
    // The splash's frame: a single-line border round a raised panel.
    QCOMPARE(Form2->Panel1->BorderStyle(), bsSingle);
    QCOMPARE(Form2->Panel1->BevelOuter(), bvRaised);
    SplashWatcher watcher;
    Form2->Widget()->installEventFilter(&watcher);
    // A refresh while the message loop runs, as every refresh after start-up does.
    bool timedOut = false;
    QTimer::singleShot(0, [&] {
        watcher.refreshing = true;
        Form1->Button1->Click();
        watcher.refreshing = false;
        QVERIFY(!Form2->Visible());
        Application->Terminate();
    });
    QObject watchdogScope; // the watchdog must not outlive this test's locals
    QTimer::singleShot(3000, &watchdogScope, [&] {
        timedOut = true;
        QCoreApplication::exit(1);
    });
    Application->Run();
    QVERIFY(!timedOut);
    QVERIFY2(!watcher.painted.isEmpty(), "the splash never painted during the refresh");
    for (const auto& seen : watcher.painted) {
        QVERIFY(seen.refreshing);
        QCOMPARE(seen.cursor, crHourGlass);
        QCOMPARE(seen.shape, Qt::WaitCursor);
    }
    QCOMPARE(Screen->Cursor(), crDefault);
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
}

namespace {
struct TopLevelWatcher : QObject {
    QList<QPointer<QWidget>> shown;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Show)
            if (auto* w = qobject_cast<QWidget*>(o); w && w->isWindow()) shown << w;
        return false;
    }
};
} // namespace

void TestUnit1::noWindowButTheFormsAppears() {
    TopLevelWatcher watcher;
    qApp->installEventFilter(&watcher);
    {
        MainWindow w(RealFamilies(3));
        Form2->Show();
        w.ShowAndSettle();
        Form1->PageControl1->SelectByUser(Form1->TabSheet2);
        QCoreApplication::processEvents();
        for (const auto& shown : watcher.shown) {
            QVERIFY(shown);
            QVERIFY2(shown == Form1->Widget() || (Form2 && shown == Form2->Widget()),
                     shown->metaObject()->className());
        }
        QVERIFY(watcher.shown.contains(Form1->Widget()));
    }
    qApp->removeEventFilter(&watcher);
}

namespace {

// An installed Type 1 font under a family name of its own, written into dir; empty if
// there is none to copy.
QString RenamedFontFile(const QTemporaryDir& dir, const QByteArray& family) {
    QFile in(QStringLiteral("/usr/share/fonts/type1/urw-base35/C059-Roman.t1"));
    if (!in.open(QIODevice::ReadOnly)) return {};
    QByteArray bytes = in.readAll();
    bytes.replace("/FamilyName (C059)", "/FamilyName (" + family + ")");
    const QString path = dir.filePath(QString::fromLatin1(family).remove(u' ') + QStringLiteral(".t1"));
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() ? path : QString();
}

// Drags files over a widget and drops them, as a file manager would; whether the drop was taken.
bool DropFiles(QWidget* target, const QStringList& files) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& f : files)
        urls << QUrl::fromLocalFile(f);
    data.setUrls(urls);
    const QPoint at(5, 5);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

} // namespace

void TestUnit1::fontFilesDroppedOnTheWindowJoinTheList() {
    QTemporaryDir dir;
    const QString font = RenamedFontFile(dir, "Glyvex Dropped Test");
    if (font.isEmpty()) QSKIP("needs the URW Type 1 fonts (fonts-urw-base35)");
    const QString text = dir.filePath("notes.txt");
    QFile(text).open(QIODevice::WriteOnly);
    MainWindow w(RealFamilies(3));
    w.ShowAndSettle();
    const QString memoText = qobject_cast<QPlainTextEdit*>(Form1->Memo1->Widget())->toPlainText();

    // Dropped on the memo, which would take a drop of text itself.
    QVERIFY(DropFiles(Form1->Memo1->Widget(), {text, font}));
    QTRY_COMPARE(Form1->ListBox1->Items()->Count(), 4);
    QCOMPARE(qobject_cast<QPlainTextEdit*>(Form1->Memo1->Widget())->toPlainText(), memoText);
    const QStringList entries = Form1->ListBox1->Items()->ToStringList();
    QVERIFY(entries.contains("Glyvex Dropped Test"));
    QStringList sorted = entries;
    sorted.sort(Qt::CaseInsensitive);
    QCOMPARE(entries, sorted);
    // Selected and previewed; counted.
    QCOMPARE(Form1->SelectedFamily(), QStringLiteral("Glyvex Dropped Test"));
    QCOMPARE(Form1->Memo1->Font()->Name(), QStringLiteral("Glyvex Dropped Test"));
    QCOMPARE(Form1->Memo2->Font()->Name(), QStringLiteral("Glyvex Dropped Test"));
    QCOMPARE(Form1->StatusBar1->Panels()->Items(0)->Text(), QStringLiteral("4 Fonts"));
    QCOMPARE(Form1->StatusBar1->Panels()->Items(1)->Text(), QStringLiteral("Glyvex Dropped Test"));
    // One field per entry, each showing its entry.
    const std::vector<TEdit*> fields = w.Fields();
    QCOMPARE(fields.size(), size_t(4));
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(fields[size_t(i)]->Font()->Name(), entries[i]);
        QCOMPARE(fields[size_t(i)]->Name(), QStringLiteral("MyEdit%1").arg(i + 1));
    }
    // The text file is named in one message, in the interface's language.
    QTRY_COMPARE(w.env.errors.size(), qsizetype(1));
    QCOMPARE(w.env.errors[0],
             QStringLiteral("Die Datei „%1“ ist keine Schrift, die Glyvex lesen kann.").arg(text));

    // The same again, in English, on the list: nothing new joins; the message follows the language.
    Form1->English1Click(nullptr);
    Form1->ListBox1->SelectByUser(0);
    QVERIFY(DropFiles(Form1->ListBox1->Widget(), {font, dir.filePath("gone.ttf"), dir.path()}));
    QTRY_COMPARE(w.env.errors.size(), qsizetype(2));
    QCOMPARE(w.env.errors[1], QStringLiteral("The file “%1” does not exist.\n“%2” is not a regular file.")
                                  .arg(dir.filePath("gone.ttf"), dir.path()));
    QCOMPARE(Form1->ListBox1->Items()->Count(), 4);
    QCOMPARE(w.Fields().size(), size_t(4));
    QCOMPARE(Form1->SelectedFamily(), QStringLiteral("Glyvex Dropped Test"));

    // Anything but local files is left to the widget.
    QMimeData plain;
    plain.setText(QStringLiteral("just text"));
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &plain, Qt::LeftButton, Qt::NoModifier);
    enter.ignore();
    QCoreApplication::sendEvent(Form1->ListBox1->Widget(), &enter);
    QVERIFY(!enter.isAccepted());
}

void TestUnit1::fontFilesGivenAtStartAreSelectedAndReportedOnce() {
    QTemporaryDir dir;
    const QString font = RenamedFontFile(dir, "Glyvex Started Test");
    if (font.isEmpty()) QSKIP("needs the URW Type 1 fonts (fonts-urw-base35)");
    {
        TestEnvironment env(RealFamilies(3));
        CreateGlyvexForms({dir.filePath("gone.ttf"), font, font});
        QCOMPARE(Form1->ListBox1->Items()->Count(), 4);
        int fields = 0;
        for (int i = 0; i < Form1->ComponentCount(); ++i)
            fields += Form1->Components(i)->Tag() == TForm1::PerFontTag;
        QCOMPARE(fields, 4);
        QCOMPARE(Form1->SelectedFamily(), QStringLiteral("Glyvex Started Test"));
        QCOMPARE(Form1->StatusBar1->Panels()->Items(1)->Text(), QStringLiteral("Glyvex Started Test"));
        QCOMPARE(Form1->Memo1->Font()->Name(), QStringLiteral("Glyvex Started Test"));
        // Reported once the window shows, in the language it shows by then.
        QTest::qWait(200);
        QVERIFY(env.errors.isEmpty());
        Form1->Translator1->SetCurrentLanguage(English);
        Form1->Show();
        QTRY_COMPARE(env.errors.size(), qsizetype(1));
        QVERIFY(env.errors[0].startsWith(QStringLiteral("The file")));
        QVERIFY(env.errors[0].contains(dir.filePath("gone.ttf")));
        QVERIFY(!env.errors[0].contains(font));
    }
    Form1 = nullptr;
    Form2 = nullptr;
    Form3 = nullptr;
    Form4 = nullptr;
}

QTEST_MAIN(TestUnit1)
#include "tst_unit1.moc"
