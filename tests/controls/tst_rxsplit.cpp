#include "TestMain.h"

#include "ExtCtrls.h"
#include "RXSplit.h"
#include "StdCtrls.h"
#include "unit1.h"

#include <QGuiApplication>
#include <QWindow>

namespace {

using Mode = TRxSplitter::TSplitterResizeMode;

// A 400 x 200 panel on a form, holding `first`, the bar and `second`, laid
// out by alignment, and an edit outside the panel that has the focus.
struct Rig {
    std::unique_ptr<TForm> form;
    TPanel* area = nullptr;
    TPanel* first = nullptr;
    TRxSplitter* bar = nullptr;
    TPanel* second = nullptr;
    TEdit* edit = nullptr;

    QWindow* Window() const { return form->Widget()->windowHandle(); }
    QPoint InWindow(QPoint areaPos) const {
        return form->Widget()->mapFromGlobal(area->ClientToScreen(areaPos));
    }
    // Positions are in the panel's client coordinates.
    void Press(QPoint p, Qt::MouseButton b = Qt::LeftButton) const {
        QTest::mousePress(Window(), b, {}, InWindow(p));
    }
    void Move(QPoint p) const { QTest::mouseMove(Window(), InWindow(p)); }
    void Release(QPoint p, Qt::MouseButton b = Qt::LeftButton) const {
        QTest::mouseRelease(Window(), b, {}, InWindow(p));
    }
    QPoint BarCentre() const { return bar->BoundsRect().center(); }
    // The panel as the form shows it, tracking line included (the focused edit
    // outside it may blink).
    QImage Shot() const {
        const QRect r(area->Widget()->mapTo(form->ClientWidget(), QPoint(0, 0)), area->Widget()->size());
        return form->ClientWidget()->grab(r).toImage();
    }
};

constexpr int AreaW = 400, AreaH = 200, Bar = 6, Side = 100;

// Puts a control on its side of the panel, `size` thick.
void Place(TControl* c, TAlign a, int size) {
    switch (a) {
    case alLeft:
        c->SetBounds(0, 0, size, AreaH);
        break;
    case alRight:
        c->SetBounds(AreaW - size, 0, size, AreaH);
        break;
    case alTop:
        c->SetBounds(0, 0, AreaW, size);
        break;
    case alBottom:
        c->SetBounds(0, AreaH - size, AreaW, size);
        break;
    default:
        break;
    }
    c->SetAlign(a);
}

// The bar goes just inside the control on its side, so alignment keeps it there.
void PlaceBar(TRxSplitter* bar, TAlign a) {
    switch (a) {
    case alLeft:
        bar->SetBounds(Side, 0, Bar, AreaH);
        break;
    case alRight:
        bar->SetBounds(AreaW - Side - Bar, 0, Bar, AreaH);
        break;
    case alTop:
        bar->SetBounds(0, Side, AreaW, Bar);
        break;
    case alBottom:
        bar->SetBounds(0, AreaH - Side - Bar, AreaW, Bar);
        break;
    default:
        break;
    }
}

TPanel* NewPanel(TComponent* owner, TWinControl* parent, const QString& name) {
    auto* p = new TPanel(owner);
    p->SetName(name);
    p->SetParent(parent);
    return p;
}

// secondAlign alNone leaves ControlSecond unset.
Rig MakeRig(TAlign firstAlign, TAlign secondAlign, TAlign barAlign, bool show = true) {
    Rig r;
    r.form = std::make_unique<TForm>(nullptr);
    TForm* f = r.form.get();
    f->SetName(QStringLiteral("FormT"));
    f->SetBounds(40, 40, AreaW + 20, AreaH + 60);
    r.area = NewPanel(f, f, QStringLiteral("Area"));
    r.area->SetBevelOuter(bvNone);
    r.area->SetBounds(0, 0, AreaW, AreaH);
    r.first = NewPanel(f, r.area, QStringLiteral("First"));
    r.bar = new TRxSplitter(f);
    r.bar->SetName(QStringLiteral("Splitter"));
    r.bar->SetParent(r.area);
    if (secondAlign != alNone) r.second = NewPanel(f, r.area, QStringLiteral("Second"));
    const bool firstSided = firstAlign != alClient;
    Place(r.first, firstAlign, firstSided ? Side : 0);
    if (r.second) Place(r.second, secondAlign, firstSided ? 0 : Side);
    r.bar->SetAlign(barAlign);
    PlaceBar(r.bar, barAlign);
    r.bar->SetControlFirst(r.first);
    r.bar->SetControlSecond(r.second);
    r.edit = new TEdit(f);
    r.edit->SetName(QStringLiteral("Edit"));
    r.edit->SetParent(f);
    r.edit->SetBounds(0, AreaH + 10, 100, 23);
    f->SetActiveControl(r.edit);
    if (show) {
        f->Show();
        if (!QTest::qWaitForWindowExposed(f->Widget())) qWarning("window not exposed");
    }
    return r;
}

Rig MakeVerticalRig(bool show = true) {
    return MakeRig(alLeft, alClient, alLeft, show);
}

int OverrideShape() {
    const QCursor* c = QGuiApplication::overrideCursor();
    return c ? int(c->shape()) : -1;
}

// Offscreen windows cannot grab the pointer for real; Qt says so on every grab.
QtMessageHandler previousHandler = nullptr;
void QuietGrabWarnings(QtMsgType type, const QMessageLogContext& ctx, const QString& msg) {
    if (msg.contains(QLatin1String("does not support grabbing the mouse"))) return;
    previousHandler(type, ctx, msg);
}

} // namespace

