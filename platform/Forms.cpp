#include "Forms.h"

#include "FaceMetrics.h"
#include "FormReader.h"
#include "HelpViewer.h"

#include <QApplication>
#include <QBackingStore>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>

#include "ExtCtrls.h"

Q_LOGGING_CATEGORY(lcPaint, "glyvex.paint", QtWarningMsg)

TApplication* Application = nullptr;
TScreen* Screen = nullptr;

void ReportException(std::exception_ptr error) {
    if (Application) {
        Application->HandleException(error);
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        qWarning("%s", e.what());
    } catch (...) {
        qWarning("unknown error");
    }
}

// ---------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner) {
    SetSiblingNotifications(true); // forms hear about each other, as any component does
    FWidth = 320;
    FHeight = 240;
    FVisible = false;
}

TCustomForm::~TCustomForm() {
    // Not yet destroying only when ended without delete (on the stack): the derived parts
    // are gone, so OnDestroy does not run; a placement keeper saves as its turn comes.
    Destroying();
    // Owned components go first, while the window still exists for them.
    while (ComponentCount() > 0)
        delete Components(ComponentCount() - 1);
    delete FWidget.data();
}

void TCustomForm::BeforeDestruction() {
    Guard([&] { FOnDestroy(this); });
    if (QWindow* win = FWidget ? FWidget->windowHandle() : nullptr) win->removeEventFilter(this);
    TWinControl::BeforeDestruction();
}

void TCustomForm::DoCreate() {
    Guard([&] { FOnCreate(this); });
}

void TCustomForm::ReadDefinition(const QString& resource) {
    TFormReader::ReadForm(this, resource);
}

void TCustomForm::SetBounds(int left, int top, int width, int height) {
    if (!IsLoading() && (left != FLeft || top != FTop)) FPlaced = true;
    TWinControl::SetBounds(left, top, width, height);
    // While the window shows maximized or minimized its bounds are not the normal ones.
    if (ShownNormal()) FNormalBounds = BoundsRect();
}

bool TCustomForm::ShownNormal() const {
    return FWindowState == wsNormal || !FWidget || !FWidget->isVisible();
}

void TCustomForm::LayoutWindow() {
    if (!FWidget) return;
    const QSize s = FWidget->size();
    const int mb = MenuBarHeight();
    if (FMenuBar) FMenuBar->setGeometry(0, 0, s.width(), mb);
    if (FClient) FClient->setGeometry(0, mb, s.width(), s.height() - mb);
    const QSize client(ClientWidth(), ClientHeight());
    if (client != FAlignedClient) {
        FAlignedClient = client;
        Realign();
    }
}

int TCustomForm::MenuBarHeight() const {
    return FMenuBar ? FMenuBar->sizeHint().height() : 0;
}

int TCustomForm::ClientWidth() const {
    return std::max(0, FWidth - FFrame.left() - FFrame.right());
}

int TCustomForm::ClientHeight() const {
    return std::max(0, FHeight - FFrame.top() - FFrame.bottom() - MenuBarHeight());
}

void TCustomForm::SetParent(TWinControl* value) {
    if (value) throw EInvalidOperation(QStringLiteral("Ein Formular kann kein übergeordnetes Element haben"));
}

QWidget* TCustomForm::ClientWidget() const {
    return FClient.data();
}

void TCustomForm::SetMenuBarWidget(QWidget* w) {
    if (FMenuBar && FMenuBar != w && FMenuBar->parentWidget() == FWidget.data()) {
        FMenuBar->hide();
        FMenuBar->setParent(nullptr);
    }
    FMenuBar = w;
    if (w && FWidget) w->setParent(FWidget);
    if (w && FWidget) w->show();
    ApplyGeometry();
    Realign();
}

void TCustomForm::SetMenu(TMainMenu* menu) {
    if (menu == FMenu) return;
    if (FMenu) FMenu->RemoveFreeNotification(this);
    FMenu = menu;
    if (menu) menu->FreeNotification(this);
    SetMenuBarWidget(menu ? menu->MenuBar() : nullptr);
}

