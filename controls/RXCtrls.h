// A panel that plays film credits: while Active, its Lines scroll upwards one
// pixel per tick beside its Glyph, once or in a loop, flat, engraved or embossed.
#pragma once

#include "ExtCtrls.h"
#include "RxTimer.h"

#include <QImage>
#include <QPointer>

#include <optional>

class TSecretPanel : public TCustomPanel {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
    Q_PROPERTY(Types::TAlignment Alignment READ Alignment WRITE SetAlignment)
    Q_PROPERTY(bool Cycled READ Cycled WRITE SetCycled)
    Q_PROPERTY(TPicture* Glyph READ Glyph WRITE SetGlyph)
    Q_PROPERTY(TGlyphLayout GlyphLayout READ GlyphLayout WRITE SetGlyphLayout)
    Q_PROPERTY(uint Interval READ Interval WRITE SetInterval)
    Q_PROPERTY(TStrings* Lines READ Lines WRITE SetLines)
    Q_PROPERTY(Types::TPanelBevel TextStyle READ TextStyle WRITE SetTextStyle)
    Q_PROPERTY(Types::TPanelBevel BevelInner READ BevelInner WRITE SetBevelInner)
    Q_PROPERTY(Types::TPanelBevel BevelOuter READ BevelOuter WRITE SetBevelOuter)
    Q_PROPERTY(int BevelWidth READ BevelWidth WRITE SetBevelWidth)
    Q_PROPERTY(int BorderWidth READ BorderWidth WRITE SetBorderWidth)
    Q_PROPERTY(Types::TFormBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
    Q_PROPERTY(TNotifyEvent OnStartPlay READ OnStartPlay WRITE SetOnStartPlay)
    Q_PROPERTY(TNotifyEvent OnStopPlay READ OnStopPlay WRITE SetOnStopPlay)
public:
    enum TGlyphLayout : quint8 { glGlyphLeft, glGlyphRight, glGlyphTop, glGlyphBottom };
    Q_ENUM(TGlyphLayout)

    explicit TSecretPanel(TComponent* AOwner);
    ~TSecretPanel() override;

    bool Active() const { return FActive; }
    void SetActive(bool value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment value);
    bool Cycled() const { return FCycled; }
    void SetCycled(bool value) { FCycled = value; }
    TPicture* Glyph() const { return FGlyph.get(); }
    void SetGlyph(TPicture* value) { FGlyph->Assign(value); }
    TGlyphLayout GlyphLayout() const { return FGlyphLayout; }
    void SetGlyphLayout(TGlyphLayout value);
    Cardinal Interval() const { return FAnimTimer->Interval(); }
    void SetInterval(Cardinal value) { FAnimTimer->SetInterval(value); }
    TStrings* Lines() const { return FLines.get(); }
    void SetLines(TStrings* value) { FLines->Assign(value); }
    TPanelBevel TextStyle() const { return FTextStyle; }
    void SetTextStyle(TPanelBevel value) { FTextStyle = value; }
    TNotifyEvent OnStartPlay() const { return FOnStartPlay; }
    void SetOnStartPlay(const TNotifyEvent& e) { FOnStartPlay = e; }
    TNotifyEvent OnStopPlay() const { return FOnStopPlay; }
    void SetOnStopPlay(const TNotifyEvent& e) { FOnStopPlay = e; }

    // State of the animation, for inspection.
    int ScrollPos() const { return FScrollPos; }
    int LineHeight() const { return FLineHeight; }
    QRect TextRect() const { return FTextRect; }
    QPoint GlyphOrigin() const { return FGlyphOrigin; }
    // The off-screen image of the text area; absent while not playing.
    const std::optional<QImage>& MemoryImage() const { return FMemoryImage; }
    TRxTimer* AnimTimer() const { return FAnimTimer; }
    int HiddenControlCount() const { return int(FHiddenControls.size()); }

    // The line pitch for a font's character height and external leading: room
    // for the 3-D offset when the text is engraved or embossed, and always
    // between 1 and 255 pixels.
    static int LinePitch(int charHeight, int externalLeading, TPanelBevel textStyle);

protected:
    void Paint(QPainter& p) override;
    void FontChanged() override;
    void ParentColorChanged() override;
    void BoundsChanged(bool sizeChanged) override;
    // One scroll step.
    virtual void TimerExpired();
    virtual void StartPlay();
    virtual void StopPlay();

private:
    void Start();
    void Stop();
    void RecalcMetrics();
    void RecalcLayout();
    void PaintText();
    void PaintGlyph(QPainter& p);
    void GlyphChanged();
    void LinesChanged();

    bool FActive = false;
    std::unique_ptr<TStrings> FLines;
    bool FCycled = false;
    int FScrollPos = 0;
    quint8 FLineHeight = 1;
    TRxTimer* FAnimTimer = nullptr; // owned as a component
    QRect FTextRect;
    QPoint FGlyphOrigin;
    std::optional<QImage> FMemoryImage;
    bool FImageDrawn = false;
    std::unique_ptr<TPicture> FGlyph;
    std::vector<QPointer<TControl>> FHiddenControls;
    TPanelBevel FTextStyle = bvNone;
    TGlyphLayout FGlyphLayout = glGlyphLeft;
    TNotifyEvent FOnStartPlay, FOnStopPlay;
};

// Draws the whole bitmap at its own size at (x, y); pixels of exactly the key
// colour leave the destination as it was.
void DrawTransparent(QPainter& canvas, int x, int y, const QImage& bitmap, TColor keyColor);
// Draws srcRect of the bitmap (all of it when srcRect has no area, clipped to the
// bitmap) into the w x h rectangle at (x, y) (the source size when w or h is 0),
// leaving pixels of the key colour transparent; clNone copies plainly.
void TransparentBlit(QPainter& dest, int x, int y, int w, int h, const QImage& source, QRect srcRect,
                     TColor keyColor);
// The colour of a picture's bottom-left pixel, white for a one-bit picture.
TColor BottomLeftColor(const QImage& image);
