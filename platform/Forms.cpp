#include "Forms.h"

#include "DefinitionReader.h"

#include <QApplication>
#include <QBackingStore>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QWindow>

Q_LOGGING_CATEGORY(lcPaint, "glyvex.paint", QtWarningMsg)

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
    ReadDefinitionFile(this, PublishedMethods(), resource);
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