void TCustomForm::Notification(TComponent* AComponent, TOperation operation) {
    TWinControl::Notification(AComponent, operation);
    if (operation != TOperation::opRemove || !FMenu || AComponent != FMenu.data()) return;
    FMenu = nullptr;
    // While the form is torn down its window goes anyway; no layout is needed.
    if (IsDestroying())
        FMenuBar = nullptr;
    else
        SetMenuBarWidget(nullptr);
}

void TCustomForm::SetBorderStyle(TFormBorderStyle v) {
    FBorderStyle = v;
    ApplyWindowFlags();
}

void TCustomForm::SetBorderIcons(TBorderIcons v) {
    FBorderIcons = v;
    ApplyWindowFlags();
}

void TCustomForm::SetFormStyle(TFormStyle v) {
    FFormStyle = v;
    ApplyWindowFlags();
}

static Qt::WindowStates QtWindowState(TWindowState v);

void TCustomForm::SetWindowState(TWindowState v) {
    FWindowState = v;
    if (!FWidget || !FWidget->isVisible()) return;
    FWidget->setWindowState(QtWindowState(v));
}

TWinControl* TCustomForm::ActiveControl() const {
    // The deepest control whose widget is, or holds, the focused widget (a page
    // control's focus sits on its tab bar).
    QWidget* f = FWidget ? FWidget->focusWidget() : nullptr;
    TWinControl* found = nullptr;
    for (const TWinControl* level = this; f && level;) {
        TWinControl* next = nullptr;
        for (int i = 0; i < level->ControlCount() && !next; ++i) {
            auto* c = dynamic_cast<TWinControl*>(level->Controls(i));
            if (c && c->Widget() && (c->Widget() == f || c->Widget()->isAncestorOf(f))) next = c;
        }
        if (next) found = next;
        level = next;
    }
    return found ? found : FActiveControl.data();
}

void TCustomForm::SetActiveControl(TWinControl* c) {
    FActiveControl = c;
    if (c && FWidget && FWidget->isVisible()) c->SetFocus();
}

void TCustomForm::CaptionChanged() {
    if (FWidget) FWidget->setWindowTitle(FCaption);
}

void TCustomForm::ApplyWindowFlags() {
    if (!FWidget) return;
    Qt::WindowFlags f = Qt::Window;
    const bool tool = FBorderStyle == bsToolWindow || FBorderStyle == bsSizeToolWin;
    if (tool) f = Qt::Tool;
    if (FBorderStyle == bsDialog) f = Qt::Dialog;
    f |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (FBorderStyle == bsNone) f = Qt::Window | Qt::FramelessWindowHint;
    if (FBorderIcons.testFlag(biSystemMenu)) {
        f |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (!tool && FBorderStyle != bsDialog) {
            if (FBorderIcons.testFlag(biMinimize)) f |= Qt::WindowMinimizeButtonHint;
            if (FBorderIcons.testFlag(biMaximize)) f |= Qt::WindowMaximizeButtonHint;
        }
    }
    if (FFormStyle == fsStayOnTop) f |= Qt::WindowStaysOnTopHint;
    const bool visible = FWidget->isVisible();
    FWidget->setWindowFlags(f);
    ApplySizeLimits();
    if (visible) FWidget->show();
}

static Qt::WindowStates QtWindowState(TWindowState v) {
    return v == wsMaximized   ? Qt::WindowMaximized
           : v == wsMinimized ? Qt::WindowMinimized
                              : Qt::WindowNoState;
}

