#include "ComCtrls.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPainter>
#include <QSlider>
#include <QStackedWidget>
#include <QStyleOptionProgressBar>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>
#include <QTabWidget>

// ---------------------------------------------------------------------------

TTrackBar::TTrackBar(TComponent* AOwner) : TWinControl(AOwner) {
    FWidth = 150;
    FHeight = 45;
    FTabStop = true;
}

QSlider* TTrackBar::Slider() const {
    return qobject_cast<QSlider*>(Widget());
}

void TTrackBar::SetMin(int v) {
    FMin = v;
    if (FMax < FMin) FMax = FMin;
    FPosition = std::clamp(FPosition, FMin, FMax);
    ApplyToSlider();
}

void TTrackBar::SetMax(int v) {
    FMax = v;
    if (FMin > FMax) FMin = FMax;
    FPosition = std::clamp(FPosition, FMin, FMax);
    ApplyToSlider();
}

void TTrackBar::SetPosition(int v) {
    FPosition = std::clamp(v, FMin, FMax);
    ApplyToSlider();
}

void TTrackBar::MoveByUser(int v) {
    SetPosition(v);
    Guard([&] { FOnChange(this); });
}

void TTrackBar::SetFrequency(int v) {
    FFrequency = v;
    ApplyToSlider();
}

void TTrackBar::SetTickMarks(TTickMark v) {
    FTickMarks = v;
    ApplyToSlider();
}

void TTrackBar::SetOrientation(TTrackBarOrientation v) {
    FOrientation = v;
    ApplyToSlider();
}

void TTrackBar::ApplyToSlider() {
    auto* s = Slider();
    if (!s) return;
    FSetting = true;
    s->setOrientation(FOrientation == trHorizontal ? Qt::Horizontal : Qt::Vertical);
    s->setRange(FMin, FMax);
    s->setValue(FPosition);
    s->setTickInterval(FFrequency);
    s->setTickPosition(FTickMarks == tmBottomRight ? QSlider::TicksBelow
                       : FTickMarks == tmTopLeft   ? QSlider::TicksAbove
                                                   : QSlider::TicksBothSides);
    s->setPageStep(std::max(1, (FMax - FMin) / 5));
    FSetting = false;
}

QWidget* TTrackBar::CreateWidget(QWidget* parentWidget) {
    auto* s = new QSlider(parentWidget);
    QObject::connect(s, &QSlider::valueChanged, this, [this](int v) {
        if (FSetting) return;
        FPosition = v;
        Guard([&] { FOnChange(this); });
    });
    FWidget = s;
    ApplyToSlider();
    return s;
}

// ---------------------------------------------------------------------------

namespace {
// Exposes the tab widget's own layout computation, so pages know their size
// before the window is shown.
class TabWidget : public QTabWidget {
public:
    using QTabWidget::QTabWidget;
    QRect ContentsRect(QSize size) const {
        QStyleOptionTabWidgetFrame opt;
        initStyleOption(&opt);
        opt.rect = QRect(QPoint(0, 0), size);
        return style()->subElementRect(QStyle::SE_TabWidgetTabContents, &opt, this);
    }
};
} // namespace

TTabSheet::TTabSheet(TComponent* AOwner) : TWinControl(AOwner) {
    FColor = clBtnFace;
}

TPageControl* TTabSheet::PageControl() const {
    return dynamic_cast<TPageControl*>(Parent());
}

int TTabSheet::PageIndex() const {
    return PageControl() ? PageControl()->IndexOfPage(this) : -1;
}

void TTabSheet::CaptionChanged() {
    if (auto* pc = PageControl())
        if (auto* t = pc->Tabs()) t->setTabText(PageIndex(), FCaption);
}

bool TTabSheet::WidgetEvent(QEvent* event) {
    // The tab widget lays its pages out; the page follows the real geometry, taken
    // from the page stack (which sits at the display rectangle) into the page control's
    // coordinates.
    if (event->type() == QEvent::Resize || event->type() == QEvent::Move) {
        TPageControl* pc = PageControl();
        QWidget* stack = FWidget ? FWidget->parentWidget() : nullptr;
        if (pc && stack && stack->parentWidget() == pc->Widget())
            SetBoundsFromLayout(FWidget->geometry().translated(pc->DisplayRect().topLeft()));
    }
    return TWinControl::WidgetEvent(event);
}

TPageControl::TPageControl(TComponent* AOwner) : TWinControl(AOwner) {
    SetSiblingNotifications(true); // the active page is a sibling
    FWidth = 289;
    FHeight = 193;
    FTabStop = true;
}

QTabWidget* TPageControl::Tabs() const {
    return qobject_cast<QTabWidget*>(Widget());
}

int TPageControl::IndexOfPage(const TTabSheet* page) const {
    auto it = std::find(FPages.begin(), FPages.end(), page);
    return it == FPages.end() ? -1 : int(it - FPages.begin());
}

void TPageControl::InsertControl(TControl* c) {
    if (auto* page = dynamic_cast<TTabSheet*>(c)) {
        FPages.push_back(page);
        FreeNotification(page);
    }
    TWinControl::InsertControl(c);
    Realign();
}

void TPageControl::RemoveControl(TControl* c) {
    auto it = std::find(FPages.begin(), FPages.end(), c);
    if (it != FPages.end()) {
        if (auto* t = Tabs(); t && c->Widget()) t->removeTab(int(it - FPages.begin()));
        FPages.erase(it);
    }
    if (FActivePage == c) FActivePage = nullptr;
    TWinControl::RemoveControl(c);
}

void TPageControl::Notification(TComponent* c, TOperation op) {
    TWinControl::Notification(c, op);
    if (op == TOperation::opRemove && c == FActivePage) FActivePage = nullptr;
}

