// Controls: alignment layout, automatic heights, the virtualising scroll box,
// value clamping, and the form's window behaviour.
#include "TestMain.h"

#include "ComCtrls.h"
#include "ExtCtrls.h"
#include "ScrollBox.h"
#include "StdCtrls.h"

#include <QLineEdit>
#include <QListView>
#include <QTabWidget>

// A form whose handlers record what ran, and whether the form was still whole.
class TTeardownForm : public TForm {
    Q_OBJECT
public:
    using TForm::TForm;
    static inline QStringList calls;
    QStringList own; // a member of the derived form: gone once its destructor has run

    void PageChange(TObject*) { Record(QStringLiteral("change")); }
    void ListClick(TObject*) { Record(QStringLiteral("click")); }
    void FormDestroy(TObject* sender) {
        Record(dynamic_cast<TTeardownForm*>(sender) ? QStringLiteral("destroy") : QStringLiteral("partial"));
    }
    std::span<const TMethodBinding> PublishedMethods() const override {
        static const TMethodBinding methods[] = {
            PUBLISHED_METHOD(TTeardownForm, PageChange),
            PUBLISHED_METHOD(TTeardownForm, ListClick),
            PUBLISHED_METHOD(TTeardownForm, FormDestroy),
        };
        return methods;
    }

private:
    void Record(const QString& what) {
        calls << what;
        own << what;
    }
};

class TestControls : public QObject {
    Q_OBJECT
private slots:
    void alignmentFillsClientAreaInOrder();
    void panelBevelsNarrowTheClientArea();
    void editHeightFollowsItsFont();
    void anEditHoldsWhatItsFieldCanShow();
    void scrollBoxGivesWidgetsOnlyToChildrenInView();
    void scrollingMovesChildrenAndClamps();
    void scrollBoxFindsChildrenInAnyOrderAsTheyMove();
    void valuesAreClamped();
    void closeQueryAndCloseAction();
    void formWithClientSizeAndCentering();
    void defaultPositionIsTheWindowSystems();
    void teardownFiresNoEvents();
};

static TPanel* MakePanel(TWinControl* parent, TComponent* owner, TAlign align, QRect r) {
    auto* p = new TPanel(owner);
    p->SetBounds(r.x(), r.y(), r.width(), r.height());
    p->SetAlign(align);
    p->SetParent(parent);
    return p;
}

void TestControls::alignmentFillsClientAreaInOrder() {
    TestEnvironment env;
    TForm form(nullptr);
    form.SetBounds(0, 0, 638, 426);
    // The main window's arrangement: status bar and tool bar at the bottom, the
    // lowest first; two left panels by their left edges; the rest to the client.
    auto* status = MakePanel(&form, &form, alBottom, {0, 407, 638, 19});
    auto* client = MakePanel(&form, &form, alClient, {247, 0, 391, 381});
    auto* bar = MakePanel(&form, &form, alBottom, {0, 381, 638, 26});
    auto* split = MakePanel(&form, &form, alLeft, {241, 0, 6, 381});
    auto* list = MakePanel(&form, &form, alLeft, {0, 0, 241, 381});
    QCOMPARE(status->BoundsRect(), QRect(0, 407, 638, 19));
    QCOMPARE(bar->BoundsRect(), QRect(0, 381, 638, 26));
    QCOMPARE(list->BoundsRect(), QRect(0, 0, 241, 381));
    QCOMPARE(split->BoundsRect(), QRect(241, 0, 6, 381));
    QCOMPARE(client->BoundsRect(), QRect(247, 0, 391, 381));
    // Growing the form keeps every alignment; hiding a control gives its room away.
    form.SetBounds(0, 0, 800, 500);
    QCOMPARE(status->BoundsRect(), QRect(0, 481, 800, 19));
    QCOMPARE(client->BoundsRect(), QRect(247, 0, 553, 455));
    split->Hide();
    QCOMPARE(client->Left(), 241);
    // Changing an aligned control's width relays the others.
    list->SetWidth(200);
    QCOMPARE(client->BoundsRect(), QRect(200, 0, 600, 455));
}

void TestControls::panelBevelsNarrowTheClientArea() {
    TestEnvironment env;
    TForm form(nullptr);
    form.SetBounds(0, 0, 400, 300);
    auto* p = MakePanel(&form, &form, alClient, {});
    p->SetBevelInner(bvLowered); // outer bevel raised by default: two pixels in all
    auto* inner = MakePanel(p, &form, alClient, {});
    QCOMPARE(inner->BoundsRect(), QRect(2, 2, 396, 296));
    p->SetBevelOuter(bvNone);
    QCOMPARE(inner->BoundsRect(), QRect(1, 1, 398, 298));
    p->SetBorderWidth(3);
    QCOMPARE(inner->BoundsRect(), QRect(4, 4, 392, 292));
}

