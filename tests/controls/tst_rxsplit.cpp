#include "TestMain.h"

#include "RXSplit.h"
#include "StdCtrls.h"

#include <QMenuBar>
#include <QWindow>

namespace {

using Mode = TRxSplitter::TSplitterResizeMode;
constexpr int AreaW = 400, AreaH = 200, Bar = 6, Side = 100;

// Bounds `size` thick on side `a` of the panel, `offset` in from its edge.
QRect OnSide(TAlign a, int offset, int size) {
    switch (a) {
    case alLeft:
        return {offset, 0, size, AreaH};
    case alRight:
        return {AreaW - offset - size, 0, size, AreaH};
    case alTop:
        return {0, offset, AreaW, size};
    case alBottom:
        return {0, AreaH - offset - size, AreaW, size};
    default:
        return {0, 0, AreaW, AreaH};
    }
}

// A 400 x 200 panel on a form holding `first`, the bar and `second`, laid out
// by alignment, and a focused edit below the panel. Mouse positions are in
// the panel's client coordinates and go through the window, as real ones do.
struct Rig {
    std::unique_ptr<TForm> form = std::make_unique<TForm>(nullptr);
    TPanel* area = nullptr;
    TPanel* first = nullptr;
    TRxSplitter* bar = nullptr;
    TPanel* second = nullptr;
    TEdit* edit = nullptr;

    // secondAlign alNone leaves ControlSecond unset.
    Rig(TAlign firstAlign, TAlign secondAlign, TAlign barAlign, bool show = true) {
        form->SetBounds(40, 40, AreaW + 20, AreaH + 60);
        area = NewPanel(form.get(), QStringLiteral("Area"));
        area->SetBevelOuter(bvNone);
        area->SetBounds(0, 0, AreaW, AreaH);
        first = NewPanel(area, QStringLiteral("First"));
        bar = new TRxSplitter(form.get());
        bar->SetName(QStringLiteral("Splitter"));
        bar->SetParent(area);
        if (secondAlign != alNone) second = NewPanel(area, QStringLiteral("Second"));
        Place(first, firstAlign, OnSide(firstAlign, 0, Side));
        if (second) Place(second, secondAlign, OnSide(secondAlign, 0, Side));
        bar->SetAlign(barAlign);
        Place(bar, barAlign, OnSide(barAlign, Side, Bar));
        bar->SetControlFirst(first);
        bar->SetControlSecond(second);
        edit = new TEdit(form.get());
        edit->SetName(QStringLiteral("Edit"));
        edit->SetParent(form.get());
        edit->SetBounds(0, AreaH + 10, 100, 23);
        form->SetActiveControl(edit);
        if (show) {
            form->Show();
            if (!QTest::qWaitForWindowExposed(form->Widget())) qWarning("window not exposed");
        }
    }
    static void Place(TControl* c, TAlign a, const QRect& r) {
        c->SetBounds(r.x(), r.y(), r.width(), r.height());
        c->SetAlign(a);
    }
    TPanel* NewPanel(TWinControl* parent, const QString& name) {
        auto* p = new TPanel(form.get());
        p->SetName(name);
        p->SetParent(parent);
        return p;
    }
    QWindow* Window() const { return form->Widget()->windowHandle(); }
    QPoint At(QPoint p) const { return form->Widget()->mapFromGlobal(area->ClientToScreen(p)); }
    void Press(QPoint p, Qt::MouseButton b = Qt::LeftButton) const {
        QTest::mousePress(Window(), b, {}, At(p));
    }
    void Move(QPoint p) const { QTest::mouseMove(Window(), At(p)); }
    void Release(QPoint p, Qt::MouseButton b = Qt::LeftButton) const {
        QTest::mouseRelease(Window(), b, {}, At(p));
    }
    void Drag(QPoint from, QPoint to) const {
        Press(from);
        Move(to);
        Release(to);
    }
    // The panel as the form shows it, tracking line included.
    QImage Shot() const {
        const QRect r(area->Widget()->mapTo(form->ClientWidget(), QPoint(0, 0)), area->Widget()->size());
        return form->ClientWidget()->grab(r).toImage();
    }
    QWidget* Layer() const { return form->ClientWidget()->findChild<QWidget*>(QStringLiteral("TrackLine")); }
};

struct VerticalRig : Rig {
    explicit VerticalRig(bool show = true) : Rig(alLeft, alClient, alLeft, show) {}
};

int OverrideShape() {
    const QCursor* c = QGuiApplication::overrideCursor();
    return c ? int(c->shape()) : -1;
}

// Columns of row y where two pictures differ.
QList<int> ChangedColumns(const QImage& a, const QImage& b, int y) {
    QList<int> cols;
    for (int x = 0; x < a.width(); ++x)
        if (a.pixel(x, y) != b.pixel(x, y)) cols << x;
    return cols;
}

TNotifyEvent Counter(int& n) {
    return TNotifyEvent(nullptr, [&n](TObject*) { ++n; });
}

// Offscreen windows cannot grab the pointer for real; Qt says so on every grab.
QtMessageHandler previousHandler = nullptr;
void QuietGrabWarnings(QtMsgType type, const QMessageLogContext& ctx, const QString& msg) {
    if (!msg.contains(QLatin1String("does not support grabbing the mouse"))) previousHandler(type, ctx, msg);
}

} // namespace

