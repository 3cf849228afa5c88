#include "ExtCtrls.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QPainter>
#include <QPalette>
#include <QRadioButton>

TCustomPanel::TCustomPanel(TComponent* AOwner) : TWinControl(AOwner) {
    FWidth = 185;
    FHeight = 41;
}

void TCustomPanel::BevelsChanged() {
    Invalidate();
    Realign();
}

void TCustomPanel::SetBevelInner(TPanelBevel v) {
    FBevelInner = v;
    BevelsChanged();
}
void TCustomPanel::SetBevelOuter(TPanelBevel v) {
    FBevelOuter = v;
    BevelsChanged();
}
void TCustomPanel::SetBevelWidth(int v) {
    FBevelWidth = std::max(1, v);
    BevelsChanged();
}
void TCustomPanel::SetBorderWidth(int v) {
    FBorderWidth = std::max(0, v);
    BevelsChanged();
}
void TCustomPanel::SetBorderStyle(TFormBorderStyle v) {
    FBorderStyle = v;
    BevelsChanged();
}
void TCustomPanel::SetAlignment(TAlignment v) {
    FAlignment = v;
    Invalidate();
}

QRect TCustomPanel::AdjustedClientRect() const {
    int inset = FBorderWidth;
    if (FBevelOuter != bvNone) inset += FBevelWidth;
    if (FBevelInner != bvNone) inset += FBevelWidth;
    if (FBorderStyle == bsSingle) inset += 1;
    return ClientRect().adjusted(inset, inset, -inset, -inset);
}

void TCustomPanel::Paint(QPainter& p) {
    QRect r(0, 0, FWidth, FHeight);
    const QPalette pal = QApplication::palette();
    const QColor light = pal.color(QPalette::Light), dark = pal.color(QPalette::Dark);
    p.fillRect(r, ColorToQColor(FColor));
    if (FBorderStyle == bsSingle) Frame3D(p, r, pal.color(QPalette::Shadow), pal.color(QPalette::Shadow), 1);
    if (FBevelOuter != bvNone)
        Frame3D(p, r, FBevelOuter == bvLowered ? dark : light, FBevelOuter == bvLowered ? light : dark,
                FBevelWidth);
    r.adjust(FBorderWidth, FBorderWidth, -FBorderWidth, -FBorderWidth);
    if (FBevelInner != bvNone)
        Frame3D(p, r, FBevelInner == bvLowered ? dark : light, FBevelInner == bvLowered ? light : dark,
                FBevelWidth);
    if (!FCaption.isEmpty()) {
        p.setFont(FFont->ToQFont());
        p.setPen(ColorToQColor(FFont->Color()));
        const Qt::Alignment h = FAlignment == taCenter         ? Qt::AlignHCenter
                                : FAlignment == taRightJustify ? Qt::AlignRight
                                                               : Qt::AlignLeft;
        p.drawText(r, int(h | Qt::AlignVCenter), FCaption);
    }
}

// ---------------------------------------------------------------------------

TRadioGroup::TRadioGroup(TComponent* AOwner) : TWinControl(AOwner), FItems(std::make_unique<TStrings>()) {
    FWidth = 185;
    FHeight = 105;
    FTabStop = true;
    FItems->OnChange = [this] { ItemsChanged(); };
}

TRadioGroup::~TRadioGroup() = default;

void TRadioGroup::SetItemIndex(int value) {
    if (value < -1 || value >= FItems->Count()) value = -1;
    FItemIndex = value;
    UpdateButtons();
}

void TRadioGroup::SelectByUser(int index) {
    SetItemIndex(index);
    Click();
}

void TRadioGroup::ItemsChanged() {
    if (FItemIndex >= FItems->Count()) FItemIndex = -1;
    auto* box = qobject_cast<QGroupBox*>(Widget());
    if (!box) return;
    const auto old = box->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
    if (old.size() != FItems->Count()) {
        qDeleteAll(old);
        for (int i = 0; i < FItems->Count(); ++i) {
            auto* r = new QRadioButton(box);
            r->setAutoExclusive(false);
            QObject::connect(r, &QRadioButton::clicked, this, [this, i] { Guard([&] { SelectByUser(i); }); });
            r->show();
        }
    }
    UpdateButtons();
    LayoutButtons();
}

void TRadioGroup::UpdateButtons() {
    auto* box = qobject_cast<QGroupBox*>(Widget());
    if (!box) return;
    const auto buttons = box->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
    for (int i = 0; i < buttons.size() && i < FItems->Count(); ++i) {
        QSignalBlocker block(buttons[i]);
        buttons[i]->setText(FItems->Strings(i));
        buttons[i]->setChecked(i == FItemIndex);
    }
}

