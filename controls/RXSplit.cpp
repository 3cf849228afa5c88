#include "RXSplit.h"

#include <QEvent>
#include <QPainter>
#include <QScopeGuard>
#include <QWidget>

#include <algorithm>
#include <climits>
#include <vector>

namespace {

// The tracking line lives on a transparent layer over the form's client area.
// Each inversion flips a band of pixels, so drawing a band a second time takes
// it away again and the form's pixels come back exactly.
class TTrackLayer : public QWidget {
public:
    explicit TTrackLayer(QWidget* area) : QWidget(area) {
        setObjectName(QStringLiteral("TrackLine"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
        setGeometry(area->rect());
        raise();
        show();
    }

    void Invert(const QRect& band) {
        if (band.isEmpty()) return;
        auto it = std::find(FBands.begin(), FBands.end(), band);
        if (it != FBands.end())
            FBands.erase(it);
        else
            FBands.push_back(band);
        update(band);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        Guard([&] {
            QPainter p(this);
            p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            for (const QRect& b : FBands)
                p.fillRect(b, Qt::white);
        });
    }

private:
    std::vector<QRect> FBands;
};

void Clamp(int& v, int low, int high) {
    if (v < low)
        v = low;
    else if (v > high)
        v = high;
}

} // namespace

TRxSplitter::TRxSplitter(TComponent* AOwner) : TCustomPanel(AOwner) {
    SetSiblingNotifications(true); // the controls it resizes are siblings
    FWidth = 185;
    FHeight = 3;
    FParentColor = false;
    FColor = clBtnFace;
}

TRxSplitter::~TRxSplitter() {
    // A splitter that goes during a drag ends it as Escape would: the line goes,
    // the mouse is let go and the borrowed key handler is given back.
    if (FTracking) Guard([&] { EndTrack(0, 0, false); });
}

void TRxSplitter::SetControlFirst(TControl* value) {
    if (value == FControlFirst) return;
    if (value == this || dynamic_cast<TCustomForm*>(value)) value = nullptr;
    FControlFirst = value;
    if (value) value->FreeNotification(this);
    UpdateCursor();
}

void TRxSplitter::SetControlSecond(TControl* value) {
    if (value == FControlSecond) return;
    if (value == this || dynamic_cast<TCustomForm*>(value)) value = nullptr;
    FControlSecond = value;
    if (value) value->FreeNotification(this);
    UpdateCursor();
}

void TRxSplitter::Notification(TComponent* AComponent, TOperation operation) {
    TCustomPanel::Notification(AComponent, operation);
    if (operation != TOperation::opRemove) return;
    // Both references are checked: one control may be attached on both sides.
    const bool first = AComponent == FControlFirst, second = AComponent == FControlSecond;
    if (first) FControlFirst = nullptr;
    if (second) FControlSecond = nullptr;
    if (first || second) UpdateCursor();
}

void TRxSplitter::SetAlign(TAlign value) {
    const TAlign old = Align();
    TCustomPanel::SetAlign(value);
    // A bar that was free or filling takes the usual thickness; one read from a
    // definition keeps the size stored with it.
    if ((old == alNone || old == alClient) && !IsReading()) {
        if (value == alTop || value == alBottom)
            SetHeight(3);
        else if (value == alLeft || value == alRight)
            SetWidth(3);
    }
    if (!FControlFirst && !FControlSecond) SetControlFirst(FindAdjacentControl());
}

TRxSplitter::TSplitterResizeMode TRxSplitter::ResizeMode() const {
    if (!FControlFirst) return rmNone;
    const TAlign first = FControlFirst->Align();
    const TAlign second = FControlSecond ? FControlSecond->Align() : alNone;
    const bool secondFree = !FControlSecond || second == alClient;
    TSplitterResizeMode mode = rmNone;
    if ((first == alTop || first == alBottom) && secondFree)
        mode = rmFirstHeight;
    else if (first == alClient && (second == alBottom || second == alTop))
        mode = rmSecondHeight;
    else if ((first == alLeft || first == alRight) && secondFree)
        mode = rmFirstWidth;
    else if (first == alClient && (second == alRight || second == alLeft))
        mode = rmSecondWidth;
    // The bar must sit on the same side as the control it resizes.
    switch (mode) {
    case rmFirstHeight:
    case rmFirstWidth:
        return Align() == first ? mode : rmNone;
    case rmSecondHeight:
    case rmSecondWidth:
        return Align() == second ? mode : rmNone;
    default:
        return rmNone;
    }
}

static TCursor CursorOfMode(TRxSplitter::TSplitterResizeMode mode) {
    switch (mode) {
    case TRxSplitter::rmFirstHeight:
    case TRxSplitter::rmSecondHeight:
        return crVSplit;
    case TRxSplitter::rmFirstWidth:
    case TRxSplitter::rmSecondWidth:
        return crHSplit;
    default:
        return crDefault;
    }
}

TCursor TRxSplitter::Cursor() const {
    return CursorOfMode(ResizeMode());
}

void TRxSplitter::UpdateCursor() {
    SetCursor(Cursor());
}

TControl* TRxSplitter::FindAdjacentControl() const {
    if (!Parent()) return nullptr;
    QPoint probe;
    switch (Align()) {
    case alTop:
        probe = {Left(), Top() - 1};
        break;
    case alBottom:
        probe = {Left(), Top() + Height()};
        break;
    case alLeft:
        probe = {Left() - 1, Top()};
        break;
    case alRight:
        probe = {Left() + Width(), Top()};
        break;
    default:
        return nullptr;
    }
    for (int i = 0; i < Parent()->ControlCount(); ++i) {
        TControl* c = Parent()->Controls(i);
        // Left and top edges inside, right and bottom edges outside.
        if (probe.x() >= c->Left() && probe.x() < c->Left() + c->Width() && probe.y() >= c->Top() &&
            probe.y() < c->Top() + c->Height())
            return c;
    }
    return nullptr;
}

bool TRxSplitter::ReadDefinedProperty(const QString& name, const QVariant& value) {
    // Older definitions stored one limit for both sides.
    if (name.compare(QLatin1String("LimitOffset"), Qt::CaseInsensitive) != 0)
        return TCustomPanel::ReadDefinedProperty(name, value);
    bool ok = value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Int;
    const qlonglong v = ok ? value.toLongLong() : 0;
    if (!ok || v < INT_MIN || v > INT_MAX)
        throw EConvertError(QStringLiteral("Ungültiger Wert für %1").arg(name));
    FTopLeftLimit = int(v);
    FBottomRightLimit = int(v);
    return true;
}

bool TRxSplitter::WidgetEvent(QEvent* event) {
    // The alignments of the bar and its controls may change without the
    // splitter hearing of it; the pointer over the bar shows the mode as it is.
    if (event->type() == QEvent::Enter && !FTracking) UpdateCursor();
    return TCustomPanel::WidgetEvent(event);
}

void TRxSplitter::Loaded() {
    TCustomPanel::Loaded();
    UpdateCursor();
}

// ---------------------------------------------------------------------------
// Dragging

void TRxSplitter::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    TCustomPanel::MouseDown(button, shift, x, y);
    BeginTrack(button);
}

void TRxSplitter::MouseMove(TShiftState shift, int x, int y) {
    TCustomPanel::MouseMove(shift, x, y);
    if (FTracking && MouseCapture()) TrackMove(x, y);
}

void TRxSplitter::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    // The resize and OnPosChanged come before the control's own OnMouseUp.
    EndTrack(x, y, true);
    TCustomPanel::MouseUp(button, shift, x, y);
}

