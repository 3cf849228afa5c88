// Common controls: track bar, page control with tab sheets, status bar, progress bar.
#pragma once

#include "Controls.h"

#include <QElapsedTimer>

class QSlider;
class QTabWidget;

class TTrackBar : public TWinControl {
    Q_OBJECT
    Q_PROPERTY(int Min READ Min WRITE SetMin)
    Q_PROPERTY(int Max READ Max WRITE SetMax)
    Q_PROPERTY(int Position READ Position WRITE SetPosition)
    Q_PROPERTY(int Frequency READ Frequency WRITE SetFrequency)
    Q_PROPERTY(Types::TTickMark TickMarks READ TickMarks WRITE SetTickMarks)
    Q_PROPERTY(Types::TTrackBarOrientation Orientation READ Orientation WRITE SetOrientation)
    Q_PROPERTY(TNotifyEvent OnChange READ OnChange WRITE SetOnChange)
public:
    explicit TTrackBar(TComponent* AOwner);
    int Min() const { return FMin; }
    void SetMin(int v);
    int Max() const { return FMax; }
    void SetMax(int v);
    int Position() const { return FPosition; }
    // Clamps into Min..Max. Setting the position in code does not fire OnChange.
    void SetPosition(int v);
    int Frequency() const { return FFrequency; }
    void SetFrequency(int v);
    TTickMark TickMarks() const { return FTickMarks; }
    void SetTickMarks(TTickMark v);
    TTrackBarOrientation Orientation() const { return FOrientation; }
    void SetOrientation(TTrackBarOrientation v);
    TNotifyEvent OnChange() const { return FOnChange; }
    void SetOnChange(const TNotifyEvent& e) { FOnChange = e; }
    // What the user's movement does: moves the thumb, then fires OnChange.
    void MoveByUser(int v);

protected:
    QWidget* CreateWidget(QWidget* parentWidget) override;
    void ApplyToSlider();
    QSlider* Slider() const;
    int FMin = 0, FMax = 10, FPosition = 0, FFrequency = 1;
    TTickMark FTickMarks = tmBottomRight;
    TTrackBarOrientation FOrientation = trHorizontal;
    bool FSetting = false;
    TNotifyEvent FOnChange;
};

class TPageControl;

class TTabSheet : public TWinControl {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
public:
    explicit TTabSheet(TComponent* AOwner);
    TPageControl* PageControl() const;
    int PageIndex() const;

protected:
    void CaptionChanged() override;
    void VisibleChanged() override {}
    // The tab widget's page stack places the widget; the bounds are kept in the
    // page control's coordinates, which are not the stack's.
    void ApplyGeometry() override {}
    bool WidgetEvent(QEvent* event) override;
};

class TPageControl : public TWinControl {
    Q_OBJECT
    Q_PROPERTY(TTabSheet* ActivePage READ ActivePage WRITE SetActivePage)
    Q_PROPERTY(TNotifyEvent OnChange READ OnChange WRITE SetOnChange)
public:
    explicit TPageControl(TComponent* AOwner);
    int PageCount() const { return int(FPages.size()); }
    TTabSheet* Pages(int index) const { return FPages.at(size_t(index)); }
    int IndexOfPage(const TTabSheet* page) const;
    TTabSheet* ActivePage() const { return FActivePage; }
    // Changing the page in code does not fire OnChange.
    void SetActivePage(TTabSheet* page);
    int ActivePageIndex() const { return IndexOfPage(FActivePage); }
    TNotifyEvent OnChange() const { return FOnChange; }
    void SetOnChange(const TNotifyEvent& e) { FOnChange = e; }
    // What the user's click on a tab does: shows the page, then fires OnChange.
    void SelectByUser(TTabSheet* page);
    void AlignControls() override;
    void Loaded() override;

protected:
    friend class TTabSheet;
    QWidget* CreateWidget(QWidget* parentWidget) override;
    void InsertControl(TControl* c) override;
    void RemoveControl(TControl* c) override;
    void CreateChildHandles() override;
    void Notification(TComponent* c, TOperation op) override;
    QTabWidget* Tabs() const;
    void ShowActive();
    // The page area inside the frame and below the tabs.
    QRect DisplayRect() const;

    std::vector<TTabSheet*> FPages;
    TTabSheet* FActivePage = nullptr;
    bool FSetting = false;
    TNotifyEvent FOnChange;
};

class TStatusPanel : public TCollectionItem {
    Q_OBJECT
    Q_PROPERTY(int Width READ Width WRITE SetWidth)
    Q_PROPERTY(QString Text READ Text WRITE SetText)
public:
    explicit TStatusPanel(std::function<void()> changed) : FChanged(std::move(changed)) {}
    int Width() const { return FWidth; }
    void SetWidth(int v) {
        FWidth = v;
        FChanged();
    }
    QString Text() const { return FText; }
    void SetText(const QString& v) {
        FText = v;
        FChanged();
    }

private:
    int FWidth = 50;
    QString FText;
    std::function<void()> FChanged;
};

class TStatusPanels : public TCollection {
    Q_OBJECT
public:
    using TCollection::TCollection;
    TStatusPanel* Items(int index) const { return static_cast<TStatusPanel*>(Item(index)); }

protected:
    std::unique_ptr<TCollectionItem> NewItem() override;
};

class TStatusBar : public TWinControl {
    Q_OBJECT
    Q_PROPERTY(TStatusPanels* Panels READ Panels)
    Q_PROPERTY(bool SimplePanel READ SimplePanel WRITE SetSimplePanel)
    Q_PROPERTY(QString SimpleText READ SimpleText WRITE SetSimpleText)
public:
    explicit TStatusBar(TComponent* AOwner);
    ~TStatusBar() override;
    TStatusPanels* Panels() const { return FPanels.get(); }
    bool SimplePanel() const { return FSimplePanel; }
    void SetSimplePanel(bool v);
    QString SimpleText() const { return FSimpleText; }
    void SetSimpleText(const QString& v);

protected:
    void Paint(QPainter& p) override;
    std::unique_ptr<TStatusPanels> FPanels;
    bool FSimplePanel = false;
    QString FSimpleText;
};

class TProgressBar : public TWinControl {
    Q_OBJECT
    Q_PROPERTY(int Min READ Min WRITE SetMin)
    Q_PROPERTY(int Max READ Max WRITE SetMax)
    Q_PROPERTY(int Position READ Position WRITE SetPosition)
public:
    explicit TProgressBar(TComponent* AOwner);
    int Min() const { return FMin; }
    void SetMin(int v);
    int Max() const { return FMax; }
    void SetMax(int v);
    int Position() const { return FPosition; }
    // Clamped into Min..Max, as the bar shows it.
    void SetPosition(int v);

protected:
    // Painted here rather than by QProgressBar, which repaints synchronously on
    // every visible step and would make a refresh of thousands of fields slow.
    void Paint(QPainter& p) override;
    // Shows the current position.
    virtual void Apply();
    int FMin = 0, FMax = 100, FPosition = 0;
    QElapsedTimer FLastPaint;
};