void TRadioGroup::LayoutButtons() {
    auto* box = qobject_cast<QGroupBox*>(Widget());
    if (!box) return;
    const auto buttons = box->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
    if (buttons.isEmpty()) return;
    // The buttons share the height below the caption in equal rows.
    const int top = QFontMetrics(FFont->ToQFont()).height();
    const int row = std::max(1, (FHeight - top - 4) / int(buttons.size()));
    for (int i = 0; i < buttons.size(); ++i)
        buttons[i]->setGeometry(8, top + i * row, std::max(0, FWidth - 16), row);
}

QWidget* TRadioGroup::CreateWidget(QWidget* parentWidget) {
    return new QGroupBox(FCaption, parentWidget);
}

void TRadioGroup::InitWidget(QWidget* w) {
    TWinControl::InitWidget(w);
    ItemsChanged();
}

void TRadioGroup::ApplyGeometry() {
    TWinControl::ApplyGeometry();
    LayoutButtons();
}

void TRadioGroup::CaptionChanged() {
    if (auto* g = qobject_cast<QGroupBox*>(Widget())) g->setTitle(FCaption);
}

// ---------------------------------------------------------------------------

TBevel::TBevel(TComponent* AOwner) : TControl(AOwner) {
    FWidth = 50;
    FHeight = 50;
}

void TBevel::SetShape(TBevelShape v) {
    FShape = v;
    Invalidate();
}
void TBevel::SetStyle(TBevelStyle v) {
    FStyle = v;
    Invalidate();
}

QWidget* TBevel::CreateWidget(QWidget* parentWidget) {
    QWidget* w = TControl::CreateWidget(parentWidget);
    // A framing box never takes the mouse from what it frames.
    w->setAttribute(Qt::WA_TransparentForMouseEvents);
    return w;
}

void TBevel::Paint(QPainter& p) {
    const QPalette pal = QApplication::palette();
    QColor c1 = pal.color(QPalette::Dark), c2 = pal.color(QPalette::Light);
    if (FStyle == bsRaised) std::swap(c1, c2);
    QRect r(0, 0, FWidth, FHeight);
    switch (FShape) {
    case bsBox:
        Frame3D(p, r, c1, c2, 1);
        break;
    case bsFrame: {
        QRect outer = r.adjusted(0, 0, -1, -1), inner = r.adjusted(1, 1, 0, 0);
        Frame3D(p, outer, c1, c1, 1);
        Frame3D(p, inner, c2, c2, 1);
        break;
    }
    case bsTopLine:
        p.setPen(c1);
        p.drawLine(0, 0, FWidth, 0);
        p.setPen(c2);
        p.drawLine(0, 1, FWidth, 1);
        break;
    case bsBottomLine:
        p.setPen(c1);
        p.drawLine(0, FHeight - 2, FWidth, FHeight - 2);
        p.setPen(c2);
        p.drawLine(0, FHeight - 1, FWidth, FHeight - 1);
        break;
    case bsLeftLine:
        p.setPen(c1);
        p.drawLine(0, 0, 0, FHeight);
        p.setPen(c2);
        p.drawLine(1, 0, 1, FHeight);
        break;
    case bsRightLine:
        p.setPen(c1);
        p.drawLine(FWidth - 2, 0, FWidth - 2, FHeight);
        p.setPen(c2);
        p.drawLine(FWidth - 1, 0, FWidth - 1, FHeight);
        break;
    case bsSpacer:
        break;
    }
}

// ---------------------------------------------------------------------------

TImage::TImage(TComponent* AOwner) : TControl(AOwner), FPicture(std::make_unique<TPicture>()) {
    FWidth = 105;
    FHeight = 105;
    FPicture->OnChange = [this] { Invalidate(); };
}

TImage::~TImage() = default;

void TImage::SetStretch(bool v) {
    FStretch = v;
    Invalidate();
}
void TImage::SetCenter(bool v) {
    FCenter = v;
    Invalidate();
}

void TImage::Paint(QPainter& p) {
    if (FPicture->Empty()) return;
    const QImage& img = FPicture->Image();
    if (FStretch) {
        p.drawImage(QRect(0, 0, FWidth, FHeight), img);
    } else if (FCenter) {
        p.drawImage((FWidth - img.width()) / 2, (FHeight - img.height()) / 2, img);
    } else {
        p.drawImage(0, 0, img);
    }
}
