#include "ScrollBox.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>

#include <algorithm>

int TControlScrollBar::Position() const {
    return FBox->FPosition;
}
void TControlScrollBar::SetPosition(int value) {
    FBox->ScrollTo(value);
}
void TControlScrollBar::SetVisible(bool value) {
    FVisible = value;
    FBox->UpdateScrollBar();
}
int TControlScrollBar::Range() const {
    return FBox->ContentHeight();
}

static int ScrollBarExtent() {
    return QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
}

TScrollBox::TScrollBox(TComponent* AOwner)
    : TWinControl(AOwner), FHorz(std::make_unique<TControlScrollBar>(this)),
      FVert(std::make_unique<TControlScrollBar>(this)) {
    FWidth = 185;
    FHeight = 41;
    FBandTimer.setSingleShot(true);
    QObject::connect(&FBandTimer, &QTimer::timeout, this, [this] { Guard([&] { FillBand(); }); });
}

TScrollBox::~TScrollBox() {
    // Children that outlive the box must not follow its position any longer.
    for (auto* c : FControls)
        c->FollowScrolling(nullptr);
}

void TScrollBox::SetBorderStyle(TFormBorderStyle v) {
    FBorderStyle = v;
    UpdateScrollBar();
    Realign();
}

int TScrollBox::ContentHeight() const {
    if (FContentDirty) {
        int h = 0;
        for (auto* c : FControls)
            if (c->Visible()) h = std::max(h, c->Top() + c->Height());
        FContentHeight = h + FPosition;
        FContentDirty = false;
    }
    return FContentHeight;
}

int TScrollBox::MaxScrollPosition() const {
    return std::max(0, ContentHeight() - (FHeight - 2 * BorderWidth()));
}

bool TScrollBox::ScrollBarShown() const {
    return FVert->Visible() && ContentHeight() > FHeight - 2 * BorderWidth();
}

int TScrollBox::ClientWidth() const {
    return std::max(0, FWidth - 2 * BorderWidth() - (ScrollBarShown() ? ScrollBarExtent() : 0));
}

int TScrollBox::ClientHeight() const {
    return std::max(0, FHeight - 2 * BorderWidth());
}

QWidget* TScrollBox::ClientWidget() const {
    return FViewport.data();
}

int TScrollBox::RealizedCount() const {
    int n = 0;
    for (auto* c : FControls)
        n += c->HandleAllocated() ? 1 : 0;
    return n;
}

void TScrollBox::ScrollTo(int position) {
    position = std::clamp(position, 0, MaxScrollPosition());
    if (position == FPosition) return;
    // Every child's top follows the position by itself; only widgets need moving. The
    // content's extent and the children's order stay as they were.
    FPosition = position;
    for (auto* c : FRealized)
        if (c->HandleAllocated()) c->ParentScrolled();
    UpdateScrollBar();
    UpdateRealized();
}

QWidget* TScrollBox::CreateWidget(QWidget* parentWidget) {
    auto* frame = new TPaintWidget(this, parentWidget, [this](QPainter& p) {
        QRect r(0, 0, FWidth, FHeight);
        p.fillRect(r, ColorToQColor(FColor));
        if (FBorderStyle == bsSingle) {
            const QPalette pal = QApplication::palette();
            Frame3D(p, r, pal.color(QPalette::Dark), pal.color(QPalette::Light), 1);
            Frame3D(p, r, pal.color(QPalette::Shadow), pal.color(QPalette::Midlight), 1);
        }
    });
    FViewport = new QWidget(frame);
    FScrollBar = new QScrollBar(Qt::Vertical, frame);
    QObject::connect(FScrollBar.data(), &QScrollBar::valueChanged, this,
                     [this](int v) { Guard([&] { ScrollTo(v); }); });
    return frame;
}

void TScrollBox::InitWidget(QWidget* w) {
    TWinControl::InitWidget(w);
    UpdateScrollBar();
}

bool TScrollBox::WidgetEvent(QEvent* event) {
    // Becoming visible (its page was chosen, its window shown) gives the children in view widgets.
    if (event->type() == QEvent::Show) ScheduleUpdate();
    if (event->type() == QEvent::Wheel && FScrollBar && FScrollBar->isVisible()) {
        QCoreApplication::sendEvent(FScrollBar.data(), event);
        return true;
    }
    return TWinControl::WidgetEvent(event);
}

void TScrollBox::UpdateScrollBar() {
    if (!FScrollBar || !FViewport) return;
    const int bw = BorderWidth();
    const bool shown = ScrollBarShown();
    FViewport->setGeometry(bw, bw, ClientWidth(), ClientHeight());
    FScrollBar->setGeometry(FWidth - bw - ScrollBarExtent(), bw, ScrollBarExtent(), ClientHeight());
    QSignalBlocker block(FScrollBar.data());
    FScrollBar->setRange(0, MaxScrollPosition());
    FScrollBar->setPageStep(std::max(1, ClientHeight()));
    FScrollBar->setSingleStep(16);
    FScrollBar->setValue(FPosition);
    FScrollBar->setVisible(shown);
}

