// Forms and the program-wide application. Other layers reach the screen through this
// header too.
#pragma once

#include "Controls.h"
#include "DefinitionReader.h"
#include "Menus.h"
#include "Screen.h"

#include <QSet>

#include <span>

class THelpViewer;

using TCloseEvent = TEvent<TObject*, TCloseAction&>;
using TCloseQueryEvent = TEvent<TObject*, bool&>;
Q_DECLARE_METATYPE(TCloseEvent)
Q_DECLARE_METATYPE(TCloseQueryEvent)

inline constexpr int mrNone = 0, mrOk = 1, mrCancel = 2;

inline constexpr unsigned SW_HIDE = 0, SW_SHOWNORMAL = 1, SW_SHOWMINIMIZED = 2, SW_SHOWMAXIMIZED = 3;
inline constexpr unsigned WPF_SETMINPOSITION = 1;

// A window's placement: its normal (restored) rectangle as left, top, right,
// bottom of the outer frame, its show command, and the minimized and maximized
// positions with the flags.
struct TWindowPlacement {
    unsigned length = 44;
    unsigned flags = 0;
    unsigned showCmd = SW_SHOWNORMAL;
    QPoint ptMinPosition{-1, -1};
    QPoint ptMaxPosition{-1, -1};
    int normalLeft = 0, normalTop = 0, normalRight = 0, normalBottom = 0;
};

// ---------------------------------------------------------------------------
class TCustomForm : public TWinControl {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(int ClientWidth READ ClientWidth WRITE SetClientWidth STORED false)
    Q_PROPERTY(int ClientHeight READ ClientHeight WRITE SetClientHeight STORED false)
    Q_PROPERTY(Types::TFormBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
    Q_PROPERTY(Types::TBorderIcons BorderIcons READ BorderIcons WRITE SetBorderIcons)
    Q_PROPERTY(Types::TFormStyle FormStyle READ FormStyle WRITE SetFormStyle)
    Q_PROPERTY(Types::TPosition Position READ Position WRITE SetPosition)
    Q_PROPERTY(Types::TWindowState WindowState READ WindowState WRITE SetWindowState)
    Q_PROPERTY(bool KeyPreview READ KeyPreview WRITE SetKeyPreview)
    Q_PROPERTY(bool Scaled READ Scaled WRITE SetScaled)
    Q_PROPERTY(TWinControl* ActiveControl READ ActiveControl WRITE SetActiveControl)
    Q_PROPERTY(TMainMenu* Menu READ Menu WRITE SetMenu)
    Q_PROPERTY(TNotifyEvent OnCreate READ OnCreate WRITE SetOnCreate)
    Q_PROPERTY(TNotifyEvent OnDestroy READ OnDestroy WRITE SetOnDestroy)
    Q_PROPERTY(TNotifyEvent OnShow READ OnShow WRITE SetOnShow)
    Q_PROPERTY(TNotifyEvent OnHide READ OnHide WRITE SetOnHide)
    Q_PROPERTY(TCloseEvent OnClose READ OnClose WRITE SetOnClose)
    Q_PROPERTY(TCloseQueryEvent OnCloseQuery READ OnCloseQuery WRITE SetOnCloseQuery)
public:
    explicit TCustomForm(TComponent* AOwner);
    ~TCustomForm() override;

    // Creates a form of class T and runs its creation handler.
    template <class T> static T* Create(TComponent* owner) {
        auto* f = new T(owner);
        f->DoCreate();
        return f;
    }

    // Width and Height are the outer size, frame included once the window manager has
    // framed the window; until then they are the client size (plus the menu bar), which is
    // what a form's designed size gives.
    int ClientWidth() const override;
    int ClientHeight() const override;
    void SetClientWidth(int v) { SetWidth(v + FWidth - ClientWidth()); }
    void SetClientHeight(int v) { SetHeight(v + FHeight - ClientHeight()); }
    QPoint ClientOrigin() const override { return {}; }

    TFormBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TFormBorderStyle v);
    TBorderIcons BorderIcons() const { return FBorderIcons; }
    void SetBorderIcons(TBorderIcons v);
    TFormStyle FormStyle() const { return FFormStyle; }
    void SetFormStyle(TFormStyle v);
    TPosition Position() const { return FPosition; }
    void SetPosition(TPosition v) { FPosition = v; }
    TWindowState WindowState() const { return FWindowState; }
    void SetWindowState(TWindowState v);
    bool KeyPreview() const { return FKeyPreview; }
    void SetKeyPreview(bool v) { FKeyPreview = v; }
    bool Scaled() const { return FScaled; }
    void SetScaled(bool v) { FScaled = v; }
    TWinControl* ActiveControl() const;
    void SetActiveControl(TWinControl* c);
    // The main menu shown as the window's menu bar.
    TMainMenu* Menu() const { return static_cast<TMainMenu*>(FMenu.data()); }
    void SetMenu(TMainMenu* menu);
    int ModalResult() const { return FModalResult; }
    // Ends a modal showing (after the close checks) when v is not mrNone.
    void SetModalResult(int v);

