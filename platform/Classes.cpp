#include "Classes.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>

Exception::Exception(QString message) : FMessage(std::move(message)), FUtf8(FMessage.toStdString()) {}

void TPersistent::Assign(TPersistent* Source) {
    const QString from =
        Source ? QString::fromLatin1(Source->metaObject()->className()) : QStringLiteral("nil");
    throw EConvertError(QStringLiteral("%1 kann nicht zu %2 zugewiesen werden")
                            .arg(from, QString::fromLatin1(metaObject()->className())));
}

// ---------------------------------------------------------------------------

TComponent::TComponent(TComponent* AOwner) {
    if (AOwner) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
    Destroying();
    // Tell everyone who asked, then free what we own, last first.
    auto notifies = FFreeNotifies;
    FFreeNotifies.clear();
    for (auto* c : notifies) {
        c->RemoveFreeNotification(this);
        c->Notification(this, TOperation::opRemove);
    }
    while (!FComponents.empty()) {
        TComponent* c = FComponents.back();
        RemoveComponent(c);
        delete c;
    }
    if (FOwner) FOwner->RemoveComponent(this);
}

void* TComponent::operator new(std::size_t size) {
    return ::operator new(size);
}

void TComponent::operator delete(void* memory) noexcept {
    ::operator delete(memory);
}

void TComponent::operator delete(TComponent* component, std::destroying_delete_t) noexcept {
    // The allocation is the most-derived object's, which need not begin at this part.
    void* allocation = dynamic_cast<void*>(component);
    if (!component->IsDestroying()) {
        Guard([&] { component->BeforeDestruction(); });
        component->Destroying();
    }
    component->~TComponent();
    ::operator delete(allocation);
}

void TComponent::Destroying() {
    if (FState & csDestroying) return;
    FState |= csDestroying;
    // BeforeDestruction may run handlers, which may free components of their own.
    const std::vector<QPointer<TComponent>> owned(FComponents.begin(), FComponents.end());
    for (const QPointer<TComponent>& c : owned) {
        if (c && !c->IsDestroying()) c->BeforeDestruction();
        if (c) c->Destroying();
    }
}

bool IsBeingDestroyed(const QObject* receiver) {
    const auto* c = dynamic_cast<const TComponent*>(receiver);
    return c && c->IsDestroying();
}

TComponent* TComponent::Components(int index) const {
    if (index < 0 || index >= ComponentCount())
        throw EStringListError(QStringLiteral("Listenindex überschreitet das Maximum (%1)").arg(index));
    return FComponents[size_t(index)];
}

int TComponent::ComponentIndex() const {
    return FOwner ? FOwnerIndex : -1;
}

TComponent* TComponent::FindComponent(const QString& name) const {
    if (name.isEmpty()) return nullptr;
    return FNameIndex.value(CaseFoldKey(name), nullptr);
}

void TComponent::SetName(const QString& value) {
    if (value == FName) return;
    const QString key = CaseFoldKey(value); // folded once: the check and the index use it
    if (!value.isEmpty()) {
        bool ok = value.front().isLetter() || value.front() == u'_';
        for (QChar ch : value)
            ok = ok && (ch.isLetterOrNumber() || ch == u'_') && ch.unicode() < 128;
        if (!ok) throw EComponentError(QStringLiteral("'%1' ist kein gültiger Komponentenname").arg(value));
        if (FOwner) {
            TComponent* other = FOwner->FNameIndex.value(key, nullptr);
            if (other && other != this)
                throw EComponentError(
                    QStringLiteral("Eine Komponente mit der Bezeichnung %1 existiert bereits").arg(value));
        }
    }
    if (FOwner) {
        if (!FName.isEmpty()) FOwner->FNameIndex.remove(CaseFoldKey(FName));
        if (!value.isEmpty()) FOwner->FNameIndex.insert(key, this);
    }
    FName = value;
    setObjectName(value);
}

void TComponent::SetDesigning(bool value, bool includeOwned) {
    FState = value ? (FState | csDesigning) : (FState & ~csDesigning);
    if (includeOwned)
        for (auto* c : FComponents)
            c->SetDesigning(value, true);
}

void TComponent::SetLoadingState(bool loading) {
    FState = loading ? (FState | csLoading | csReading) : (FState & ~(csLoading | csReading));
}

void TComponent::Loaded() {
    FState &= ~(csLoading | csReading);
}

void TComponent::FreeNotification(TComponent* other) {
    if (!other || other == this) return;
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), other) == FFreeNotifies.end()) {
        FFreeNotifies.push_back(other);
        other->FreeNotification(this);
    }
}

