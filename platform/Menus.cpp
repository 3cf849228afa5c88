#include "Menus.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>

#include <algorithm>

TShortCut ShortCut(Word key, TShiftState shift) {
    TShortCut r = key & 0xFF;
    if (shift.testFlag(ssShift)) r |= scShift;
    if (shift.testFlag(ssCtrl)) r |= scCtrl;
    if (shift.testFlag(ssAlt)) r |= scAlt;
    return r;
}

QKeySequence ShortCutToKeySequence(TShortCut shortCut) {
    const int key = VirtualKeyToQtKey(Word(shortCut & 0xFF));
    if (key == 0) return {};
    Qt::KeyboardModifiers mods;
    if (shortCut & scShift) mods |= Qt::ShiftModifier;
    if (shortCut & scCtrl) mods |= Qt::ControlModifier;
    if (shortCut & scAlt) mods |= Qt::AltModifier;
    return QKeySequence(QKeyCombination(mods, Qt::Key(key)));
}

QString ShortCutToText(TShortCut shortCut) {
    return ShortCutToKeySequence(shortCut).toString(QKeySequence::NativeText);
}

// ---------------------------------------------------------------------------

TMenuItem::TMenuItem(TComponent* AOwner) : TComponent(AOwner), FAction(std::make_unique<QAction>()) {
    QObject::connect(FAction.get(), &QAction::triggered, this, [this] {
        Guard([&] {
            // Qt flips checkable actions itself; the check mark is the item's to set.
            FAction->setChecked(FChecked);
            Click();
        });
    });
    UpdateAction();
}

TMenuItem::~TMenuItem() {
    for (auto* child : FItems)
        child->FParent = nullptr;
    FItems.clear();
    if (FParent) FParent->Remove(this);
}

TMenuItem* TMenuItem::Items(int index) const {
    if (index < 0 || index >= Count())
        throw EStringListError(QStringLiteral("Listenindex überschreitet das Maximum (%1)").arg(index));
    return FItems[size_t(index)];
}

int TMenuItem::IndexOf(const TMenuItem* item) const {
    auto it = std::find(FItems.begin(), FItems.end(), item);
    return it == FItems.end() ? -1 : int(it - FItems.begin());
}

void TMenuItem::Add(TMenuItem* item) {
    Insert(Count(), item);
}

void TMenuItem::Insert(int index, TMenuItem* item) {
    if (!item) return;
    if (item->FParent) throw EInvalidOperation(QStringLiteral("Menüeintrag wird bereits verwendet"));
    for (const TMenuItem* p = this; p; p = p->FParent)
        if (p == item)
            throw EInvalidOperation(QStringLiteral("Menüeintrag kann nicht in sich selbst liegen"));
    if (index < 0 || index > Count())
        throw EStringListError(QStringLiteral("Listenindex überschreitet das Maximum (%1)").arg(index));
    FItems.insert(FItems.begin() + index, item);
    item->FParent = this;
    RebuildSubmenu();
    MenuChanged();
}

void TMenuItem::Remove(TMenuItem* item) {
    auto it = std::find(FItems.begin(), FItems.end(), item);
    if (it == FItems.end()) return;
    FItems.erase(it);
    item->FParent = nullptr;
    RebuildSubmenu();
    MenuChanged();
}

TMenu* TMenuItem::GetParentMenu() const {
    const TMenuItem* p = this;
    while (p->FParent)
        p = p->FParent;
    return p->FMenu;
}

void TMenuItem::SetParentComponent(TComponent* parent) {
    if (auto* item = dynamic_cast<TMenuItem*>(parent)) {
        item->Add(this);
    } else if (auto* menu = dynamic_cast<TMenu*>(parent)) {
        menu->Items()->Add(this);
    } else {
        throw EInvalidOperation(QStringLiteral("Menüeintrag '%1' braucht ein Menü als Vorfahr").arg(Name()));
    }
}

void TMenuItem::SetCaption(const QString& value) {
    if (value == FCaption) return;
    FCaption = value;
    UpdateAction();
}

void TMenuItem::SetShortCut(TShortCut value) {
    if (value == FShortCut) return;
    FShortCut = value;
    UpdateAction();
    MenuChanged();
}

void TMenuItem::SetVisible(bool value) {
    if (value == FVisible) return;
    FVisible = value;
    UpdateAction();
}

void TMenuItem::SetEnabled(bool value) {
    if (value == FEnabled) return;
    FEnabled = value;
    UpdateAction();
}

void TMenuItem::SetChecked(bool value) {
    if (value == FChecked) return;
    FChecked = value;
    UpdateAction();
}

void TMenuItem::SetHint(const QString& value) {
    FHint = value;
    UpdateAction();
}

