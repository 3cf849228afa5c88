// Visual controls: bounds within a parent, alignment layout, fonts, cursors,
// mouse and keyboard events. Every control wraps one Qt widget that is made
// only when it is needed, so a control can exist (and be measured) without one.
#pragma once

#include "Graphics.h"
#include "Keys.h"
#include "Menus.h"
#include "Messages.h"

#include <QPointer>
#include <QRect>
#include <QWidget>

using TMouseEvent = TEvent<TObject*, TMouseButton, TShiftState, int, int>;
using TMouseMoveEvent = TEvent<TObject*, TShiftState, int, int>;
using TKeyEvent = TEvent<TObject*, Word&, TShiftState>;
Q_DECLARE_METATYPE(TMouseEvent)
Q_DECLARE_METATYPE(TMouseMoveEvent)
Q_DECLARE_METATYPE(TKeyEvent)

TShiftState ShiftStateOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons = {});

class TWinControl;
class TCustomForm;

class TControl : public TComponent {
    Q_OBJECT
    Q_PROPERTY(int Left READ Left WRITE SetLeft)
    Q_PROPERTY(int Top READ Top WRITE SetTop)
    Q_PROPERTY(int Width READ Width WRITE SetWidth)
    Q_PROPERTY(int Height READ Height WRITE SetHeight)
    Q_PROPERTY(Types::TAlign Align READ Align WRITE SetAlign)
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(bool ShowHint READ ShowHint WRITE SetShowHint)
    Q_PROPERTY(int Cursor READ Cursor WRITE SetCursor)
    Q_PROPERTY(int Color READ Color WRITE SetColor)
    Q_PROPERTY(bool ParentColor READ ParentColor WRITE SetParentColor)
    Q_PROPERTY(TFont* Font READ Font WRITE SetFont)
    Q_PROPERTY(bool ParentFont READ ParentFont WRITE SetParentFont)
    Q_PROPERTY(TPopupMenu* PopupMenu READ PopupMenu WRITE SetPopupMenu)
    Q_PROPERTY(TNotifyEvent OnClick READ OnClick WRITE SetOnClick)
    Q_PROPERTY(TNotifyEvent OnDblClick READ OnDblClick WRITE SetOnDblClick)
    Q_PROPERTY(TMouseEvent OnMouseDown READ OnMouseDown WRITE SetOnMouseDown)
    Q_PROPERTY(TMouseEvent OnMouseUp READ OnMouseUp WRITE SetOnMouseUp)
    Q_PROPERTY(TMouseMoveEvent OnMouseMove READ OnMouseMove WRITE SetOnMouseMove)
    Q_PROPERTY(TNotifyEvent OnResize READ OnResize WRITE SetOnResize)
public:
    explicit TControl(TComponent* AOwner);
    ~TControl() override;

    int Left() const { return FLeft; }
    // Relative to the parent's visible origin (a scrolling parent's children move as it scrolls).
    int Top() const { return FTop - ScrollOffset(); }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    void SetLeft(int v) { SetBounds(v, Top(), FWidth, FHeight); }
    void SetTop(int v) { SetBounds(FLeft, v, FWidth, FHeight); }
    void SetWidth(int v) { SetBounds(FLeft, Top(), v, FHeight); }
    void SetHeight(int v) { SetBounds(FLeft, Top(), FWidth, v); }
    virtual void SetBounds(int left, int top, int width, int height);
    QRect BoundsRect() const { return {FLeft, Top(), FWidth, FHeight}; }
    virtual QRect ClientRect() const { return {0, 0, ClientWidth(), ClientHeight()}; }
    virtual int ClientWidth() const { return FWidth; }
    virtual int ClientHeight() const { return FHeight; }
    void SetClientWidth(int v) { SetWidth(v + FWidth - ClientWidth()); }
    void SetClientHeight(int v) { SetHeight(v + FHeight - ClientHeight()); }
    QPoint ClientToScreen(QPoint p) const;
    QPoint ScreenToClient(QPoint p) const;
    // Origin of this control's client area in its parent's client coordinates.
    virtual QPoint ClientOrigin() const;

    TAlign Align() const { return FAlign; }
    virtual void SetAlign(TAlign value);
    bool Visible() const { return FVisible; }
    virtual void SetVisible(bool value);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    // Visible, and every parent up to a shown form visible too.
    bool Showing() const;
    bool Enabled() const { return FEnabled; }
    virtual void SetEnabled(bool value);
    QString Hint() const { return FHint; }
    void SetHint(const QString& value);
    bool ShowHint() const { return FShowHint; }
    void SetShowHint(bool value);
    TCursor Cursor() const { return FCursor; }
    virtual void SetCursor(TCursor value);
    TColor Color() const { return FColor; }
    void SetColor(TColor value);
    bool ParentColor() const { return FParentColor; }
    void SetParentColor(bool value);
    TFont* Font() const { return FFont.get(); }
    void SetFont(TFont* value) { FFont->Assign(value); }
    bool ParentFont() const { return FParentFont; }
    void SetParentFont(bool value);

