// Fonts, colours, pictures and frame drawing.
#pragma once

#include "Classes.h"
#include "Types.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRect>

class QPainter;
class TFaceMetrics;

QColor ColorToQColor(TColor color);

// What fonts ask of the screen they are drawn on: its resolution and the family names Qt
// is given. The program's screen (TScreen, Screen.h) answers while it exists; without one,
// fonts take 96 pixels per inch and hand Qt their names as they are.
class TFontScreen {
public:
    virtual ~TFontScreen() = default;
    virtual int PixelsPerInch() const = 0;
    virtual TFaceMetrics* FaceMetrics() const = 0;
    virtual QString QtFamily(const QString& name, bool bold, bool italic) = 0;

    static TFontScreen* Current() { return FCurrent; }

protected:
    static void SetCurrent(TFontScreen* screen) { FCurrent = screen; }

private:
    static inline TFontScreen* FCurrent = nullptr;
};

// Rounded a * b / c, as the window system computes point and pixel conversions;
// -1 when c is 0 or the result lies beyond ±2147483647.
int MulDiv(int a, int b, int c);

class TFont : public TPersistent {
    Q_OBJECT
    Q_PROPERTY(QString Name READ Name WRITE SetName)
    Q_PROPERTY(int Size READ Size WRITE SetSize STORED false)
    Q_PROPERTY(int Height READ Height WRITE SetHeight)
    Q_PROPERTY(Types::TFontStyles Style READ Style WRITE SetStyle)
    Q_PROPERTY(int Color READ Color WRITE SetColor)
public:
    explicit TFont(QObject* parent = nullptr);

    QString Name() const { return FName; }
    void SetName(const QString& value);
    // Points, through the screen's pixels per inch.
    int Size() const;
    void SetSize(int points);
    // Pixels; negative means character height (the em), the usual convention.
    int Height() const { return FHeight; }
    void SetHeight(int value);
    TFontStyles Style() const { return FStyle; }
    void SetStyle(TFontStyles value);
    TColor Color() const { return FColor; }
    void SetColor(TColor value);
    // A preview font shows only its own glyphs: a character the face lacks appears as
    // the face's missing-glyph box instead of being borrowed from another installed font.
    // It also spares Qt its search for fallback families, which filters every installed
    // family against its whole list for each new face.
    bool OwnGlyphsOnly() const { return FOwnGlyphsOnly; }
    void SetOwnGlyphsOnly(bool value);

    // Character height in pixels (the em size the font is drawn at), up to
    // MaxPixelSize whatever the height says.
    int PixelSize() const;
    // Far beyond any screen, and well within what Qt's fixed-point text metrics hold.
    static constexpr int MaxPixelSize = 32767;
    QFont ToQFont() const;
    void Assign(TPersistent* Source) override;
    bool SameAs(const TFont& o) const;

    std::function<void()> OnChange;

private:
    void Changed();
    QString FName = QStringLiteral("MS Sans Serif");
    int FHeight = -11;
    TFontStyles FStyle;
    TColor FColor = clWindowText;
    bool FOwnGlyphsOnly = false;
};

// A picture held in memory; stored definitions name a compiled-in resource.
class TPicture : public TPersistent {
    Q_OBJECT
public:
    using TPersistent::TPersistent;
    const QImage& Image() const { return FImage; }
    void SetImage(const QImage& image);
    void LoadFromResource(const QString& path);
    int Width() const { return FImage.width(); }
    int Height() const { return FImage.height(); }
    bool Empty() const { return FImage.isNull(); }
    void Assign(TPersistent* Source) override;
    std::function<void()> OnChange;

private:
    QImage FImage;
};
using TBitmap = TPicture;

// Draws a Windows-style 3-D frame: raised has light top-left edges, lowered the reverse.
void Frame3D(QPainter& p, QRect& r, const QColor& topLeft, const QColor& bottomRight, int width);
