// The scrolling credits panel: layout and pitch, the pass, drawing into the
// off-screen image, hiding its children, colour-keyed pictures, destruction.
#include "TestMain.h"

#include "RXCtrls.h"
#include "StdCtrls.h"

#include <QPainter>

namespace {

// Exposes the steps a tick runs, so passes can be counted without waiting.
struct Panel : TSecretPanel {
    using TSecretPanel::TimerExpired;
    using TSecretPanel::TSecretPanel;
};

QImage Solid(int w, int h, QColor c) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

std::unique_ptr<TPicture> Picture(const QImage& img) {
    auto p = std::make_unique<TPicture>();
    p->SetImage(img);
    return p;
}

bool IsBackground(QRgb px, QColor bg) {
    return (px & 0xFFFFFF) == (bg.rgb() & 0xFFFFFF);
}

// Bounding box of the pixels that are not the background.
QRect Ink(const QImage& img, QColor bg) {
    QRect r;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (!IsBackground(img.pixel(x, y), bg)) r |= QRect(x, y, 1, 1);
    return r;
}

} // namespace

class TstRxCtrls : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<TForm> form;

    Panel* NewPanel(int w = 433, int h = 109) {
        auto* p = new Panel(form.get());
        p->SetParent(form.get());
        p->SetBounds(0, 0, w, h);
        p->SetBevelOuter(bvNone);
        return p;
    }

