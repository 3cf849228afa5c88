// Panels, radio groups, framing boxes and pictures.
#pragma once

#include "Controls.h"

class TCustomPanel : public TWinControl {
    Q_OBJECT
public:
    explicit TCustomPanel(TComponent* AOwner);

    TPanelBevel BevelInner() const { return FBevelInner; }
    void SetBevelInner(TPanelBevel v);
    TPanelBevel BevelOuter() const { return FBevelOuter; }
    void SetBevelOuter(TPanelBevel v);
    int BevelWidth() const { return FBevelWidth; }
    void SetBevelWidth(int v);
    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int v);
    TFormBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TFormBorderStyle v);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment v);
    QRect AdjustedClientRect() const override;

protected:
    void Paint(QPainter& p) override;
    void CaptionChanged() override { Invalidate(); }
    void ParentColorChanged() override { Invalidate(); }
    void BevelsChanged();

    TPanelBevel FBevelInner = bvNone;
    TPanelBevel FBevelOuter = bvRaised;
    int FBevelWidth = 1;
    int FBorderWidth = 0;
    TFormBorderStyle FBorderStyle = bsNone;
    TAlignment FAlignment = taCenter;
};

class TPanel : public TCustomPanel {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(Types::TAlignment Alignment READ Alignment WRITE SetAlignment)
    Q_PROPERTY(Types::TPanelBevel BevelInner READ BevelInner WRITE SetBevelInner)
    Q_PROPERTY(Types::TPanelBevel BevelOuter READ BevelOuter WRITE SetBevelOuter)
    Q_PROPERTY(int BevelWidth READ BevelWidth WRITE SetBevelWidth)
    Q_PROPERTY(int BorderWidth READ BorderWidth WRITE SetBorderWidth)
    Q_PROPERTY(Types::TFormBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
public:
    using TCustomPanel::TCustomPanel;
};

// A framed group of radio buttons, one per line of Items.
class TRadioGroup : public TWinControl {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(TStrings* Items READ Items WRITE SetItems)
    Q_PROPERTY(int ItemIndex READ ItemIndex WRITE SetItemIndex)
public:
    explicit TRadioGroup(TComponent* AOwner);
    ~TRadioGroup() override;
    TStrings* Items() const { return FItems.get(); }
    void SetItems(TStrings* value) { FItems->Assign(value); }
    int ItemIndex() const { return FItemIndex; }
    // -1 selects nothing. Selecting in code does not fire OnClick.
    void SetItemIndex(int value);
    // What the user's click on button `index` does: selects it, then fires OnClick.
    void SelectByUser(int index);

protected:
    QWidget* CreateWidget(QWidget* parentWidget) override;
    void InitWidget(QWidget* w) override;
    void ApplyGeometry() override;
    void CaptionChanged() override;
    void ClickFromWidget() override {}
    void ItemsChanged();
    void UpdateButtons();
    void LayoutButtons();

    std::unique_ptr<TStrings> FItems;
    int FItemIndex = -1;
};

class TBevel : public TControl {
    Q_OBJECT
    Q_PROPERTY(Types::TBevelShape Shape READ Shape WRITE SetShape)
    Q_PROPERTY(Types::TBevelStyle Style READ Style WRITE SetStyle)
public:
    explicit TBevel(TComponent* AOwner);
    TBevelShape Shape() const { return FShape; }
    void SetShape(TBevelShape v);
    TBevelStyle Style() const { return FStyle; }
    void SetStyle(TBevelStyle v);

protected:
    QWidget* CreateWidget(QWidget* parentWidget) override;
    void Paint(QPainter& p) override;
    TBevelShape FShape = bsBox;
    TBevelStyle FStyle = bsLowered;
};

class TImage : public TControl {
    Q_OBJECT
    Q_PROPERTY(TPicture* Picture READ Picture WRITE SetPicture)
    Q_PROPERTY(bool Stretch READ Stretch WRITE SetStretch)
    Q_PROPERTY(bool Center READ Center WRITE SetCenter)
public:
    explicit TImage(TComponent* AOwner);
    ~TImage() override;
    TPicture* Picture() const { return FPicture.get(); }
    void SetPicture(TPicture* p) { FPicture->Assign(p); }
    bool Stretch() const { return FStretch; }
    void SetStretch(bool v);
    bool Center() const { return FCenter; }
    void SetCenter(bool v);

protected:
    void Paint(QPainter& p) override;
    std::unique_ptr<TPicture> FPicture;
    bool FStretch = false;
    bool FCenter = false;
};
