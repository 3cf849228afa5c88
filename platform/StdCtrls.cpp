#include "StdCtrls.h"

#include "Forms.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringListModel>
#include <QStyledItemDelegate>

QString StripAccelChars(const QString& caption) {
    QString r;
    r.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&') {
            if (i + 1 < caption.size() && caption[i + 1] == u'&') r += u'&';
            ++i;
            if (i < caption.size() && caption[i] != u'&') r += caption[i];
            continue;
        }
        r += caption[i];
    }
    return r;
}

// ---------------------------------------------------------------------------

TCustomLabel::TCustomLabel(TComponent* AOwner) : TControl(AOwner) {
    FWidth = 65, FHeight = 13;
}

QString TCustomLabel::DisplayText() const {
    return StripAccelChars(FCaption);
}

void TCustomLabel::SetAutoSize(bool value) {
    FAutoSize = value;
    AdjustBounds();
}

void TCustomLabel::SetAlignment(TAlignment value) {
    FAlignment = value;
    UpdateLabel();
}

void TCustomLabel::SetTransparent(bool value) {
    FTransparent = value;
    UpdateLabel();
}

void TCustomLabel::SetWordWrap(bool value) {
    FWordWrap = value;
    UpdateLabel();
    AdjustBounds();
}

void TCustomLabel::AdjustBounds() {
    if (!FAutoSize || IsLoading() || FWordWrap) return;
    QFontMetrics fm(FFont->ToQFont());
    SetBounds(FLeft, Top(), fm.horizontalAdvance(DisplayText()), fm.height());
}

void TCustomLabel::Loaded() {
    TControl::Loaded();
    AdjustBounds();
}

QWidget* TCustomLabel::CreateWidget(QWidget* parentWidget) {
    return new QLabel(parentWidget);
}

void TCustomLabel::InitWidget(QWidget* w) {
    TControl::InitWidget(w);
    UpdateLabel();
}

void TCustomLabel::UpdateLabel() {
    auto* l = qobject_cast<QLabel*>(Widget());
    if (!l) return;
    l->setText(DisplayText());
    l->setWordWrap(FWordWrap);
    const Qt::Alignment h = FAlignment == taCenter         ? Qt::AlignHCenter
                            : FAlignment == taRightJustify ? Qt::AlignRight
                                                           : Qt::AlignLeft;
    l->setAlignment(h | Qt::AlignTop);
    l->setAutoFillBackground(!FTransparent);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, ColorToQColor(FFont->Color()));
    if (!FTransparent) pal.setColor(QPalette::Window, ColorToQColor(FColor));
    l->setPalette(pal);
}

void TCustomLabel::CaptionChanged() {
    UpdateLabel();
    AdjustBounds();
}

void TCustomLabel::FontChanged() {
    TControl::FontChanged();
    UpdateLabel();
    AdjustBounds();
}

void TCustomLabel::ParentColorChanged() {
    UpdateLabel();
}

// ---------------------------------------------------------------------------

TCustomEdit::TCustomEdit(TComponent* AOwner) : TWinControl(AOwner) {
    FWidth = 121;
    FHeight = 21;
    FTabStop = true;
    FColor = clWindow;
    FParentColor = false;
}

QLineEdit* TCustomEdit::LineEdit() const {
    return qobject_cast<QLineEdit*>(Widget());
}

QString TCustomEdit::Text() const {
    return FText;
}

int TCustomEdit::TextLimit() const {
    return FMaxLength > 0 ? FMaxLength : DefaultTextLimit;
}

void TCustomEdit::SetText(const QString& value) {
    // The field holds what its widget can show, as text typed into it would be.
    const QString text = value.size() > TextLimit() ? value.left(TextLimit()) : value;
    if (text == FText) return;
    StoreText(text);
    if (auto* e = LineEdit()) {
        QSignalBlocker block(e);
        e->setText(FText);
        // Text set in code shows its start, as in a new field (Qt would show its end).
        e->setCursorPosition(0);
    }
    Change();
}