    // The menu a right click (or the menu key) shows at the pointer.
    TPopupMenu* PopupMenu() const { return FPopupMenu.data(); }
    void SetPopupMenu(TPopupMenu* value) { FPopupMenu = value; }

    // The caption (or text) of captioned controls.
    QString Caption() const { return FCaption; }
    void SetCaption(const QString& value);

    TWinControl* Parent() const { return FParent; }
    virtual void SetParent(TWinControl* value);
    // A control nests in a windowed control; nesting it anywhere else is an error.
    void SetParentComponent(TComponent* parent) override;

    // Mouse capture: while a control holds the mouse, every mouse event goes to
    // it wherever the pointer is, and the pointer keeps the shape the control
    // showed when it took the mouse until the control changes it or lets go.
    bool MouseCapture() const;
    void SetMouseCapture(bool value);
    // Changes the pointer's shape at once while this control holds the mouse.
    void SetCaptureCursor(TCursor value);

    QWidget* Widget() const { return FWidget.data(); }
    bool HandleAllocated() const { return !FWidget.isNull(); }
    virtual void HandleNeeded();
    // Gives up the widget (its state stays in the control) and makes it again on demand.
    virtual void DestroyHandle();
    virtual bool CanReleaseHandle() const { return true; }
    // Makes the widget inside the given Qt parent (containers that place their
    // children's widgets themselves use this).
    void CreateWidgetIn(QWidget* parentWidget);
    // Sets the bounds without asking the parent to realign (used by layouts).
    void SetBoundsFromLayout(const QRect& r);
    // A scrolling parent hands its scroll position: from then on the control's top follows
    // it without being told of each step (nullptr: no longer). Thousands of children
    // scroll at the cost of those with a widget.
    void FollowScrolling(const int* position);
    // The scrolling parent moved: the widget goes where Top() now says.
    void ParentScrolled() { BoundsChanged(false); }
    void Repaint();
    void Invalidate();

    TNotifyEvent OnClick() const { return FOnClick; }
    void SetOnClick(const TNotifyEvent& e) { FOnClick = e; }
    TNotifyEvent OnDblClick() const { return FOnDblClick; }
    void SetOnDblClick(const TNotifyEvent& e) { FOnDblClick = e; }
    TMouseEvent OnMouseDown() const { return FOnMouseDown; }
    void SetOnMouseDown(const TMouseEvent& e) { FOnMouseDown = e; }
    TMouseEvent OnMouseUp() const { return FOnMouseUp; }
    void SetOnMouseUp(const TMouseEvent& e) { FOnMouseUp = e; }
    TMouseMoveEvent OnMouseMove() const { return FOnMouseMove; }
    void SetOnMouseMove(const TMouseMoveEvent& e) { FOnMouseMove = e; }
    TNotifyEvent OnResize() const { return FOnResize; }
    void SetOnResize(const TNotifyEvent& e) { FOnResize = e; }

    // What a user action does; the event-filter calls these, tests may too.
    virtual void Click();
    virtual void DblClick();
    virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseMove(TShiftState shift, int x, int y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);

    void Loaded() override;

protected:
    // Makes the Qt widget for this control, child of parentWidget.
    virtual QWidget* CreateWidget(QWidget* parentWidget);
    // Pushes the control's whole state into a fresh widget.
    virtual void InitWidget(QWidget* w);
    // Pulls state that the user may have changed out of the widget before it goes.
    virtual void SaveWidgetState() {}
    virtual void FontChanged();
    virtual void CaptionChanged() {}
    virtual void VisibleChanged();
    virtual void Resize();
    virtual void BoundsChanged(bool sizeChanged);
    virtual void ParentFontChanged();
    virtual void ParentColorChanged();
    virtual void Paint(QPainter&) {}
    // Asks the parent to lay its aligned children out again.
    void RequestAlign();
    virtual void ApplyGeometry();
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Destruction has begun: the widget's events and signals no longer reach us.
    void BeforeDestruction() override;
    virtual bool WidgetEvent(QEvent* event);
    // A left press and release inside the widget; controls whose widget reports
    // clicks itself (buttons, check boxes) fire from that signal instead.
    virtual void ClickFromWidget();

    int ScrollOffset() const { return FScrollPosition ? *FScrollPosition : 0; }