    TNotifyEvent OnCreate() const { return FOnCreate; }
    void SetOnCreate(const TNotifyEvent& e) { FOnCreate = e; }
    TNotifyEvent OnDestroy() const { return FOnDestroy; }
    void SetOnDestroy(const TNotifyEvent& e) { FOnDestroy = e; }
    TNotifyEvent OnShow() const { return FOnShow; }
    void SetOnShow(const TNotifyEvent& e) { FOnShow = e; }
    TNotifyEvent OnHide() const { return FOnHide; }
    void SetOnHide(const TNotifyEvent& e) { FOnHide = e; }
    TCloseEvent OnClose() const { return FOnClose; }
    void SetOnClose(const TCloseEvent& e) { FOnClose = e; }
    TCloseQueryEvent OnCloseQuery() const { return FOnCloseQuery; }
    void SetOnCloseQuery(const TCloseQueryEvent& e) { FOnCloseQuery = e; }

    void Close();
    virtual bool CloseQuery();
    int ShowModal();
    // Paints the window at once, without running the message loop.
    void Update();
    // Whether the window system shows the form's window, so that it has painted or will
    // at once: work that would delay the first paint waits for this.
    bool Exposed() const;
    void SetVisible(bool value) override;
    void DoCreate();
    virtual std::span<const TMethodBinding> PublishedMethods() const { return {}; }
    // The menu bar widget shown above the client area (the main menu provides it).
    void SetMenuBarWidget(QWidget* w);
    QWidget* ClientWidget() const override;
    void SetParent(TWinControl* value) override;
    void HandleNeeded() override;
    void SetBounds(int left, int top, int width, int height) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    // The show command follows the window state; the minimized and maximized
    // positions and the flags, which the window system does not keep, are the
    // form's and come back as they were set. Show command 0 leaves the state alone.
    TWindowPlacement GetWindowPlacement() const;
    void SetWindowPlacement(const TWindowPlacement& wp);
    // Asks for the size limits (WM_GETMINMAXINFO through the widget's filter
    // chain, so hooks may change them) and gives them to the window system.
    void ApplySizeLimits();

protected:
    // Reads the form's stored definition from a compiled-in resource.
    void ReadDefinition(const QString& resource);
    // Points a field of the form class at the component of that name.
    template <class T> void BindComponent(T*& field, const char* name) {
        field = dynamic_cast<T*>(FindComponent(QString::fromLatin1(name)));
        if (!field)
            throw EReadError(QStringLiteral("Komponente %1 fehlt in %2").arg(QLatin1String(name), Name()));
    }
    QWidget* CreateWidget(QWidget* parentWidget) override;
    void InitWidget(QWidget* w) override;
    void CaptionChanged() override;
    void ApplyWindowFlags();
    void ApplyGeometry() override;
    bool WidgetEvent(QEvent* event) override;
    void Notification(TComponent* AComponent, TOperation operation) override;
    // OnDestroy runs here, while the form is whole: when its owner is destroyed or it is
    // deleted. A form ended without delete gets none.
    void BeforeDestruction() override;
    virtual void DoShow();
    virtual void DoHide();
    int MenuBarHeight() const;
    // Places the menu bar and client area in the window and lays the children out
    // again when the client size changed.
    void LayoutWindow();
    // Reads the frame the window manager drew (once the window is exposed, so framed) and
    // keeps the client size, or the outer size a placement gave before the frame was known.
    void LearnFrame();
    void ScheduleLearnFrame();
    // Notes the outer rectangle as the normal one, once the events of a state change are in.
    void ScheduleNormalBounds();
    bool ShownNormal() const;
    QSize FAlignedClient;