void TCustomForm::ApplySizeLimits() {
    if (!FWidget) return;
    const bool fixed = FBorderStyle == bsSingle || FBorderStyle == bsDialog || FBorderStyle == bsToolWindow;
    if (fixed) {
        FWidget->setFixedSize(ClientWidth(), ClientHeight() + MenuBarHeight());
        return;
    }
    const QScreen* screen = FWidget->screen() ? FWidget->screen() : QGuiApplication::primaryScreen();
    const QSize area = screen ? screen->availableGeometry().size() : QSize(1024, 768);
    TMinMaxInfo info;
    info.ptMaxSize = QPoint(area.width(), area.height());
    info.ptMaxPosition = QPoint(0, 0);
    info.ptMinTrackSize = QPoint(0, 0);
    info.ptMaxTrackSize = QPoint(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    Perform(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    // The limits are outer sizes; Qt's are the widget's.
    const int frameWidth = FFrame.left() + FFrame.right(), frameHeight = FFrame.top() + FFrame.bottom();
    auto inner = [&](QPoint p, int none) {
        return QSize(p.x() >= none ? QWIDGETSIZE_MAX : std::max(0, p.x() - frameWidth),
                     p.y() >= none ? QWIDGETSIZE_MAX : std::max(0, p.y() - frameHeight));
    };
    const QSize minimum = inner(info.ptMinTrackSize, QWIDGETSIZE_MAX);
    const QSize maximum = inner(info.ptMaxTrackSize, QWIDGETSIZE_MAX).expandedTo(minimum);
    FWidget->setMinimumSize(minimum);
    FWidget->setMaximumSize(maximum);
}

TWindowPlacement TCustomForm::GetWindowPlacement() const {
    TWindowPlacement wp;
    wp.flags = FPlacementFlags;
    wp.ptMinPosition = FMinPosition;
    wp.ptMaxPosition = FMaxPosition;
    wp.showCmd = FWindowState == wsMinimized   ? SW_SHOWMINIMIZED
                 : FWindowState == wsMaximized ? SW_SHOWMAXIMIZED
                                               : SW_SHOWNORMAL;
    // The outer rectangle in the normal state: the bounds while the form is in it, else the
    // ones it had (or was given) last in it.
    QRect normal = FWindowState == wsNormal ? BoundsRect() : FNormalBounds;
    // A default-placed form learns where the window system put it from the window's moves once
    // it is framed; before that, Qt's idea of the position is the best there is.
    if (FWidget && FWidget->isVisible() && FWindowState == wsNormal && !FFrameKnown)
        normal.moveTopLeft(FWidget->pos());
    wp.normalLeft = normal.left();
    wp.normalTop = normal.top();
    wp.normalRight = normal.left() + normal.width();
    wp.normalBottom = normal.top() + normal.height();
    return wp;
}

void TCustomForm::SetWindowPlacement(const TWindowPlacement& wp) {
    FPlacementFlags = wp.flags;
    FMinPosition = wp.ptMinPosition;
    FMaxPosition = wp.ptMaxPosition;
    const QRect normal(wp.normalLeft, wp.normalTop, wp.normalRight - wp.normalLeft,
                       wp.normalBottom - wp.normalTop);
    if (ShownNormal()) {
        // A new size is an outer one. Before the window manager has framed the window it is
        // shown as the client size, and the client shrinks by the frame once that is known.
        // A form whose border cannot be dragged keeps its client size; the form's own
        // rectangle given back (as a change of the other fields does) changes nothing.
        if (!FFrameKnown && normal != BoundsRect() &&
            (FBorderStyle == bsSizeable || FBorderStyle == bsSizeToolWin))
            FOuterSizePending = true;
        SetBounds(normal.left(), normal.top(), normal.width(), normal.height());
    } else {
        // Shown maximized or minimized: the window stays so, and comes back to this.
        FNormalBounds = normal;
    }
    switch (wp.showCmd) {
    case SW_SHOWNORMAL:
        SetWindowState(wsNormal);
        break;
    case SW_SHOWMINIMIZED:
        SetWindowState(wsMinimized);
        break;
    case SW_SHOWMAXIMIZED:
        SetWindowState(wsMaximized);
        break;
    default:
        break;
    }
}

QWidget* TCustomForm::CreateWidget(QWidget*) {
    auto* w = new TPaintWidget(this, nullptr, [this](QPainter& p) {
        // Logged so that checks on a real window system can see when a window painted.
        qCDebug(lcPaint, "painted %s", qPrintable(Name()));
        p.fillRect(QRect(0, 0, FWidth, FHeight), ColorToQColor(FColor));
    });
    FClient = new QWidget(w);
    if (FMenuBar) FMenuBar->setParent(w);
    return w;
}

void TCustomForm::InitWidget(QWidget* w) {
    w->setWindowTitle(FCaption);
    w->setFont(FFont->ToQFont());
    w->installEventFilter(this);
    FWidget = w;
    ApplyWindowFlags();
    ApplyGeometry();
    if (FMenuBar) FMenuBar->show();
    // Children are made inside the client area, below any menu bar.
    for (auto* c : FControls)
        c->CreateWidgetIn(FClient);
}

void TCustomForm::ApplyGeometry() {
    if (!FWidget) return;
    const int mb = MenuBarHeight();
    const QSize inner(ClientWidth(), ClientHeight() + mb);
    // A maximized or minimized window is the window system's to size and place.
    if (ShownNormal()) {
        if (FWidget->size() != inner) {
            ApplySizeLimits();
            FWidget->resize(inner);
        }
        // A default position is the window system's choice until the form is placed. The
        // position is the frame's (Qt places a window's frame where it is moved).
        if (FPlaced || FPosition == poDesigned) {
            FWidget->move(FLeft, FTop);
            // A hidden window that Qt did not move itself is placed by the window manager
            // when it shows again: the position goes to the window system in any case.
            if (QWindow* win = FWidget->windowHandle(); win && !FWidget->isVisible())
                win->setFramePosition(QPoint(FLeft, FTop));
        }
    }
    if (FMenuBar) FMenuBar->setGeometry(0, 0, inner.width(), mb);
    if (FClient) FClient->setGeometry(0, mb, inner.width(), inner.height() - mb);
}

void TCustomForm::SetVisible(bool value) {
    if (value == FVisible || FInShowHide) return;
    FInShowHide = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{FInShowHide};
    FVisible = value;
    if (value) {
        HandleNeeded();
        DoShow();
        if (!FShownOnce && (FPosition == poScreenCenter || FPosition == poDesktopCenter)) {
            const QRect s = QGuiApplication::primaryScreen()
                                ? QGuiApplication::primaryScreen()->availableGeometry()
                                : QRect(0, 0, 1024, 768);
            FLeft = s.left() + (s.width() - FWidth) / 2;
            FTop = s.top() + (s.height() - FHeight) / 2;
            FPlaced = true;
            if (FWindowState == wsNormal) FNormalBounds = BoundsRect();
            // The outer size grows by the frame once it is known (unless a placement gave the
            // outer size): the frame is centred then.
            FRecentre = !FFrameKnown && !FOuterSizePending;
        }
        FShownOnce = true;
        ApplyGeometry();
        // A state set while hidden takes effect as the window appears.
        if (FWindowState != wsNormal) FWidget->setWindowState(QtWindowState(FWindowState));
        FWidget->show();
        if (FActiveControl) FActiveControl->SetFocus();
    } else {
        if (FWidget) FWidget->hide();
        DoHide();
    }
}

void TCustomForm::HandleNeeded() {
    if (FWidget) return;
    QWidget* w = CreateWidget(nullptr);
    FWidget = w;
    InitWidget(w);
}

void TCustomForm::DoShow() {
    FOnShow(this);
}
void TCustomForm::DoHide() {
    Guard([&] { FOnHide(this); });
}

bool TCustomForm::CloseQuery() {
    bool canClose = true;
    FOnCloseQuery(this, canClose);
    return canClose;
}

void TCustomForm::Close() {
    if (FModalLoop) {
        SetModalResult(mrCancel);
        return;
    }
    if (!CloseQuery()) return;
    const bool isMain = Application && Application->MainForm() == this;
    TCloseAction action = isMain ? caFree : caHide;
    FOnClose(this, action);
    if (action == caNone) return;
    if (isMain) {
        Application->Terminate();
        return;
    }
    switch (action) {
    case caMinimize:
        if (FWidget) FWidget->showMinimized();
        break;
    case caFree:
        Hide();
        deleteLater();
        break;
    default:
        Hide();
        break;
    }
}

void TCustomForm::SetModalResult(int v) {
    FModalResult = v;
    if (!FModalLoop || v == mrNone) return;
    if (!CloseQuery()) {
        FModalResult = mrNone;
        return;
    }
    TCloseAction action = caHide;
    FOnClose(this, action);
    if (action == caNone) {
        FModalResult = mrNone;
        return;
    }
    FModalLoop->quit();
}

int TCustomForm::ShowModal() {
    if (FVisible || FModalLoop)
        throw EInvalidOperation(QStringLiteral("Sichtbares Fenster kann nicht modal gemacht werden"));
    FModalResult = mrNone;
    HandleNeeded();
    FWidget->setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    FModalLoop = &loop;
    Show();
    loop.exec();
    FModalLoop = nullptr;
    Hide();
    FWidget->setWindowModality(Qt::NonModal);
    return FModalResult;
}

bool TCustomForm::Exposed() const {
    const QWindow* win = FWidget ? FWidget->windowHandle() : nullptr;
    return win && win->isExposed();
}

void TCustomForm::Update() {
    if (!FWidget || !FWidget->isVisible()) return;
    QWindow* win = FWidget->windowHandle();
    // Before the message loop runs (the splash at start-up) a new window is not yet
    // exposed; wait briefly for the window system so the first paint is not lost.
    if (win && !win->isExposed() && Application && !Application->Running()) {
        QElapsedTimer t;
        t.start();
        while (!win->isExposed() && t.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    }
    if (!win || win->isExposed()) {
        FWidget->repaint();
        return;
    }
    // Later (the splash of a refresh) the window system's word that the window is
    // exposed would come only through the message loop, which must not run inside
    // a refresh: paint into the window's backing store and put it on the screen
    // at once, as the window system's own immediate update does.
    QBackingStore* store = FWidget->backingStore();
    if (!store) return;
    const QRect all(QPoint(0, 0), FWidget->size());
    if (store->size() != all.size()) store->resize(all.size());
    store->beginPaint(all);
    if (QPaintDevice* device = store->paintDevice()) {
        QPainter p(device);
        FWidget->render(&p, QPoint(), QRegion(all), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    }
    store->endPaint();
    store->flush(all, win);
}

bool TCustomForm::WidgetEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::Close:
        event->ignore();
        Close();
        return true;
    case QEvent::Show:
        // Polishing on the first show may change the menu bar's height.
        LayoutWindow();
        // The window's first exposure is when the window manager has framed it.
        if (QWindow* win = FWidget->windowHandle()) win->installEventFilter(this);
        return false;
    case QEvent::Resize: {
        // The window system resized us (the user, or a change of state).
        const QSize s = FWidget->size();
        FWidth = s.width() + FFrame.left() + FFrame.right();
        FHeight = s.height() + FFrame.top() + FFrame.bottom();
        LayoutWindow();
        if (FVisible) Resize();
        ScheduleNormalBounds();
        return false;
    }
    case QEvent::WindowStateChange: {
        const Qt::WindowStates st = FWidget->windowState();
        const TWindowState before = FWindowState;
        FWindowState = st & Qt::WindowMinimized                            ? wsMinimized
                       : st & (Qt::WindowMaximized | Qt::WindowFullScreen) ? wsMaximized
                                                                           : wsNormal;
        // The window system may have sized the window for the new state before it said so:
        // the normal rectangle is the one noted before.
        if (before == wsNormal && FWindowState != wsNormal) FNormalScheduled = false;
        ScheduleLearnFrame();
        ScheduleNormalBounds();
        return false;
    }
    case QEvent::Move:
        // Until the window shows, it is not yet in its frame: where it is then is no position.
        if (const QWindow* win = FWidget->windowHandle(); win && win->isExposed() && FWidget->isVisible()) {
            const QPoint at = win->framePosition();
            FLeft = at.x();
            FTop = at.y();
            FPlaced = true;
            ScheduleLearnFrame();
            ScheduleNormalBounds();
        }
        return false;
    default:
        return TWinControl::WidgetEvent(event);
    }
}

bool TCustomForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Expose && FWidget && watched == FWidget->windowHandle()) {
        ScheduleLearnFrame();
        return false;
    }
    return TWinControl::eventFilter(watched, event);
}

