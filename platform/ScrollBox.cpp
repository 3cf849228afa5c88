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
}

TScrollBox::~TScrollBox() = default;

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
    const int delta = FPosition - position;
    if (delta == 0) return;
    FPosition = position;
    // Children keep positions relative to the visible origin: scrolling moves them. All
    // move together, so the content's extent stays as it was and nobody is told one by one
    // (with thousands of children that was most of a scroll step).
    const bool contentKnown = !FContentDirty;
    for (auto* c : FControls)
        c->ShiftVertically(delta);
    FContentDirty = !contentKnown;
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

void TScrollBox::UpdateRealized() {
    // Only a box the user can see (its page showing, its window shown) needs widgets.
    if (!FViewport || !FVisible || !FViewport->isVisible()) return;
    const int h = ClientHeight();
    const int bandTop = -h / 2, bandBottom = h + h / 2;
    bool bandWaiting = false;
    for (auto* c : FControls) {
        const bool inBand = c->Visible() && c->Top() < bandBottom && c->Top() + c->Height() > bandTop;
        const bool inView = inBand && c->Top() < h && c->Top() + c->Height() > 0;
        if (inView && !c->HandleAllocated()) {
            c->CreateWidgetIn(FViewport);
        } else if (inBand && !c->HandleAllocated()) {
            bandWaiting = true;
        } else if (!inBand && c->HandleAllocated() && c->CanReleaseHandle()) {
            c->DestroyHandle();
        }
    }
    if (bandWaiting) ScheduleBand();
}

void TScrollBox::ScheduleBand() {
    // Children just out of view get their widgets once the visible ones are painted,
    // a couple per turn of the event loop: each may need a new font, which costs a
    // font-configuration match over every installed font.
    if (FBandScheduled) return;
    FBandScheduled = true;
    QTimer::singleShot(0, this, [this] {
        FBandScheduled = false;
        Guard([&] {
            if (!FViewport || !FVisible || !FViewport->isVisible()) return;
            const int h = ClientHeight();
            const int bandTop = -h / 2, bandBottom = h + h / 2;
            int made = 0;
            for (auto* c : FControls) {
                const bool inBand = c->Visible() && c->Top() < bandBottom && c->Top() + c->Height() > bandTop;
                if (!inBand || c->HandleAllocated()) continue;
                if (made == 2) {
                    ScheduleBand();
                    return;
                }
                c->CreateWidgetIn(FViewport);
                ++made;
            }
        });
    });
}

void TScrollBox::CreateChildHandles() {
    ScheduleUpdate();
}

void TScrollBox::ChildBoundsChanged(TControl*) {
    FContentDirty = true;
    if (FVisible && HandleAllocated()) ScheduleUpdate();
}

void TScrollBox::InsertControl(TControl* c) {
    FContentDirty = true;
    TWinControl::InsertControl(c);
}

void TScrollBox::RemoveControl(TControl* c) {
    FContentDirty = true;
    TWinControl::RemoveControl(c);
}

void TScrollBox::VisibleChanged() {
    // Hidden, children are usually about to change (a refresh re-applies their fonts):
    // only those in view keep their widgets, so only their fonts reach Qt at once.
    if (!FVisible)
        for (auto* c : FControls)
            if (c->HandleAllocated() && !(c->Top() < ClientHeight() && c->Top() + c->Height() > 0) &&
                c->CanReleaseHandle())
                c->DestroyHandle();
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
