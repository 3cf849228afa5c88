// A bar between two aligned controls that resizes one of them by dragging.
#pragma once

#include "ExtCtrls.h"
#include "Forms.h"

#include <QPointer>

using TSplitterMoveEvent = TEvent<TObject*, int, int, bool&>;
Q_DECLARE_METATYPE(TSplitterMoveEvent)

class TRxSplitter : public TCustomPanel {
    Q_OBJECT
    Q_PROPERTY(TControl* ControlFirst READ ControlFirst WRITE SetControlFirst)
    Q_PROPERTY(TControl* ControlSecond READ ControlSecond WRITE SetControlSecond)
    Q_PROPERTY(Types::TAlign Align READ Align WRITE SetAlign)
    Q_PROPERTY(Types::TPanelBevel BevelInner READ BevelInner WRITE SetBevelInner)
    Q_PROPERTY(Types::TPanelBevel BevelOuter READ BevelOuter WRITE SetBevelOuter)
    Q_PROPERTY(int BevelWidth READ BevelWidth WRITE SetBevelWidth)
    Q_PROPERTY(Types::TFormBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(int Color READ Color WRITE SetColor)
    Q_PROPERTY(bool Ctl3D READ Ctl3D WRITE SetCtl3D)
    Q_PROPERTY(int Cursor READ Cursor WRITE SetCursor)
    Q_PROPERTY(int TopLeftLimit READ TopLeftLimit WRITE SetTopLeftLimit)
    Q_PROPERTY(int BottomRightLimit READ BottomRightLimit WRITE SetBottomRightLimit)
    Q_PROPERTY(bool ParentColor READ ParentColor WRITE SetParentColor)
    Q_PROPERTY(bool ParentCtl3D READ ParentCtl3D WRITE SetParentCtl3D)
    Q_PROPERTY(bool ParentShowHint READ ParentShowHint WRITE SetParentShowHint)
    Q_PROPERTY(bool ShowHint READ ShowHint WRITE SetShowHint)
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)
    Q_PROPERTY(TNotifyEvent OnPosChanged READ OnPosChanged WRITE SetOnPosChanged)
    Q_PROPERTY(TSplitterMoveEvent OnPosChanging READ OnPosChanging WRITE SetOnPosChanging)
    Q_PROPERTY(TNotifyEvent OnClick READ OnClick WRITE SetOnClick)
    Q_PROPERTY(TNotifyEvent OnDblClick READ OnDblClick WRITE SetOnDblClick)
    Q_PROPERTY(TNotifyEvent OnEnter READ OnEnter WRITE SetOnEnter)
    Q_PROPERTY(TNotifyEvent OnExit READ OnExit WRITE SetOnExit)
    Q_PROPERTY(TMouseEvent OnMouseDown READ OnMouseDown WRITE SetOnMouseDown)
    Q_PROPERTY(TMouseMoveEvent OnMouseMove READ OnMouseMove WRITE SetOnMouseMove)
    Q_PROPERTY(TMouseEvent OnMouseUp READ OnMouseUp WRITE SetOnMouseUp)
    Q_PROPERTY(TNotifyEvent OnResize READ OnResize WRITE SetOnResize)
public:
    enum TSplitterResizeMode : unsigned char {
        rmNone,
        rmFirstHeight,
        rmSecondHeight,
        rmFirstWidth,
        rmSecondWidth
    };
    Q_ENUM(TSplitterResizeMode)

    explicit TRxSplitter(TComponent* AOwner);
    ~TRxSplitter() override;

    TControl* ControlFirst() const { return FControlFirst; }
    void SetControlFirst(TControl* value);
    TControl* ControlSecond() const { return FControlSecond; }
    void SetControlSecond(TControl* value);
    void SetAlign(TAlign value) override;
    // The cursor of the current resize mode, whatever the widget shows.
    TCursor Cursor() const;
    bool Ctl3D() const { return FCtl3D; }
    void SetCtl3D(bool value) { FCtl3D = value; }
    bool ParentCtl3D() const { return FParentCtl3D; }
    void SetParentCtl3D(bool value) { FParentCtl3D = value; }
    bool ParentShowHint() const { return FParentShowHint; }
    void SetParentShowHint(bool value) { FParentShowHint = value; }
    int TopLeftLimit() const { return FTopLeftLimit; }
    void SetTopLeftLimit(int value) { FTopLeftLimit = value; }
    int BottomRightLimit() const { return FBottomRightLimit; }
    void SetBottomRightLimit(int value) { FBottomRightLimit = value; }

    TNotifyEvent OnPosChanged() const { return FOnPosChanged; }
    void SetOnPosChanged(const TNotifyEvent& e) { FOnPosChanged = e; }
    TSplitterMoveEvent OnPosChanging() const { return FOnPosChanging; }
    void SetOnPosChanging(const TSplitterMoveEvent& e) { FOnPosChanging = e; }

    // Which control a drag resizes, from the alignments as they are now.
    TSplitterResizeMode ResizeMode() const;
    bool Tracking() const { return FTracking; }
    // The child of the parent just outside the bar's leading side, if any.
    TControl* FindAdjacentControl() const;

    bool ReadDefinedProperty(const QString& name, const QVariant& value) override;
    void Loaded() override;
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;

protected:
    void Notification(TComponent* AComponent, TOperation operation) override;
    bool WidgetEvent(QEvent* event) override;
    virtual void PosChanged();
    virtual void PosChanging(int x, int y, bool& allowChange);

private:
    enum class TLineMode { Draw, Erase, Move };

    void UpdateCursor();
    bool Horizontal() const { return FTrackMode == rmFirstHeight || FTrackMode == rmSecondHeight; }
    void BeginTrack(TMouseButton button);
    void TrackMove(int x, int y);
    void EndTrack(int x, int y, bool apply);
    void FinishTrack(int x, int y, bool allowChange, bool apply);
    void StopTracking();
    void RemoveLine();
    void ShowTrackLine(int x, int y, TLineMode mode);
    void InvertLine(QPoint screenPos);
    void ClampToLimits(int& x, int& y) const;
    void TrackKeyDown(TObject* sender, Word& key, TShiftState shift);

    TControl* FControlFirst = nullptr;
    TControl* FControlSecond = nullptr;
    bool FTracking = false;
    TSplitterResizeMode FTrackMode = rmNone;
    QPoint FLastLinePos;
    bool FLimitCursorShown = false;
    // Allowed positions in client coordinates; the right and bottom bounds are inclusive.
    int FLimitLeft = 0, FLimitTop = 0, FLimitRight = 0, FLimitBottom = 0;
    int FTopLeftLimit = 20;
    int FBottomRightLimit = 20;
    QPointer<TCustomForm> FTrackForm;
    // The layer the line is drawn on, over the form's controls; lives for one drag.
    QPointer<QWidget> FTrackLine;
    int FLineWidth = 2;
    // The attachments when the drag began: a drag whose controls went away resizes nothing.
    const TControl* FPressFirst = nullptr;
    const TControl* FPressSecond = nullptr;
    QPointer<TWinControl> FKeyTarget;
    TKeyEvent FSavedKeyDown;
    bool FCtl3D = false;
    bool FParentCtl3D = false;
    bool FParentShowHint = true;
    TNotifyEvent FOnPosChanged;
    TSplitterMoveEvent FOnPosChanging;
};