void TCustomForm::ScheduleLearnFrame() {
    if (FLearnScheduled) return;
    FLearnScheduled = true;
    // After the event at hand: the frame may change the window's size.
    QTimer::singleShot(0, this, [this] {
        FLearnScheduled = false;
        Guard([&] { LearnFrame(); });
    });
}

void TCustomForm::LearnFrame() {
    if (!FWidget || !FWidget->isVisible() || IsDestroying()) return;
    QWindow* win = FWidget->windowHandle();
    // A window the window system shows has been framed by the window manager.
    if (!win || !win->isExposed()) return;
    const QMargins frame = win->frameMargins();
    const bool normal = FWindowState == wsNormal;
    // Where the window manager put the frame (moves before the window showed told nothing).
    if (normal) {
        FLeft = win->framePosition().x();
        FTop = win->framePosition().y();
        FPlaced = true;
    }
    if (frame == FFrame && (FFrameKnown || !normal)) return;
    const int dw = frame.left() + frame.right() - FFrame.left() - FFrame.right();
    const int dh = frame.top() + frame.bottom() - FFrame.top() - FFrame.bottom();
    FFrame = frame;
    if (!normal || FFrameKnown) {
        // Another state's frame: the window system keeps the client size.
        FWidth += dw;
        FHeight += dh;
        return;
    }
    FFrameKnown = true;
    if (FOuterSizePending) {
        // A placement gave the outer size before the frame was known: the window keeps it
        // and the client area is that less the frame.
        FOuterSizePending = false;
        FWidth = FNormalBounds.width();
        FHeight = FNormalBounds.height();
    } else {
        // Designed sizes are client sizes: the outer size is that plus the frame.
        FWidth += dw;
        FHeight += dh;
    }
    if (FRecentre) {
        FRecentre = false;
        const QScreen* screen = FWidget->screen() ? FWidget->screen() : QGuiApplication::primaryScreen();
        if (screen) {
            const QRect s = screen->availableGeometry();
            FLeft = s.left() + (s.width() - FWidth) / 2;
            FTop = s.top() + (s.height() - FHeight) / 2;
        }
    }
    FNormalBounds = BoundsRect();
    ApplyGeometry();
    LayoutWindow();
}

