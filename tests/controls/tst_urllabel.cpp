// The link label: what it opens, its colours while pressed, its hand cursor and
// its own menu that copies the caption.
#include "TestMain.h"

#include "Shell.h"
#include "UrlLabel.h"

#include <QBitmap>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>

class TstUrlLabel : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<TForm> form;
    QStringList opened;

    TUrlLabel* NewLabel(const QString& caption, const QString& url) {
        auto* l = new TUrlLabel(form.get());
        l->SetParent(form.get());
        l->SetBounds(10, 10, 150, 13);
        l->SetCaption(caption);
        l->SetURL(url);
        return l;
    }

private slots:
    void init() {
        env = std::make_unique<TestEnvironment>();
        SetShellOpen([this](const QString& t) {
            opened << t;
            return true;
        });
        form = std::make_unique<TForm>(nullptr);
        form->SetBounds(0, 0, 300, 100);
    }
    void cleanup() {
        form.reset();
        env.reset();
        SetShellOpen({});
        opened.clear();
    }

    void itLooksLikeALink() {
        TUrlLabel* l = NewLabel("Homepage", "");
        QCOMPARE(l->Font()->Color(), clBlue);
        QCOMPARE(l->Font()->Style(), TFontStyles(fsUnderline));
        QCOMPARE(l->ActiveColor(), clPurple);
        QCOMPARE(l->ActiveColor(), 8388736);
        QCOMPARE(l->Cursor(), crHand);
        QCOMPARE(l->PopupMenu(), l->LinkMenu());
        QCOMPARE(l->LinkMenu()->Items()->Count(), 1);
        QCOMPARE(l->CopyItem()->Caption(), QStringLiteral("Copy"));
    }

    void theHandCursorIsRegisteredAsCursorFive() {
        QVERIFY(!Screen->HasCursor(crHand));
        NewLabel("a", "");
        QVERIFY(Screen->HasCursor(crHand));
        const QCursor hand = Screen->CursorShape(crHand);
        QCOMPARE(hand.hotSpot(), QPoint(5, 0));
        QCOMPARE(hand.bitmap().size(), QSize(32, 32));
        QCOMPARE(hand.mask().size(), QSize(32, 32));
        // The hot spot is on the fingertip, not on a transparent pixel.
        QCOMPARE(hand.mask().toImage().pixelIndex(5, 0), 1);
        // A second label registers it again; both show the same cursor.
        TUrlLabel* second = NewLabel("b", "");
        QCOMPARE(second->Cursor(), crHand);
        QCOMPARE(Screen->CursorShape(crHand).hotSpot(), QPoint(5, 0));
    }

    void aClickOpensTheUrlOrElseTheCaption() {
        int clicks = 0;
        TUrlLabel* l = NewLabel("Caption text", "http://www.tandor.example/");
        l->SetOnClick(TNotifyEvent(l, [&](TObject*) { ++clicks; }));
        l->Click();
        QCOMPARE(opened, QStringList{"http://www.tandor.example/"});

        // Blanks and control characters alone do not make a target.
        l->SetURL(QStringLiteral("  \t"));
        l->Click();
        QCOMPARE(opened.last(), QStringLiteral("Caption text"));

        // A target goes to the shell as stored, blanks included.
        l->SetURL(QStringLiteral("mailto:info@tandor.example "));
        l->Click();
        QCOMPARE(opened.last(), QStringLiteral("mailto:info@tandor.example "));

        // Nothing to open: only OnClick.
        l->SetURL(QString());
        l->SetCaption(QStringLiteral(" "));
        const int before = int(opened.size());
        l->Click();
        QCOMPARE(int(opened.size()), before);
        QCOMPARE(clicks, 4);
    }

    void theActiveColourLastsWhileTheLeftButtonIsDown() {
        TUrlLabel* l = NewLabel("Link", "http://www.tandor.example/");
        form->Show();
        QWidget* w = l->Widget();
        TColor colourWhileOpening = 0;
        SetShellOpen([&](const QString&) {
            colourWhileOpening = l->Font()->Color();
            return true;
        });
        QTest::mousePress(w, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(l->Font()->Color(), clPurple);
        QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(l->Font()->Color(), clBlue);
        // The shell was asked before the colour went back.
        QCOMPARE(colourWhileOpening, clPurple);

        // Released away from the label: the colour returns, nothing is opened.
        colourWhileOpening = 0;
        QTest::mousePress(w, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(400, 5));
        QCOMPARE(l->Font()->Color(), clBlue);
        QCOMPARE(colourWhileOpening, 0);

        // The right button leaves the colour alone.
        l->MouseDown(mbRight, {}, 5, 5);
        QCOMPARE(l->Font()->Color(), clBlue);
        l->MouseUp(mbRight, {}, 5, 5);
        QCOMPARE(l->Font()->Color(), clBlue);

        // A colour of the user's survives a press.
        l->Font()->SetColor(clGreen);
        l->MouseDown(mbLeft, {}, 5, 5);
        QCOMPARE(l->Font()->Color(), clPurple);
        l->MouseUp(mbLeft, {}, 5, 5);
        QCOMPARE(l->Font()->Color(), clGreen);

        // Another button let go meanwhile does not end it.
        l->MouseDown(mbLeft, {}, 5, 5);
        l->MouseUp(mbRight, {}, 5, 5);
        QCOMPARE(l->Font()->Color(), clPurple);
        l->MouseUp(mbLeft, {}, 5, 5);
        QCOMPARE(l->Font()->Color(), clGreen);
    }

    void copyPutsTheCaptionNotTheUrlOnTheClipboard() {
        TUrlLabel* l = NewLabel("Email: info@tandor.example", "mailto:info@tandor.example");
        QGuiApplication::clipboard()->setText(QStringLiteral("vorher"));
        l->CopyItem()->Click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("Email: info@tandor.example"));
        QVERIFY(opened.isEmpty());
    }

    void aRightClickShowsItsOwnMenu() {
        TUrlLabel* l = NewLabel("Link", "x");
        form->Show();
        QWidget* w = l->Widget();
        QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(5, 5), w->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(w, &e);
        QMenu* menu = l->LinkMenu()->Menu();
        QTRY_VERIFY(menu->isVisible());
        QCOMPARE(menu->actions().size(), 1);
        QCOMPARE(menu->actions().first()->text(), QStringLiteral("Copy"));
        menu->hide();
        QVERIFY(opened.isEmpty());
    }

    void theMenuGoesWithTheLabel() {
        TUrlLabel* l = NewLabel("Link", "x");
        QPointer<TPopupMenu> menu = l->LinkMenu();
        delete l;
        QVERIFY(menu.isNull());
    }
};

QTEST_MAIN(TstUrlLabel)
#include "tst_urllabel.moc"
