#include "Controls.h"

#include "Forms.h"

#include <QContextMenuEvent>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

TShiftState ShiftStateOf(Qt::KeyboardModifiers m, Qt::MouseButtons b) {
    TShiftState s;
    if (m & Qt::ShiftModifier) s |= ssShift;
    if (m & Qt::AltModifier) s |= ssAlt;
    if (m & Qt::ControlModifier) s |= ssCtrl;
    if (b & Qt::LeftButton) s |= ssLeft;
    if (b & Qt::RightButton) s |= ssRight;
    if (b & Qt::MiddleButton) s |= ssMiddle;
    return s;
}

static TMouseButton ButtonOf(Qt::MouseButton b) {
    return b == Qt::RightButton ? mbRight : b == Qt::MiddleButton ? mbMiddle : mbLeft;
}

// ---------------------------------------------------------------------------

TControl::TControl(TComponent* AOwner) : TComponent(AOwner), FFont(std::make_unique<TFont>()) {
    // Controls keep no references to their siblings; a form may own thousands of them.
    SetSiblingNotifications(false);
    FFont->OnChange = [this] {
        if (!FFontSetting) FParentFont = false;
        FontChanged();
    };
}

TControl::~TControl() {
    // Whoever hears of the widget's end below must know that the control goes too.
    Destroying();
    if (FParent) FParent->RemoveControl(this);
    delete FWidget.data();
}

void TControl::SetBounds(int left, int top, int width, int height) {
    width = std::max(0, width);
    height = std::max(0, height);
    if (left == FLeft && top == Top() && width == FWidth && height == FHeight) return;
    const bool sizeChanged = width != FWidth || height != FHeight;
    FLeft = left;
    FTop = top + ScrollOffset();
    FWidth = width;
    FHeight = height;
    BoundsChanged(sizeChanged);
    if (FAlign != alNone) RequestAlign();
    if (FParent) FParent->ChildBoundsChanged(this);
}

void TControl::SetBoundsFromLayout(const QRect& r) {
    const int w = std::max(0, r.width()), h = std::max(0, r.height());
    if (r.left() == FLeft && r.top() == Top() && w == FWidth && h == FHeight) return;
    const bool sizeChanged = w != FWidth || h != FHeight;
    FLeft = r.left();
    FTop = r.top() + ScrollOffset();
    FWidth = w;
    FHeight = h;
    BoundsChanged(sizeChanged);
    if (FParent) FParent->ChildBoundsChanged(this);
}

void TControl::FollowScrolling(const int* position) {
    const int top = Top();
    FScrollPosition = position;
    FTop = top + ScrollOffset();
}

void TControl::BoundsChanged(bool sizeChanged) {
    ApplyGeometry();
    if (sizeChanged && !IsLoading()) Resize();
}

void TControl::ApplyGeometry() {
    if (FWidget) FWidget->setGeometry(FLeft, Top(), FWidth, FHeight);
}

void TControl::Resize() {
    Guard([&] { FOnResize(this); });
}

QPoint TControl::ClientOrigin() const {
    return {FLeft, Top()};
}

// Client coordinates are those of the widget the children sit in: below a
// form's menu bar, inside a scroll box's frame.
static QWidget* ClientAreaWidget(const TControl* c) {
    if (auto* w = dynamic_cast<const TWinControl*>(c))
        if (QWidget* area = w->ClientWidget()) return area;
    return c->Widget();
}

QPoint TControl::ClientToScreen(QPoint p) const {
    if (QWidget* w = ClientAreaWidget(this)) return w->mapToGlobal(p);
    QPoint r = p + ClientOrigin();
    return FParent ? FParent->ClientToScreen(r) : r;
}

QPoint TControl::ScreenToClient(QPoint p) const {
    if (QWidget* w = ClientAreaWidget(this)) return w->mapFromGlobal(p);
    return p - ClientToScreen(QPoint(0, 0));
}

bool TControl::MouseCapture() const {
    return FWidget && QWidget::mouseGrabber() == FWidget.data();
}