    // FTop is within the scrolled content for a child of a scrolling parent.
    int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
    const int* FScrollPosition = nullptr;
    TAlign FAlign = alNone;
    bool FVisible = true;
    bool FEnabled = true;
    bool FShowHint = false;
    bool FParentColor = true;
    bool FParentFont = true;
    bool FFontSetting = false;
    TCursor FCursor = crDefault;
    TColor FColor = clBtnFace;
    QString FHint;
    QString FCaption;
    std::unique_ptr<TFont> FFont;
    TWinControl* FParent = nullptr;
    QPointer<QWidget> FWidget;
    QPointer<TPopupMenu> FPopupMenu;
    bool FPressed = false;

private:
    friend class TWinControl;
    TNotifyEvent FOnClick, FOnDblClick, FOnResize;
    TMouseEvent FOnMouseDown, FOnMouseUp;
    TMouseMoveEvent FOnMouseMove;
};

// A control that paints itself on a plain widget.
class TPaintWidget : public QWidget {
public:
    explicit TPaintWidget(TControl* control, QWidget* parent, std::function<void(QPainter&)> paint);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    std::function<void(QPainter&)> FPaint;
};

class TWinControl : public TControl {
    Q_OBJECT
    Q_PROPERTY(bool TabStop READ TabStop WRITE SetTabStop)
    Q_PROPERTY(TKeyEvent OnKeyDown READ OnKeyDown WRITE SetOnKeyDown)
    Q_PROPERTY(TKeyEvent OnKeyUp READ OnKeyUp WRITE SetOnKeyUp)
    Q_PROPERTY(TNotifyEvent OnEnter READ OnEnter WRITE SetOnEnter)
    Q_PROPERTY(TNotifyEvent OnExit READ OnExit WRITE SetOnExit)
public:
    explicit TWinControl(TComponent* AOwner);
    ~TWinControl() override;

    int ControlCount() const { return int(FControls.size()); }
    TControl* Controls(int index) const { return FControls.at(size_t(index)); }
    bool ContainsControl(const TControl* c) const;

    bool TabStop() const { return FTabStop; }
    void SetTabStop(bool value);
    bool Focused() const;
    virtual void SetFocus();

    TKeyEvent OnKeyDown() const { return FOnKeyDown; }
    void SetOnKeyDown(const TKeyEvent& e) { FOnKeyDown = e; }
    TKeyEvent OnKeyUp() const { return FOnKeyUp; }
    void SetOnKeyUp(const TKeyEvent& e) { FOnKeyUp = e; }
    TNotifyEvent OnEnter() const { return FOnEnter; }
    void SetOnEnter(const TNotifyEvent& e) { FOnEnter = e; }
    TNotifyEvent OnExit() const { return FOnExit; }
    void SetOnExit(const TNotifyEvent& e) { FOnExit = e; }
    virtual void KeyDown(Word& key, TShiftState shift);
    virtual void KeyUp(Word& key, TShiftState shift);

    // The control's own handling of a platform message: the end of its widget's
    // filter chain, where hooks pass what they do not swallow.
    virtual void WndProc(TMessage& msg) { Q_UNUSED(msg); }
    // Sends a message through the widget's filter chain (straight to WndProc
    // while there is no widget) and returns its result.
    LRESULT Perform(unsigned msg, WPARAM wParam, LPARAM lParam);

    // The widget children are placed in (a form's client area, a page's body, ...).
    virtual QWidget* ClientWidget() const { return Widget(); }
    void HandleNeeded() override;
    void DestroyHandle() override;

    void DisableAlign() { ++FAlignLevel; }
    void EnableAlign();
    // Lays the children out again; `trigger`, the control whose change asked for
    // it, goes first among controls at the same position.
    void Realign(TControl* trigger = nullptr);
    // Lays the aligned children out in the client rectangle.
    virtual void AlignControls();
    // The part of the client rectangle that aligned children share.
    virtual QRect AdjustedClientRect() const { return ClientRect(); }

    void Loaded() override;

protected:
    friend class TControl;
    virtual void InsertControl(TControl* c);
    virtual void RemoveControl(TControl* c);
    virtual void CreateChildHandles();
    // A child's bounds changed (used by containers that track their content).
    virtual void ChildBoundsChanged(TControl*) {}
    // A child has just made its widget.
    virtual void ChildRealized(TControl*) {}
    void InitWidget(QWidget* w) override;
    void FontChanged() override;
    void BoundsChanged(bool sizeChanged) override;
    bool WidgetEvent(QEvent* event) override;

    std::vector<TControl*> FControls;
    bool FTabStop = false;
    int FAlignLevel = 0;
    bool FAligning = false;
    bool FAlignPending = false;
    TControl* FAlignTrigger = nullptr;

private:
    TKeyEvent FOnKeyDown, FOnKeyUp;
    TNotifyEvent FOnEnter, FOnExit;
};

// The form a control sits on, or nullptr.
TCustomForm* GetParentForm(const TControl* control);
// As GetParentForm, but a control that is not on a form is an error.
TCustomForm* ValidParentForm(const TControl* control);