class TestRxSplitter : public QObject {
    Q_OBJECT
    TestEnvironment env{{QStringLiteral("DejaVu Sans")}};

private slots:
    void initTestCase() { previousHandler = qInstallMessageHandler(QuietGrabWarnings); }
    void cleanup() {
        // No test may leave the mouse held, a cursor pushed or an error reported.
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
        auto row = [](const char* name, TAlign f, TAlign s, TAlign b, Mode m, TCursor c) {
            QTest::newRow(name) << int(f) << int(s) << int(b) << int(m) << c;
        };
        row("top, second unset", alTop, alNone, alTop, Mode::rmFirstHeight, crVSplit);
        row("bottom, second client", alBottom, alClient, alBottom, Mode::rmFirstHeight, crVSplit);
        row("client, second bottom", alClient, alBottom, alBottom, Mode::rmSecondHeight, crVSplit);
        row("client, second top", alClient, alTop, alTop, Mode::rmSecondHeight, crVSplit);
        row("left, second client", alLeft, alClient, alLeft, Mode::rmFirstWidth, crHSplit);
        row("right, second unset", alRight, alNone, alRight, Mode::rmFirstWidth, crHSplit);
        row("client, second right", alClient, alRight, alRight, Mode::rmSecondWidth, crHSplit);
        row("client, second left", alClient, alLeft, alLeft, Mode::rmSecondWidth, crHSplit);
        // The bar on another side than the control it would resize.
        row("left control, top bar", alLeft, alClient, alTop, Mode::rmNone, crDefault);
        row("left control, right bar", alLeft, alClient, alRight, Mode::rmNone, crDefault);
        row("second right, left bar", alClient, alRight, alLeft, Mode::rmNone, crDefault);
        // Pairs that resize nothing.
        row("left and right", alLeft, alRight, alLeft, Mode::rmNone, crDefault);
        row("both client", alClient, alClient, alLeft, Mode::rmNone, crDefault);
        row("first unaligned", alNone, alClient, alLeft, Mode::rmNone, crDefault);
    }
    void resizeModeFromAlignments() {
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(int, bar);
        QFETCH(int, mode);
        QFETCH(int, cursor);
        Rig r(TAlign(first), TAlign(second), TAlign(bar), false);
        QCOMPARE(int(r.bar->ResizeMode()), mode);
        // The published property reads the mode's cursor and the widget shows it.
        QCOMPARE(r.bar->property("Cursor").toInt(), cursor);
        QCOMPARE(r.bar->TControl::Cursor(), cursor);
        r.bar->SetControlFirst(nullptr);
        QCOMPARE(int(r.bar->ResizeMode()), int(Mode::rmNone));
        QCOMPARE(r.bar->TControl::Cursor(), crDefault);
    }

    void shownCursorFollowsTheMode() {
        VerticalRig r;
        // The bar's alignment changes behind the references' back: the pointer
        // shows the new mode when it next comes over the bar.
        r.bar->SetAlign(alTop);
        QCOMPARE(r.bar->Cursor(), crDefault);
        r.Move(QPoint(AreaW / 2, AreaH + 40));
        r.Move(QPoint(AreaW / 2, 3));
        QCOMPARE(r.bar->TControl::Cursor(), crDefault);
        r.bar->SetAlign(alLeft);
        r.Move(QPoint(AreaW / 2, AreaH + 40));
        r.Move(QPoint(r.bar->Left() + 1, 3));
        QCOMPARE(r.bar->Widget()->cursor().shape(), Qt::SplitHCursor);
    }