void TRxSplitter::BeginTrack(TMouseButton button) {
    if (button != mbLeft || IsDesigning()) return;
    const TSplitterResizeMode mode = ResizeMode();
    if (mode == rmNone) return;
    // A drag whose release never came (the window system took the mouse away)
    // ends before a new one starts, so nothing is borrowed twice.
    if (FTracking) EndTrack(0, 0, false);
    // Looked up first: a splitter that is not on a form takes nothing.
    TCustomForm* form = ValidParentForm(this);

    FTrackMode = mode;
    FTracking = true;
    FPressFirst = FControlFirst;
    FPressSecond = FControlSecond;
    UpdateCursor();
    SetMouseCapture(true);

    TWinControl* active = form->ActiveControl();
    FKeyTarget = active ? active : form;
    FSavedKeyDown = FKeyTarget->OnKeyDown();
    FKeyTarget->SetOnKeyDown(TKeyEvent(this, &TRxSplitter::TrackKeyDown));

    if (!Parent()) return;
    const QRect area = Parent()->ClientRect();
    const QPoint topLeft = ScreenToClient(Parent()->ClientToScreen(QPoint(FTopLeftLimit, FTopLeftLimit)));
    const QPoint bottomRight = ScreenToClient(Parent()->ClientToScreen(
        QPoint(area.width() - FBottomRightLimit, area.height() - FBottomRightLimit)));
    FLimitLeft = topLeft.x();
    FLimitTop = topLeft.y();
    FLimitRight = bottomRight.x();
    FLimitBottom = bottomRight.y();

    FLimitCursorShown = false;
    FTrackForm = form;
    if (QWidget* client = form->ClientWidget()) FTrackLine = new TTrackLayer(client);

    const int thickness = Horizontal() ? Height() : Width();
    FLineWidth = thickness > 3 ? thickness - 2 : 2;
    ShowTrackLine(0, 0, TLineMode::Draw);
}

void TRxSplitter::TrackMove(int x, int y) {
    bool allowChange = true;
    PosChanging(x, y, allowChange);
    if (!allowChange) {
        const QPoint last = ScreenToClient(FLastLinePos);
        x = last.x();
        y = last.y();
    }
    const int rawX = x, rawY = y;
    ClampToLimits(x, y);
    const bool clamped = Horizontal() ? y != rawY : x != rawX;
    const bool limited = !allowChange || clamped;
    if (limited != FLimitCursorShown) {
        FLimitCursorShown = limited;
        SetCaptureCursor(limited ? crNoDrop : CursorOfMode(FTrackMode));
    }
    ShowTrackLine(x, y, TLineMode::Move);
}

