// The About dialog: its stored definition, opening from the main window, the
// credits running while it shows, the two views and the language.
#include "TestMain.h"

#include "Shell.h"
#include "Unit2.h"
#include "Unit3.h"
#include "Unit4.h"
#include "unit1.h"

#include <QPushButton>
#include <QTimer>

namespace {

// Runs `check` once the modal dialog is up, then leaves it the way `leave` says.
void WhileShown(const std::function<void()>& check, const std::function<void()>& leave) {
    QTimer::singleShot(0, [=] {
        QTRY_VERIFY(Form3->Widget() && Form3->Widget()->isVisible());
        check();
        leave();
    });
}

void PressOk() {
    qobject_cast<QPushButton*>(Form3->Button1->Widget())->click();
}

void CloseByCaption() {
    Form3->Widget()->close();
}

void Press(TControl* c, Qt::MouseButton b, Qt::KeyboardModifiers m) {
    QTest::mousePress(c->Widget(), b, m, QPoint(20, 20));
    QTest::mouseRelease(c->Widget(), b, m, QPoint(20, 20));
}

} // namespace

class TstUnit3 : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnvironment> env;
    QStringList opened;

private slots:
    void init() {
        env = std::make_unique<TestEnvironment>(QStringList{"Alpha Sans", "Beta Serif"});
        SetShellOpen([this](const QString& t) {
            opened << t;
            return true;
        });
        Form2 = TForm::Create<TForm2>(Application);
        Application->CreateForm(Form1);
        Application->CreateForm(Form3);
        Application->CreateForm(Form4);
    }
    void cleanup() {
        env.reset();
        SetShellOpen({});
        opened.clear();
        Form1 = nullptr;
        Form2 = nullptr;
        Form3 = nullptr;
        Form4 = nullptr;
    }

    void theDefinitionGivesTheDialogItsParts() {
        QVERIFY(!Form3->Visible());
        QCOMPARE(Form3->Caption(), QStringLiteral("Info"));
        QCOMPARE(Form3->ClientWidth(), 459);
        QCOMPARE(Form3->ClientHeight(), 207);
        QVERIFY(Form3->GroupBox1->Visible());
        QVERIFY(!Form3->GroupBox2->Visible());
        QCOMPARE(Form3->GroupBox1->Caption(), QStringLiteral("Information"));
        QCOMPARE(Form3->Button1->Caption(), QStringLiteral("OK"));
        QCOMPARE(Form3->Image1->Picture()->Width(), 125);
        QCOMPARE(Form3->Image1->Picture()->Height(), 150);

        TSecretPanel* p = Form3->SecretPanel1;
        QCOMPARE(p->BoundsRect(), QRect(4, 20, 433, 109));
        QVERIFY(p->Cycled());
        QCOMPARE(p->Interval(), 100u);
        QCOMPARE(p->TextStyle(), bvLowered);
        QCOMPARE(p->BevelOuter(), bvNone);
        QCOMPARE(p->Alignment(), taCenter);
        QCOMPARE(p->GlyphLayout(), TSecretPanel::glGlyphLeft);
        QVERIFY(!p->Active());
        QCOMPARE(p->Glyph()->Width(), 200);
        QCOMPARE(p->Glyph()->Height(), 85);
        QCOMPARE(p->Lines()->Count(), 22);
        for (int i = 0; i < 7; ++i)
            QVERIFY(p->Lines()->Strings(i).isEmpty());
        QCOMPARE(p->Lines()->Strings(7), QStringLiteral("Glyvex 1.0"));
        QVERIFY(p->Lines()->Strings(8).contains(QStringLiteral("Glyvex")) ||
                p->Lines()->Strings(8).contains(QStringLiteral("©")));
        QCOMPARE(p->Lines()->Strings(14), QStringLiteral("Wenn Ihnen Glyvex gefällt, "));
        QCOMPARE(p->Lines()->Strings(15), QStringLiteral("dann schreiben Sie uns bitte "));
        QCOMPARE(p->Lines()->Strings(19), QStringLiteral("email us!"));

        QVERIFY(Form3->UrlLabel1->URL().contains(QStringLiteral("tandor.example")));
        QCOMPARE(Form3->UrlLabel1->Caption(), QStringLiteral("Homepage: ") + Form3->UrlLabel1->URL());
        QVERIFY(Form3->UrlLabel2->URL().startsWith(QStringLiteral("mailto:")));
        QCOMPARE(QStringLiteral("Email: ") + Form3->UrlLabel2->URL().mid(7), Form3->UrlLabel2->Caption());
        QVERIFY(Form3->UrlLabel2->URL().endsWith(QStringLiteral("@tandor.example")));
        QCOMPARE(Form3->UrlLabel1->Cursor(), crHand);
    }

    // The picture is drawn with its bottom-left colour keyed out: that colour must mark the
    // surround only. Every pixel of it is reached from the picture's edge through pixels of
    // it (no speckles inside), and the picture has at most 256 colours, as the splash's.
    void theProgramPicturesKeyColourIsItsSurroundOnly() {
        const QImage image = Form3->SecretPanel1->Glyph()->Image().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(image.size(), QSize(200, 85));
        const QRgb key = image.pixel(0, image.height() - 1);
        QSet<QRgb> colours;
        int keyed = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                colours.insert(image.pixel(x, y));
                keyed += image.pixel(x, y) == key ? 1 : 0;
            }
        QVERIFY2(colours.size() <= 256, qPrintable(QString::number(colours.size())));
        QVector<bool> seen(image.width() * image.height(), false);
        QVector<QPoint> todo;
        for (int x = 0; x < image.width(); ++x)
            todo << QPoint(x, 0) << QPoint(x, image.height() - 1);
        for (int y = 0; y < image.height(); ++y)
            todo << QPoint(0, y) << QPoint(image.width() - 1, y);
        int reached = 0;
        while (!todo.isEmpty()) {
            const QPoint p = todo.takeLast();
            if (!image.rect().contains(p) || seen[p.y() * image.width() + p.x()] || image.pixel(p) != key)
                continue;
            seen[p.y() * image.width() + p.x()] = true;
            ++reached;
            todo << p + QPoint(1, 0) << p - QPoint(1, 0) << p + QPoint(0, 1) << p - QPoint(0, 1);
        }
        QCOMPARE(reached, keyed);
        // And the surround is only a margin: most of the picture shows.
        QVERIFY2(keyed < image.width() * image.height() / 8, qPrintable(QString::number(keyed)));
    }

    void infoOpensTheDialogWithRunningCreditsAndOkStopsAndCloses() {
        int ticksWhileShown = 0;
        WhileShown(
            [&] {
                QVERIFY(Form3->SecretPanel1->Active());
                const int before = Form3->SecretPanel1->ScrollPos();
                QTRY_VERIFY_WITH_TIMEOUT(Form3->SecretPanel1->ScrollPos() > before + 1, 3000);
                ticksWhileShown = Form3->SecretPanel1->ScrollPos();
            },
            PressOk);
        Form1->Info1Click(Form1->Info1);
        QVERIFY(ticksWhileShown >= 2);
        QVERIFY(!Form3->Visible());
        QVERIFY(!Form3->SecretPanel1->Active());
        QVERIFY(!Form3->SecretPanel1->AnimTimer()->Enabled());
        QVERIFY(env->errors.isEmpty());
    }

    void ctrlLeftClickSwapsToThePictureAndADoubleClickBack() {
        WhileShown(
            [&] {
                TSecretPanel* p = Form3->SecretPanel1;
                Press(p, Qt::LeftButton, Qt::NoModifier);
                Press(p, Qt::RightButton, Qt::NoModifier);
                Press(p, Qt::LeftButton, Qt::ShiftModifier);
                Press(p, Qt::RightButton, Qt::ControlModifier);
                QVERIFY(Form3->GroupBox1->Visible());
                QVERIFY(!Form3->GroupBox2->Visible());

                Press(p, Qt::LeftButton, Qt::ControlModifier);
                QVERIFY(!Form3->GroupBox1->Visible());
                QVERIFY(Form3->GroupBox2->Visible());
                QVERIFY(Form3->GroupBox2->Widget()->isVisible());

                QTest::mouseDClick(Form3->Image1->Widget(), Qt::LeftButton, {}, QPoint(30, 30));
                QVERIFY(Form3->GroupBox1->Visible());
                QVERIFY(!Form3->GroupBox2->Visible());
                // The credits went on through both swaps.
                QVERIFY(p->Active());
                const int pos = p->ScrollPos();
                QTRY_VERIFY_WITH_TIMEOUT(p->ScrollPos() != pos, 3000);
            },
            PressOk);
        Form1->Info1Click(Form1->Info1);
        QVERIFY(env->errors.isEmpty());
    }

    void okAfterASwapReopensOnTheCredits() {
        WhileShown([] { Press(Form3->SecretPanel1, Qt::LeftButton, Qt::ControlModifier); }, PressOk);
        Form1->Info1Click(Form1->Info1);
        bool creditsView = false;
        WhileShown([&] { creditsView = Form3->GroupBox1->Visible() && !Form3->GroupBox2->Visible(); },
                   PressOk);
        Form1->Info1Click(Form1->Info1);
        QVERIFY(creditsView);
    }

    void theCaptionsCloseButtonKeepsTheViewAndTheCreditsRunning() {
        WhileShown([] { Press(Form3->SecretPanel1, Qt::LeftButton, Qt::ControlModifier); }, CloseByCaption);
        Form1->Info1Click(Form1->Info1);
        QVERIFY(!Form3->Visible());
        // Not stopped by OK: still active, still in the picture view.
        QVERIFY(Form3->SecretPanel1->Active());
        QVERIFY(Form3->GroupBox2->Visible());
        bool pictureView = false, active = false;
        WhileShown(
            [&] {
                pictureView = Form3->GroupBox2->Visible() && !Form3->GroupBox1->Visible();
                active = Form3->SecretPanel1->Active();
            },
            PressOk);
        Form1->Info1Click(Form1->Info1);
        QVERIFY(pictureView);
        QVERIFY(active);
    }

    void theLinksOpenTheirTargetsInTheShell() {
        WhileShown(
            [&] {
                QTest::mouseClick(Form3->UrlLabel1->Widget(), Qt::LeftButton, {}, QPoint(3, 3));
                QTest::mouseClick(Form3->UrlLabel2->Widget(), Qt::LeftButton, {}, QPoint(3, 3));
            },
            PressOk);
        Form1->Info1Click(Form1->Info1);
        QCOMPARE(opened, QStringList({Form3->UrlLabel1->URL(), Form3->UrlLabel2->URL()}));
    }

    void theDialogReadsTheSameInBothLanguages() {
        // The dialog has no translator: switching the interface leaves it German.
        Form1->English1Click(Form1->English1);
        QCOMPARE(Form1->Translator1->CurrentLanguage(), English);
        QCOMPARE(Form3->Caption(), QStringLiteral("Info"));
        QCOMPARE(Form3->Button1->Caption(), QStringLiteral("OK"));
        QCOMPARE(Form3->GroupBox1->Caption(), QStringLiteral("Information"));
        QCOMPARE(Form3->GroupBox2->Caption(), QStringLiteral("Information"));
        Form1->English1Click(Form1->English1);
        QCOMPARE(Form3->Caption(), QStringLiteral("Info"));
    }

    void theKeyboardOrderIsCreditsButtonPicture() {
        QCOMPARE(Form3->GroupBox1->ComponentIndex() < Form3->Button1->ComponentIndex(), true);
        QCOMPARE(Form3->Button1->ComponentIndex() < Form3->GroupBox2->ComponentIndex(), true);
    }

    void destroyingTheOpenDialogWhileTheCreditsRunLeavesNoTick() {
        Form3->Show();
        QTRY_VERIFY_WITH_TIMEOUT(Form3->SecretPanel1->ScrollPos() > 0, 3000);
        delete Form3;
        Form3 = nullptr;
        // Ticks that were on their way find nothing to run.
        QTest::qWait(250);
        QVERIFY(env->errors.isEmpty());
    }
};

QTEST_MAIN(TstUnit3)
#include "tst_unit3.moc"