    void referencesAlignAndNeighbours() {
        VerticalRig r(false);
        QCOMPARE(r.bar->FindAdjacentControl(), r.first);
        Rig right(alClient, alRight, alRight, false);
        QCOMPARE(right.bar->FindAdjacentControl(), right.second);
        Rig bottom(alClient, alBottom, alBottom, false);
        QCOMPARE(bottom.bar->FindAdjacentControl(), bottom.second);

        // Itself and forms are refused.
        r.bar->SetControlFirst(r.bar);
        QCOMPARE(r.bar->ControlFirst(), nullptr);
        r.bar->SetControlSecond(r.form.get());
        QCOMPARE(r.bar->ControlSecond(), nullptr);
        // A free bar has no side and no neighbour.
        r.bar->SetAlign(alNone);
        r.bar->SetBounds(Side + 10, 10, 10, 50);
        QCOMPARE(r.bar->FindAdjacentControl(), nullptr);
        // Aligned from free, it takes the usual thickness and finds its neighbour.
        r.bar->SetAlign(alLeft);
        QCOMPARE(r.bar->Width(), 3);
        QCOMPARE(r.bar->ControlFirst(), r.first);
        QCOMPARE(r.bar->TControl::Cursor(), crHSplit);
        // From one side to another the size stays; beside the edge nothing is found.
        r.bar->SetAlign(alTop);
        QCOMPARE(r.bar->FindAdjacentControl(), nullptr);
        r.bar->SetAlign(alLeft);
        QCOMPARE(r.bar->Width(), AreaW);
        r.bar->SetControlFirst(nullptr);
        r.bar->SetAlign(alNone);
        r.bar->SetAlign(alBottom);
        QCOMPARE(r.bar->Height(), 3);
    }

    void dragResizesFirstControl() {
        VerticalRig r;
        QStringList order;
        r.bar->SetOnPosChanged(TNotifyEvent(nullptr, [&](TObject* s) {
            QCOMPARE(s, r.bar);
            order << QStringLiteral("changed");
        }));
        r.bar->SetOnMouseUp(TMouseEvent(nullptr, [&](TObject*, TMouseButton, TShiftState, int, int) {
            order << QStringLiteral("up:") + QString::number(r.first->Width());
        }));
        // Pressed 2 pixels into the bar, released 50 pixels right of its left edge.
        r.Press(QPoint(Side + 2, 50));
        QVERIFY(r.bar->Tracking() && r.bar->MouseCapture());
        QCOMPARE(OverrideShape(), int(Qt::SplitHCursor));
        r.Move(QPoint(Side + 50, 57));
        QCOMPARE(r.first->Width(), Side); // nothing moves before the release
        r.Release(QPoint(Side + 50, 57));
        QCOMPARE(r.first->Width(), Side + 50);
        QCOMPARE(r.bar->Left(), Side + 50);
        QCOMPARE(r.second->Left(), Side + 50 + Bar);
        QCOMPARE(order, QStringList({QStringLiteral("changed"), QStringLiteral("up:150")}));
        QVERIFY(!r.bar->Tracking());
    }