void TestControls::editHeightFollowsItsFont() {
    TestEnvironment env;
    TForm form(nullptr);
    auto* e = new TEdit(&form);
    e->SetParent(&form);
    e->Font()->SetName(QStringLiteral("DejaVu Sans"));
    e->Font()->SetHeight(-30);
    QFont q(QStringLiteral("DejaVu Sans"));
    q.setPixelSize(30);
    const QFontMetrics fm(q);
    QCOMPARE(e->Height(), fm.ascent() + fm.descent() + 8);
    const int before = e->Height();
    e->Font()->SetHeight(-10);
    QVERIFY(e->Height() < before);
    e->SetAutoSize(false);
    e->SetHeight(50);
    e->Font()->SetHeight(-40);
    QCOMPARE(e->Height(), 50);
    // An edit without its own font follows its parent's.
    auto* f = new TEdit(&form);
    f->SetParent(&form);
    QVERIFY(f->ParentFont());
    form.Font()->SetName(QStringLiteral("DejaVu Serif"));
    QCOMPARE(f->Font()->Name(), QStringLiteral("DejaVu Serif"));
    QCOMPARE(e->Font()->Name(), QStringLiteral("DejaVu Sans"));
}

void TestControls::anEditHoldsWhatItsFieldCanShow() {
    TestEnvironment env;
    TForm form(nullptr);
    auto* e = new TEdit(&form);
    e->SetParent(&form);
    int changes = 0;
    e->SetOnChange(TNotifyEvent(&form, [&](TObject*) { ++changes; }));
    // Ten megabytes, as a damaged settings file may hold, without a widget and with one.
    const QString huge = QString(10 << 20, u'A') + u'B';
    e->SetText(huge);
    QCOMPARE(e->Text(), QString(TCustomEdit::DefaultTextLimit, u'A'));
    form.Show();
    QVERIFY(e->HandleAllocated());
    e->SetText(QStringLiteral("x") + huge);
    QCOMPARE(e->Text().size(), TCustomEdit::DefaultTextLimit);
    QCOMPARE(qobject_cast<QLineEdit*>(e->Widget())->text(), e->Text());
    QCOMPARE(changes, 2);
    // A limit of its own cuts what it holds already.
    e->SetMaxLength(5);
    QCOMPARE(e->Text(), QStringLiteral("xAAAA"));
    QCOMPARE(changes, 3);
    e->SetText(QStringLiteral("abcdefgh"));
    QCOMPARE(e->Text(), QStringLiteral("abcde"));
}

// A scroll box filling a form 300 pixels wide.
static TScrollBox* ClientScrollBox(TForm& form, int height) {
    form.SetBounds(0, 0, 300, height);
    auto* box = new TScrollBox(&form);
    box->SetParent(&form);
    box->SetAlign(alClient);
    return box;
}

void TestControls::scrollBoxGivesWidgetsOnlyToChildrenInView() {
    TestEnvironment env;
    TForm form(nullptr);
    TScrollBox* box = ClientScrollBox(form, 300);
    std::vector<TEdit*> edits;
    for (int i = 0; i < 2000; ++i) {
        auto* e = new TEdit(&form);
        e->SetParent(box);
        e->SetAutoSize(false);
        e->SetBounds(0, i * 20, 200, 20);
        e->SetText(QString::number(i));
        edits.push_back(e);
    }
    QCOMPARE(box->RealizedCount(), 0);
    form.Show();
    QCoreApplication::processEvents();
    const int realized = box->RealizedCount();
    QVERIFY2(realized >= 14 && realized <= 40, qPrintable(QString::number(realized)));
    QVERIFY(edits[0]->HandleAllocated());
    QVERIFY(!edits[500]->HandleAllocated());
    QCOMPARE(box->ContentHeight(), 40000);
    // Hidden, the box keeps the widgets in view (their fonts stay made) and lets the band's go.
    QTRY_VERIFY(edits[20]->HandleAllocated());
    QWidget* inView = edits[14]->Widget();
    box->Hide();
    QCOMPARE(edits[14]->Widget(), inView);
    QVERIFY(!edits[20]->HandleAllocated());
    // A hidden box gives no widgets to new children in view.
    box->VertScrollBar()->SetPosition(20000);
    QCoreApplication::processEvents();
    QVERIFY(!edits[1000]->HandleAllocated());
    box->Show();
    QVERIFY(edits[1000]->HandleAllocated());
    QCoreApplication::processEvents();
    // Out of view, unless it has the keyboard focus (the user may be typing in it).
    QVERIFY(!edits[1]->HandleAllocated());
    QCOMPARE(edits[0]->HandleAllocated(), edits[0]->Focused());
    QCOMPARE(qobject_cast<QLineEdit*>(edits[1000]->Widget())->text(), QStringLiteral("1000"));
    // A scroll step moves every child together: the extent stays, widgets follow their controls.
    box->VertScrollBar()->SetPosition(20016);
    QCOMPARE(box->ContentHeight(), 40000);
    QCOMPARE(edits[1001]->Top(), 4);
    QVERIFY(edits[1001]->HandleAllocated());
    QCOMPARE(edits[1001]->Widget()->geometry(), edits[1001]->BoundsRect());
    // A child grown just before a scroll step still grows the extent.
    edits[1999]->SetHeight(60);
    box->VertScrollBar()->SetPosition(20032);
    QCOMPARE(box->ContentHeight(), 40040);
    QCOMPARE(edits[1999]->Top(), 1999 * 20 - 20032);
}