void TControl::SetMouseCapture(bool value) {
    if (value == MouseCapture() || !FWidget) return;
    if (value)
        FWidget->grabMouse(Screen ? Screen->CursorShape(FCursor) : QCursor());
    else
        FWidget->releaseMouse();
}

void TControl::SetCaptureCursor(TCursor value) {
    // A grab shows its cursor as the application's override cursor.
    if (MouseCapture())
        QGuiApplication::changeOverrideCursor(Screen ? Screen->CursorShape(value) : QCursor());
}

void TControl::RequestAlign() {
    if (FParent) FParent->Realign(this);
}

void TControl::SetAlign(TAlign value) {
    if (value == FAlign) return;
    FAlign = value;
    RequestAlign();
}

void TControl::SetVisible(bool value) {
    if (value == FVisible) return;
    FVisible = value;
    VisibleChanged();
    if (FAlign != alNone || (FParent && !IsLoading())) RequestAlign();
}

void TControl::VisibleChanged() {
    if (!FWidget && FVisible && FParent && FParent->HandleAllocated()) FParent->CreateChildHandles();
    if (FWidget) FWidget->setVisible(FVisible);
}

bool TControl::Showing() const {
    if (!FVisible) return false;
    if (FParent) return FParent->Showing();
    return FWidget && FWidget->isVisible();
}

void TControl::SetEnabled(bool value) {
    if (value == FEnabled) return;
    FEnabled = value;
    if (FWidget) FWidget->setEnabled(value);
}

void TControl::SetHint(const QString& value) {
    FHint = value;
    if (FWidget) FWidget->setToolTip(FShowHint ? FHint : QString());
}

void TControl::SetShowHint(bool value) {
    FShowHint = value;
    SetHint(FHint);
}

void TControl::SetCursor(TCursor value) {
    if (value == FCursor) return;
    FCursor = value;
    if (FWidget) {
        if (FCursor == crDefault)
            FWidget->unsetCursor();
        else
            FWidget->setCursor(Screen ? Screen->CursorShape(FCursor) : QCursor());
    }
}

void TControl::SetColor(TColor value) {
    FParentColor = false;
    if (value == FColor) return;
    FColor = value;
    ParentColorChanged();
}

void TControl::SetParentColor(bool value) {
    FParentColor = value;
    if (value && FParent) {
        FColor = FParent->Color();
        ParentColorChanged();
    }
}

void TControl::ParentColorChanged() {
    Invalidate();
}

void TControl::SetParentFont(bool value) {
    FParentFont = value;
    if (value && FParent) ParentFontChanged();
}

void TControl::ParentFontChanged() {
    if (!FParentFont || !FParent) return;
    FFontSetting = true;
    FFont->Assign(FParent->Font());
    FFontSetting = false;
}

void TControl::FontChanged() {
    if (FWidget) FWidget->setFont(FFont->ToQFont());
}

void TControl::SetCaption(const QString& value) {
    if (value == FCaption) return;
    FCaption = value;
    CaptionChanged();
}

void TControl::SetParent(TWinControl* value) {
    if (value == FParent) return;
    if (value == this)
        throw EInvalidOperation(QStringLiteral("Ein Steuerelement kann nicht sein eigener Vorfahr sein"));
    if (FParent) FParent->RemoveControl(this);
    if (FWidget && !value) DestroyHandle();
    if (value) value->InsertControl(this);
}

void TControl::SetParentComponent(TComponent* parent) {
    auto* w = dynamic_cast<TWinControl*>(parent);
    if (!w)
        throw EInvalidOperation(QStringLiteral("Element '%1' braucht ein Fenster als Vorfahr").arg(Name()));
    SetParent(w);
}

void TControl::HandleNeeded() {
    if (FWidget) return;
    if (!FParent) return;
    FParent->HandleNeeded();
    if (FWidget) return; // the parent made ours while making its children
    QWidget* w = CreateWidget(FParent->ClientWidget());
    FWidget = w;
    InitWidget(w);
    if (FParent) FParent->ChildRealized(this);
}