    TFormBorderStyle FBorderStyle = bsSizeable;
    TBorderIcons FBorderIcons = TBorderIcons(biSystemMenu | biMinimize | biMaximize);
    TFormStyle FFormStyle = fsNormal;
    TPosition FPosition = poDesigned;
    TWindowState FWindowState = wsNormal;
    bool FKeyPreview = false;
    bool FScaled = true;
    bool FShownOnce = false;
    bool FPlaced = false; // has a position of its own (designed, centred, set, or moved)
    bool FInShowHide = false;
    int FModalResult = mrNone;
    class QEventLoop* FModalLoop = nullptr;
    QMargins FFrame;          // the window manager's frame in the current state, once known
    bool FFrameKnown = false; // the frame of the normal state is known
    QRect FNormalBounds;      // the outer rectangle in the normal state
    bool FRecentre = false;   // centred before the frame was known: centred again once it is
    bool FLearnScheduled = false;
    bool FNormalScheduled = false;
    QPointer<QWidget> FClient;
    QPointer<QWidget> FMenuBar;
    QPointer<TWinControl> FActiveControl;
    // As a component: while the menu is destroyed it is no longer a TMainMenu.
    QPointer<TComponent> FMenu;
    unsigned FPlacementFlags = 0;
    bool FOuterSizePending = false; // a placement's outer size waits for the frame to be known
    QPoint FMinPosition{-1, -1}, FMaxPosition{-1, -1};
    TNotifyEvent FOnCreate, FOnDestroy, FOnShow, FOnHide;
    TCloseEvent FOnClose;
    TCloseQueryEvent FOnCloseQuery;
};

class TForm : public TCustomForm {
    Q_OBJECT
public:
    using TCustomForm::TCustomForm;
};

// ---------------------------------------------------------------------------

class TApplication : public TComponent {
    Q_OBJECT
public:
    TApplication();
    ~TApplication() override;

    QString Title() const { return FTitle; }
    void SetTitle(const QString& v);
    QString HelpFile() const { return FHelpFile; }
    void SetHelpFile(const QString& v) { FHelpFile = v; }
    // Runs a help command (HELP_CONTENTS, HELP_QUIT) on the current help file;
    // false when there is no help file or the command did not succeed.
    bool HelpCommand(int command, int data);
    // Shows the contents of the current help file.
    bool HelpContents();
    THelpViewer* HelpViewer();
    TCustomForm* MainForm() const { return FMainForm; }

    // Creates a form; the first form made this way becomes the main form. The
    // reference is set before the creation handler runs, as handlers use it.
    template <class T> void CreateForm(T*& reference) {
        auto* f = new T(this);
        reference = f;
        f->DoCreate();
        if (!FMainForm) FMainForm = f;
    }

    void Run();
    bool Running() const { return FRunning; }
    void Terminate();
    // The end of the user's session: the main form closes as by the exit command, and the
    // message loop ends even if it refuses.
    void EndSession();
    // Destroys the forms (and every other component the application owns), last made first.
    void DestroyComponents();
    bool Terminated() const { return FTerminated; }
    void ProcessMessages();

    // Shows the error's message and writes it to the error output; an error about a
    // subject already told of in this run is not shown again.
    void HandleException(std::exception_ptr error);
    // Replaces the message box (tests read the message this way).
    std::function<void(const QString&)> OnException;

protected:
    void Notification(TComponent* c, TOperation op) override;

private:
    QString FTitle;
    QString FHelpFile;
    QSet<QString> FToldSubjects;
    std::unique_ptr<THelpViewer> FHelpViewer;
    TCustomForm* FMainForm = nullptr;
    bool FRunning = false;
    bool FTerminated = false;
};

// The program-wide application; the main procedure (or a test) creates it. The screen is
// in Screen.h.
extern TApplication* Application;