    void dragOnEachSide_data() {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<int>("bar");
        QTest::addColumn<QPoint>("drag");
        QTest::addColumn<int>("firstSize");
        QTest::addColumn<int>("secondSize");
        // Dragging towards a control on the right or at the bottom makes it smaller.
        QTest::newRow("first right") << int(alRight) << int(alClient) << int(alRight) << QPoint(30, 0) << 70
                                     << -1;
        QTest::newRow("first bottom")
            << int(alBottom) << int(alClient) << int(alBottom) << QPoint(0, 20) << 80 << -1;
        QTest::newRow("first top") << int(alTop) << int(alClient) << int(alTop) << QPoint(0, 20) << 120 << -1;
        QTest::newRow("second right")
            << int(alClient) << int(alRight) << int(alRight) << QPoint(30, 0) << -1 << 70;
        QTest::newRow("second left") << int(alClient) << int(alLeft) << int(alLeft) << QPoint(-30, 0) << -1
                                     << 70;
        QTest::newRow("second bottom")
            << int(alClient) << int(alBottom) << int(alBottom) << QPoint(0, -25) << -1 << 125;
    }
    void dragOnEachSide() {
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(int, bar);
        QFETCH(QPoint, drag);
        QFETCH(int, firstSize);
        QFETCH(int, secondSize);
        Rig r{TAlign(first), TAlign(second), TAlign(bar)};
        const bool horizontal = bar == alTop || bar == alBottom;
        auto size = [&](TControl* c) { return horizontal ? c->Height() : c->Width(); };
        // Pressed on the leading edge itself, so the edge follows the mouse exactly.
        const QPoint edge = r.bar->BoundsRect().topLeft();
        const QPoint start = edge + (horizontal ? QPoint(50, 0) : QPoint(0, 50));
        r.Drag(start, start + drag);
        if (firstSize >= 0) QCOMPARE(size(r.first), firstSize);
        if (secondSize >= 0) QCOMPARE(size(r.second), secondSize);
        QCOMPARE(r.bar->BoundsRect().topLeft(),
                 edge + (horizontal ? QPoint(0, drag.y()) : QPoint(drag.x(), 0)));
    }

    void limitsStopTheLineAndShowNoDrop() {
        VerticalRig r;
        r.Press(QPoint(Side + 2, 50));
        r.Move(QPoint(5, 50));
        QCOMPARE(OverrideShape(), int(Qt::ForbiddenCursor));
        r.Move(QPoint(60, 50));
        QCOMPARE(OverrideShape(), int(Qt::SplitHCursor));
        r.Move(QPoint(2, 60));
        r.Release(QPoint(2, 60));
        QCOMPARE(r.bar->Left(), 20);
        QCOMPARE(r.bar->TControl::Cursor(), crHSplit);

        r.Press(QPoint(22, 50));
        r.Move(QPoint(AreaW - 2, 50));
        QCOMPARE(OverrideShape(), int(Qt::ForbiddenCursor));
        r.Release(QPoint(AreaW - 2, 50));
        QCOMPARE(r.bar->Left(), 380);

        // Beyond the bar's ends is not a refused position for a vertical bar.
        r.Press(QPoint(380, 50));
        r.Move(QPoint(380, AreaH + 30));
        QCOMPARE(OverrideShape(), int(Qt::SplitHCursor));
        r.Release(QPoint(380, AreaH + 30));
        QCOMPARE(r.bar->Left(), 380);
    }

    void limitsOnBothOrientations_data() {
        QTest::addColumn<int>("align");
        QTest::addColumn<int>("topLeft");
        QTest::addColumn<int>("bottomRight");
        QTest::addColumn<int>("target");
        QTest::addColumn<int>("edge");
        QTest::addColumn<bool>("refused");
        auto row = [](const char* name, TAlign a, int tl, int br, int target, int edge, bool refused) {
            QTest::newRow(name) << int(a) << tl << br << target << edge << refused;
        };
        // Limits 30 (top-left) and 50 (bottom-right) on the 400 x 200 area: a vertical bar's
        // leading edge stays within 30..350, a horizontal bar's within 30..150.
        row("vertical, at the top-left limit", alLeft, 30, 50, 30, 30, false);
        row("vertical, beyond the top-left limit", alLeft, 30, 50, 4, 30, true);
        row("vertical, at the bottom-right limit", alLeft, 30, 50, 350, 350, false);
        row("vertical, beyond the bottom-right limit", alLeft, 30, 50, 392, 350, true);
        row("horizontal, at the top-left limit", alTop, 30, 50, 30, 30, false);
        row("horizontal, beyond the top-left limit", alTop, 30, 50, 2, 30, true);
        row("horizontal, at the bottom-right limit", alTop, 30, 50, 150, 150, false);
        row("horizontal, beyond the bottom-right limit", alTop, 30, 50, 190, 150, true);
        // Without limits the control's growth is capped: the room beside a 6-pixel bar is
        // 394 across, 194 down; a size reaching it becomes the room less 3.
        row("vertical, below the cap", alLeft, 0, 0, 390, 390, false);
        row("vertical, at the cap", alLeft, 0, 0, 394, 391, false);
        row("vertical, beyond the cap", alLeft, 0, 0, 399, 391, false);
        row("horizontal, below the cap", alTop, 0, 0, 190, 190, false);
        row("horizontal, at the cap", alTop, 0, 0, 194, 191, false);
        row("horizontal, beyond the cap", alTop, 0, 0, 199, 191, false);
    }
    void limitsOnBothOrientations() {
        QFETCH(int, align);
        QFETCH(int, topLeft);
        QFETCH(int, bottomRight);
        QFETCH(int, target);
        QFETCH(int, edge);
        QFETCH(bool, refused);
        Rig r(TAlign(align), alClient, TAlign(align));
        r.bar->SetTopLeftLimit(topLeft);
        r.bar->SetBottomRightLimit(bottomRight);
        const bool horizontal = align == alTop;
        auto at = [&](int pos) { return horizontal ? QPoint(60, pos) : QPoint(pos, 60); };
        // Pressed on the leading edge itself, so the edge follows the mouse exactly.
        r.Press(at(Side));
        r.Move(at(target));
        QCOMPARE(OverrideShape(), int(refused      ? Qt::ForbiddenCursor
                                      : horizontal ? Qt::SplitVCursor
                                                   : Qt::SplitHCursor));
        r.Release(at(target));
        QCOMPARE(horizontal ? r.bar->Top() : r.bar->Left(), edge);
        QCOMPARE(horizontal ? r.first->Height() : r.first->Width(), edge);
    }

