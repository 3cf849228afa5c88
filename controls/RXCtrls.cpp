#include "RXCtrls.h"

#include <QFontMetrics>
#include <QPainter>
#include <QScopeGuard>

#include <algorithm>

static TColor ToTColor(const QColor& c) {
    return c.red() | (c.green() << 8) | (c.blue() << 16);
}

TColor BottomLeftColor(const QImage& image) {
    if (image.isNull()) return clNone;
    if (image.depth() == 1) return clWhite;
    return ToTColor(image.pixelColor(0, image.height() - 1));
}

void TransparentBlit(QPainter& dest, int x, int y, int w, int h, const QImage& source, QRect srcRect,
                     TColor keyColor) {
    if (source.isNull()) return;
    if (srcRect.width() <= 0 || srcRect.height() <= 0)
        srcRect = source.rect();
    else
        srcRect = srcRect.intersected(source.rect());
    if (srcRect.isEmpty()) return;
    if (w == 0 || h == 0) {
        w = srcRect.width();
        h = srcRect.height();
    }
    const QRect target(x, y, w, h);
    if (keyColor == clNone) {
        dest.drawImage(target, source, srcRect);
        return;
    }
    // The key colour becomes fully transparent; everything else stays opaque, and
    // scaling picks whole pixels so no blend of the key colour shows at the edges.
    QImage region = source.copy(srcRect).convertToFormat(QImage::Format_ARGB32);
    const QRgb key = ColorToQColor(keyColor).rgb() & 0xFFFFFF;
    for (int row = 0; row < region.height(); ++row) {
        auto* line = reinterpret_cast<QRgb*>(region.scanLine(row));
        for (int col = 0; col < region.width(); ++col)
            line[col] = (line[col] & 0xFFFFFF) == key ? 0 : (line[col] | 0xFF000000u);
    }
    const bool smooth = dest.testRenderHint(QPainter::SmoothPixmapTransform);
    dest.setRenderHint(QPainter::SmoothPixmapTransform, false);
    dest.drawImage(target, region);
    dest.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
}

void DrawTransparent(QPainter& canvas, int x, int y, const QImage& bitmap, TColor keyColor) {
    TransparentBlit(canvas, x, y, bitmap.width(), bitmap.height(), bitmap, bitmap.rect(), keyColor);
}

// ---------------------------------------------------------------------------

TSecretPanel::TSecretPanel(TComponent* AOwner)
    : TCustomPanel(AOwner), FLines(std::make_unique<TStrings>()), FGlyph(std::make_unique<TPicture>()) {
    FAlignment = taCenter;
    FCaption.clear();
    FBevelOuter = bvLowered;
    FLines->OnChange = [this] { LinesChanged(); };
    FGlyph->OnChange = [this] { GlyphChanged(); };
    FAnimTimer = new TRxTimer(this);
    FAnimTimer->SetEnabled(false);
    FAnimTimer->SetOnTimer(TNotifyEvent(this, [this](TObject*) { TimerExpired(); }));
    FAnimTimer->SetInterval(30);
}

TSecretPanel::~TSecretPanel() {
    Destroying();
    Guard([&] { SetActive(false); });
    FLines->OnChange = nullptr;
    FGlyph->OnChange = nullptr;
}

int TSecretPanel::LinePitch(int charHeight, int externalLeading, TPanelBevel textStyle) {
    const int pitch = charHeight + std::max(0, externalLeading) + (textStyle != bvNone ? 1 : 0);
    return std::clamp(pitch, 1, 255);
}

void TSecretPanel::SetActive(bool value) {
    if (value == FActive) return;
    if (value)
        Start();
    else
        Stop();
}

void TSecretPanel::Start() {
    FActive = true;
    FScrollPos = 0;
    FImageDrawn = false;
    try {
        RecalcMetrics();
        FAnimTimer->SetEnabled(true);
        StartPlay();
    } catch (...) {
        FActive = false;
        FMemoryImage.reset();
        FAnimTimer->SetEnabled(false);
        throw;
    }
    if (!IsDestroying()) {
        for (int i = 0; i < ControlCount(); ++i) {
            TControl* c = Controls(i);
            if (c->Visible()) FHiddenControls.emplace_back(c);
            c->SetVisible(false);
        }
    }
    Invalidate();
}

void TSecretPanel::Stop() {
    FActive = false;
    FScrollPos = 0;
    FAnimTimer->SetEnabled(false);
    FMemoryImage.reset();
    FImageDrawn = false;
    // The children come back even if the stop handler fails.
    const auto restore = qScopeGuard([this] {
        if (!IsDestroying())
            for (const auto& c : FHiddenControls)
                if (c) {
                    c->SetVisible(true);
                    c->Repaint();
                }
        FHiddenControls.clear();
        Invalidate();
    });
    StopPlay();
}

void TSecretPanel::StartPlay() {
    FOnStartPlay(this);
}

void TSecretPanel::StopPlay() {
    FOnStopPlay(this);
}

void TSecretPanel::SetAlignment(TAlignment value) {
    if (value == FAlignment) return;
    FAlignment = value;
    if (FActive) Invalidate();
}

