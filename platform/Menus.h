// Menus: items with captions, access keys ("&"), check marks and shortcuts, the
// main menu shown as a form's menu bar, and pop-up menus.
#pragma once

#include "Classes.h"
#include "Keys.h"
#include "Types.h"

#include <QKeySequence>
#include <QPointer>

class QAction;
class QMenu;
class QMenuBar;
class QShortcut;
class QWidget;
class TMenu;

// A shortcut packs the virtual key code into the low byte and the modifiers above it.
using TShortCut = int;
inline constexpr TShortCut scShift = 0x2000, scCtrl = 0x4000, scAlt = 0x8000;

TShortCut ShortCut(Word key, TShiftState shift);
// The key sequence of a packed shortcut; empty for 0 or a key Qt cannot name.
QKeySequence ShortCutToKeySequence(TShortCut shortCut);
// The text a menu shows for a shortcut ("Ctrl+I", "F1").
QString ShortCutToText(TShortCut shortCut);

class TMenuItem : public TComponent {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(int ShortCut READ ShortCut WRITE SetShortCut)
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(bool Checked READ Checked WRITE SetChecked)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(TNotifyEvent OnClick READ OnClick WRITE SetOnClick)
public:
    explicit TMenuItem(TComponent* AOwner);
    ~TMenuItem() override;

    QString Caption() const { return FCaption; }
    void SetCaption(const QString& value);
    TShortCut ShortCut() const { return FShortCut; }
    void SetShortCut(TShortCut value);
    bool Visible() const { return FVisible; }
    void SetVisible(bool value);
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);
    bool Checked() const { return FChecked; }
    void SetChecked(bool value);
    QString Hint() const { return FHint; }
    void SetHint(const QString& value);
    TNotifyEvent OnClick() const { return FOnClick; }
    void SetOnClick(const TNotifyEvent& e) { FOnClick = e; }
    // A caption of "-" makes the item a separator line.
    bool IsLine() const { return FCaption == QLatin1String("-"); }

    int Count() const { return int(FItems.size()); }
    TMenuItem* Items(int index) const;
    TMenuItem* Parent() const { return FParent; }
    int IndexOf(const TMenuItem* item) const;
    void Add(TMenuItem* item);
    void Insert(int index, TMenuItem* item);
    void Remove(TMenuItem* item);
    // The menu this item belongs to, through its parents.
    TMenu* GetParentMenu() const;

    // What choosing the item does: fires OnClick if the item is enabled.
    virtual void Click();
    // Nests the item in a menu item or, at the top, in a menu.
    void SetParentComponent(TComponent* parent) override;

    // The action that shows this item in menus and menu bars.
    QAction* Action() const { return FAction.get(); }

protected:
    friend class TMenu;
    void UpdateAction();
    void RebuildSubmenu();
    // Tells the menu that items or shortcuts changed.
    void MenuChanged();

    QString FCaption;
    TShortCut FShortCut = 0;
    bool FVisible = true;
    bool FEnabled = true;
    bool FChecked = false;
    QString FHint;
    TNotifyEvent FOnClick;
    TMenuItem* FParent = nullptr;
    TMenu* FMenu = nullptr; // set on a menu's root item only
    std::vector<TMenuItem*> FItems;
    // Declared before the action so that the action goes first.
    std::unique_ptr<QMenu> FSubmenu;
    std::unique_ptr<QAction> FAction;
};

class TMenu : public TComponent {
    Q_OBJECT
public:
    explicit TMenu(TComponent* AOwner);
    ~TMenu() override;
    // The invisible root whose children are the menu's top-level items.
    TMenuItem* Items() const { return FItems.get(); }
    // Every item of the menu with a shortcut, at any depth, in menu order.
    std::vector<TMenuItem*> ShortCutItems() const;
    // Runs the enabled item whose shortcut this is, visible or not; false if none.
    bool DispatchShortCut(TShortCut shortCut);

protected:
    friend class TMenuItem;
    // Items were added, removed or changed their caption, visibility or shortcut.
    virtual void ItemsChanged() {}
    // Stops the items reporting to this menu; a menu calls it as it goes.
    void DetachItems();
    std::unique_ptr<TMenuItem> FItems;
};

// The menu bar of a form (the form's `Menu`). Its shortcuts act while that form's
// window is active, also for items that are not shown.
class TMainMenu : public TMenu {
    Q_OBJECT
public:
    explicit TMainMenu(TComponent* AOwner);
    ~TMainMenu() override;
    // The bar widget a form places above its client area.
    QMenuBar* MenuBar() const;

protected:
    void ItemsChanged() override;
    void RebuildShortCuts();

    QPointer<QMenuBar> FMenuBar;
    std::vector<QPointer<QShortcut>> FShortCuts;
};

class TPopupMenu : public TMenu {
    Q_OBJECT
    Q_PROPERTY(TNotifyEvent OnPopup READ OnPopup WRITE SetOnPopup)
public:
    explicit TPopupMenu(TComponent* AOwner);
    ~TPopupMenu() override;
    TNotifyEvent OnPopup() const { return FOnPopup; }
    void SetOnPopup(const TNotifyEvent& e) { FOnPopup = e; }
    // Shows the menu at a screen position.
    virtual void Popup(int x, int y);
    QMenu* Menu() const { return FMenu.get(); }

protected:
    void ItemsChanged() override;
    std::unique_ptr<QMenu> FMenu;
    TNotifyEvent FOnPopup;
};