void TCustomForm::ScheduleNormalBounds() {
    if (FNormalScheduled) return;
    FNormalScheduled = true;
    // A window the user maximizes is often resized before it is said to be maximized: the
    // normal rectangle is taken once the events at hand are in, if the state is still normal.
    QTimer::singleShot(0, this, [this] {
        if (!FNormalScheduled) return;
        FNormalScheduled = false;
        if (FWidget && FWidget->isVisible() && FWindowState == wsNormal && !FOuterSizePending)
            FNormalBounds = BoundsRect();
    });
}

// ---------------------------------------------------------------------------

TApplication::TApplication() : TComponent(nullptr) {
    Application = this;
    qRegisterMetaType<TNotifyEvent>();
}

TApplication::~TApplication() {
    Destroying();
    DestroyComponents();
    FHelpViewer.reset();
    if (Application == this) Application = nullptr;
}

THelpViewer* TApplication::HelpViewer() {
    if (!FHelpViewer) FHelpViewer = std::make_unique<THelpViewer>();
    return FHelpViewer.get();
}

bool TApplication::HelpCommand(int command, int data) {
    Q_UNUSED(data);
    if (FHelpFile.isEmpty()) return false;
    switch (command) {
    case HELP_CONTENTS:
        return HelpViewer()->ShowContents(FHelpFile);
    case HELP_QUIT:
        if (FHelpViewer) FHelpViewer->Quit();
        return true;
    default:
        return false;
    }
}

