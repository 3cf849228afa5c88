#include "Graphics.h"

#include "FaceMetrics.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <climits>
#include <cstdlib>

int MulDiv(int a, int b, int c) {
    if (c == 0) return -1;
    long long p = static_cast<long long>(a) * b;
    long long q = c;
    if (q < 0) {
        p = -p;
        q = -q;
    }
    const long long r = p >= 0 ? (p + q / 2) / q : -((-p + q / 2) / q);
    // Like the window system's: a result out of range is -1. The range is kept
    // symmetric, so every result can be negated.
    return r < -INT_MAX || r > INT_MAX ? -1 : int(r);
}

QColor ColorToQColor(TColor color) {
    if (color == clNone || color == clDefault) return {};
    if (color & clSystemColor) {
        const QPalette pal = QApplication::palette();
        switch (color & 0xFF) {
        case 5:
            return pal.color(QPalette::Base);
        case 8:
            return pal.color(QPalette::Text);
        case 15:
            return pal.color(QPalette::Button);
        case 16:
            return pal.color(QPalette::Dark);
        case 18:
            return pal.color(QPalette::ButtonText);
        case 20:
            return pal.color(QPalette::Light);
        default:
            return pal.color(QPalette::Window);
        }
    }
    return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

static int ScreenPPI() {
    const TFontScreen* screen = TFontScreen::Current();
    return screen ? screen->PixelsPerInch() : 96;
}

TFont::TFont(QObject* parent) : TPersistent(parent) {}

void TFont::SetName(const QString& value) {
    if (value == FName || value.isEmpty()) return;
    FName = value;
    Changed();
}

int TFont::Size() const {
    return -MulDiv(FHeight, 72, ScreenPPI());
}

int TFont::PixelSize() const {
    return int(std::min<long long>(std::abs(static_cast<long long>(FHeight)), MaxPixelSize));
}

void TFont::SetSize(int points) {
    SetHeight(-MulDiv(points, ScreenPPI(), 72));
}

void TFont::SetHeight(int value) {
    if (value == FHeight) return;
    FHeight = value;
    Changed();
}

void TFont::SetStyle(TFontStyles value) {
    if (value == FStyle) return;
    FStyle = value;
    Changed();
}

void TFont::SetColor(TColor value) {
    if (value == FColor) return;
    FColor = value;
    Changed();
}

void TFont::SetOwnGlyphsOnly(bool value) {
    if (value == FOwnGlyphsOnly) return;
    FOwnGlyphsOnly = value;
    Changed();
}

QFont TFont::ToQFont() const {
    // A listed family whose file is a FIFO or otherwise unreadable would hang FreeType
    // when Qt opens it; such a font shows in the default family instead.
    const bool bold = FStyle.testFlag(fsBold), italic = FStyle.testFlag(fsItalic);
    TFontScreen* screen = TFontScreen::Current();
    const TFaceMetrics* metrics = screen ? screen->FaceMetrics() : nullptr;
    QFont f = metrics && metrics->unreadable(FName, bold, italic)
                  ? QFont()
                  : QFont(screen ? screen->QtFamily(FName, bold, italic) : FName);
    f.setPixelSize(std::max(1, PixelSize()));
    f.setBold(bold);
    f.setItalic(italic);
    f.setUnderline(FStyle.testFlag(fsUnderline));
    f.setStrikeOut(FStyle.testFlag(fsStrikeOut));
    if (FOwnGlyphsOnly) f.setStyleStrategy(QFont::NoFontMerging);
    return f;
}

bool TFont::SameAs(const TFont& o) const {
    return FName == o.FName && FHeight == o.FHeight && FStyle == o.FStyle && FColor == o.FColor &&
           FOwnGlyphsOnly == o.FOwnGlyphsOnly;
}

void TFont::Assign(TPersistent* Source) {
    if (auto* f = qobject_cast<TFont*>(Source)) {
        if (SameAs(*f)) return;
        FName = f->FName;
        FHeight = f->FHeight;
        FStyle = f->FStyle;
        FColor = f->FColor;
        FOwnGlyphsOnly = f->FOwnGlyphsOnly;
        Changed();
        return;
    }
    TPersistent::Assign(Source);
}

void TFont::Changed() {
    if (OnChange) OnChange();
}

void TPicture::SetImage(const QImage& image) {
    FImage = image;
    if (OnChange) OnChange();
}

void TPicture::LoadFromResource(const QString& path) {
    QImage img(path);
    if (img.isNull()) throw EReadError(QStringLiteral("Bild '%1' kann nicht geladen werden").arg(path));
    SetImage(img);
}

void TPicture::Assign(TPersistent* Source) {
    if (auto* p = qobject_cast<TPicture*>(Source)) {
        SetImage(p->FImage);
        return;
    }
    if (!Source) {
        SetImage({});
        return;
    }
    TPersistent::Assign(Source);
}

bool IdentToInt(const QString& ident, int& value) {
    static const std::pair<const char*, int> table[] = {
        {"clBlack", clBlack},
        {"clMaroon", clMaroon},
        {"clGreen", clGreen},
        {"clNavy", clNavy},
        {"clPurple", clPurple},
        {"clGray", clGray},
        {"clRed", clRed},
        {"clBlue", clBlue},
        {"clWhite", clWhite},
        {"clWindow", clWindow},
        {"clWindowText", clWindowText},
        {"clBtnFace", clBtnFace},
        {"clBtnShadow", clBtnShadow},
        {"clBtnText", clBtnText},
        {"clBtnHighlight", clBtnHighlight},
        {"clNone", clNone},
        {"clDefault", clDefault},
        {"crDefault", crDefault},
        {"crNone", crNone},
        {"crArrow", crArrow},
        {"crCross", crCross},
        {"crIBeam", crIBeam},
        {"crSizeNS", crSizeNS},
        {"crSizeWE", crSizeWE},
        {"crHourGlass", crHourGlass},
        {"crDrag", crDrag},
        {"crNoDrop", crNoDrop},
        {"crHSplit", crHSplit},
        {"crVSplit", crVSplit},
        {"crHandPoint", crHandPoint},
    };
    for (const auto& [name, v] : table)
        if (ident.compare(QLatin1String(name), Qt::CaseInsensitive) == 0) {
            value = v;
            return true;
        }
    return false;
}

void Frame3D(QPainter& p, QRect& r, const QColor& topLeft, const QColor& bottomRight, int width) {
    for (int i = 0; i < width; ++i) {
        const int l = r.left(), t = r.top(), rr = r.left() + r.width() - 1, b = r.top() + r.height() - 1;
        p.setPen(topLeft);
        p.drawLine(l, b, l, t);
        p.drawLine(l, t, rr, t);
        p.setPen(bottomRight);
        p.drawLine(rr, t, rr, b);
        p.drawLine(rr, b, l, b);
        r.adjust(1, 1, -1, -1);
    }
}