void TRxSplitter::EndTrack(int x, int y, bool apply) {
    if (!FTracking) return;
    SetMouseCapture(false);
    bool allowChange = apply;
    try {
        if (apply) PosChanging(x, y, allowChange);
        FinishTrack(x, y, allowChange, apply);
    } catch (...) {
        // A failing handler still ends the drag: the line goes and the key
        // handler comes back; nothing more is resized.
        StopTracking();
        throw;
    }
    StopTracking();
    if (apply) PosChanged();
}

void TRxSplitter::RemoveLine() {
    if (FTrackForm) ShowTrackLine(0, 0, TLineMode::Erase);
    delete FTrackLine.data();
    FTrackForm = nullptr;
}

void TRxSplitter::StopTracking() {
    RemoveLine();
    FLimitCursorShown = false;
    FTracking = false;
    if (FKeyTarget) FKeyTarget->SetOnKeyDown(FSavedKeyDown);
    FKeyTarget = nullptr;
    FSavedKeyDown = {};
}

void TRxSplitter::FinishTrack(int x, int y, bool allowChange, bool apply) {
    RemoveLine();
    FLimitCursorShown = false;
    if (!Parent()) return;
    const bool horizontal = Horizontal();
    const int available =
        horizontal ? Parent()->ClientHeight() - Height() : Parent()->ClientWidth() - Width();
    if (!allowChange) {
        const QPoint last = ScreenToClient(FLastLinePos);
        x = last.x();
        y = last.y();
    }
    if (!apply) return;
    ClampToLimits(x, y);

    // A control that went away during the drag leaves nothing to resize, and
    // without it the direction of growth is unknown.
    if (FControlFirst != FPressFirst || FControlSecond != FPressSecond) return;
    TControl* target =
        FTrackMode == rmFirstHeight || FTrackMode == rmFirstWidth ? FControlFirst : FControlSecond;
    if (!target) return;
    auto aligned = [&](TAlign a) {
        return (FControlFirst && FControlFirst->Align() == a) ||
               (FControlSecond && FControlSecond->Align() == a);
    };
    if (aligned(alRight)) x = -x;
    if (aligned(alBottom)) y = -y;

    TWinControl* parent = Parent();
    parent->DisableAlign();
    const auto resume = qScopeGuard([parent] { parent->EnableAlign(); });
    int size = (horizontal ? target->Height() : target->Width()) + (horizontal ? y : x);
    if (size <= 0) size = 1;
    if (size >= available) size = available - 3;
    if (horizontal)
        target->SetHeight(size);
    else
        target->SetWidth(size);
}

void TRxSplitter::ClampToLimits(int& x, int& y) const {
    Clamp(x, FLimitLeft, FLimitRight);
    Clamp(y, FLimitTop, FLimitBottom);
}

void TRxSplitter::ShowTrackLine(int x, int y, TLineMode mode) {
    const bool horizontal = Horizontal();
    QPoint p = ClientToScreen(horizontal ? QPoint(0, y) : QPoint(x, 0));
    if (Parent()) {
        const QPoint origin = Parent()->ClientToScreen(QPoint(0, 0));
        const int right = origin.x() + Parent()->ClientWidth(),
                  bottom = origin.y() + Parent()->ClientHeight();
        p.setX(std::min(std::max(p.x(), origin.x()), right));
        p.setY(std::min(std::max(p.y(), origin.y()), bottom));
    }
    if (mode == TLineMode::Move && (horizontal ? p.y() == FLastLinePos.y() : p.x() == FLastLinePos.x()))
        return;
    if (mode != TLineMode::Draw) InvertLine(FLastLinePos);
    if (mode != TLineMode::Erase) {
        InvertLine(p);
        FLastLinePos = p;
    }
}

void TRxSplitter::InvertLine(QPoint screenPos) {
    if (!FTrackForm || !FTrackLine) return;
    // The line runs from the tracked point along the bar's own length.
    const QPoint from = FTrackLine->mapFromGlobal(screenPos);
    const int half = FLineWidth / 2;
    QRect band;
    if (Horizontal()) {
        const int to = FTrackLine->mapFromGlobal(ClientToScreen(QPoint(Width(), 0))).x();
        band = QRect(std::min(from.x(), to), from.y() - half, std::abs(to - from.x()), FLineWidth);
    } else {
        const int to = FTrackLine->mapFromGlobal(ClientToScreen(QPoint(0, Height()))).y();
        band = QRect(from.x() - half, std::min(from.y(), to), FLineWidth, std::abs(to - from.y()));
    }
    static_cast<TTrackLayer*>(FTrackLine.data())->Invert(band);
}

void TRxSplitter::TrackKeyDown(TObject* sender, Word& key, TShiftState shift) {
    if (key == VK_ESCAPE) {
        EndTrack(0, 0, false);
        return;
    }
    FSavedKeyDown(sender, key, shift);
}

void TRxSplitter::PosChanged() {
    FOnPosChanged(this);
}

void TRxSplitter::PosChanging(int x, int y, bool& allowChange) {
    FOnPosChanging(this, x, y, allowChange);
}