void TCustomEdit::Change() {
    Guard([&] { FOnChange(this); });
}

void TCustomEdit::SetAutoSize(bool value) {
    FAutoSize = value;
    AdjustHeight();
}

void TCustomEdit::SetReadOnly(bool value) {
    FReadOnly = value;
    if (auto* e = LineEdit()) e->setReadOnly(value);
}

void TCustomEdit::SetMaxLength(int value) {
    FMaxLength = value;
    if (auto* e = LineEdit()) e->setMaxLength(TextLimit());
    if (FText.size() > TextLimit()) {
        StoreText(FText.left(TextLimit()));
        Change();
    }
}

bool TCustomEdit::CanReleaseHandle() const {
    return !Focused();
}

void TCustomEdit::AdjustHeight() {
    if (!FAutoSize || IsLoading() || !Screen) return;
    SetHeight(Screen->FontLineHeight(*FFont) + 8);
}

void TCustomEdit::Loaded() {
    TWinControl::Loaded();
    AdjustHeight();
}

void TCustomEdit::FontChanged() {
    TWinControl::FontChanged();
    AdjustHeight();
}

QWidget* TCustomEdit::CreateWidget(QWidget* parentWidget) {
    auto* e = new QLineEdit(parentWidget);
    QObject::connect(e, &QLineEdit::textEdited, this, [this](const QString& t) {
        StoreText(t);
        Change();
    });
    return e;
}

void TCustomEdit::InitWidget(QWidget* w) {
    auto* e = static_cast<QLineEdit*>(w);
    // The font before the text, so the text is laid out once and only in its own font.
    e->setFont(FFont->ToQFont());
    e->setText(FText);
    e->setReadOnly(FReadOnly);
    if (FMaxLength > 0) e->setMaxLength(FMaxLength);
    e->setCursorPosition(0);
    TWinControl::InitWidget(w);
}

void TCustomEdit::SaveWidgetState() {
    if (auto* e = LineEdit())
        if (QString t = e->text(); t != FText) StoreText(std::move(t));
}

void TCustomEdit::StoreText(QString text) {
    FText = std::move(text);
    ++FTextVersion;
}

// ---------------------------------------------------------------------------

TMemo::TMemo(TComponent* AOwner) : TWinControl(AOwner), FLines(std::make_unique<TStrings>()) {
    FWidth = 185;
    FHeight = 89;
    FTabStop = true;
    FColor = clWindow;
    FParentColor = false;
    FLines->OnChange = [this] {
        if (FSyncing) return;
        if (auto* e = TextEdit()) {
            FSyncing = true;
            QString t = FLines->Text();
            if (t.endsWith(u'\n')) t.chop(1);
            e->setPlainText(t);
            FSyncing = false;
        }
        FOnChange(this);
    };
}

TMemo::~TMemo() = default;

QPlainTextEdit* TMemo::TextEdit() const {
    return qobject_cast<QPlainTextEdit*>(Widget());
}

void TMemo::SetScrollBars(TScrollStyle value) {
    FScrollBars = value;
    ApplyOptions();
}

void TMemo::SetWordWrap(bool value) {
    FWordWrap = value;
    ApplyOptions();
}

void TMemo::SetReadOnly(bool value) {
    FReadOnly = value;
    ApplyOptions();
}