bool TApplication::HelpContents() {
    return HelpCommand(HELP_CONTENTS, 0);
}

void TApplication::SetTitle(const QString& v) {
    // Only the task-bar text: Qt would append a display name to every window title,
    // and a window's title is its form's caption as it stands.
    FTitle = v;
}

void TApplication::Notification(TComponent* c, TOperation op) {
    TComponent::Notification(c, op);
    if (op == TOperation::opRemove && c == FMainForm) FMainForm = nullptr;
}

void TApplication::DestroyComponents() {
    while (ComponentCount() > 0)
        delete Components(ComponentCount() - 1);
}

void TApplication::EndSession() {
    // The sequence of the program's exit command: the main form closes (the forms save on
    // the way) and the message loop ends; the forms are destroyed after it and save again.
    if (FMainForm && !FMainForm->IsDestroying()) FMainForm->Close();
    // A main form that refused, or none yet: the session ends all the same.
    if (!FTerminated) Terminate();
}

void TApplication::Run() {
    FRunning = true;
    if (FMainForm && !FTerminated)
        Guard([&] {
            FMainForm->Show();
            // The main window starts active, also where no window manager activates it.
            if (QWidget* w = FMainForm->Widget()) w->activateWindow();
        });
    if (!FTerminated) QApplication::exec();
    FRunning = false;
}