    void secondPressOfADoubleClickStartsADrag() {
        VerticalRig r;
        QList<TShiftState> downs;
        int dblClicks = 0;
        r.bar->SetOnMouseDown(TMouseEvent(
            nullptr, [&](TObject*, TMouseButton, TShiftState shift, int, int) { downs << shift; }));
        r.bar->SetOnDblClick(Counter(dblClicks));
        // A click on the bar, then at once a press that the window system reports as
        // the double click's second press.
        r.Press(QPoint(Side + 2, 50));
        r.Release(QPoint(Side + 2, 50));
        QVERIFY(!r.bar->Tracking());
        const QPoint local(2, 50);
        QMouseEvent second(
            QEvent::MouseButtonDblClick, local, r.bar->Widget()->mapTo(r.form->Widget(), local),
            r.bar->Widget()->mapToGlobal(local), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(r.bar->Widget(), &second);
        QCOMPARE(downs.size(), 2);
        QVERIFY(!downs[0].testFlag(ssDouble));
        QVERIFY(downs[1].testFlag(ssDouble) && downs[1].testFlag(ssLeft));
        QCOMPARE(dblClicks, 1);
        QVERIFY(r.bar->Tracking());
        r.Move(QPoint(Side + 40, 50));
        r.Release(QPoint(Side + 40, 50));
        QCOMPARE(r.first->Width(), Side + 40);
    }

    void growthIsCappedAndShrinkStopsAtOne() {
        VerticalRig r;
        r.bar->SetTopLeftLimit(0);
        r.bar->SetBottomRightLimit(0);
        r.Drag(QPoint(Side + 2, 50), QPoint(AreaW - 1, 50));
        QCOMPARE(r.first->Width(), AreaW - Bar - 3); // reached the available 394
        r.Drag(QPoint(r.bar->Left() + 1, 50), QPoint(0, 50));
        QCOMPARE(r.first->Width(), 1);
    }

    void vetoKeepsTheLineAndTheSize() {
        VerticalRig r;
        QList<QPoint> proposed;
        r.bar->SetOnPosChanging(TSplitterMoveEvent(nullptr, [&](TObject* s, int x, int y, bool& allow) {
            QVERIFY(s == r.bar && allow);
            proposed << QPoint(x, y);
            allow = false;
        }));
        int posChanged = 0;
        r.bar->SetOnPosChanged(Counter(posChanged));
        const QImage before = r.Shot();
        r.Press(QPoint(Side + 2, 50));
        const QImage pressed = r.Shot();
        QVERIFY(pressed != before);
        r.Move(QPoint(-300, 50));
        QCOMPARE(OverrideShape(), int(Qt::ForbiddenCursor));
        r.Move(QPoint(250, 50));
        QCOMPARE(OverrideShape(), int(Qt::ForbiddenCursor));
        QCOMPARE(r.Shot(), pressed); // the line never left the bar's edge
        r.Release(QPoint(250, 50));
        // Raw positions in the bar's coordinates, before any limit.
        QCOMPARE(proposed, QList<QPoint>({QPoint(-400, 50), QPoint(150, 50), QPoint(150, 50)}));
        QCOMPARE(r.first->Width(), Side);
        QCOMPARE(posChanged, 1);
        QCOMPARE(r.Shot(), before);
    }

    void trackingLineIsDrawnOverControlsAndRemoved() {
        VerticalRig r;
        r.second->SetColor(clNavy);
        r.bar->SetTopLeftLimit(-30); // lets the mouse go past the panel's edge
        QCoreApplication::processEvents();
        const QImage before = r.Shot();
        r.Press(QPoint(Side + 2, 50));
        // A 6-pixel bar draws a 4-pixel line on its leading edge, its whole length.
        QCOMPARE(ChangedColumns(r.Shot(), before, 0), QList<int>({98, 99, 100, 101}));
        QCOMPARE(ChangedColumns(r.Shot(), before, AreaH - 1), QList<int>({98, 99, 100, 101}));
        r.Move(QPoint(Side + 80, 50));
        const QImage moved = r.Shot();
        // One line only, inverting the control beneath it.
        QCOMPARE(ChangedColumns(moved, before, 50), QList<int>({178, 179, 180, 181}));
        QCOMPARE(moved.pixel(179, 50), (before.pixel(179, 50) ^ 0xFFFFFFu) | 0xFF000000u);
        // The layer lies above every control and lets the mouse through.
        QVERIFY(r.Layer() && r.Layer()->testAttribute(Qt::WA_TransparentForMouseEvents));
        QCOMPARE(r.form->ClientWidget()->children().last(), r.Layer());
        // Beyond the panel's left edge the line stays on it.
        r.Move(QPoint(-20, 50));
        QCOMPARE(ChangedColumns(r.Shot(), before, 50), QList<int>({0, 1}));
        QTest::keyClick(r.edit->Widget(), Qt::Key_Escape);
        QCOMPARE(r.Layer(), nullptr);
        QCOMPARE(r.Shot(), before);
    }

    void escapeCancels_data() {
        QTest::addColumn<QString>("focus");
        QTest::newRow("active control") << QStringLiteral("active");
        QTest::newRow("focus moved to another control") << QStringLiteral("moved");
        QTest::newRow("form, no active control") << QStringLiteral("form");
    }
    void escapeCancels() {
        QFETCH(QString, focus);
        VerticalRig r;
        TWinControl* target = r.edit;
        if (focus == QLatin1String("moved")) {
            auto* other = new TEdit(r.form.get());
            other->SetParent(r.form.get());
            other->SetBounds(150, AreaH + 10, 100, 23);
            other->SetFocus();
            target = other;
        } else if (focus == QLatin1String("form")) {
            delete r.edit;
            r.edit = nullptr;
            target = r.form.get();
        }
        QList<Word> ownKeys;
        target->SetOnKeyDown(TKeyEvent(nullptr, [&](TObject* s, Word& key, TShiftState) {
            QCOMPARE(s, target);
            ownKeys << key;
        }));
        int posChanged = 0;
        r.bar->SetOnPosChanged(Counter(posChanged));
        const QImage before = r.Shot();
        r.Press(QPoint(Side + 2, 50));
        r.Move(QPoint(Side + 60, 50));
        QTest::keyClick(target->Widget(), Qt::Key_A); // other keys still reach the control
        QTest::keyClick(target->Widget(), Qt::Key_Escape);
        QVERIFY(!r.bar->Tracking());
        QCOMPARE(ownKeys, QList<Word>({Word('A')}));
        QCOMPARE(QWidget::mouseGrabber(), nullptr);
        QCOMPARE(r.Shot(), before);
        r.Release(QPoint(Side + 60, 50));
        QCOMPARE(r.first->Width(), Side);
        QCOMPARE(posChanged, 0);
        // The control has its own handler back.
        QTest::keyClick(target->Widget(), Qt::Key_Escape);
        QCOMPARE(ownKeys, QList<Word>({Word('A'), VK_ESCAPE}));
    }

    void otherButtonsAndDesignMode() {
        VerticalRig r;
        int posChanged = 0, ups = 0;
        r.bar->SetOnPosChanged(Counter(posChanged));
        r.bar->SetOnMouseUp(
            TMouseEvent(nullptr, [&](TObject*, TMouseButton, TShiftState, int, int) { ++ups; }));
        // Only the left button starts a drag, any button's release ends it there.
        r.Press(QPoint(Side + 2, 50), Qt::RightButton);
        QVERIFY(!r.bar->Tracking());
        r.Release(QPoint(Side + 2, 50), Qt::RightButton);
        r.Press(QPoint(Side + 2, 50));
        r.Move(QPoint(Side + 40, 50));
        r.Press(QPoint(Side + 40, 50), Qt::RightButton);
        QVERIFY(r.bar->Tracking());
        r.Release(QPoint(Side + 40, 50), Qt::RightButton);
        QVERIFY(!r.bar->Tracking());
        QCOMPARE(r.first->Width(), Side + 40);
        r.Move(QPoint(Side + 80, 50));
        r.Release(QPoint(Side + 80, 50));
        QCOMPARE(r.first->Width(), Side + 40);
        QCOMPARE(posChanged, 1);
        QCOMPARE(ups, 3);
        r.bar->SetDesigning(true);
        r.Press(QPoint(Side + 42, 50));
        QVERIFY(!r.bar->Tracking());
        r.Release(QPoint(Side + 42, 50));
    }

    void controlsDestroyedDuringDrag_data() {
        QTest::addColumn<QString>("victim");
        QTest::newRow("resized control") << QStringLiteral("First");
        QTest::newRow("consulted control") << QStringLiteral("Second");
        QTest::newRow("key target") << QStringLiteral("Edit");
    }
    void controlsDestroyedDuringDrag() {
        QFETCH(QString, victim);
        VerticalRig r;
        int posChanged = 0;
        r.bar->SetOnPosChanged(Counter(posChanged));
        r.Press(QPoint(Side + 2, 50));
        r.Move(QPoint(Side + 60, 50));
        delete r.form->FindComponent(victim);
        QVector<QRect> bounds;
        for (int i = 0; i < r.area->ControlCount(); ++i)
            bounds << r.area->Controls(i)->BoundsRect();
        r.Release(QPoint(Side + 60, 50));
        QVERIFY(!r.bar->Tracking());
        QCOMPARE(posChanged, 1);
        QCOMPARE(r.Layer(), nullptr);
        if (victim == QLatin1String("Edit")) {
            QCOMPARE(r.first->Width(), Side + 60);
            return;
        }
        for (int i = 0; i < r.area->ControlCount(); ++i)
            QCOMPARE(r.area->Controls(i)->BoundsRect(), bounds[i]);
    }

    void oneControlOnBothSidesIsClearedTwice() {
        Rig r(alLeft, alNone, alLeft, false);
        r.bar->SetControlSecond(r.first);
        delete r.first;
        QCOMPARE(r.bar->ControlFirst(), nullptr);
        QCOMPARE(r.bar->ControlSecond(), nullptr);
    }

    void splitterDestroyedDuringDragEndsIt() {
        VerticalRig r;
        r.second->SetColor(clNavy);
        QList<Word> ownKeys;
        r.edit->SetOnKeyDown(TKeyEvent(nullptr, [&](TObject*, Word& key, TShiftState) { ownKeys << key; }));
        QCoreApplication::processEvents();
        const QImage before = r.Shot();
        r.Press(QPoint(Side + 2, 50));
        r.Move(QPoint(Side + 82, 50));
        delete r.bar;
        // The mouse and its cursor are let go (cleanup checks), the line is gone
        // (the navy control now reaches past it) and the edit has its handler back.
        QCOMPARE(r.Layer(), nullptr);
        const QImage after = r.Shot();
        for (int y : {0, 50, AreaH - 1})
            for (int x = Side + 70; x < Side + 90; ++x)
                QCOMPARE(after.pixel(x, y), before.pixel(x, y));
        QTest::keyClick(r.edit->Widget(), Qt::Key_Escape);
        QCOMPARE(ownKeys, QList<Word>({VK_ESCAPE}));
        r.Release(QPoint(Side + 82, 50));
    }

    void limitsOnAFormWithAMenuBar() {
        // The form's client area starts below its menu bar; so do the limits.
        TForm form(nullptr);
        auto* menu = new QMenuBar;
        menu->addMenu(QStringLiteral("Datei"));
        form.SetMenuBarWidget(menu);
        form.SetBounds(40, 40, 300, 300);
        auto* top = new TPanel(&form);
        top->SetParent(&form);
        top->SetBounds(0, 0, 300, 100);
        top->SetAlign(alTop);
        auto* bar = new TRxSplitter(&form);
        bar->SetParent(&form);
        bar->SetBounds(0, 100, 300, Bar);
        bar->SetAlign(alTop);
        QCOMPARE(bar->ControlFirst(), top);
        form.Show();
        QVERIFY(QTest::qWaitForWindowExposed(form.Widget()));
        QVERIFY(menu->height() > 0);
        QWindow* win = form.Widget()->windowHandle();
        const QPoint onBar = bar->Widget()->mapTo(form.Widget(), QPoint(10, 0));
        QTest::mousePress(win, Qt::LeftButton, {}, onBar);
        QTest::mouseMove(win, QPoint(10, 0));
        QTest::mouseRelease(win, Qt::LeftButton, {}, QPoint(10, 0));
        QCOMPARE(bar->Top(), 20);
        QCOMPARE(bar->Widget()->mapTo(form.Widget(), QPoint(0, 0)).y(), menu->height() + 20);
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
        QCOMPARE(int(bar->ResizeMode()), int(Mode::rmFirstWidth));
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
        TForm form(nullptr);
        TFormReader::ReadFormText(&form, QStringLiteral(R"(Form9: TForm {
  Width = 420 Height = 240
  Panel1: TPanel { Left = 0 Top = 0 Width = 100 Height = 200 Align = alLeft }
  RxSplitter1: TRxSplitter { Left = 100 Top = 0 Width = 6 Height = 200 Align = alLeft LimitOffset = 30 }
  RxSplitter2: TRxSplitter {
    Left = 0 Top = 200 Width = 320 Height = 5 ControlSecond = Panel2 ControlFirst = Panel1 Align = alTop
    TopLeftLimit = 7
  }
  Panel2: TPanel { Left = 106 Top = 0 Width = 314 Height = 200 Align = alClient }
})"),
                                  QStringLiteral("test"));
        auto* s1 = dynamic_cast<TRxSplitter*>(form.FindComponent(QStringLiteral("RxSplitter1")));
        auto* s2 = dynamic_cast<TRxSplitter*>(form.FindComponent(QStringLiteral("RxSplitter2")));
        QVERIFY(s1 && s2);
        QCOMPARE(s1->TopLeftLimit(), 30);
        QCOMPARE(s1->BottomRightLimit(), 30);
        // The stored thickness is kept; the neighbour was found while reading.
        QCOMPARE(s1->Width(), 6);
        QCOMPARE(s1->ControlFirst(), form.FindComponent(QStringLiteral("Panel1")));
        QCOMPARE(s1->TControl::Cursor(), crHSplit);
        // References resolve after reading; a bar on the wrong side stays inert.
        QCOMPARE(s2->Height(), 5);
        QCOMPARE(s2->ControlSecond(), form.FindComponent(QStringLiteral("Panel2")));
        QCOMPARE(s2->TopLeftLimit(), 7);
        QCOMPARE(s2->BottomRightLimit(), 20);
        QCOMPARE(s2->TControl::Cursor(), crDefault);

        // A reference to a component read earlier is set at once, so the alignment
        // setter sees ControlSecond and leaves ControlFirst unset: the bar stays inert.
        TForm early(nullptr);
        TFormReader::ReadFormText(&early, QStringLiteral(R"(Form7: TForm {
  Width = 420 Height = 240
  Panel1: TPanel { Left = 0 Top = 0 Width = 100 Height = 200 Align = alLeft }
  Panel2: TPanel { Left = 106 Top = 0 Width = 314 Height = 200 Align = alClient }
  RxSplitter1: TRxSplitter { Left = 100 Top = 0 Width = 6 Height = 200 ControlSecond = Panel2 Align = alLeft }
})"),
                                  QStringLiteral("early"));
        auto* s3 = dynamic_cast<TRxSplitter*>(early.FindComponent(QStringLiteral("RxSplitter1")));
        QVERIFY(s3);
        QCOMPARE(s3->ControlSecond(), early.FindComponent(QStringLiteral("Panel2")));
        QCOMPARE(s3->ControlFirst(), nullptr);
        QCOMPARE(int(s3->ResizeMode()), int(Mode::rmNone));

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
};

QTEST_MAIN(TestRxSplitter)
#include "tst_rxsplit.moc"