void TControl::CreateWidgetIn(QWidget* parentWidget) {
    if (FWidget) return;
    QWidget* w = CreateWidget(parentWidget);
    FWidget = w;
    InitWidget(w);
    if (FParent) FParent->ChildRealized(this);
}

void TControl::DestroyHandle() {
    if (!FWidget) return;
    SaveWidgetState();
    QWidget* w = FWidget.data();
    FWidget.clear();
    w->removeEventFilter(this);
    w->hide();
    w->deleteLater();
}

QWidget* TControl::CreateWidget(QWidget* parentWidget) {
    return new TPaintWidget(this, parentWidget, [this](QPainter& p) { Paint(p); });
}

void TControl::InitWidget(QWidget* w) {
    w->setGeometry(FLeft, Top(), FWidth, FHeight);
    w->setFont(FFont->ToQFont());
    w->setEnabled(FEnabled);
    if (FShowHint) w->setToolTip(FHint);
    if (FCursor != crDefault && Screen) w->setCursor(Screen->CursorShape(FCursor));
    w->installEventFilter(this);
    w->setVisible(FVisible);
}

void TControl::Repaint() {
    if (FWidget) FWidget->repaint();
}

void TControl::Invalidate() {
    if (FWidget) FWidget->update();
}

void TControl::Click() {
    FOnClick(this);
}
void TControl::DblClick() {
    FOnDblClick(this);
}
void TControl::MouseDown(TMouseButton b, TShiftState s, int x, int y) {
    FOnMouseDown(this, b, s, x, y);
}
void TControl::MouseMove(TShiftState s, int x, int y) {
    FOnMouseMove(this, s, x, y);
}
void TControl::MouseUp(TMouseButton b, TShiftState s, int x, int y) {
    FOnMouseUp(this, b, s, x, y);
}

void TControl::Loaded() {
    TComponent::Loaded();
    if (FParentFont && FParent) ParentFontChanged();
}

void TControl::BeforeDestruction() {
    TComponent::BeforeDestruction();
    // Tearing the widgets down emits signals (a tab widget's current page changes as its
    // pages go, a view announces its destruction); none may run code of a control whose
    // destructor has begun, so every connection from our widgets to us goes now.
    if (!FWidget) return;
    FWidget->removeEventFilter(this);
    FWidget->disconnect(this);
    for (QObject* o : FWidget->findChildren<QObject*>())
        o->disconnect(this);
}

bool TControl::eventFilter(QObject* watched, QEvent* event) {
    if (watched != FWidget.data()) return false;
    bool handled = false;
    Guard([&] { handled = WidgetEvent(event); });
    return handled;
}

bool TControl::WidgetEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->button() == Qt::LeftButton) FPressed = true;
        const QPoint p = e->position().toPoint();
        MouseDown(ButtonOf(e->button()), ShiftStateOf(e->modifiers(), e->buttons()), p.x(), p.y());
        return false;
    }
    case QEvent::MouseMove: {
        auto* e = static_cast<QMouseEvent*>(event);
        const QPoint p = e->position().toPoint();
        MouseMove(ShiftStateOf(e->modifiers(), e->buttons()), p.x(), p.y());
        return false;
    }
    case QEvent::MouseButtonRelease: {
        auto* e = static_cast<QMouseEvent*>(event);
        const QPoint p = e->position().toPoint();
        const bool click =
            FPressed && e->button() == Qt::LeftButton && QRect(0, 0, FWidth, FHeight).contains(p);
        if (e->button() == Qt::LeftButton) FPressed = false;
        if (click) ClickFromWidget();
        MouseUp(ButtonOf(e->button()), ShiftStateOf(e->modifiers(), e->buttons()), p.x(), p.y());
        return false;
    }
    case QEvent::ContextMenu: {
        if (!FPopupMenu) return false;
        FPopupMenu->Popup(static_cast<QContextMenuEvent*>(event)->globalPos().x(),
                          static_cast<QContextMenuEvent*>(event)->globalPos().y());
        return true;
    }
    case QEvent::MouseButtonDblClick: {
        // Qt turns the second press of a double click into this event alone; it is
        // a press all the same (flagged as double), then the double click.
        auto* e = static_cast<QMouseEvent*>(event);
        const QPoint p = e->position().toPoint();
        MouseDown(ButtonOf(e->button()), ShiftStateOf(e->modifiers(), e->buttons()) | ssDouble, p.x(), p.y());
        if (e->button() == Qt::LeftButton) DblClick();
        return false;
    }
    default:
        return false;
    }
}