class TestRxSplitter : public QObject {
    Q_OBJECT
    TestEnvironment env{{QStringLiteral("DejaVu Sans")}};

private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(QuietGrabWarnings); }
    void cleanup() {
        // No test may leave the mouse held or a cursor pushed.
        QCOMPARE(QWidget::mouseGrabber(), nullptr);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QVERIFY(env.errors.isEmpty());
    }

    void resizeModeFromAlignments_data() {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<int>("bar");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("cursor");
        QTest::newRow("top, second unset")
            << int(alTop) << int(alNone) << int(alTop) << int(Mode::rmFirstHeight) << crVSplit;
        QTest::newRow("bottom, second client")
            << int(alBottom) << int(alClient) << int(alBottom) << int(Mode::rmFirstHeight) << crVSplit;
        QTest::newRow("client, second bottom")
            << int(alClient) << int(alBottom) << int(alBottom) << int(Mode::rmSecondHeight) << crVSplit;
        QTest::newRow("client, second top")
            << int(alClient) << int(alTop) << int(alTop) << int(Mode::rmSecondHeight) << crVSplit;
        QTest::newRow("left, second client")
            << int(alLeft) << int(alClient) << int(alLeft) << int(Mode::rmFirstWidth) << crHSplit;
        QTest::newRow("right, second unset")
            << int(alRight) << int(alNone) << int(alRight) << int(Mode::rmFirstWidth) << crHSplit;
        QTest::newRow("client, second right")
            << int(alClient) << int(alRight) << int(alRight) << int(Mode::rmSecondWidth) << crHSplit;
        QTest::newRow("client, second left")
            << int(alClient) << int(alLeft) << int(alLeft) << int(Mode::rmSecondWidth) << crHSplit;
        // The bar on another side than the control it would resize.
        QTest::newRow("left control, top bar")
            << int(alLeft) << int(alClient) << int(alTop) << int(Mode::rmNone) << crDefault;
        QTest::newRow("left control, right bar")
            << int(alLeft) << int(alClient) << int(alRight) << int(Mode::rmNone) << crDefault;
        QTest::newRow("second right, bar left")
            << int(alClient) << int(alRight) << int(alLeft) << int(Mode::rmNone) << crDefault;
        // Pairs the table does not know.
        QTest::newRow("left and right")
            << int(alLeft) << int(alRight) << int(alLeft) << int(Mode::rmNone) << crDefault;
        QTest::newRow("both client") << int(alClient) << int(alClient) << int(alLeft) << int(Mode::rmNone)
                                     << crDefault;
        QTest::newRow("first unaligned")
            << int(alNone) << int(alClient) << int(alLeft) << int(Mode::rmNone) << crDefault;
    }
    void resizeModeFromAlignments() {
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(int, bar);
        QFETCH(int, mode);
        QFETCH(int, cursor);
        Rig r = MakeRig(TAlign(first), TAlign(second), TAlign(bar), false);
        QCOMPARE(int(r.bar->ResizeMode()), mode);
        QCOMPARE(r.bar->Cursor(), cursor);
        // The cursor the widget shows is the mode's, and the published property reads it.
        QCOMPARE(r.bar->TControl::Cursor(), cursor);
        QCOMPARE(r.bar->property("Cursor").toInt(), cursor);
    }

    void inertWithoutFirstControl() {
        Rig r = MakeVerticalRig();
        r.bar->SetControlFirst(nullptr);
        QCOMPARE(int(r.bar->ResizeMode()), int(Mode::rmNone));
        QCOMPARE(r.bar->TControl::Cursor(), crDefault);
        bool changed = false;
        r.bar->SetOnPosChanged(TNotifyEvent(nullptr, [&](TObject*) { changed = true; }));
        const int width = r.first->Width();
        r.Press(r.BarCentre());
        QVERIFY(!r.bar->Tracking());
        QCOMPARE(QWidget::mouseGrabber(), nullptr);
        r.Move(r.BarCentre() + QPoint(50, 0));
        r.Release(r.BarCentre() + QPoint(50, 0));
        QCOMPARE(r.first->Width(), width);
        QVERIFY(!changed);
    }

    void shownCursorFollowsTheMode() {
        Rig r = MakeVerticalRig();
        // The bar's own alignment changes: the property reads the new mode at
        // once, the pointer shows it when it next comes over the bar.
        r.bar->SetAlign(alTop);
        QCOMPARE(r.bar->Cursor(), crDefault);
        r.Move(QPoint(AreaW / 2, AreaH + 40));
        r.Move(QPoint(AreaW / 2, 3));
        QCOMPARE(r.bar->TControl::Cursor(), crDefault);
        r.bar->SetAlign(alLeft);
        QCOMPARE(r.bar->Cursor(), crHSplit);
        r.Move(QPoint(AreaW / 2, AreaH + 40));
        r.Move(QPoint(r.bar->Left() + 1, 3));
        QCOMPARE(r.bar->TControl::Cursor(), crHSplit);
        QCOMPARE(r.bar->Widget()->cursor().shape(), Qt::SplitHCursor);
    }

    void referencesAndAlignSetter() {
        Rig r = MakeVerticalRig(false);
        // Itself and forms are refused.
        r.bar->SetControlFirst(r.bar);
        QCOMPARE(r.bar->ControlFirst(), nullptr);
        r.bar->SetControlSecond(r.form.get());
        QCOMPARE(r.bar->ControlSecond(), nullptr);

        // From free to aligned the bar takes the usual thickness and finds its neighbour.
        r.bar->SetAlign(alNone);
        r.bar->SetBounds(Side, 0, 10, AreaH);
        r.bar->SetAlign(alLeft);
        QCOMPARE(r.bar->Width(), 3);
        QCOMPARE(r.bar->ControlFirst(), r.first);
        QCOMPARE(r.bar->TControl::Cursor(), crHSplit);

        // Between two sides the size stays; a set reference is not replaced.
        r.bar->SetAlign(alTop);
        r.bar->SetHeight(8);
        r.bar->SetAlign(alLeft);
        QCOMPARE(r.bar->Width(), AreaW); // the width it had along the top
        QCOMPARE(r.bar->ControlFirst(), r.first);

        r.bar->SetControlFirst(nullptr);
        r.bar->SetAlign(alNone);
        r.bar->SetAlign(alBottom);
        QCOMPARE(r.bar->Height(), 3);
    }

    void findAdjacentControl() {
        // The control just outside the bar's leading side, by the bar's alignment.
        Rig left = MakeVerticalRig(false);
        QCOMPARE(left.bar->FindAdjacentControl(), left.first);
        Rig right = MakeRig(alClient, alRight, alRight, false);
        QCOMPARE(right.bar->FindAdjacentControl(), right.second);
        Rig bottom = MakeRig(alClient, alBottom, alBottom, false);
        QCOMPARE(bottom.bar->FindAdjacentControl(), bottom.second);
        // Beside the parent's edge there is nothing; a free bar has no side.
        left.bar->SetAlign(alTop);
        QCOMPARE(left.bar->Top(), 0);
        QCOMPARE(left.bar->FindAdjacentControl(), nullptr);
        left.bar->SetAlign(alNone);
        left.bar->SetBounds(Side + 10, 10, Bar, 50);
        QCOMPARE(left.bar->FindAdjacentControl(), nullptr);
    }

    void dragWidensFirstControl() {
        Rig r = MakeVerticalRig();
        QStringList order;
        int posChanged = 0;
        r.bar->SetOnPosChanged(TNotifyEvent(nullptr, [&](TObject* s) {
            QCOMPARE(s, r.bar);
            ++posChanged;
            order << QStringLiteral("changed");
        }));
        r.bar->SetOnMouseUp(TMouseEvent(nullptr, [&](TObject*, TMouseButton, TShiftState, int, int) {
            order << QStringLiteral("up:") + QString::number(r.first->Width());
        }));
        // Pressed 2 pixels into the bar, released 50 pixels right of its left edge.
        r.Press(QPoint(Side + 2, 50));
        QVERIFY(r.bar->Tracking());
        QVERIFY(r.bar->MouseCapture());
        QCOMPARE(OverrideShape(), int(Qt::SplitHCursor));
        r.Move(QPoint(Side + 20, 50));
        r.Move(QPoint(Side + 50, 57));
        QCOMPARE(r.first->Width(), Side); // nothing moves before the release
        r.Release(QPoint(Side + 50, 57));
        QCOMPARE(r.first->Width(), Side + 50);
        QCOMPARE(r.bar->Left(), Side + 50);
        QCOMPARE(r.second->Left(), Side + 50 + Bar);
        QCOMPARE(posChanged, 1);
        QCOMPARE(order, QStringList({QStringLiteral("changed"), QStringLiteral("up:150")}));
        QVERIFY(!r.bar->Tracking());
        QCOMPARE(r.bar->Cursor(), crHSplit);
    }

    void dragOnEachSide_data() {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<int>("bar");
        QTest::addColumn<QPoint>("drag");
        QTest::addColumn<int>("firstSize");
        QTest::addColumn<int>("secondSize");
        // Dragging towards the control on the right or bottom makes it smaller.
        QTest::newRow("first right, drag right")
            << int(alRight) << int(alClient) << int(alRight) << QPoint(30, 0) << Side - 30 << -1;
        QTest::newRow("first right, drag left")
            << int(alRight) << int(alClient) << int(alRight) << QPoint(-30, 0) << Side + 30 << -1;
        QTest::newRow("first bottom, drag down")
            << int(alBottom) << int(alClient) << int(alBottom) << QPoint(0, 20) << Side - 20 << -1;
        QTest::newRow("first top, drag down")
            << int(alTop) << int(alClient) << int(alTop) << QPoint(0, 20) << Side + 20 << -1;
        QTest::newRow("second right, drag right")
            << int(alClient) << int(alRight) << int(alRight) << QPoint(30, 0) << -1 << Side - 30;
        QTest::newRow("second left, drag right")
            << int(alClient) << int(alLeft) << int(alLeft) << QPoint(30, 0) << -1 << Side + 30;
        QTest::newRow("second bottom, drag up")
            << int(alClient) << int(alBottom) << int(alBottom) << QPoint(0, -25) << -1 << Side + 25;
        QTest::newRow("second top, drag up")
            << int(alClient) << int(alTop) << int(alTop) << QPoint(0, -25) << -1 << Side - 25;
    }
    void dragOnEachSide() {
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(int, bar);
        QFETCH(QPoint, drag);
        QFETCH(int, firstSize);
        QFETCH(int, secondSize);
        Rig r = MakeRig(TAlign(first), TAlign(second), TAlign(bar));
        QVERIFY(r.bar->ResizeMode() != Mode::rmNone);
        const bool horizontal = bar == alTop || bar == alBottom;
        auto size = [&](TControl* c) { return horizontal ? c->Height() : c->Width(); };
        // Pressed on the leading edge itself, so the edge follows the mouse exactly.
        const QPoint edge = r.bar->BoundsRect().topLeft();
        const QPoint start = edge + (horizontal ? QPoint(50, 0) : QPoint(0, 50));
        r.Press(start);
        r.Move(start + drag);
        r.Release(start + drag);
        if (firstSize >= 0) QCOMPARE(size(r.first), firstSize);
        if (secondSize >= 0) QCOMPARE(size(r.second), secondSize);
        QCOMPARE(r.bar->BoundsRect().topLeft(),
                 edge + (horizontal ? QPoint(0, drag.y()) : QPoint(drag.x(), 0)));
    }

    void limitsStopTheLineAndShowNoDrop() {
        Rig r = MakeVerticalRig();
        // Far left: the line stops at 20 and the cursor says no.
        r.Press(QPoint(Side + 2, 50));
        r.Move(QPoint(5, 50));
        QCOMPARE(OverrideShape(), int(Qt::ForbiddenCursor));
        r.Move(QPoint(60, 50));
        QCOMPARE(OverrideShape(), int(Qt::SplitHCursor));
        r.Move(QPoint(2, 60));
        QCOMPARE(OverrideShape(), int(Qt::ForbiddenCursor));
        r.Release(QPoint(2, 60));
        QCOMPARE(r.bar->Left(), 20);
        QCOMPARE(r.first->Width(), 20);
        // The bar's cursor is the split cursor again, not the refusal.
        QCOMPARE(r.bar->TControl::Cursor(), crHSplit);

        // Far right: the leading edge stops at 400 - 20.
        r.Press(QPoint(22, 50));
        r.Move(QPoint(AreaW - 2, 50));
        QCOMPARE(OverrideShape(), int(Qt::ForbiddenCursor));
        r.Release(QPoint(AreaW - 2, 50));
        QCOMPARE(r.bar->Left(), 380);

        // Moving along the bar only is not a refused position.
        r.Press(QPoint(380, 50));
        r.Move(QPoint(380, AreaH + 30));
        QCOMPARE(OverrideShape(), int(Qt::SplitHCursor));
        r.Release(QPoint(380, AreaH + 30));
        QCOMPARE(r.bar->Left(), 380);
    }

    void growthIsCappedAndShrinkStopsAtOne() {
        Rig r = MakeVerticalRig();
        r.bar->SetTopLeftLimit(0);
        r.bar->SetBottomRightLimit(0);
        r.Press(QPoint(Side + 2, 50));
        r.Move(QPoint(AreaW - 1, 50));
        r.Release(QPoint(AreaW - 1, 50));
        // Available is 400 - 6; a width reaching it becomes available - 3.
        QCOMPARE(r.first->Width(), AreaW - Bar - 3);

        r.Press(QPoint(r.bar->Left() + 1, 50));
        r.Move(QPoint(0, 50));
        r.Release(QPoint(0, 50));
        QCOMPARE(r.first->Width(), 1);
    }

    void vetoKeepsTheLineAndTheSize() {
        Rig r = MakeVerticalRig();
        QList<QPoint> proposed;
        r.bar->SetOnPosChanging(TSplitterMoveEvent(nullptr, [&](TObject* s, int x, int y, bool& allow) {
            QCOMPARE(s, r.bar);
            QVERIFY(allow);
            proposed << QPoint(x, y);
            allow = false;
        }));
        int posChanged = 0;
        r.bar->SetOnPosChanged(TNotifyEvent(nullptr, [&](TObject*) { ++posChanged; }));
        const QImage before = r.Shot();
        r.Press(QPoint(Side + 2, 50));
        const QImage pressed = r.Shot();
        QVERIFY(pressed != before);
        r.Move(QPoint(-300, 50));
        QCOMPARE(OverrideShape(), int(Qt::ForbiddenCursor));
        r.Move(QPoint(250, 50));
        QCOMPARE(OverrideShape(), int(Qt::ForbiddenCursor));
        // The line never left the bar's edge.
        QCOMPARE(r.Shot(), pressed);
        r.Release(QPoint(250, 50));
        // The handler saw raw positions in the bar's coordinates, before any limit.
        QCOMPARE(proposed, QList<QPoint>({QPoint(-400, 50), QPoint(150, 50), QPoint(150, 50)}));
        QCOMPARE(r.first->Width(), Side);
        QCOMPARE(r.bar->Left(), Side);
        QCOMPARE(posChanged, 1);
        QCOMPARE(r.Shot(), before);
    }

    void trackingLineIsDrawnOverControlsAndRemoved() {
        Rig r = MakeVerticalRig();
        r.first->SetColor(clWhite);
        r.second->SetColor(clNavy);
        QCoreApplication::processEvents();
        const QImage before = r.Shot();
        auto changedColumns = [&](const QImage& img, int y) {
            QList<int> cols;
            for (int x = 0; x < AreaW; ++x)
                if (img.pixel(x, y) != before.pixel(x, y)) cols << x;
            return cols;
        };
        r.Press(QPoint(Side + 2, 50));
        // A 6-pixel bar draws a 4-pixel line centred on its leading edge, its whole length.
        QCOMPARE(changedColumns(r.Shot(), 0), QList<int>({98, 99, 100, 101}));
        QCOMPARE(changedColumns(r.Shot(), AreaH - 1), QList<int>({98, 99, 100, 101}));
        r.Move(QPoint(Side + 80, 50));
        const QImage moved = r.Shot();
        // One line only, inverted over the navy control beneath it.
        QCOMPARE(changedColumns(moved, 50), QList<int>({178, 179, 180, 181}));
        const QRgb navy = before.pixel(179, 50);
        QCOMPARE(moved.pixel(179, 50), (navy ^ 0xFFFFFFu) | 0xFF000000u);
        // The line lies over the form's controls and does not take their mouse.
        QWidget* layer = r.form->ClientWidget()->findChild<QWidget*>(QStringLiteral("TrackLine"));
        QVERIFY(layer);
        QVERIFY(layer->testAttribute(Qt::WA_TransparentForMouseEvents));
        QCOMPARE(r.form->ClientWidget()->children().last(), layer);
        QTest::keyClick(r.edit->Widget(), Qt::Key_Escape);
        QCOMPARE(r.form->ClientWidget()->findChild<QWidget*>(QStringLiteral("TrackLine")), nullptr);
        QCOMPARE(r.Shot(), before);
    }

    void escapeCancels_data() {
        QTest::addColumn<bool>("focusOnForm");
        QTest::newRow("active control") << false;
        QTest::newRow("form, no active control") << true;
    }
    void escapeCancels() {
        QFETCH(bool, focusOnForm);
        Rig r = MakeVerticalRig();
        TWinControl* target = r.edit;
        if (focusOnForm) {
            delete r.edit;
            r.edit = nullptr;
            target = r.form.get();
        }
        QCOMPARE(r.form->ActiveControl() ? r.form->ActiveControl() : r.form.get(), target);
        QList<Word> ownKeys;
        target->SetOnKeyDown(TKeyEvent(nullptr, [&](TObject* s, Word& key, TShiftState) {
            QCOMPARE(s, target);
            ownKeys << key;
        }));
        int posChanged = 0;
        r.bar->SetOnPosChanged(TNotifyEvent(nullptr, [&](TObject*) { ++posChanged; }));
        const QImage before = r.Shot();
        r.Press(QPoint(Side + 2, 50));
        r.Move(QPoint(Side + 60, 50));
        // Other keys still reach the control's own handler during the drag.
        QTest::keyClick(target->Widget(), Qt::Key_A);
        QCOMPARE(ownKeys, QList<Word>({Word('A')}));
        QTest::keyClick(target->Widget(), Qt::Key_Escape);
        QVERIFY(!r.bar->Tracking());
        QCOMPARE(ownKeys, QList<Word>({Word('A')}));
        QCOMPARE(QWidget::mouseGrabber(), nullptr);
        QCOMPARE(r.Shot(), before);
        // The release after a cancelled drag changes nothing.
        r.Release(QPoint(Side + 60, 50));
        QCOMPARE(r.first->Width(), Side);
        QCOMPARE(posChanged, 0);
        // The control has its own handler back: Escape now reaches it.
        QTest::keyClick(target->Widget(), Qt::Key_Escape);
        QCOMPARE(ownKeys, QList<Word>({Word('A'), VK_ESCAPE}));
    }

    void anotherButtonEndsTheDrag() {
        Rig r = MakeVerticalRig();
        int posChanged = 0, ups = 0;
        r.bar->SetOnPosChanged(TNotifyEvent(nullptr, [&](TObject*) { ++posChanged; }));
        r.bar->SetOnMouseUp(
            TMouseEvent(nullptr, [&](TObject*, TMouseButton, TShiftState, int, int) { ++ups; }));
        r.Press(QPoint(Side + 2, 50));
        r.Move(QPoint(Side + 40, 50));
        r.Press(QPoint(Side + 40, 50), Qt::RightButton);
        QVERIFY(r.bar->Tracking()); // only the left button starts drags
        r.Release(QPoint(Side + 40, 50), Qt::RightButton);
        QVERIFY(!r.bar->Tracking());
        QCOMPARE(r.first->Width(), Side + 40);
        QCOMPARE(posChanged, 1);
        r.Move(QPoint(Side + 80, 50));
        r.Release(QPoint(Side + 80, 50));
        QCOMPARE(r.first->Width(), Side + 40);
        QCOMPARE(posChanged, 1);
        QCOMPARE(ups, 2);
    }

    void rightButtonAndDesignModeDoNotDrag() {
        Rig r = MakeVerticalRig();
        r.Press(QPoint(Side + 2, 50), Qt::RightButton);
        QVERIFY(!r.bar->Tracking());
        r.Release(QPoint(Side + 2, 50), Qt::RightButton);
        r.bar->SetDesigning(true);
        r.Press(QPoint(Side + 2, 50));
        QVERIFY(!r.bar->Tracking());
        r.Release(QPoint(Side + 2, 50));
        QCOMPARE(r.first->Width(), Side);
    }

    void controlsDestroyedDuringDrag_data() {
        QTest::addColumn<QString>("victim");
        QTest::newRow("resized control") << QStringLiteral("First");
        QTest::newRow("consulted control") << QStringLiteral("Second");
        QTest::newRow("key target") << QStringLiteral("Edit");
    }
    void controlsDestroyedDuringDrag() {
        QFETCH(QString, victim);
        Rig r = MakeVerticalRig();
        int posChanged = 0;
        r.bar->SetOnPosChanged(TNotifyEvent(nullptr, [&](TObject*) { ++posChanged; }));
        r.Press(QPoint(Side + 2, 50));
        r.Move(QPoint(Side + 60, 50));
        delete r.form->FindComponent(victim);
        QCOMPARE(r.form->FindComponent(victim), nullptr);
        QVector<QRect> bounds;
        for (int i = 0; i < r.area->ControlCount(); ++i)
            bounds << r.area->Controls(i)->BoundsRect();
        r.Release(QPoint(Side + 60, 50));
        QVERIFY(!r.bar->Tracking());
        QCOMPARE(posChanged, 1);
        QCOMPARE(r.form->ClientWidget()->findChild<QWidget*>(QStringLiteral("TrackLine")), nullptr);
        if (victim == QLatin1String("Edit")) {
            QCOMPARE(r.first->Width(), Side + 60);
        } else {
            for (int i = 0; i < r.area->ControlCount(); ++i)
                QCOMPARE(r.area->Controls(i)->BoundsRect(), bounds[i]);
        }
        if (victim == QLatin1String("First")) {
            QCOMPARE(int(r.bar->ResizeMode()), int(Mode::rmNone));
            QCOMPARE(r.bar->TControl::Cursor(), crDefault);
        }
    }

    void oneControlOnBothSidesIsClearedTwice() {
        Rig r = MakeRig(alLeft, alNone, alLeft, false);
        r.bar->SetControlSecond(r.first);
        delete r.first;
        QCOMPARE(r.bar->ControlFirst(), nullptr);
        QCOMPARE(r.bar->ControlSecond(), nullptr);
    }

    void splitterDestroyedDuringDragEndsIt() {
        Rig r = MakeVerticalRig();
        r.second->SetColor(clNavy);
        QList<Word> ownKeys;
        r.edit->SetOnKeyDown(TKeyEvent(nullptr, [&](TObject*, Word& key, TShiftState) { ownKeys << key; }));
        QCoreApplication::processEvents();
        const QImage before = r.Shot();
        r.Press(QPoint(Side + 2, 50));
        r.Move(QPoint(Side + 82, 50));
        QVERIFY(r.Shot() != before);
        delete r.bar;
        // The mouse and its cursor are let go, the line is gone ...
        QCOMPARE(QWidget::mouseGrabber(), nullptr);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QCOMPARE(r.form->ClientWidget()->findChild<QWidget*>(QStringLiteral("TrackLine")), nullptr);
        const QImage after = r.Shot();
        for (int y : {0, 50, AreaH - 1})
            for (int x = Side + 70; x < Side + 90; ++x)
                QCOMPARE(after.pixel(x, y), before.pixel(x, y));
        // ... and the edit has its own key handler back.
        QTest::keyClick(r.edit->Widget(), Qt::Key_Escape);
        QCOMPARE(ownKeys, QList<Word>({VK_ESCAPE}));
        r.Release(QPoint(Side + 82, 50));
    }

    void splitterOffAFormCannotDrag() {
        TPanel holder(nullptr);
        holder.SetBounds(0, 0, AreaW, AreaH);
        auto* first = new TPanel(&holder);
        first->SetParent(&holder);
        first->SetBounds(0, 0, Side, AreaH);
        first->SetAlign(alLeft);
        auto* bar = new TRxSplitter(&holder);
        bar->SetName(QStringLiteral("RxSplitter9"));
        bar->SetParent(&holder);
        bar->SetBounds(Side, 0, Bar, AreaH);
        bar->SetAlign(alLeft);
        QCOMPARE(bar->ControlFirst(), first);
        QString message;
        try {
            bar->MouseDown(mbLeft, {}, 2, 2);
        } catch (const EInvalidOperation& e) {
            message = e.Message();
        }
        QCOMPARE(message, QStringLiteral("Element 'RxSplitter9' hat kein übergeordnetes Fenster"));
        QVERIFY(!bar->Tracking());
        bar->MouseUp(mbLeft, {}, 40, 2);
        QCOMPARE(first->Width(), Side);
    }

    void storedDefinition() {
        const QString text = QStringLiteral(R"(
Form9: TForm {
  Width = 420
  Height = 240
  Panel1: TPanel {
    Left = 0
    Top = 0
    Width = 100
    Height = 200
    Align = alLeft
  }
  RxSplitter1: TRxSplitter {
    Left = 100
    Top = 0
    Width = 6
    Height = 200
    Align = alLeft
    LimitOffset = 30
  }
  RxSplitter2: TRxSplitter {
    Left = 0
    Top = 200
    Width = 320
    Height = 5
    ControlSecond = Panel2
    ControlFirst = Panel1
    Align = alTop
    TopLeftLimit = 7
  }
  Panel2: TPanel {
    Left = 106
    Top = 0
    Width = 314
    Height = 200
    Align = alClient
  }
}
)");
        TForm form(nullptr);
        TFormReader::ReadFormText(&form, text, QStringLiteral("test"));
        auto* s1 = dynamic_cast<TRxSplitter*>(form.FindComponent(QStringLiteral("RxSplitter1")));
        auto* s2 = dynamic_cast<TRxSplitter*>(form.FindComponent(QStringLiteral("RxSplitter2")));
        QVERIFY(s1 && s2);
        QCOMPARE(s1->TopLeftLimit(), 30);
        QCOMPARE(s1->BottomRightLimit(), 30);
        // Read thickness is kept; the neighbour was found while reading.
        QCOMPARE(s1->Width(), 6);
        QCOMPARE(s1->ControlFirst(), form.FindComponent(QStringLiteral("Panel1")));
        QCOMPARE(int(s1->ResizeMode()), int(Mode::rmFirstWidth));
        QCOMPARE(s1->TControl::Cursor(), crHSplit);
        // References resolve after reading; a bar beside the wrong side stays inert.
        QCOMPARE(s2->Height(), 5);
        QCOMPARE(s2->ControlSecond(), form.FindComponent(QStringLiteral("Panel2")));
        QCOMPARE(s2->TopLeftLimit(), 7);
        QCOMPARE(s2->BottomRightLimit(), 20);
        QCOMPARE(int(s2->ResizeMode()), int(Mode::rmNone));
        QCOMPARE(s2->TControl::Cursor(), crDefault);

        TForm bad(nullptr);
        QString message;
        try {
            TFormReader::ReadFormText(
                &bad, QStringLiteral("Form8: TForm {\n  S: TRxSplitter {\n    LimitOffset = \"x\"\n  }\n}"),
                QStringLiteral("bad"));
        } catch (const EReadError& e) {
            message = e.Message();
        }
        QVERIFY2(message.contains(QLatin1String("Zeile 3")) && message.contains(QLatin1String("LimitOffset")),
                 qPrintable(message));
    }

    void mainWindowBarIsInert() {
        Application->CreateForm(Form1);
        std::unique_ptr<TForm1> owner(Form1);
        TRxSplitter* bar = Form1->RxSplitter1;
        QCOMPARE(bar->Parent(), Form1);
        QCOMPARE(bar->ControlFirst(), nullptr);
        QCOMPARE(bar->ControlSecond(), Form1->Panel2);
        QCOMPARE(bar->BoundsRect(), QRect(241, 0, 6, Form1->Panel1->Height()));
        QCOMPARE(int(bar->ResizeMode()), int(Mode::rmNone));
        QCOMPARE(bar->Cursor(), crDefault);
        Form1->Show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1->Widget()));
        QVERIFY(!bar->Widget()->testAttribute(Qt::WA_SetCursor));
        const QRect panel1 = Form1->Panel1->BoundsRect(), panel2 = Form1->Panel2->BoundsRect();
        QWindow* win = Form1->Widget()->windowHandle();
        auto at = [&](int x) { return Form1->Widget()->mapFromGlobal(bar->ClientToScreen(QPoint(x, 100))); };
        QTest::mousePress(win, Qt::LeftButton, {}, at(3));
        QVERIFY(!bar->Tracking());
        QCOMPARE(QWidget::mouseGrabber(), nullptr);
        QTest::mouseMove(win, at(80));
        QTest::mouseRelease(win, Qt::LeftButton, {}, at(80));
        QCOMPARE(Form1->Panel1->BoundsRect(), panel1);
        QCOMPARE(Form1->Panel2->BoundsRect(), panel2);
        QCOMPARE(bar->Left(), 241);
        owner.reset();
        Form1 = nullptr;
    }
};

QTEST_MAIN(TestRxSplitter)
#include "tst_rxsplit.moc"