void TMenuItem::UpdateAction() {
    QAction* a = FAction.get();
    a->setSeparator(IsLine());
    // The shortcut is only shown here; the menu dispatches it, so that it also
    // works while the item is hidden.
    // A separator with text would be drawn as a section heading.
    QString text = IsLine() ? QString() : FCaption;
    if (FShortCut != 0 && !IsLine()) text += u'\t' + ShortCutToText(FShortCut);
    a->setText(text);
    if (FSubmenu) FSubmenu->setTitle(FCaption);
    a->setVisible(FVisible);
    a->setEnabled(FEnabled);
    a->setCheckable(FChecked);
    a->setChecked(FChecked);
    a->setStatusTip(FHint);
}

void TMenuItem::RebuildSubmenu() {
    if (FMenu) {
        // The root's children are shown by the menu itself.
        return;
    }
    if (FItems.empty()) {
        FAction->setMenu(static_cast<QMenu*>(nullptr));
        FSubmenu.reset();
        return;
    }
    if (!FSubmenu) {
        FSubmenu = std::make_unique<QMenu>(FCaption);
        FAction->setMenu(FSubmenu.get());
    }
    FSubmenu->clear();
    for (auto* child : FItems)
        FSubmenu->addAction(child->Action());
}

void TMenuItem::MenuChanged() {
    if (TMenu* m = GetParentMenu()) m->ItemsChanged();
}

void TMenuItem::Click() {
    if (FEnabled) FOnClick(this);
}

// ---------------------------------------------------------------------------

TMenu::TMenu(TComponent* AOwner) : TComponent(AOwner), FItems(std::make_unique<TMenuItem>(nullptr)) {
    FItems->FMenu = this;
}

TMenu::~TMenu() {
    DetachItems();
}

void TMenu::DetachItems() {
    FItems->FMenu = nullptr;
}

std::vector<TMenuItem*> TMenu::ShortCutItems() const {
    std::vector<TMenuItem*> r;
    std::function<void(const TMenuItem*)> walk = [&](const TMenuItem* item) {
        for (int i = 0; i < item->Count(); ++i) {
            TMenuItem* child = item->Items(i);
            if (child->ShortCut() != 0) r.push_back(child);
            walk(child);
        }
    };
    walk(FItems.get());
    return r;
}

bool TMenu::DispatchShortCut(TShortCut shortCut) {
    for (TMenuItem* item : ShortCutItems())
        if (item->ShortCut() == shortCut && item->Enabled()) {
            item->Click();
            return true;
        }
    return false;
}

// ---------------------------------------------------------------------------

TMainMenu::TMainMenu(TComponent* AOwner) : TMenu(AOwner) {
    FMenuBar = new QMenuBar();
    // Kept inside the window: the form reserves its height above the client area.
    FMenuBar->setNativeMenuBar(false);
}

TMainMenu::~TMainMenu() {
    DetachItems();
    delete FMenuBar.data();
}

QMenuBar* TMainMenu::MenuBar() const {
    return FMenuBar.data();
}

void TMainMenu::ItemsChanged() {
    if (!FMenuBar) return;
    FMenuBar->clear();
    for (int i = 0; i < FItems->Count(); ++i)
        FMenuBar->addAction(FItems->Items(i)->Action());
    RebuildShortCuts();
}

void TMainMenu::RebuildShortCuts() {
    // A handler may change shortcuts while one of them is still delivering its signal.
    for (auto& s : FShortCuts)
        if (s) {
            s->setEnabled(false);
            s->deleteLater();
        }
    FShortCuts.clear();
    if (!FMenuBar) return;
    std::vector<TShortCut> seen;
    for (TMenuItem* item : ShortCutItems()) {
        const TShortCut sc = item->ShortCut();
        if (std::find(seen.begin(), seen.end(), sc) != seen.end()) continue;
        seen.push_back(sc);
        const QKeySequence seq = ShortCutToKeySequence(sc);
        if (seq.isEmpty()) continue;
        // One shortcut per key, living in the menu bar's window, so it acts while
        // that window is active and reaches the item even when it is hidden.
        auto* s = new QShortcut(seq, FMenuBar.data());
        s->setContext(Qt::WindowShortcut);
        auto run = [this, sc] { Guard([&] { DispatchShortCut(sc); }); };
        QObject::connect(s, &QShortcut::activated, this, run);
        QObject::connect(s, &QShortcut::activatedAmbiguously, this, run);
        FShortCuts.emplace_back(s);
    }
}

// ---------------------------------------------------------------------------

TPopupMenu::TPopupMenu(TComponent* AOwner) : TMenu(AOwner), FMenu(std::make_unique<QMenu>()) {}

TPopupMenu::~TPopupMenu() {
    DetachItems();
}

void TPopupMenu::ItemsChanged() {
    FMenu->clear();
    for (int i = 0; i < FItems->Count(); ++i)
        FMenu->addAction(FItems->Items(i)->Action());
}

void TPopupMenu::Popup(int x, int y) {
    FOnPopup(this);
    FMenu->popup(QPoint(x, y));
}