void TestControls::scrollBoxFindsChildrenInAnyOrderAsTheyMove() {
    TestEnvironment env;
    TForm form(nullptr);
    TScrollBox* box = ClientScrollBox(form, 300);
    // Made bottom first and mixed: the box may not count on its children's order.
    std::vector<TPanel*> panels(1000);
    for (int k = 0; k < 1000; ++k) {
        const int i = (k * 7 + 3) % 1000;
        panels[i] = new TPanel(&form);
        panels[i]->SetParent(box);
        panels[i]->SetBounds(0, i * 20, 200, 20);
    }
    form.Show();
    QCoreApplication::processEvents();
    QVERIFY(panels[0]->HandleAllocated() && panels[5]->HandleAllocated());
    QVERIFY(!panels[100]->HandleAllocated());
    box->VertScrollBar()->SetPosition(10000);
    QCoreApplication::processEvents();
    QVERIFY(panels[500]->HandleAllocated() && panels[505]->HandleAllocated());
    QVERIFY(!panels[0]->HandleAllocated() && !panels[5]->HandleAllocated());
    // Half a page below the view gets its widgets once scrolling pauses; further out never.
    QTRY_VERIFY(panels[520]->HandleAllocated() && panels[495]->HandleAllocated());
    QVERIFY(!panels[535]->HandleAllocated() && !panels[470]->HandleAllocated());
    // Moved while scrolled: the top given is the one seen, and the widget comes or goes with it.
    panels[0]->SetTop(40);
    panels[502]->SetTop(5000);
    QCoreApplication::processEvents();
    QCOMPARE(panels[0]->Top(), 40);
    QVERIFY(panels[0]->HandleAllocated());
    QCOMPARE(panels[0]->Widget()->geometry(), panels[0]->BoundsRect());
    QVERIFY(!panels[502]->HandleAllocated());
    box->VertScrollBar()->SetPosition(10020);
    QCOMPARE(panels[0]->Top(), 20);
    QCOMPARE(panels[0]->Widget()->geometry(), panels[0]->BoundsRect());
    // Taken out of the box, a child keeps the place it had; the box gone, its children stay put.
    panels[501]->SetParent(nullptr);
    QCOMPARE(panels[501]->Top(), 501 * 20 - 10020);
    panels[501]->SetParent(box);
    QCOMPARE(panels[501]->Top(), 501 * 20 - 10020);
    // A tall child that starts far above the view and reaches into it is in view too.
    panels[300]->SetBounds(0, -2000, 200, 2100);
    QCoreApplication::processEvents();
    QVERIFY(panels[300]->HandleAllocated());
    delete box;
    QCOMPARE(panels[503]->Top(), 503 * 20 - 10020);
}

void TestControls::scrollingMovesChildrenAndClamps() {
    TestEnvironment env;
    TForm form(nullptr);
    TScrollBox* box = ClientScrollBox(form, 204);
    auto* a = new TPanel(&form);
    a->SetParent(box);
    a->SetBounds(0, 0, 100, 500);
    QCOMPARE(box->ClientHeight(), 200);
    QCOMPARE(box->MaxScrollPosition(), 300);
    box->VertScrollBar()->SetPosition(120);
    QCOMPARE(a->Top(), -120);
    box->VertScrollBar()->SetPosition(1000);
    QCOMPARE(box->VertScrollBar()->Position(), 300);
    QCOMPARE(a->Top(), -300);
    box->VertScrollBar()->SetPosition(-5);
    QCOMPARE(a->Top(), 0);
    // The vertical scroll bar takes its width from the client area only when needed.
    const int withBar = box->ClientWidth();
    a->SetHeight(50);
    QVERIFY(box->ClientWidth() > withBar);
}

void TestControls::valuesAreClamped() {
    TestEnvironment env;
    TForm form(nullptr);
    auto* t = new TTrackBar(&form);
    t->SetParent(&form);
    t->SetMin(1);
    t->SetMax(100);
    t->SetPosition(500);
    QCOMPARE(t->Position(), 100);
    t->SetPosition(0);
    QCOMPARE(t->Position(), 1);
    auto* p = new TProgressBar(&form);
    p->SetParent(&form);
    p->SetPosition(250);
    QCOMPARE(p->Position(), 100);
    p->SetMax(200);
    QCOMPARE(p->Position(), 100);
    p->SetMin(150);
    QCOMPARE(p->Position(), 150);
}