void TPageControl::SetActivePage(TTabSheet* page) {
    if (page && page->PageControl() != this) return;
    FActivePage = page;
    ShowActive();
}

void TPageControl::SelectByUser(TTabSheet* page) {
    SetActivePage(page);
    Guard([&] { FOnChange(this); });
}

void TPageControl::ShowActive() {
    auto* t = Tabs();
    if (!t || !FActivePage) return;
    FSetting = true;
    t->setCurrentIndex(IndexOfPage(FActivePage));
    FSetting = false;
}

QRect TPageControl::DisplayRect() const {
    if (auto* t = dynamic_cast<TabWidget*>(Tabs())) return t->ContentsRect(QSize(FWidth, FHeight));
    // Before the tab widget exists: the usual tab row and frame.
    return QRect(0, 0, FWidth, FHeight).adjusted(2, 24, -2, -2);
}

void TPageControl::AlignControls() {
    const QRect r = DisplayRect();
    for (auto* p : FPages)
        p->SetBoundsFromLayout(r);
    TWinControl::AlignControls();
}

void TPageControl::Loaded() {
    TWinControl::Loaded();
    if (!FActivePage && !FPages.empty()) FActivePage = FPages.front();
    Realign();
}

QWidget* TPageControl::CreateWidget(QWidget* parentWidget) {
    auto* t = new TabWidget(parentWidget);
    QObject::connect(t, &QTabWidget::currentChanged, this, [this](int index) {
        if (FSetting || index < 0 || index >= PageCount()) return;
        FActivePage = FPages[size_t(index)];
        Guard([&] { FOnChange(this); });
    });
    return t;
}

void TPageControl::CreateChildHandles() {
    auto* t = Tabs();
    if (!t) return;
    FSetting = true;
    // Pages are made inside the tab widget's page stack: a page made without a parent
    // would show for a moment as a window of its own.
    QWidget* stack = t->findChild<QStackedWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (auto* p : FPages)
        if (!p->HandleAllocated()) {
            p->CreateWidgetIn(stack ? stack : static_cast<QWidget*>(t));
            t->insertTab(IndexOfPage(p), p->Widget(), p->Caption());
        }
    FSetting = false;
    TWinControl::CreateChildHandles();
    ShowActive();
    Realign();
}

// ---------------------------------------------------------------------------

std::unique_ptr<TCollectionItem> TStatusPanels::NewItem() {
    return std::make_unique<TStatusPanel>([this] { Changed(); });
}

TStatusBar::TStatusBar(TComponent* AOwner) : TWinControl(AOwner), FPanels(std::make_unique<TStatusPanels>()) {
    FHeight = 19;
    FWidth = 200;
    FAlign = alBottom;
    FPanels->OnChange = [this] { Invalidate(); };
}

TStatusBar::~TStatusBar() = default;

void TStatusBar::SetSimplePanel(bool v) {
    FSimplePanel = v;
    Invalidate();
}

void TStatusBar::SetSimpleText(const QString& v) {
    FSimpleText = v;
    Invalidate();
}

void TStatusBar::Paint(QPainter& p) {
    const QPalette pal = QApplication::palette();
    p.fillRect(0, 0, FWidth, FHeight, ColorToQColor(FColor));
    p.setFont(FFont->ToQFont());
    p.setPen(ColorToQColor(FFont->Color()));
    auto cell = [&](QRect r, const QString& text) {
        Frame3D(p, r, pal.color(QPalette::Dark), pal.color(QPalette::Light), 1);
        p.setPen(ColorToQColor(FFont->Color()));
        p.drawText(r.adjusted(2, 0, -2, 0), int(Qt::AlignLeft | Qt::AlignVCenter), text);
    };
    if (FSimplePanel) {
        cell(QRect(0, 2, FWidth, FHeight - 2), FSimpleText);
        return;
    }
    int x = 0;
    for (int i = 0; i < FPanels->Count(); ++i) {
        auto* panel = FPanels->Items(i);
        const int w = i == FPanels->Count() - 1 && panel->Width() < 0 ? FWidth - x : panel->Width();
        cell(QRect(x, 2, w - 2, FHeight - 2), panel->Text());
        x += w;
    }
}

// ---------------------------------------------------------------------------

TProgressBar::TProgressBar(TComponent* AOwner) : TWinControl(AOwner) {
    FWidth = 150;
    FHeight = 16;
}

void TProgressBar::SetMin(int v) {
    FMin = v;
    SetPosition(FPosition);
}
void TProgressBar::SetMax(int v) {
    FMax = v;
    SetPosition(FPosition);
}
void TProgressBar::SetPosition(int v) {
    FPosition = std::clamp(v, FMin, std::max(FMin, FMax));
    Apply();
}

void TProgressBar::Apply() {
    if (!FWidget) return;
    // Long loops run without the message loop; a bar that paints now and then
    // shows them moving, at a cost that short loops never pay.
    if (FWidget->isVisible() && (!FLastPaint.isValid() || FLastPaint.elapsed() >= 40)) {
        FWidget->repaint();
        FLastPaint.start();
    } else {
        FWidget->update();
    }
}

void TProgressBar::Paint(QPainter& p) {
    QStyleOptionProgressBar opt;
    opt.initFrom(FWidget);
    opt.rect = QRect(0, 0, FWidth, FHeight);
    opt.minimum = FMin;
    opt.maximum = std::max(FMin, FMax);
    opt.progress = FPosition;
    opt.textVisible = false;
    opt.state |= QStyle::State_Horizontal;
    FWidget->style()->drawControl(QStyle::CE_ProgressBar, &opt, &p, FWidget);
}
