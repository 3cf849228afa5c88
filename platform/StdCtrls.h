// Standard controls: label, single- and multi-line edit, push button, check box,
// radio button, list box and group box.
#pragma once

#include "Controls.h"

class QLineEdit;
class QPlainTextEdit;
class QListView;
class QStringListModel;

class TCustomLabel : public TControl {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
    Q_PROPERTY(Types::TAlignment Alignment READ Alignment WRITE SetAlignment)
    Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
    Q_PROPERTY(bool WordWrap READ WordWrap WRITE SetWordWrap)
public:
    explicit TCustomLabel(TComponent* AOwner);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool value);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool value);
    // The caption as shown: access-key markers removed.
    QString DisplayText() const;
    void Loaded() override;

protected:
    QWidget* CreateWidget(QWidget* parentWidget) override;
    void InitWidget(QWidget* w) override;
    void CaptionChanged() override;
    void FontChanged() override;
    void ParentColorChanged() override;
    void AdjustBounds();
    void UpdateLabel();

    bool FAutoSize = true;
    TAlignment FAlignment = taLeftJustify;
    bool FTransparent = true;
    bool FWordWrap = false;
};

class TLabel : public TCustomLabel {
    Q_OBJECT
public:
    using TCustomLabel::TCustomLabel;
};

class TCustomEdit : public TWinControl {
    Q_OBJECT
    Q_PROPERTY(QString Text READ Text WRITE SetText)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
    Q_PROPERTY(bool ReadOnly READ ReadOnly WRITE SetReadOnly)
    Q_PROPERTY(int MaxLength READ MaxLength WRITE SetMaxLength)
    Q_PROPERTY(TNotifyEvent OnChange READ OnChange WRITE SetOnChange)
public:
    explicit TCustomEdit(TComponent* AOwner);
    QString Text() const;
    void SetText(const QString& value);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool value);
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value);
    // 0: the widget's own limit, DefaultTextLimit characters. Longer texts are cut there.
    int MaxLength() const { return FMaxLength; }
    void SetMaxLength(int value);
    static constexpr int DefaultTextLimit = 32767;
    TNotifyEvent OnChange() const { return FOnChange; }
    void SetOnChange(const TNotifyEvent& e) { FOnChange = e; }
    // Moves whenever the text changes, set in code or typed: a caller that noted it can
    // tell the text is as it was without reading it.
    quint64 TextVersion() const { return FTextVersion; }
    bool CanReleaseHandle() const override;
    void Loaded() override;

protected:
    QWidget* CreateWidget(QWidget* parentWidget) override;
    void InitWidget(QWidget* w) override;
    void SaveWidgetState() override;
    void FontChanged() override;
    virtual void Change();
    // The automatic single-line height: the font's line height plus the frame allowance.
    void AdjustHeight();
    QLineEdit* LineEdit() const;
    int TextLimit() const;

    // Every change of FText goes through here.
    void StoreText(QString text);

    QString FText;
    quint64 FTextVersion = 0;
    bool FAutoSize = true;
    bool FReadOnly = false;
    int FMaxLength = 0;
    TNotifyEvent FOnChange;
};

class TEdit : public TCustomEdit {
    Q_OBJECT
public:
    using TCustomEdit::TCustomEdit;
};

class TMemo : public TWinControl {
    Q_OBJECT
    Q_PROPERTY(TStrings* Lines READ Lines WRITE SetLines)
    Q_PROPERTY(Types::TScrollStyle ScrollBars READ ScrollBars WRITE SetScrollBars)
    Q_PROPERTY(bool WordWrap READ WordWrap WRITE SetWordWrap)
    Q_PROPERTY(bool ReadOnly READ ReadOnly WRITE SetReadOnly)
    Q_PROPERTY(TNotifyEvent OnChange READ OnChange WRITE SetOnChange)
public:
    explicit TMemo(TComponent* AOwner);
    ~TMemo() override;
    TStrings* Lines() const { return FLines.get(); }
    void SetLines(TStrings* value) { FLines->Assign(value); }
    TScrollStyle ScrollBars() const { return FScrollBars; }
    void SetScrollBars(TScrollStyle value);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool value);
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value);
    TNotifyEvent OnChange() const { return FOnChange; }
    void SetOnChange(const TNotifyEvent& e) { FOnChange = e; }