void TControl::ClickFromWidget() {
    Click();
}

TPaintWidget::TPaintWidget(TControl*, QWidget* parent, std::function<void(QPainter&)> paint)
    : QWidget(parent), FPaint(std::move(paint)) {}

void TPaintWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    Guard([&] { FPaint(p); });
}

// ---------------------------------------------------------------------------

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
    // Children outlive us only if another owner holds them; they lose their parent.
    auto children = FControls;
    for (auto* c : children)
        c->SetParent(nullptr);
}

bool TWinControl::ContainsControl(const TControl* c) const {
    for (; c; c = c->Parent())
        if (c == this) return true;
    return false;
}

void TWinControl::InsertControl(TControl* c) {
    FControls.push_back(c);
    c->FParent = this;
    if (c->FParentFont) c->ParentFontChanged();
    if (c->FParentColor) c->FColor = Color();
    if (HandleAllocated()) CreateChildHandles();
    if (c->Align() != alNone) Realign(c);
}

void TWinControl::RemoveControl(TControl* c) {
    // From the back: children go last first when their form is freed.
    auto it = std::find(FControls.rbegin(), FControls.rend(), c);
    if (it == FControls.rend()) return;
    FControls.erase(std::next(it).base());
    c->FParent = nullptr;
    if (c->Align() != alNone && !IsDestroying()) Realign();
}

void TWinControl::SetTabStop(bool value) {
    FTabStop = value;
    if (FWidget && FWidget->focusPolicy() != Qt::NoFocus)
        FWidget->setFocusPolicy(value ? Qt::StrongFocus : Qt::ClickFocus);
}

bool TWinControl::Focused() const {
    return FWidget && FWidget->hasFocus();
}

void TWinControl::SetFocus() {
    HandleNeeded();
    if (FWidget) FWidget->setFocus(Qt::OtherFocusReason);
}

void TWinControl::KeyDown(Word& key, TShiftState shift) {
    FOnKeyDown(this, key, shift);
}
void TWinControl::KeyUp(Word& key, TShiftState shift) {
    FOnKeyUp(this, key, shift);
}

void TWinControl::HandleNeeded() {
    if (FWidget) return;
    TControl::HandleNeeded();
}

void TWinControl::InitWidget(QWidget* w) {
    TControl::InitWidget(w);
    if (w->focusPolicy() != Qt::NoFocus) w->setFocusPolicy(FTabStop ? Qt::StrongFocus : Qt::ClickFocus);
    CreateChildHandles();
}

void TWinControl::CreateChildHandles() {
    for (auto* c : FControls)
        c->CreateWidgetIn(ClientWidget());
}

void TWinControl::DestroyHandle() {
    for (auto* c : FControls)
        c->DestroyHandle();
    TControl::DestroyHandle();
}

void TWinControl::FontChanged() {
    TControl::FontChanged();
    for (auto* c : FControls)
        c->ParentFontChanged();
}

void TWinControl::BoundsChanged(bool sizeChanged) {
    TControl::BoundsChanged(sizeChanged);
    if (sizeChanged) Realign();
}

void TWinControl::EnableAlign() {
    if (FAlignLevel > 0 && --FAlignLevel == 0 && FAlignPending) Realign();
}

void TWinControl::Realign(TControl* trigger) {
    if (FAlignLevel > 0 || IsLoading() || FAligning) {
        FAlignPending = true;
        return;
    }
    FAlignPending = false;
    FAligning = true;
    FAlignTrigger = trigger;
    Guard([&] { AlignControls(); });
    FAlignTrigger = nullptr;
    FAligning = false;
}