void TComponent::RemoveFreeNotification(TComponent* other) {
    auto it = std::find(FFreeNotifies.begin(), FFreeNotifies.end(), other);
    if (it != FFreeNotifies.end()) {
        FFreeNotifies.erase(it);
        other->RemoveFreeNotification(this);
    }
}

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::SetSiblingNotifications(bool value) {
    if (value == FSiblingNotifications) return;
    FSiblingNotifications = value;
    if (!FOwner) return;
    auto& listeners = FOwner->FListeners;
    if (value) {
        // Keep creation order: insert before the first listener created later.
        auto at = std::find_if(listeners.begin(), listeners.end(),
                               [this](TComponent* l) { return l->FOwnerIndex > FOwnerIndex; });
        listeners.insert(at, this);
    } else if (auto it = std::find(listeners.rbegin(), listeners.rend(), this); it != listeners.rend()) {
        // A control turns this off in its constructor, right after it was appended.
        listeners.erase(std::next(it).base());
    }
}

void TComponent::InsertComponent(TComponent* c) {
    c->FOwner = this;
    c->FOwnerIndex = int(FComponents.size());
    FComponents.push_back(c);
    if (!c->FName.isEmpty()) FNameIndex.insert(CaseFoldKey(c->FName), c);
    auto& counters = FCounters;
    // By index: a listener may create components while it is told.
    for (size_t i = 0; i < FListeners.size(); ++i) {
        ++counters.notifications;
        FListeners[i]->Notification(c, TOperation::opInsert);
    }
    if (c->FSiblingNotifications) FListeners.push_back(c);
}

void TComponent::RemoveComponent(TComponent* c) {
    auto& counters = FCounters;
    const int n = int(FComponents.size());
    int index = c->FOwner == this ? c->FOwnerIndex : -1;
    ++counters.scanned;
    if (index < 0 || index >= n || FComponents[size_t(index)] != c) return;
    FComponents.erase(FComponents.begin() + index);
    // Owners free their components last first, so this loop is usually empty.
    for (int i = index; i < n - 1; ++i)
        FComponents[size_t(i)]->FOwnerIndex = i;
    if (c->FSiblingNotifications) {
        auto it = std::find(FListeners.rbegin(), FListeners.rend(), c);
        counters.scanned += it - FListeners.rbegin() + 1;
        if (it != FListeners.rend()) FListeners.erase(std::next(it).base());
    }
    if (!c->FName.isEmpty()) FNameIndex.remove(CaseFoldKey(c->FName));
    c->FOwner = nullptr;
    c->FOwnerIndex = -1;
    for (size_t i = 0; i < FListeners.size(); ++i) {
        ++counters.notifications;
        FListeners[i]->Notification(c, TOperation::opRemove);
    }
    ++counters.notifications;
    Notification(c, TOperation::opRemove);
}

// ---------------------------------------------------------------------------

void TStrings::CheckIndex(int index, int limit) const {
    if (index < 0 || index >= limit)
        throw EStringListError(QStringLiteral("Listenindex überschreitet das Maximum (%1)").arg(index));
}

QString TStrings::Strings(int index) const {
    CheckIndex(index, Count());
    return FItems[size_t(index)].text;
}

void TStrings::Put(int index, const QString& s) {
    CheckIndex(index, Count());
    FItems[size_t(index)].text = s;
    Changed();
}

QObject* TStrings::Objects(int index) const {
    CheckIndex(index, Count());
    return FItems[size_t(index)].object.data();
}

void TStrings::PutObject(int index, QObject* o) {
    CheckIndex(index, Count());
    FItems[size_t(index)].object = o;
}

int TStrings::Add(const QString& s) {
    Insert(Count(), s);
    return Count() - 1;
}

int TStrings::AddObject(const QString& s, QObject* o) {
    int i = Add(s);
    FItems[size_t(i)].object = o;
    return i;
}

void TStrings::AddStrings(const QStringList& lines) {
    BeginUpdate();
    for (const auto& l : lines)
        Add(l);
    EndUpdate();
}

void TStrings::Insert(int index, const QString& s) {
    CheckIndex(index, Count() + 1);
    FItems.insert(FItems.begin() + index, Item{s, nullptr});
    Changed();
}

void TStrings::Delete(int index) {
    CheckIndex(index, Count());
    FItems.erase(FItems.begin() + index);
    Changed();
}

void TStrings::Clear() {
    if (FItems.empty()) return;
    FItems.clear();
    Changed();
}

int TStrings::IndexOf(const QString& s) const {
    for (int i = 0; i < Count(); ++i)
        if (AnsiCompareText(FItems[size_t(i)].text, s) == 0) return i;
    return -1;
}

