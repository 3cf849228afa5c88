#include "TestMain.h"

#include "ExtCtrls.h"
#include "Menus.h"
#include "StdCtrls.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QTest>

namespace {

const char* MenuForm = R"(
Form1: TForm {
  Width = 300
  Height = 200
  Menu = MainMenu1
  MainMenu1: TMainMenu {
    Datei1: TMenuItem {
      Caption = "&Datei"
      Beenden1: TMenuItem { Caption = "&Beenden" }
    }
    Ansicht1: TMenuItem {
      Caption = "&Ansicht"
      N2: TMenuItem { Caption = "-" Visible = False }
      FontInfo1: TMenuItem { Caption = "Font &Info" ShortCut = 16457 Visible = False }
      N1: TMenuItem { Caption = "-" }
      English1: TMenuItem { Caption = "&English" }
    }
    Hilfe1: TMenuItem {
      Caption = "&Hilfe"
      Inhalt1: TMenuItem { Caption = "&Hilfethemen..." ShortCut = 112 }
    }
  }
}
)";

QStringList Texts(const QList<QAction*>& actions) {
    QStringList r;
    for (auto* a : actions)
        r << (a->isSeparator() ? QStringLiteral("|") : a->text()) + (a->isVisible() ? "" : "~");
    return r;
}

TMenuItem* Item(TCustomForm* f, const char* name) {
    return dynamic_cast<TMenuItem*>(f->FindComponent(name));
}

void Activate(TCustomForm* f) {
    f->Show();
    QApplication::setActiveWindow(f->Widget());
    QVERIFY(QTest::qWaitForWindowActive(f->Widget()));
}

} // namespace

class TstMenus : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnvironment> env;