private slots:
    void init() {
        env = std::make_unique<TestEnvironment>();
        form = std::make_unique<TForm>(nullptr);
        form->SetBounds(0, 0, 500, 300);
    }
    void cleanup() {
        form.reset();
        env.reset();
    }

    void itStartsAsAnEmptyLoweredPanel() {
        Panel p(nullptr);
        QVERIFY(!p.Active());
        QCOMPARE(p.Alignment(), taCenter);
        QCOMPARE(p.BevelOuter(), bvLowered);
        QCOMPARE(p.TextStyle(), bvNone);
        QCOMPARE(p.GlyphLayout(), TSecretPanel::glGlyphLeft);
        QCOMPARE(p.Interval(), 30u);
        QCOMPARE(p.LineHeight(), 1);
        QVERIFY(p.Caption().isEmpty());
        QVERIFY(!p.AnimTimer()->Enabled());
        QVERIFY(p.AnimTimer()->Threaded());
        QVERIFY(!p.MemoryImage());
    }

    void theLayoutPutsThePictureBesideTheText() {
        Panel* p = NewPanel();
        auto glyph = Picture(Solid(200, 85, Qt::red));
        p->SetGlyph(glyph.get());
        p->SetActive(true);
        QCOMPARE(p->GlyphOrigin(), QPoint(6, 12));
        QCOMPARE(p->TextRect(), QRect(206, 3, 224, 103));
        QCOMPARE(p->MemoryImage()->size(), QSize(224, 103));

        p->SetGlyphLayout(TSecretPanel::glGlyphRight);
        QCOMPARE(p->GlyphOrigin(), QPoint(430 - 200 - 3, 12));
        QCOMPARE(p->TextRect(), QRect(3, 3, 227 - 3, 103));
        p->SetGlyphLayout(TSecretPanel::glGlyphTop);
        // Centred across: (3 + 430 - 200) div 2 = 116; the text starts below it.
        QCOMPARE(p->GlyphOrigin(), QPoint(116, 5));
        QCOMPARE(p->TextRect(), QRect(3, 90, 427, 16));
        p->SetGlyphLayout(TSecretPanel::glGlyphBottom);
        QCOMPARE(p->GlyphOrigin(), QPoint(116, 106 - 85 - 2));
        QCOMPARE(p->TextRect(), QRect(3, 3, 427, 19 - 3));

        // Bevels and border widen the inset.
        p->SetGlyphLayout(TSecretPanel::glGlyphLeft);
        p->SetBevelOuter(bvRaised);
        p->SetBevelInner(bvLowered);
        p->SetBevelWidth(2);
        p->SetBorderWidth(1);
        p->SetBounds(0, 0, 433, 109); // a resize recomputes
        p->SetWidth(434);
        QCOMPARE(p->TextRect().topLeft(), QPoint(8 + 3 + 200, 8));
        QCOMPARE(p->TextRect().right() + 1, 434 - 8);

        // A picture larger than the inset area leaves no text area at all.
        auto big = Picture(Solid(500, 200, Qt::red));
        p->SetGlyph(big.get());
        QCOMPARE(p->TextRect(), QRect(0, 0, 0, 0));
        p->TimerExpired(); // nothing to draw into; no failure
    }

    void theLinePitchFollowsTheFontAndStaysWithinEightBits() {
        QCOMPARE(TSecretPanel::LinePitch(13, 0, bvLowered), 14);
        QCOMPARE(TSecretPanel::LinePitch(13, 0, bvRaised), 14);
        QCOMPARE(TSecretPanel::LinePitch(13, 2, bvNone), 15);
        QCOMPARE(TSecretPanel::LinePitch(13, -3, bvNone), 13);
        QCOMPARE(TSecretPanel::LinePitch(0, 0, bvNone), 1);
        QCOMPARE(TSecretPanel::LinePitch(255, 0, bvLowered), 255);
        QCOMPARE(TSecretPanel::LinePitch(400, 10, bvNone), 255);

        Panel* p = NewPanel();
        p->SetTextStyle(bvLowered);
        p->Font()->SetHeight(-11);
        p->SetActive(true);
        const QFontMetrics fm(p->Font()->ToQFont());
        QCOMPARE(p->LineHeight(), TSecretPanel::LinePitch(fm.height(), fm.leading(), bvLowered));
        // A font change while playing takes effect at once.
        p->Font()->SetHeight(-40);
        QVERIFY(p->LineHeight() > 40);
        p->Font()->SetHeight(-600);
        QCOMPARE(p->LineHeight(), 255);
    }

    void aPassLastsOneTickMoreThanTheTextIsTall() {
        Panel* p = NewPanel();
        QStringList lines;
        for (int i = 0; i < 22; ++i)
            lines << QStringLiteral("Zeile %1").arg(i);
        p->Lines()->SetStrings(lines);
        int stops = 0;
        p->SetOnStopPlay(TNotifyEvent(p, [&](TObject*) { ++stops; }));
        p->SetActive(true);
        const int pitch = p->LineHeight();
        int ticks = 0;
        while (p->Active() && ticks < 10000) {
            p->TimerExpired();
            ++ticks;
        }
        QCOMPARE(ticks, 21 * pitch + 1);
        QCOMPARE(stops, 1);
        QVERIFY(!p->MemoryImage());
        QCOMPARE(p->ScrollPos(), 0);

        // Cycled: back to the start instead, and on for ever.
        p->SetCycled(true);
        p->SetActive(true);
        for (int i = 0; i < 21 * pitch; ++i)
            p->TimerExpired();
        QCOMPARE(p->ScrollPos(), 21 * pitch);
        p->TimerExpired();
        QCOMPARE(p->ScrollPos(), 0);
        QVERIFY(p->Active());
        p->TimerExpired();
        QCOMPARE(p->ScrollPos(), 1);

        // New lines while playing start the pass again.
        p->Lines()->Add(QStringLiteral("neu"));
        QCOMPARE(p->ScrollPos(), 0);
    }

    void fewLinesStopAtTheFirstTick() {
        for (int n : {0, 1}) {
            Panel* p = NewPanel();
            for (int i = 0; i < n; ++i)
                p->Lines()->Add(QStringLiteral("allein"));
            p->SetActive(true);
            p->TimerExpired();
            QVERIFY(!p->Active());
        }
    }

    void theTextMovesUpOnePixelPerTick() {
        Panel* p = NewPanel();
        p->SetColor(clWhite);
        p->Font()->SetColor(clBlack);
        p->Lines()->SetStrings({"", "HHHH", "", "", "", "", "", "", ""});
        p->SetActive(true);
        const int pitch = p->LineHeight();
        const QColor bg = Qt::white;
        // At the first tick the second line stands one pitch down, less one pixel.
        p->TimerExpired();
        const QRect first = Ink(*p->MemoryImage(), bg);
        while (p->ScrollPos() < pitch)
            p->TimerExpired();
        const QRect atTop = Ink(*p->MemoryImage(), bg);
        QCOMPARE(atTop.top(), first.top() - (pitch - 1));
        // Six pixels further the first line drawn is that second line, its top
        // six pixels above the area.
        for (int i = 0; i < 6; ++i)
            p->TimerExpired();
        const QRect cut = Ink(*p->MemoryImage(), bg);
        QCOMPARE(cut.bottom(), atTop.bottom() - 6);
        QVERIFY(cut.bottom() < pitch - 6);
    }

    void sevenEmptyLinesLetTheTextEnterFromBelow() {
        Panel* p = NewPanel();
        p->SetColor(clWhite);
        p->Font()->SetColor(clBlack);
        p->Lines()->SetStrings({"", "", "", "", "", "", "", "Glyvex 1.0", ""});
        p->SetActive(true);
        const int pitch = p->LineHeight();
        const int height = p->MemoryImage()->height();
        int tick = 0;
        QRect ink;
        while (ink.isEmpty() && tick < 10 * pitch) {
            p->TimerExpired();
            ++tick;
            ink = Ink(*p->MemoryImage(), Qt::white);
        }
        // It shows first at the bottom edge, after about (7 pitches - height) ticks.
        QVERIFY(!ink.isEmpty());
        QVERIFY(ink.bottom() >= height - 2);
        QVERIFY(tick >= 7 * pitch - height);
        QVERIFY(tick <= 7 * pitch - height + pitch);
    }

    void alignmentPlacesEveryLine() {
        Panel* p = NewPanel();
        p->SetColor(clWhite);
        p->Font()->SetColor(clBlack);
        p->Lines()->SetStrings({"I", "III", "IIIII", "", "", "", "", "", ""});
        p->SetAlignment(taRightJustify);
        p->SetActive(true);
        p->TimerExpired();
        const QImage& img = *p->MemoryImage();
        const QRect right = Ink(img, Qt::white);
        QVERIFY(right.right() >= img.width() - 3);
        QVERIFY(right.left() > img.width() / 2);
        p->SetAlignment(taLeftJustify);
        p->TimerExpired();
        const QRect left = Ink(*p->MemoryImage(), Qt::white);
        QVERIFY(left.left() <= 2);
        QVERIFY(left.right() < img.width() / 2);
    }

    void engravedAndEmbossedTextHaveTheirHighlightOnOppositeSides() {
        for (TPanelBevel style : {bvLowered, bvRaised}) {
            Panel* p = NewPanel();
            p->SetColor(clGray);
            p->Font()->SetColor(clBlack);
            p->Font()->SetHeight(-20);
            p->SetTextStyle(style);
            p->Lines()->SetStrings({"", "", "", "", "", "", "", "", ""});
            p->Lines()->Put(2, QStringLiteral("\u2588\u2588\u2588"));
            p->SetActive(true);
            p->TimerExpired();
            const QImage& img = *p->MemoryImage();
            const QRect ink = Ink(img, ColorToQColor(clGray));
            QVERIFY(!ink.isEmpty());
            // The highlight is the only ink lighter than the grey panel.
            auto light = [&](int x, int y) { return qGray(img.pixel(x, y)) > 160; };
            const int edgeRow = style == bvLowered ? ink.bottom() : ink.top();
            const int innerRow = style == bvLowered ? ink.top() : ink.bottom();
            int highlightOnEdge = 0, highlightInner = 0;
            for (int x = ink.left(); x <= ink.right(); ++x) {
                highlightOnEdge += light(x, edgeRow);
                highlightInner += light(x, innerRow);
            }
            QVERIFY(highlightOnEdge > 0);
            QCOMPARE(highlightInner, 0);
        }
    }

    void playingHidesTheChildrenAndStoppingBringsBackOnlyThoseItHid() {
        Panel* p = NewPanel();
        auto* shown = new TButton(form.get());
        shown->SetParent(p);
        auto* hidden = new TButton(form.get());
        hidden->SetParent(p);
        hidden->SetVisible(false);
        int starts = 0;
        p->SetOnStartPlay(TNotifyEvent(p, [&](TObject*) { ++starts; }));
        p->SetActive(true);
        p->SetActive(true);
        QCOMPARE(starts, 1);
        QVERIFY(!shown->Visible());
        QVERIFY(!hidden->Visible());
        QCOMPARE(p->HiddenControlCount(), 1);
        p->SetActive(false);
        QVERIFY(shown->Visible());
        QVERIFY(!hidden->Visible());
        QCOMPARE(p->HiddenControlCount(), 0);
        // A hidden child destroyed while playing is simply not brought back.
        p->SetActive(true);
        delete shown;
        p->SetActive(false);
        QCOMPARE(p->HiddenControlCount(), 0);
    }

    void aFailingStartLeavesThePanelStopped() {
        Panel* p = NewPanel();
        p->Lines()->SetStrings({"a", "b"});
        p->SetOnStartPlay(TNotifyEvent(p, [](TObject*) { throw Exception(QStringLiteral("nein")); }));
        QVERIFY_THROWS_EXCEPTION(Exception, p->SetActive(true));
        QVERIFY(!p->Active());
        QVERIFY(!p->AnimTimer()->Enabled());
        QVERIFY(!p->MemoryImage());
    }

    void thePictureShowsThePanelWhereverItHasTheKeyColour() {
        Panel* p = NewPanel(300, 120);
        p->SetColor(clWhite);
        QImage img = Solid(40, 30, Qt::blue);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 10; ++x)
                img.setPixelColor(x, y, Qt::magenta); // left stripe, bottom-left included
        auto glyph = Picture(img);
        p->SetGlyph(glyph.get());
        form->Show();
        QImage shot = p->Widget()->grab().toImage();
        p->SetActive(true);
        const QPoint o = p->GlyphOrigin();
        // Not playing: no picture at all.
        QCOMPARE(shot.pixelColor(o + QPoint(20, 10)), QColor(Qt::white));
        shot = p->Widget()->grab().toImage();
        QCOMPARE(shot.pixelColor(o + QPoint(20, 10)), QColor(Qt::blue));
        QCOMPARE(shot.pixelColor(o + QPoint(5, 10)), QColor(Qt::white));
        QCOMPARE(shot.pixelColor(o + QPoint(0, 29)), QColor(Qt::white));
    }

    void colourKeyedTransfersKeepTheDestinationUnderTheKey() {
        QImage src = Solid(4, 4, Qt::green);
        src.setPixelColor(1, 1, Qt::magenta);
        QImage dest = Solid(8, 8, Qt::black);
        {
            QPainter painter(&dest);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            DrawTransparent(painter, 2, 2, src, 0xFF00FF);
            QVERIFY(painter.testRenderHint(QPainter::SmoothPixmapTransform)); // the caller's again
        }
        QCOMPARE(dest.pixelColor(3, 3), QColor(Qt::black));
        QCOMPARE(dest.pixelColor(2, 2), QColor(Qt::green));
        QCOMPARE(dest.pixelColor(6, 6), QColor(Qt::black));

        // No key: a plain copy, scaled to the given size; the source clipped to the bitmap.
        QImage plain = Solid(8, 8, Qt::black);
        {
            QPainter painter(&plain);
            TransparentBlit(painter, 0, 0, 8, 8, src, QRect(0, 0, 100, 100), clNone);
        }
        QCOMPARE(plain.pixelColor(2, 2), QColor(Qt::magenta));
        QCOMPARE(plain.pixelColor(7, 7), QColor(Qt::green));

        // A part of the source, at its own size when no destination size is given.
        QImage part = Solid(8, 8, Qt::black);
        {
            QPainter painter(&part);
            TransparentBlit(painter, 0, 0, 0, 0, src, QRect(1, 1, 2, 2), 0xFF00FF);
        }
        QCOMPARE(part.pixelColor(0, 0), QColor(Qt::black));
        QCOMPARE(part.pixelColor(1, 1), QColor(Qt::green));
        QCOMPARE(part.pixelColor(2, 2), QColor(Qt::black));

        // One-bit pictures take white as the key.
        QImage mono(8, 8, QImage::Format_Mono);
        mono.fill(0);
        QCOMPARE(BottomLeftColor(mono), clWhite);
        QCOMPARE(BottomLeftColor(src), TColor(0x00FF00));
        src.setPixelColor(0, 3, Qt::blue);
        QCOMPARE(BottomLeftColor(src), TColor(0xFF0000));
    }

    void theAnimationTimerDrivesThePassOnTheUserInterfaceThread() {
        Panel* p = NewPanel();
        p->Lines()->SetStrings({"a", "b", "c"});
        p->SetInterval(5);
        p->SetCycled(true);
        form->Show();
        p->SetActive(true);
        QTRY_VERIFY(p->ScrollPos() >= 3);
        p->SetActive(false);
        QTest::qWait(30);
        QCOMPARE(p->ScrollPos(), 0);
    }

    void destroyingAPlayingPanelStopsItAndLeavesNoTick() {
        Panel* p = NewPanel();
        p->Lines()->SetStrings({"a", "b", "c"});
        p->SetInterval(2);
        p->SetCycled(true);
        auto* child = new TButton(form.get());
        child->SetParent(p);
        int stops = 0;
        QObject guard;
        p->SetOnStopPlay(TNotifyEvent(&guard, [&](TObject*) { ++stops; }));
        p->SetActive(true);
        QTRY_VERIFY(p->ScrollPos() >= 2);
        QThread::msleep(20); // a tick waits in the queue
        delete p;
        QCOMPARE(stops, 1);
        QTest::qWait(30);
        QVERIFY(env->errors.isEmpty());
    }
};

QTEST_MAIN(TstRxCtrls)
#include "tst_rxctrls.moc"