void TApplication::Terminate() {
    FTerminated = true;
    // exit(), not quit(): Qt's quit asks every window to close and gives up when
    // one refuses, and the forms have already run their own close sequence.
    QCoreApplication::exit(0);
}

void TApplication::ProcessMessages() {
    QCoreApplication::processEvents();
}

void TApplication::HandleException(std::exception_ptr error) {
    QString message;
    try {
        std::rethrow_exception(error);
    } catch (const Exception& e) {
        if (!e.Subject().isEmpty()) {
            if (FToldSubjects.contains(e.Subject())) return;
            FToldSubjects.insert(e.Subject());
        }
        message = e.Message();
    } catch (const std::exception& e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
        message = QStringLiteral("Unbekannter Fehler");
    }
    if (OnException) {
        OnException(message);
        return;
    }
    // A message box leaves no trace once dismissed; the error output keeps it.
    qWarning("%s", qUtf8Printable(message));
    QMessageBox::critical(nullptr, FTitle, message);
}

// ---------------------------------------------------------------------------

TScreen::TScreen(const QStringList& fonts, int pixelsPerInch)
    : TComponent(nullptr), FFonts(std::make_unique<TStrings>()) {
    Screen = this;
    FFonts->SetStrings(fonts);
    if (pixelsPerInch > 0)
        FPixelsPerInch = pixelsPerInch;
    else if (auto* s = QGuiApplication::primaryScreen())
        FPixelsPerInch = qRound(s->logicalDotsPerInchY());
}

TScreen::~TScreen() {
    if (FCursor != crDefault) QGuiApplication::restoreOverrideCursor();
    if (Screen == this) Screen = nullptr;
}

void TScreen::SetFaceMetrics(std::unique_ptr<TFaceMetrics> m) {
    FFaceMetrics = std::move(m);
    FLineHeights.clear();
    FQtFamilies.clear();
    if (!FFaceMetrics) return;
    QFont font = QGuiApplication::font();
    const QString family = QtFamily(font.family());
    if (family != font.family()) {
        font.setFamilies({family});
        QGuiApplication::setFont(font);
    }
}

// A family name without Qt's " [Foundry]" suffix, case-folded: how Qt compares them.
static QString FamilyKey(QString family) {
    if (family.endsWith(u']'))
        if (const qsizetype open = family.lastIndexOf(QStringLiteral(" [")); open > 0) family.truncate(open);
    return CaseFoldKey(family);
}

QString TScreen::QtFamily(const QString& name) {
    if (const auto it = FQtFamilies.constFind(name); it != FQtFamilies.cend()) return *it;
    if (FInstalledFolded.isEmpty()) {
        // Qt lists a family several foundries ship as "Family [Foundry]" and finds it by either.
        for (int i = 0; i < FFonts->Count(); ++i)
            FInstalledFolded.insert(FamilyKey(FFonts->Strings(i)));
        // Qt lists the generic names as families but looks them up like unknown names.
        for (const char* generic : {"serif", "sans serif", "monospace"})
            FInstalledFolded.remove(QString::fromLatin1(generic));
    }
    QString family = name;
    if (!FInstalledFolded.contains(FamilyKey(name)) && FFaceMetrics) {
        ++FFamilySubstitutions;
        const QString substitute = FFaceMetrics->substituteFamily(name);
        if (!substitute.isEmpty() && FInstalledFolded.contains(FamilyKey(substitute))) family = substitute;
    }
    FQtFamilies.insert(name, family);
    return family;
}

QString TScreen::QtFamily(const QString& name, bool bold, bool italic) {
    const QString family = QtFamily(name);
    if (!FFaceMetrics || family.endsWith(u']')) return family;
    const QString foundry = FFaceMetrics->preferredFoundry(family, bold, italic);
    return foundry.isEmpty() ? family : family + QStringLiteral(" [") + foundry + u']';
}