private slots:
    void init() { env = std::make_unique<TestEnvironment>(); }
    void cleanup() { env.reset(); }

    void shortCutsArePackedLikeTheWindowSystemsOnes() {
        QCOMPARE(ShortCut('I', ssCtrl), 16457);
        QCOMPARE(ShortCut(VK_F1, {}), 112);
        QCOMPARE(ShortCut('A', TShiftState(ssShift) | ssAlt), 0x2000 | 0x8000 | 0x41);
        QCOMPARE(ShortCutToKeySequence(16457), QKeySequence(Qt::CTRL | Qt::Key_I));
        QCOMPARE(ShortCutToKeySequence(112), QKeySequence(Qt::Key_F1));
        QCOMPARE(ShortCutToKeySequence(ShortCut(VK_F1 + 4, TShiftState(ssShift) | ssAlt)),
                 QKeySequence(Qt::SHIFT | Qt::ALT | Qt::Key_F5));
        QCOMPARE(ShortCutToKeySequence(ShortCut('7', ssCtrl)), QKeySequence(Qt::CTRL | Qt::Key_7));
        QVERIFY(ShortCutToKeySequence(0).isEmpty());
        QVERIFY(ShortCutToKeySequence(0xE9).isEmpty()); // a key code Qt has no name for
        QCOMPARE(ShortCutToText(112), QStringLiteral("F1"));
    }

    void aDefinitionBuildsTheMenuBar() {
        TForm form(nullptr);
        TFormReader::ReadFormText(&form, MenuForm, "test");
        auto* menu = dynamic_cast<TMainMenu*>(form.FindComponent("MainMenu1"));
        QVERIFY(menu);
        QCOMPARE(form.Menu(), menu);
        QCOMPARE(menu->Items()->Count(), 3);
        QCOMPARE(Item(&form, "FontInfo1")->Parent(), Item(&form, "Ansicht1"));
        QCOMPARE(Item(&form, "FontInfo1")->GetParentMenu(), menu);
        QCOMPARE(Item(&form, "FontInfo1")->ShortCut(), 16457);

        const auto bar = menu->MenuBar()->actions();
        QCOMPARE(Texts(bar), QStringList({"&Datei", "&Ansicht", "&Hilfe"}));
        QCOMPARE(Texts(bar[1]->menu()->actions()),
                 QStringList({"|~", "Font &Info\tCtrl+I~", "|", "&English"}));
        QCOMPARE(Texts(bar[2]->menu()->actions()), QStringList({"&Hilfethemen...\tF1"}));

        // The bar sits in the window above the client area.
        form.Show();
        QCOMPARE(menu->MenuBar()->window(), form.Widget());
        QVERIFY(menu->MenuBar()->isVisible());
        QVERIFY(menu->MenuBar()->height() > 0);
        QCOMPARE(form.ClientWidget()->y(), menu->MenuBar()->height());
        QCOMPARE(form.ClientWidget()->height(), form.ClientHeight());
        QCOMPARE(form.Widget()->height(), form.ClientHeight() + menu->MenuBar()->height());

        // Captions follow the item, also for items with a submenu.
        Item(&form, "Ansicht1")->SetCaption("&View");
        Item(&form, "English1")->SetCaption("&Deutsch");
        QCOMPARE(Texts(menu->MenuBar()->actions()), QStringList({"&Datei", "&View", "&Hilfe"}));
        QCOMPARE(bar[1]->menu()->actions().last()->text(), QStringLiteral("&Deutsch"));
    }

    void shortCutsReachHiddenEnabledItemsWhileTheWindowIsActive() {
        TForm form(nullptr);
        TFormReader::ReadFormText(&form, MenuForm, "test");
        int info = 0, help = 0;
        Item(&form, "FontInfo1")->SetOnClick(TNotifyEvent(&form, [&](TObject* s) {
            QCOMPARE(s, Item(&form, "FontInfo1"));
            ++info;
        }));
        Item(&form, "Inhalt1")->SetOnClick(TNotifyEvent(&form, [&](TObject*) { ++help; }));
        Activate(&form);

        QTest::keyClick(form.Widget(), Qt::Key_I, Qt::ControlModifier);
        QCOMPARE(info, 1);
        QTest::keyClick(form.Widget(), Qt::Key_F1);
        QCOMPARE(help, 1);

        Item(&form, "FontInfo1")->SetEnabled(false);
        QTest::keyClick(form.Widget(), Qt::Key_I, Qt::ControlModifier);
        QCOMPARE(info, 1);
        Item(&form, "FontInfo1")->SetEnabled(true);

        // A changed shortcut replaces the old one.
        Item(&form, "FontInfo1")->SetShortCut(ShortCut('K', ssCtrl));
        QTest::keyClick(form.Widget(), Qt::Key_I, Qt::ControlModifier);
        QTest::keyClick(form.Widget(), Qt::Key_K, Qt::ControlModifier);
        QCOMPARE(info, 2);

        // Another active window does not get this window's shortcuts.
        TForm other(nullptr);
        Activate(&other);
        QTest::keyClick(other.Widget(), Qt::Key_K, Qt::ControlModifier);
        QCOMPARE(info, 2);
    }

    void choosingAnItemLeavesTheCheckMarkToTheHandler() {
        TForm form(nullptr);
        TFormReader::ReadFormText(&form, MenuForm, "test");
        auto* english = Item(&form, "English1");
        english->SetChecked(true);
        QVERIFY(english->Action()->isChecked());
        bool seen = false;
        english->SetOnClick(TNotifyEvent(&form, [&](TObject*) { seen = english->Checked(); }));
        english->Action()->trigger();
        QVERIFY(seen);
        QVERIFY(english->Checked());
        QVERIFY(english->Action()->isChecked());

        english->SetEnabled(false);
        seen = false;
        english->Click();
        QVERIFY(!seen);
    }

    void aFailingHandlerIsReportedNotThrownIntoQt() {
        TForm form(nullptr);
        TFormReader::ReadFormText(&form, MenuForm, "test");
        Item(&form, "Beenden1")->SetOnClick(TNotifyEvent(&form, [](TObject*) {
            throw EInvalidOperation("kaputt");
        }));
        Item(&form, "Beenden1")->Action()->trigger();
        QCOMPARE(env->errors, QStringList({"kaputt"}));
    }

    void destroyedItemsAndMenusLeaveNothingBehind() {
        TForm form(nullptr);
        TFormReader::ReadFormText(&form, MenuForm, "test");
        auto* menu = form.Menu();
        QMenu* view = menu->MenuBar()->actions()[1]->menu();
        delete Item(&form, "N1");
        QCOMPARE(Texts(view->actions()), QStringList({"|~", "Font &Info\tCtrl+I~", "&English"}));
        delete Item(&form, "Hilfe1");
        QCOMPARE(Texts(menu->MenuBar()->actions()), QStringList({"&Datei", "&Ansicht"}));
        QCOMPARE(Item(&form, "Inhalt1")->Parent(), nullptr);

        int info = 0;
        Item(&form, "FontInfo1")->SetOnClick(TNotifyEvent(&form, [&](TObject*) { ++info; }));
        Activate(&form);
        delete menu;
        QCOMPARE(form.Menu(), nullptr);
        QTest::keyClick(form.Widget(), Qt::Key_I, Qt::ControlModifier);
        QCOMPARE(info, 0);
        Item(&form, "FontInfo1")->SetCaption("still alive");
    }

    void radioControlsKeepOneChoice() {
        TForm form(nullptr);
        auto* group = new TRadioGroup(&form);
        group->SetParent(&form);
        group->Items()->SetStrings({"eins", "zwei", "drei"});
        auto* a = new TRadioButton(&form);
        auto* b = new TRadioButton(&form);
        a->SetParent(&form);
        b->SetParent(&form);
        int clicks = 0;
        group->SetOnClick(TNotifyEvent(&form, [&](TObject*) { ++clicks; }));
        b->SetOnClick(TNotifyEvent(&form, [&](TObject*) { ++clicks; }));
        group->SetItemIndex(7);
        QCOMPARE(group->ItemIndex(), -1);
        a->SetChecked(true);
        b->SetChecked(true);
        QVERIFY(!a->Checked());
        QCOMPARE(clicks, 0); // choices made in code fire nothing

        form.Show();
        auto buttons = group->Widget()->findChildren<QRadioButton*>();
        QCOMPARE(buttons.size(), 3);
        buttons[2]->click();
        QCOMPARE(group->ItemIndex(), 2);
        group->Items()->Delete(2);
        QCOMPARE(group->ItemIndex(), -1);
        QCOMPARE(group->Widget()->findChildren<QRadioButton*>().size(), 2);
        // Clicking the checked button keeps it checked.
        static_cast<QRadioButton*>(b->Widget())->click();
        QVERIFY(b->Checked());
        QVERIFY(static_cast<QRadioButton*>(b->Widget())->isChecked());
        static_cast<QRadioButton*>(a->Widget())->click();
        QVERIFY(!static_cast<QRadioButton*>(b->Widget())->isChecked());
        QCOMPARE(clicks, 2);
    }
};

QTEST_MAIN(TstMenus)
#include "tst_menus.moc"