void TMemo::ApplyOptions() {
    auto* e = TextEdit();
    if (!e) return;
    e->setLineWrapMode(FWordWrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    const bool v = FScrollBars == ssVertical || FScrollBars == ssBoth;
    const bool h = FScrollBars == ssHorizontal || FScrollBars == ssBoth;
    e->setVerticalScrollBarPolicy(v ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    e->setHorizontalScrollBarPolicy(h ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    e->setReadOnly(FReadOnly);
}

QWidget* TMemo::CreateWidget(QWidget* parentWidget) {
    auto* e = new QPlainTextEdit(parentWidget);
    QObject::connect(e, &QPlainTextEdit::textChanged, this, [this, e] {
        if (FSyncing) return;
        FSyncing = true;
        Guard([&] { FLines->SetText(e->toPlainText()); });
        FSyncing = false;
        Guard([&] { FOnChange(this); });
    });
    return e;
}

void TMemo::InitWidget(QWidget* w) {
    auto* e = static_cast<QPlainTextEdit*>(w);
    FSyncing = true;
    QString t = FLines->Text();
    if (t.endsWith(u'\n')) t.chop(1);
    e->setFont(FFont->ToQFont()); // before the text, as for an edit
    e->setPlainText(t);
    FSyncing = false;
    TWinControl::InitWidget(w);
    ApplyOptions();
}

// ---------------------------------------------------------------------------

TButton::TButton(TComponent* AOwner) : TWinControl(AOwner) {
    FWidth = 75;
    FHeight = 25;
    FTabStop = true;
}

void TButton::SetDefault(bool v) {
    FDefault = v;
    if (auto* b = qobject_cast<QPushButton*>(Widget())) b->setDefault(v);
}

void TButton::Click() {
    if (FModalResult != 0)
        if (auto* f = GetParentForm(this)) f->SetModalResult(FModalResult);
    TWinControl::Click();
}

QWidget* TButton::CreateWidget(QWidget* parentWidget) {
    auto* b = new QPushButton(FCaption, parentWidget);
    b->setDefault(FDefault);
    b->setAutoDefault(false);
    QObject::connect(b, &QPushButton::clicked, this, [this] { Guard([&] { Click(); }); });
    return b;
}

void TButton::CaptionChanged() {
    if (auto* b = qobject_cast<QPushButton*>(Widget())) b->setText(FCaption);
}

// ---------------------------------------------------------------------------

TCheckBox::TCheckBox(TComponent* AOwner) : TWinControl(AOwner) {
    FWidth = 97;
    FHeight = 17;
    FTabStop = true;
}

void TCheckBox::SetChecked(bool value) {
    FChecked = value;
    if (auto* c = qobject_cast<QCheckBox*>(Widget())) {
        QSignalBlocker block(c);
        c->setChecked(value);
    }
}

void TCheckBox::Toggle() {
    SetChecked(!FChecked);
    Click();
}

QWidget* TCheckBox::CreateWidget(QWidget* parentWidget) {
    auto* c = new QCheckBox(FCaption, parentWidget);
    c->setChecked(FChecked);
    // clicked() comes from the user only (mouse or keyboard), never from setChecked().
    QObject::connect(c, &QCheckBox::clicked, this, [this](bool checked) {
        FChecked = checked;
        Guard([&] { Click(); });
    });
    return c;
}

void TCheckBox::CaptionChanged() {
    if (auto* c = qobject_cast<QCheckBox*>(Widget())) c->setText(FCaption);
}

// ---------------------------------------------------------------------------

TRadioButton::TRadioButton(TComponent* AOwner) : TWinControl(AOwner) {
    FWidth = 113;
    FHeight = 17;
    FTabStop = true;
}

void TRadioButton::SetChecked(bool value) {
    if (value == FChecked) return;
    FChecked = value;
    if (auto* r = qobject_cast<QRadioButton*>(Widget())) {
        QSignalBlocker block(r);
        r->setChecked(value);
    }
    if (!value || !Parent()) return;
    for (int i = 0; i < Parent()->ControlCount(); ++i)
        if (auto* other = dynamic_cast<TRadioButton*>(Parent()->Controls(i)); other && other != this)
            other->SetChecked(false);
}

void TRadioButton::SelectByUser() {
    SetChecked(true);
    Click();
}

QWidget* TRadioButton::CreateWidget(QWidget* parentWidget) {
    auto* r = new QRadioButton(FCaption, parentWidget);
    // The control keeps the group's state, also for siblings that have no widget.
    r->setAutoExclusive(false);
    r->setChecked(FChecked);
    QObject::connect(r, &QRadioButton::clicked, this, [this, r] {
        {
            QSignalBlocker block(r);
            r->setChecked(true);
        }
        Guard([&] { SelectByUser(); });
    });
    return r;
}

void TRadioButton::CaptionChanged() {
    if (auto* r = qobject_cast<QRadioButton*>(Widget())) r->setText(FCaption);
}

// ---------------------------------------------------------------------------

namespace {
class FixedHeightDelegate : public QStyledItemDelegate {
public:
    FixedHeightDelegate(QObject* parent, const int* height, int* measured)
        : QStyledItemDelegate(parent), FHeight(height), FMeasured(measured) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        ++*FMeasured;
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(*FHeight);
        return s;
    }

private:
    const int* FHeight;
    int* FMeasured;
};
} // namespace

TListBox::TListBox(TComponent* AOwner) : TWinControl(AOwner), FItems(std::make_unique<TStringList>()) {
    FWidth = 121;
    FHeight = 97;
    FTabStop = true;
    FColor = clWindow;
    FParentColor = false;
    FItems->OnChange = [this] { ItemsChanged(); };
}

TListBox::~TListBox() = default;

QListView* TListBox::ListView() const {
    return qobject_cast<QListView*>(Widget());
}

void TListBox::ItemsChanged() {
    if (FItemIndex >= FItems->Count()) FItemIndex = -1;
    if (FModel) {
        FSettingIndex = true;
        FModel->setStringList(FItems->ToStringList());
        FSettingIndex = false;
        ShowIndex();
    }
}

void TListBox::SetItemIndex(int value) {
    if (value < -1 || value >= FItems->Count()) value = -1;
    FItemIndex = value;
    ShowIndex();
}

void TListBox::SelectByUser(int index) {
    SetItemIndex(index);
    Click();
}

void TListBox::ShowIndex() {
    auto* v = ListView();
    if (!v || !FModel) return;
    FSettingIndex = true;
    if (FItemIndex < 0) {
        v->clearSelection();
    } else {
        const QModelIndex i = FModel->index(FItemIndex);
        v->setCurrentIndex(i);
        v->scrollTo(i);
    }
    FSettingIndex = false;
}

void TListBox::SetItemHeight(int value) {
    if (value <= 0) return;
    FItemHeight = value;
    if (auto* v = ListView()) v->doItemsLayout();
}

QWidget* TListBox::CreateWidget(QWidget* parentWidget) {
    auto* v = new QListView(parentWidget);
    FModel = new QStringListModel(v);
    v->setModel(FModel);
    v->setUniformItemSizes(true);
    v->setEditTriggers(QAbstractItemView::NoEditTriggers);
    v->setSelectionMode(QAbstractItemView::SingleSelection);
    v->setItemDelegate(new FixedHeightDelegate(v, &FItemHeight, &FItemMeasurements));
    return v;
}

void TListBox::InitWidget(QWidget* w) {
    auto* v = static_cast<QListView*>(w);
    FSettingIndex = true;
    FModel->setStringList(FItems->ToStringList());
    FSettingIndex = false;
    // The selection follows the user's mouse and keys; code changes are flagged.
    QObject::connect(v->selectionModel(), &QItemSelectionModel::currentChanged, this,
                     [this](const QModelIndex& current) {
                         if (FSettingIndex) return;
                         FItemIndex = current.isValid() ? current.row() : -1;
                         Guard([&] { Click(); });
                     });
    QObject::connect(v, &QListView::doubleClicked, this, [this] { Guard([&] { DblClick(); }); });
    TWinControl::InitWidget(w);
    ShowIndex();
}

// ---------------------------------------------------------------------------

QWidget* TGroupBox::CreateWidget(QWidget* parentWidget) {
    return new QGroupBox(FCaption, parentWidget);
}

void TGroupBox::CaptionChanged() {
    if (auto* g = qobject_cast<QGroupBox*>(Widget())) g->setTitle(FCaption);
}