class ClosingForm : public TForm {
public:
    using TForm::TForm;
    bool allow = false;
    TCloseAction action = caHide;
    void Query(TObject*, bool& can) { can = allow; }
    void OnCloseHandler(TObject*, TCloseAction& a) { a = action; }
};

void TestControls::closeQueryAndCloseAction() {
    TestEnvironment env;
    ClosingForm form(nullptr);
    form.SetOnCloseQuery(TCloseQueryEvent(&form, &ClosingForm::Query));
    form.SetOnClose(TCloseEvent(&form, &ClosingForm::OnCloseHandler));
    form.Show();
    form.Close();
    QVERIFY(form.Visible()); // refused by the close query
    form.allow = true;
    form.action = caNone;
    form.Close();
    QVERIFY(form.Visible());
    form.action = caHide;
    form.Close();
    QVERIFY(!form.Visible());
    // The window system's close button goes the same way.
    form.Show();
    form.allow = false;
    QVERIFY(form.Widget()->close() == false);
    QVERIFY(form.Visible());
}

void TestControls::formWithClientSizeAndCentering() {
    TestEnvironment env;
    TForm form(nullptr);
    form.SetClientWidth(221);
    form.SetClientHeight(153);
    form.SetPosition(poScreenCenter);
    form.Show();
    QCOMPARE(form.Widget()->size(), QSize(221, 153));
    const QRect s = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(form.Left(), s.left() + (s.width() - form.Width()) / 2);
    // The user resizing the window reaches the form and its layout.
    int resizes = 0;
    struct Counter : QObject {
        int* n;
        void Count(TObject*) { ++*n; }
    } counter;
    counter.n = &resizes;
    form.SetOnResize(TNotifyEvent(&counter, &Counter::Count));
    form.Widget()->resize(400, 300);
    QCOMPARE(form.ClientWidth(), 400);
    QCOMPARE(form.ClientHeight(), 300);
    QVERIFY(resizes >= 1);
}

void TestControls::defaultPositionIsTheWindowSystems() {
    TestEnvironment env;
    TForm form(nullptr);
    // A designed position read from a definition does not count for a default-placed form...
    form.SetLoadingState(true);
    form.SetPosition(poDefault);
    form.SetBounds(400, 300, 200, 150);
    form.Loaded();
    form.Show();
    QVERIFY(form.Widget()->pos() != QPoint(400, 300));
    // ...but a position set later (a restored placement) does.
    form.SetLeft(123);
    QCOMPARE(form.Widget()->pos().x(), 123);
}

// Tearing a form down removes its pages and views; none of that may reach a handler, and
// OnDestroy runs while the form is whole, whether its owner destroys it or it is deleted.
void TestControls::teardownFiresNoEvents() {
    TestEnvironment env;
    const QString definition = QStringLiteral(R"(Form: TTeardownForm {
  OnDestroy = FormDestroy
  PageControl1: TPageControl {
    Align = alClient
    ActivePage = TabSheet2
    OnChange = PageChange
    TabSheet1: TTabSheet {
      Caption = "A"
    }
    TabSheet2: TTabSheet {
      Caption = "B"
      ListBox1: TListBox {
        Align = alClient
        Items = ("x" "y" "z")
        OnClick = ListClick
      }
    }
  }
})");
    for (const bool byOwner : {true, false}) {
        auto owner = std::make_unique<TComponent>(nullptr);
        auto* form = new TTeardownForm(byOwner ? owner.get() : nullptr);
        TFormReader::ReadFormText(form, definition, QStringLiteral("teardown"));
        form->Show();
        auto* pages = qobject_cast<TPageControl*>(form->FindComponent(QStringLiteral("PageControl1")));
        auto* list = qobject_cast<TListBox*>(form->FindComponent(QStringLiteral("ListBox1")));
        auto* tabs = pages ? qobject_cast<QTabWidget*>(pages->Widget()) : nullptr;
        QVERIFY(tabs && list);
        // The handlers are live: the user's tab change and selection reach them.
        TTeardownForm::calls.clear();
        tabs->setCurrentIndex(0);
        tabs->setCurrentIndex(1);
        auto* view = qobject_cast<QListView*>(list->Widget());
        QVERIFY(view);
        view->setCurrentIndex(view->model()->index(2, 0));
        QCOMPARE(TTeardownForm::calls, QStringList({"change", "change", "click"}));

        TTeardownForm::calls.clear();
        if (byOwner)
            owner.reset();
        else
            delete form;
        QCOMPARE(TTeardownForm::calls, QStringList{"destroy"});
    }
}

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