QString TStrings::Text() const {
    QString r;
    for (const auto& it : FItems)
        r += it.text + u'\n';
    return r;
}

void TStrings::SetText(const QString& text) {
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList lines = t.split(u'\n');
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
    SetStrings(lines);
}

QStringList TStrings::ToStringList() const {
    QStringList r;
    r.reserve(Count());
    for (const auto& it : FItems)
        r << it.text;
    return r;
}

void TStrings::SetStrings(const QStringList& lines) {
    BeginUpdate();
    Clear();
    AddStrings(lines);
    EndUpdate();
}

void TStrings::EndUpdate() {
    if (FUpdateCount > 0 && --FUpdateCount == 0 && FChangedWhileUpdating) {
        FChangedWhileUpdating = false;
        Changed();
    }
}

void TStrings::Changed() {
    ++FGeneration;
    if (FUpdateCount > 0) {
        FChangedWhileUpdating = true;
        return;
    }
    if (OnChange) OnChange();
}

void TStrings::Assign(TPersistent* Source) {
    if (auto* src = qobject_cast<TStrings*>(Source)) {
        if (src == this) return;
        BeginUpdate();
        Clear();
        for (const auto& it : src->FItems)
            AddObject(it.text, it.object.data());
        EndUpdate();
        return;
    }
    TPersistent::Assign(Source);
}

// ---------------------------------------------------------------------------

// The C locale's collation compares code points and ignores the case setting,
// so there case-insensitivity comes from folding instead.
// Decided once, like the collator below: comparisons run thousands of times per
// translation and sort, and the user's locale does not change while we run.
static bool LocaleCollates() {
    static const bool collates = QLocale().language() != QLocale::C;
    return collates;
}

QString CaseFoldKey(const QString& text) {
    bool upper = false;
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        if (c >= 0x80) return text.toCaseFolded();
        upper = upper || (c >= u'A' && c <= u'Z');
    }
    if (!upper) return text; // shares the data
    QString folded(text.size(), Qt::Uninitialized);
    QChar* out = folded.data();
    for (const QChar ch : text) {
        const char16_t c = ch.unicode();
        *out++ = QChar(c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c);
    }
    return folded;
}

int AnsiCompareText(const QString& a, const QString& b) {
    if (!LocaleCollates()) return QString::compare(a, b, Qt::CaseInsensitive);
    static thread_local QCollator collator = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    return collator.compare(a, b);
}

void TStringList::SetSorted(bool value) {
    if (value == FSorted) return;
    FSorted = value;
    if (FSorted) Sort();
}

int TStringList::Add(const QString& s) {
    if (!FSorted) return TStrings::Add(s);
    // Insert after any equal entries, so equal names keep their arrival order.
    auto it = std::upper_bound(FItems.begin(), FItems.end(), s, [](const QString& v, const Item& e) {
        return AnsiCompareText(v, e.text) < 0;
    });
    int index = int(it - FItems.begin());
    FItems.insert(it, Item{s, nullptr});
    Changed();
    return index;
}

void TStringList::Insert(int index, const QString& s) {
    if (FSorted) throw EStringListError(QStringLiteral("Operation in sortierter Liste nicht zulässig"));
    TStrings::Insert(index, s);
}

void TStringList::AddSortedBatch(const QStringList& lines) {
    for (const auto& l : lines)
        FItems.push_back(Item{l, nullptr});
    if (FSorted) Sort();
    Changed();
}

void TStringList::Sort() {
    if (!LocaleCollates()) {
        std::stable_sort(FItems.begin(), FItems.end(), [](const Item& x, const Item& y) {
            return QString::compare(x.text, y.text, Qt::CaseInsensitive) < 0;
        });
        Changed();
        return;
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // Sort keys make each comparison a byte compare instead of a full collation.
    std::vector<std::pair<QCollatorSortKey, Item>> keyed;
    keyed.reserve(FItems.size());
    for (auto& it : FItems)
        keyed.emplace_back(collator.sortKey(it.text), std::move(it));
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& x, const auto& y) { return x.first.compare(y.first) < 0; });
    for (size_t i = 0; i < keyed.size(); ++i)
        FItems[i] = std::move(keyed[i].second);
    Changed();
}

// ---------------------------------------------------------------------------

TCollectionItem* TCollection::Item(int index) const {
    if (index < 0 || index >= Count())
        throw EStringListError(QStringLiteral("Listenindex überschreitet das Maximum (%1)").arg(index));
    return FItems[size_t(index)].get();
}

TCollectionItem* TCollection::Add() {
    FItems.push_back(NewItem());
    Changed();
    return FItems.back().get();
}

void TCollection::Clear() {
    if (FItems.empty()) return;
    FItems.clear();
    Changed();
}