QStringList TScreen::AddFonts(const QStringList& families) {
    QSet<QString> known;
    known.reserve(FFonts->Count());
    for (int i = 0; i < FFonts->Count(); ++i)
        known.insert(FamilyKey(FFonts->Strings(i)));
    QStringList added;
    for (const QString& family : families) {
        const QString key = FamilyKey(family);
        if (family.isEmpty() || known.contains(key)) continue;
        known.insert(key);
        added << family;
        FFonts->Add(family);
        if (!FInstalledFolded.isEmpty()) FInstalledFolded.insert(key);
    }
    // A name substituted before may be installed now.
    if (!added.isEmpty()) FQtFamilies.clear();
    return added;
}

QStringList DistinctFamilies(const QStringList& qtFamilies) {
    // Qt adds the bracket only where a name stands more than once; a family whose own
    // name ends in brackets keeps them.
    const auto base = [](const QString& family) -> QStringView {
        if (!family.endsWith(u']')) return {};
        const qsizetype open = family.lastIndexOf(QStringLiteral(" ["));
        return open > 0 ? QStringView(family).left(open) : QStringView();
    };
    QHash<QString, int> bracketed;
    for (const QString& family : qtFamilies)
        if (const QStringView b = base(family); !b.isEmpty()) ++bracketed[CaseFoldKey(b.toString())];
    QStringList result;
    result.reserve(qtFamilies.size());
    QSet<QString> seen;
    seen.reserve(qtFamilies.size());
    for (const QString& family : qtFamilies) {
        const QStringView b = base(family);
        const QString name =
            !b.isEmpty() && bracketed.value(CaseFoldKey(b.toString())) > 1 ? b.toString() : family;
        if (name.isEmpty()) continue;
        if (const QString key = CaseFoldKey(name); !seen.contains(key)) {
            seen.insert(key);
            result << name;
        }
    }
    return result;
}

void TScreen::SetCursor(TCursor value) {
    if (value == FCursor) return;
    if (FCursor != crDefault) QGuiApplication::restoreOverrideCursor();
    FCursor = value;
    if (FCursor != crDefault) QGuiApplication::setOverrideCursor(CursorShape(FCursor));
}

QCursor TScreen::CursorShape(TCursor id) const {
    if (auto it = FCursors.find(id); it != FCursors.end()) return it->second;
    switch (id) {
    case crNone:
        return QCursor(Qt::BlankCursor);
    case crCross:
        return QCursor(Qt::CrossCursor);
    case crIBeam:
        return QCursor(Qt::IBeamCursor);
    case crSizeNS:
        return QCursor(Qt::SizeVerCursor);
    case crSizeWE:
        return QCursor(Qt::SizeHorCursor);
    case crHourGlass:
        return QCursor(Qt::WaitCursor);
    case crNoDrop:
        return QCursor(Qt::ForbiddenCursor);
    case crHSplit:
        return QCursor(Qt::SplitHCursor);
    case crVSplit:
        return QCursor(Qt::SplitVCursor);
    case crHandPoint:
        return QCursor(Qt::PointingHandCursor);
    default:
        return QCursor(Qt::ArrowCursor);
    }
}

void TScreen::PrepareFontLineHeights(const QStringList& families, TFontStyles style) {
    if (FFaceMetrics) FFaceMetrics->prepare(families, style.testFlag(fsBold), style.testFlag(fsItalic));
}

int TScreen::FontLineHeight(const TFont& font) {
    const bool bold = font.Style().testFlag(fsBold), italic = font.Style().testFlag(fsItalic);
    const int px = std::max(1, font.PixelSize());
    if (FFaceMetrics)
        if (auto h = FFaceMetrics->lineHeight(font.Name(), px, bold, italic)) return *h;
    // A face the metrics index does not know: ask Qt once per font and remember.
    const QString key = font.Name() + u'|' + QString::number(px) + u'|' + QChar(bold ? u'b' : u'-') +
                        QChar(italic ? u'i' : u'-');
    auto it = FLineHeights.constFind(key);
    if (it != FLineHeights.constEnd()) return *it;
    const QFontMetrics fm(font.ToQFont());
    const int h = fm.ascent() + fm.descent();
    FLineHeights.insert(key, h);
    return h;
}