void TScrollBox::ScheduleUpdate() {
    if (FUpdateScheduled || !HandleAllocated()) return;
    FUpdateScheduled = true;
    QTimer::singleShot(0, this, [this] {
        FUpdateScheduled = false;
        Guard([&] {
            UpdateScrollBar();
            UpdateRealized();
        });
    });
}

// A visible child reaching into [top, bottom) of the view.
static bool Reaches(const TControl* c, int top, int bottom) {
    return c->Visible() && c->Top() < bottom && c->Top() + c->Height() > top;
}

void TScrollBox::ForEachWithin(int top, int bottom, const std::function<bool(TControl*)>& f) {
    if (FIndexDirty) {
        FByTop = FControls;
        const auto byTop = [](const TControl* a, const TControl* b) { return a->Top() < b->Top(); };
        if (!std::is_sorted(FByTop.begin(), FByTop.end(), byTop))
            std::stable_sort(FByTop.begin(), FByTop.end(), byTop);
        FTallest = 0;
        for (auto* c : FByTop)
            FTallest = std::max(FTallest, c->Height());
        FIndexDirty = false;
    }
    // A child reaching into the range starts at most the tallest child's height above it.
    auto it = std::partition_point(FByTop.begin(), FByTop.end(),
                                   [&](const TControl* c) { return c->Top() <= top - FTallest; });
    for (; it != FByTop.end() && (*it)->Top() < bottom; ++it)
        if (Reaches(*it, top, bottom) && !f(*it)) return;
}

void TScrollBox::ReleaseOutside(int top, int bottom) {
    std::erase_if(FRealized, [&](TControl* c) {
        if (!c->HandleAllocated()) return true;
        if (Reaches(c, top, bottom) || !c->CanReleaseHandle()) return false;
        c->DestroyHandle();
        return true;
    });
}

bool TScrollBox::ViewShowing() const {
    // Only a box the user can see (its page showing, its window shown) needs widgets.
    return FViewport && FVisible && FViewport->isVisible();
}

void TScrollBox::UpdateRealized() {
    if (!ViewShowing()) return;
    const int h = ClientHeight();
    ReleaseOutside(BandTop(), BandBottom());
    bool bandWaiting = false;
    ForEachWithin(BandTop(), BandBottom(), [&](TControl* c) {
        if (c->HandleAllocated()) return true;
        if (Reaches(c, 0, h))
            c->CreateWidgetIn(FViewport);
        else
            bandWaiting = true;
        return true;
    });
    if (bandWaiting) ScheduleBand(true);
}

void TScrollBox::ScheduleBand(bool afterPause) {
    // Children just out of view get their widgets once the visible ones are painted and
    // the user has stopped scrolling for a moment, a couple per turn of the event loop:
    // each may need a new font, and Qt looks a new font's family up by a pass over every
    // installed family, which would hold up the next scroll step's paint.
    if (afterPause)
        FBandTimer.start(kBandPauseMs);
    else if (!FBandTimer.isActive())
        FBandTimer.start(0);
}

void TScrollBox::FillBand() {
    if (!ViewShowing()) return;
    int made = 0;
    ForEachWithin(BandTop(), BandBottom(), [&](TControl* c) {
        if (c->HandleAllocated()) return true;
        if (made == 2) {
            ScheduleBand(false);
            return false;
        }
        c->CreateWidgetIn(FViewport);
        ++made;
        return true;
    });
}

void TScrollBox::CreateChildHandles() {
    ScheduleUpdate();
}

void TScrollBox::ChildBoundsChanged(TControl*) {
    FContentDirty = true;
    FIndexDirty = true;
    if (FVisible && HandleAllocated()) ScheduleUpdate();
}

void TScrollBox::InsertControl(TControl* c) {
    FContentDirty = true;
    FIndexDirty = true;
    c->FollowScrolling(&FPosition);
    TWinControl::InsertControl(c);
}

void TScrollBox::RemoveControl(TControl* c) {
    FContentDirty = true;
    FIndexDirty = true;
    std::erase(FRealized, c);
    FByTop.clear(); // rebuilt when next needed; erasing one by one is quadratic when all go
    TWinControl::RemoveControl(c);
    c->FollowScrolling(nullptr);
}

void TScrollBox::ChildRealized(TControl* c) {
    if (std::find(FRealized.begin(), FRealized.end(), c) == FRealized.end()) FRealized.push_back(c);
}

void TScrollBox::VisibleChanged() {
    // Hidden, children are usually about to change (a refresh re-applies their fonts):
    // only those in view keep their widgets, so only their fonts reach Qt at once.
    if (!FVisible) ReleaseOutside(0, ClientHeight());
    TWinControl::VisibleChanged();
    if (FVisible) {
        UpdateScrollBar();
        UpdateRealized();
    }
}

void TScrollBox::BoundsChanged(bool sizeChanged) {
    TWinControl::BoundsChanged(sizeChanged);
    if (sizeChanged) {
        UpdateScrollBar();
        if (FVisible) ScheduleUpdate();
    }
}
