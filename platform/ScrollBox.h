// The scroll box: a container whose children move as it scrolls.
#pragma once

#include "Controls.h"

#include <QTimer>

#include <functional>
#include <vector>

class QScrollBar;

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

// A scrolling container. Children's positions are relative to the visible origin, so
// scrolling moves them. Only children in or near view get a widget, and a scroll step
// touches only those: a box with thousands of children costs no more to show or scroll
// than one with a few.
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
    void ChildRealized(TControl* c) override;
    // Gives widgets to the children in view (and soon after to those within half a
    // page of it), takes them from the rest.
    void UpdateRealized();
    bool ViewShowing() const;
    // The view and half a page above and below it: the children that keep their widgets.
    int BandTop() const { return -ClientHeight() / 2; }
    int BandBottom() const { return ClientHeight() + ClientHeight() / 2; }
    // Takes the widgets from the children outside [top, bottom) that can let theirs go.
    void ReleaseOutside(int top, int bottom);
    void ScheduleBand(bool afterPause);
    void FillBand();
    // Calls f for each visible child that reaches into [top, bottom) of the view, found
    // through the children ordered by position, not by looking at each.
    void ForEachWithin(int top, int bottom, const std::function<bool(TControl*)>& f);
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
    // Starts filling the band.
    QTimer FBandTimer;
    static constexpr int kBandPauseMs = 30;
    // The children by top (the order scrolling keeps), rebuilt when a child moves, comes or goes.
    std::vector<TControl*> FByTop;
    int FTallest = 0;
    bool FIndexDirty = true;
    // The children that have a widget (and perhaps some that lost it since).
    std::vector<TControl*> FRealized;
    QPointer<QScrollBar> FScrollBar;
    QPointer<QWidget> FViewport;
};