protected:
    QWidget* CreateWidget(QWidget* parentWidget) override;
    void InitWidget(QWidget* w) override;
    void ApplyOptions();
    QPlainTextEdit* TextEdit() const;

    std::unique_ptr<TStrings> FLines;
    TScrollStyle FScrollBars = ssNone;
    bool FWordWrap = true;
    bool FReadOnly = false;
    bool FSyncing = false;
    TNotifyEvent FOnChange;
};

class TButton : public TWinControl {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(int ModalResult READ ModalResult WRITE SetModalResult)
    Q_PROPERTY(bool Default READ Default WRITE SetDefault)
    Q_PROPERTY(bool Cancel READ Cancel WRITE SetCancel)
public:
    explicit TButton(TComponent* AOwner);
    int ModalResult() const { return FModalResult; }
    void SetModalResult(int v) { FModalResult = v; }
    bool Default() const { return FDefault; }
    void SetDefault(bool v);
    bool Cancel() const { return FCancel; }
    void SetCancel(bool v) { FCancel = v; }
    void Click() override;

protected:
    QWidget* CreateWidget(QWidget* parentWidget) override;
    void CaptionChanged() override;
    void ClickFromWidget() override {}
    int FModalResult = 0;
    bool FDefault = false;
    bool FCancel = false;
};

class TCheckBox : public TWinControl {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(bool Checked READ Checked WRITE SetChecked)
    Q_PROPERTY(Types::TAlignment Alignment READ Alignment WRITE SetAlignment)
public:
    explicit TCheckBox(TComponent* AOwner);
    bool Checked() const { return FChecked; }
    // Setting the state in code does not fire OnClick; only the user's toggle does.
    void SetChecked(bool value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment v) { FAlignment = v; }
    // What a user's toggle does: flips the state, then fires OnClick.
    void Toggle();

protected:
    QWidget* CreateWidget(QWidget* parentWidget) override;
    void CaptionChanged() override;
    void ClickFromWidget() override {}
    bool FChecked = false;
    TAlignment FAlignment = taRightJustify;
};

class TRadioButton : public TWinControl {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(bool Checked READ Checked WRITE SetChecked)
public:
    explicit TRadioButton(TComponent* AOwner);
    bool Checked() const { return FChecked; }
    // Checking one radio button unchecks the others of the same parent. Setting
    // the state in code does not fire OnClick.
    void SetChecked(bool value);
    // What the user's click does: checks the button, then fires OnClick.
    void SelectByUser();

protected:
    QWidget* CreateWidget(QWidget* parentWidget) override;
    void CaptionChanged() override;
    void ClickFromWidget() override {}
    bool FChecked = false;
};

class TListBox : public TWinControl {
    Q_OBJECT
    Q_PROPERTY(TStrings* Items READ Items WRITE SetItems)
    Q_PROPERTY(int ItemIndex READ ItemIndex WRITE SetItemIndex STORED false)
    Q_PROPERTY(int ItemHeight READ ItemHeight WRITE SetItemHeight)
    Q_PROPERTY(bool Sorted READ Sorted WRITE SetSorted)
public:
    explicit TListBox(TComponent* AOwner);
    ~TListBox() override;
    TStringList* Items() const { return FItems.get(); }
    void SetItems(TStrings* value) { FItems->Assign(value); }
    int ItemIndex() const { return FItemIndex; }
    // Selecting in code does not fire OnClick.
    void SetItemIndex(int value);
    int ItemHeight() const { return FItemHeight; }
    void SetItemHeight(int value);
    bool Sorted() const { return FItems->Sorted(); }
    void SetSorted(bool value) { FItems->SetSorted(value); }
    // What the user's selection of an entry does: selects it and fires OnClick.
    void SelectByUser(int index);
    // Entries the list's view has measured so far (for tests: all entries are one
    // height, so thousands of them need no more measuring than a few).
    int ItemMeasurements() const { return FItemMeasurements; }

protected:
    QWidget* CreateWidget(QWidget* parentWidget) override;
    void InitWidget(QWidget* w) override;
    void ClickFromWidget() override {}
    void ItemsChanged();
    void ShowIndex();
    QListView* ListView() const;

    std::unique_ptr<TStringList> FItems;
    QPointer<QStringListModel> FModel; // owned by the view
    int FItemIndex = -1;
    int FItemHeight = 13;
    int FItemMeasurements = 0;
    bool FSettingIndex = false;
};

class TGroupBox : public TWinControl {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
public:
    using TWinControl::TWinControl;

protected:
    QWidget* CreateWidget(QWidget* parentWidget) override;
    void CaptionChanged() override;
};

// Strips access-key markers for display: "&Fett" shows "Fett", "&&" shows "&".
QString StripAccelChars(const QString& caption);