void TWinControl::AlignControls() {
    QRect r = AdjustedClientRect();
    int left = r.left(), top = r.top(), right = r.left() + r.width(), bottom = r.top() + r.height();
    for (TAlign kind : {alTop, alBottom, alLeft, alRight, alClient}) {
        std::vector<TControl*> list;
        for (auto* c : FControls)
            if (c->Align() == kind && c->Visible()) list.push_back(c);
        auto key = [kind](const TControl* c) {
            switch (kind) {
            case alTop:
                return c->Top();
            case alBottom:
                return -(c->Top() + c->Height());
            case alLeft:
                return c->Left();
            case alRight:
                return -(c->Left() + c->Width());
            default:
                return 0;
            }
        };
        std::stable_sort(list.begin(), list.end(), [&](auto* a, auto* b) {
            return key(a) < key(b) || (key(a) == key(b) && a == FAlignTrigger && b != FAlignTrigger);
        });
        for (auto* c : list) {
            const int w = std::max(0, right - left), h = std::max(0, bottom - top);
            QRect nr;
            switch (kind) {
            case alTop:
                nr = QRect(left, top, w, c->Height());
                top += c->Height();
                break;
            case alBottom:
                nr = QRect(left, bottom - c->Height(), w, c->Height());
                bottom -= c->Height();
                break;
            case alLeft:
                nr = QRect(left, top, c->Width(), h);
                left += c->Width();
                break;
            case alRight:
                nr = QRect(right - c->Width(), top, c->Width(), h);
                right -= c->Width();
                break;
            default:
                nr = QRect(left, top, w, h);
                break;
            }
            c->SetBoundsFromLayout(nr);
        }
    }
}

void TWinControl::Loaded() {
    TControl::Loaded();
    if (FAlignPending) Realign();
}

LRESULT TWinControl::Perform(unsigned msg, WPARAM wParam, LPARAM lParam) {
    TMessageEvent e(TMessage{msg, wParam, lParam, 0});
    if (FWidget)
        QCoreApplication::sendEvent(FWidget.data(), &e);
    else
        WndProc(e.Msg);
    // Also when a filter swallowed it before it reached us.
    e.RunAfter();
    return e.Msg.Result;
}

int GetSystemMetrics(int index) {
    switch (index) {
    case SM_CXBORDER:
    case SM_CYBORDER:
        return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
        return 3;
    case SM_CXFRAME:
    case SM_CYFRAME:
        return 4;
    default:
        return 0;
    }
}

bool TWinControl::WidgetEvent(QEvent* event) {
    if (event->type() == TMessageEvent::EventType()) {
        auto* e = static_cast<TMessageEvent*>(event);
        WndProc(e->Msg);
        e->RunAfter();
        return true;
    }
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto* e = static_cast<QKeyEvent*>(event);
        Word key = QtKeyToVirtualKey(e->key());
        if (key) KeyDown(key, ShiftStateOf(e->modifiers()));
        return false;
    }
    case QEvent::KeyRelease: {
        auto* e = static_cast<QKeyEvent*>(event);
        Word key = QtKeyToVirtualKey(e->key());
        if (key) KeyUp(key, ShiftStateOf(e->modifiers()));
        return false;
    }
    case QEvent::FocusIn:
        FOnEnter(this);
        return false;
    case QEvent::FocusOut:
        FOnExit(this);
        return false;
    default:
        return TControl::WidgetEvent(event);
    }
}

TCustomForm* GetParentForm(const TControl* control) {
    for (const TControl* c = control; c; c = c->Parent())
        if (auto* f = dynamic_cast<const TCustomForm*>(c)) return const_cast<TCustomForm*>(f);
    return nullptr;
}

TCustomForm* ValidParentForm(const TControl* control) {
    TCustomForm* f = GetParentForm(control);
    if (!f)
        throw EInvalidOperation(QStringLiteral("Element '%1' hat kein übergeordnetes Fenster")
                                    .arg(control ? control->Name() : QString()));
    return f;
}