void TSecretPanel::SetGlyphLayout(TGlyphLayout value) {
    if (value == FGlyphLayout) return;
    FGlyphLayout = value;
    if (FActive) {
        RecalcMetrics();
        Invalidate();
    }
}

void TSecretPanel::GlyphChanged() {
    if (!FActive) return;
    RecalcMetrics();
    Invalidate();
}

void TSecretPanel::LinesChanged() {
    if (!FActive) return;
    FScrollPos = 0;
    Invalidate();
}

void TSecretPanel::RecalcMetrics() {
    const QFontMetrics fm(FFont->ToQFont());
    FLineHeight = quint8(LinePitch(fm.height(), fm.leading(), FTextStyle));
    RecalcLayout();
    const QSize size = FTextRect.size();
    if (!FMemoryImage || FMemoryImage->size() != size) {
        FMemoryImage = QImage(size, QImage::Format_RGB32);
        FImageDrawn = false;
    }
}

void TSecretPanel::RecalcLayout() {
    int d = FBorderWidth + 3;
    if (FBevelOuter != bvNone) d += FBevelWidth;
    if (FBevelInner != bvNone) d += FBevelWidth;
    // Edges as left, top, right, bottom with the right and bottom exclusive.
    const int rl = d, rt = d, rr = ClientWidth() - d, rb = ClientHeight() - d;
    const int gw = FGlyph->Empty() ? 0 : FGlyph->Width();
    const int gh = FGlyph->Empty() ? 0 : FGlyph->Height();
    int l = rl, t = rt, r = rr, b = rb, x = 0, y = 0;
    switch (FGlyphLayout) {
    case glGlyphLeft:
        x = rl + 3;
        y = std::max((rt + rb - gh) / 2, rt);
        l = x + gw;
        break;
    case glGlyphRight:
        x = std::max(rr - gw - 3, rl);
        y = std::max((rt + rb - gh) / 2, rt);
        r = x;
        break;
    case glGlyphTop:
        x = std::max((rl + rr - gw) / 2, rl);
        y = rt + 2;
        t = y + gh;
        break;
    case glGlyphBottom:
        x = std::max((rl + rr - gw) / 2, rl);
        y = std::max(rb - gh - 2, rt);
        b = y;
        break;
    }
    FGlyphOrigin = QPoint(x, y);
    FTextRect = (l >= r || t >= b) ? QRect(0, 0, 0, 0) : QRect(l, t, r - l, b - t);
}

void TSecretPanel::TimerExpired() {
    if ((FLines->Count() - 1) * FLineHeight > FScrollPos) {
        ++FScrollPos;
        PaintText();
    } else if (FCycled) {
        FScrollPos = 0;
        PaintText();
    } else {
        SetActive(false);
    }
}

void TSecretPanel::PaintText() {
    const int count = FLines->Count();
    if (count == 0 || !FMemoryImage || FMemoryImage->isNull()) return;
    QImage& image = *FMemoryImage;
    QPainter p(&image);
    p.fillRect(image.rect(), ColorToQColor(FColor));
    p.setFont(FFont->ToQFont());
    const int pitch = FLineHeight;
    const Qt::Alignment h = FAlignment == taCenter         ? Qt::AlignHCenter
                            : FAlignment == taRightJustify ? Qt::AlignRight
                                                           : Qt::AlignLeft;
    const int flags = int(h | Qt::AlignTop) | Qt::TextSingleLine | Qt::TextExpandTabs;
    const QColor highlight = ColorToQColor(clBtnHighlight), text = ColorToQColor(FFont->Color());
    const int offset = FTextStyle == bvLowered ? 1 : -1;
    QRect line(0, -(FScrollPos % pitch), image.width(), pitch);
    for (int k = FScrollPos / pitch; k <= count && line.top() < image.height(); ++k) {
        const QString s = k < count ? FLines->Strings(k).left(255) : QStringLiteral(" ");
        if (FTextStyle != bvNone) {
            p.setPen(highlight);
            p.drawText(line.translated(offset, offset), flags, s);
        }
        p.setPen(text);
        p.drawText(line, flags, s);
        line.translate(0, pitch);
    }
    p.end();
    FImageDrawn = true;
    // One transfer of the whole text area.
    if (QWidget* w = Widget()) w->update(FTextRect);
}

void TSecretPanel::PaintGlyph(QPainter& p) {
    if (FGlyph->Empty()) return;
    RecalcLayout();
    DrawTransparent(p, FGlyphOrigin.x(), FGlyphOrigin.y(), FGlyph->Image(), BottomLeftColor(FGlyph->Image()));
}

void TSecretPanel::Paint(QPainter& p) {
    TCustomPanel::Paint(p);
    if (!FActive) return;
    PaintGlyph(p);
    if (FImageDrawn && FMemoryImage) p.drawImage(FTextRect.topLeft(), *FMemoryImage);
}

void TSecretPanel::FontChanged() {
    TCustomPanel::FontChanged();
    if (FActive) RecalcMetrics();
}

void TSecretPanel::ParentColorChanged() {
    TCustomPanel::ParentColorChanged();
    if (FActive) RecalcMetrics();
}

void TSecretPanel::BoundsChanged(bool sizeChanged) {
    TCustomPanel::BoundsChanged(sizeChanged);
    if (sizeChanged && FActive) RecalcMetrics();
}
