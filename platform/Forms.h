// Forms, the scroll box, and the program-wide application and screen objects.
#pragma once

#include "Controls.h"
#include "Menus.h"

#include <QCursor>
#include <QHash>
#include <QSet>

#include <map>
#include <span>

class QScrollBar;
class TFaceMetrics;
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

class TControlScrollBar : public TPersistent {
    Q_OBJECT
    Q_PROPERTY(int Position READ Position WRITE SetPosition)
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)
public:
    explicit TControlScrollBar(class TScrollBox* box) : FBox(box) {}
    int Position() const;
    void SetPosition(int value);
    bool Visible() const { return FVisible; }
    void SetVisible(bool value);
    // Extent of the scrolled content.
    int Range() const;

private:
    class TScrollBox* FBox;
    bool FVisible = true;
};

// A scrolling container. Children keep their positions relative to the visible
// origin, so scrolling moves them. Only children in or near view get a widget:
// a box with thousands of children costs no more to show than one with a few.
class TScrollBox : public TWinControl {
    Q_OBJECT
    Q_PROPERTY(TControlScrollBar* HorzScrollBar READ HorzScrollBar)
    Q_PROPERTY(TControlScrollBar* VertScrollBar READ VertScrollBar)
    Q_PROPERTY(Types::TFormBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
public:
    explicit TScrollBox(TComponent* AOwner);
    ~TScrollBox() override;
    TControlScrollBar* HorzScrollBar() const { return FHorz.get(); }
    TControlScrollBar* VertScrollBar() const { return FVert.get(); }
    TFormBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TFormBorderStyle v);

    int ClientWidth() const override;
    int ClientHeight() const override;
    QWidget* ClientWidget() const override;
    int ScrollPosition() const { return FPosition; }
    void ScrollTo(int position);
    int ContentHeight() const;
    int MaxScrollPosition() const;
    // Number of children that currently have a widget (for measurements and tests).
    int RealizedCount() const;

protected:
    friend class TControlScrollBar;
    QWidget* CreateWidget(QWidget* parentWidget) override;
    void InitWidget(QWidget* w) override;
    bool WidgetEvent(QEvent* event) override;
    void CreateChildHandles() override;
    void ChildBoundsChanged(TControl* c) override;
    void VisibleChanged() override;
    void BoundsChanged(bool sizeChanged) override;
    void InsertControl(TControl* c) override;
    void RemoveControl(TControl* c) override;
    // Gives widgets to the children in view (and soon after to those within half a
    // page of it), takes them from the rest.
    void UpdateRealized();
    void ScheduleBand();
    void ScheduleUpdate();
    void UpdateScrollBar();
    int BorderWidth() const { return FBorderStyle == bsSingle ? 2 : 0; }
    bool ScrollBarShown() const;

    std::unique_ptr<TControlScrollBar> FHorz, FVert;
    TFormBorderStyle FBorderStyle = bsSingle;
    int FPosition = 0;
    mutable int FContentHeight = 0;
    mutable bool FContentDirty = true;
    bool FUpdateScheduled = false;
    bool FBandScheduled = false;
    QPointer<QScrollBar> FScrollBar;
    QPointer<QWidget> FViewport;
};

// ---------------------------------------------------------------------------
// Handlers are bound to events by name when a form is read; each form class
// publishes its handlers in a table of these.

struct TMethodBinding {
    const char* Name;
    QVariant (*Make)(QObject* form);
};

template <class T> struct MethodTraits;
template <class C, class... A> struct MethodTraits<void (C::*)(A...)> {
    using Class = C;
    using Event = TEvent<A...>;
};

template <auto M> QVariant BindMethod(QObject* form) {
    using Traits = MethodTraits<decltype(M)>;
    return QVariant::fromValue(typename Traits::Event(static_cast<typename Traits::Class*>(form), M));
}

#define PUBLISHED_METHOD(Class, Method)                                                                      \
    TMethodBinding {                                                                                         \
#Method, &BindMethod < &Class::Method>                                                               \
    }

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

class TScreen : public TComponent {
    Q_OBJECT
public:
    // fonts: the installed families as the font enumeration reports them.
    explicit TScreen(const QStringList& fonts, int pixelsPerInch = 0);
    ~TScreen() override;

    TStrings* Fonts() const { return FFonts.get(); }
    int PixelsPerInch() const { return FPixelsPerInch; }
    void SetPixelsPerInch(int v) { FPixelsPerInch = v; }
    TCursor Cursor() const { return FCursor; }
    void SetCursor(TCursor value);
    QCursor CursorShape(TCursor id) const;
    void SetCursors(TCursor id, const QCursor& cursor) { FCursors[id] = cursor; }
    bool HasCursor(TCursor id) const { return FCursors.contains(id) || id <= 0; }

    // Line height (ascent plus descent, pixels) of a font, from face metrics
    // without making a font engine; falls back to Qt's metrics once per font.
    int FontLineHeight(const TFont& font);
    // Reads ahead, on all cores, what FontLineHeight will need for these families in
    // this style (bold and italic count); a hint that changes no answer.
    void PrepareFontLineHeights(const QStringList& families, TFontStyles style);
    TFaceMetrics* FaceMetrics() const { return FFaceMetrics.get(); }
    // Also hands Qt's default font to QtFamily (menus and dialogs use it).
    void SetFaceMetrics(std::unique_ptr<TFaceMetrics> m);

    // The family name to give Qt for a font name: the name itself when it is an
    // installed family, otherwise the installed family the font configuration
    // substitutes for it (what Qt would end up showing too). Qt resolves a name it
    // does not list by filtering a fallback list of every installed family against
    // its own family list, which costs seconds with thousands of families; a generic
    // name ("Sans Serif") it lists but resolves the same way. Memoised per name.
    QString QtFamily(const QString& name);
    // The same for a style: a bare name of a family several foundries ship becomes
    // "Family [Foundry]" with the foundry of the face the font configuration prefers for
    // that style, which Qt then draws (given the bare name it picks one by its own rules).
    QString QtFamily(const QString& name, bool bold, bool italic);
    // Names QtFamily had to ask the font configuration about (for tests).
    int FamilySubstitutions() const { return FFamilySubstitutions; }

    // Adds families made available while the program runs (font files opened for the run);
    // returns those that were not installed yet, in the given order, each once.
    QStringList AddFonts(const QStringList& families);

private:
    std::unique_ptr<TStrings> FFonts;
    int FPixelsPerInch = 96;
    TCursor FCursor = crDefault;
    std::map<TCursor, QCursor> FCursors;
    std::unique_ptr<TFaceMetrics> FFaceMetrics;
    QHash<QString, int> FLineHeights;
    QSet<QString> FInstalledFolded; // case-folded family names, "[foundry]" dropped
    QHash<QString, QString> FQtFamilies;
    int FFamilySubstitutions = 0;
};

// Qt's family list with each family once: Qt lists a family several foundries ship once
// per foundry as "Family [Foundry]"; such entries become the bare name, and names that
// differ only in case count as one (the first spelling is kept). Linear in the list.
QStringList DistinctFamilies(const QStringList& qtFamilies);

// The program-wide objects; the main procedure (or a test) creates them.
extern TApplication* Application;
extern TScreen* Screen;
