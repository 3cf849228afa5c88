#include "Trans.h"

#include "ExtCtrls.h"
#include "Forms.h"
#include "Menus.h"
#include "StdCtrls.h"

#include <QHash>

#include <vector>

namespace {

// Kinds whose caption the table holds under "_" + Name. Radio groups and panels
// are handled beside them; sibling classes (a splitter, a credits panel) that are
// no TPanel stay out.
bool IsCaptionedControl(const TComponent* c) {
    return c->InheritsFrom<TLabel>() || c->InheritsFrom<TButton>() || c->InheritsFrom<TCheckBox>() ||
           c->InheritsFrom<TRadioButton>() || c->InheritsFrom<TGroupBox>();
}

// Keys are "_" followed by identifier characters; value texts rarely look like that.
bool HasKeyShape(const QString& line) {
    if (line.size() < 2 || line.front() != u'_') return false;
    for (QChar ch : line)
        if (ch.unicode() >= 128 || !(ch.isLetterOrNumber() || ch == u'_')) return false;
    return true;
}

constexpr int LanguageCount = 2;

// Printable ASCII compares equal ignoring case exactly when the lower-case forms are
// equal, by the locale's collation as well as without it (nothing there is ignorable).
bool IsPrintableAscii(const QString& text) {
    for (QChar ch : text)
        if (ch.unicode() < 0x20 || ch.unicode() > 0x7e) return false;
    return true;
}

} // namespace

struct TTranslator::TKeyIndex {
    quint64 generation = 0;
    // First line for each lower-cased printable-ASCII text.
    QHash<QString, int> ascii;
    // Lines with any other character, in table order: the collation may still find
    // one of them equal to an ASCII key, so they are compared one by one.
    std::vector<int> others;
};

TTranslator::TTranslator(TComponent* AOwner) : TComponent(AOwner), FTable(std::make_unique<TStrings>()) {
    SetCurrentLanguage(German);
}

TTranslator::~TTranslator() = default;

TStrings* TTranslator::TranslateList() {
    if (IsDesigning()) CollectTexts();
    return FTable.get();
}

void TTranslator::SetTranslateList(TStrings* value) {
    if (value == FTable.get()) return;
    FTable->SetStrings(value ? value->ToStringList() : QStringList());
}

TCustomForm* TTranslator::OwnerForm() const {
    if (!Owner()) return nullptr;
    auto* form = dynamic_cast<TCustomForm*>(Owner());
    if (!form) throw EInvalidCast(QStringLiteral("Ungültige Typumwandlung"));
    return form;
}

const TTranslator::TKeyIndex& TTranslator::KeyIndex() const {
    if (FKeyIndex && FKeyIndex->generation == FTable->Generation()) return *FKeyIndex;
    auto index = std::make_unique<TKeyIndex>();
    index->generation = FTable->Generation();
    const int count = FTable->Count();
    FLinesExamined += count;
    index->ascii.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString line = FTable->Strings(i);
        if (IsPrintableAscii(line)) {
            const QString folded = CaseFoldKey(line); // plain ASCII: its lower case
            if (!index->ascii.contains(folded)) index->ascii.insert(folded, i);
        } else
            index->others.push_back(i);
    }
    FKeyIndex = std::move(index);
    return *FKeyIndex;
}

int TTranslator::IndexOfKey(const QString& key) const {
    if (!IsPrintableAscii(key)) {
        const int count = FTable->Count();
        for (int i = 0; i < count; ++i) {
            ++FLinesExamined;
            if (AnsiCompareText(FTable->Strings(i), key) == 0) return i;
        }
        return -1;
    }
    const TKeyIndex& index = KeyIndex();
    const int found = index.ascii.value(CaseFoldKey(key), -1);
    for (int i : index.others) {
        if (found >= 0 && i > found) break;
        ++FLinesExamined;
        if (AnsiCompareText(FTable->Strings(i), key) == 0) return i;
    }
    return found;
}

QString TTranslator::EntryText(int index, TLanguage language) const {
    return FTable->Strings(index + 1 + int(language));
}

bool TTranslator::IsKeyLine(int index) const {
    const QString line = FTable->Strings(index);
    return HasKeyShape(line) && IndexOfKey(line) == index;
}

void TTranslator::PutEntry(const QString& key, const QString& value) {
    const int n = IndexOfKey(key);
    if (n < 0) {
        FTable->BeginUpdate();
        FTable->Add(key);
        FTable->Add(FCurrentLanguage == German ? value : QString());
        FTable->Add(FCurrentLanguage == English ? value : QString());
        FTable->EndUpdate();
        return;
    }
    // A hand-edited entry may lack value lines before the next key: complete it
    // with empty lines instead of overwriting that key.
    const int last = std::min(n + LanguageCount, FTable->Count() - 1);
    for (int line = n + 1; line <= last; ++line) {
        if (!IsKeyLine(line)) continue;
        FTable->BeginUpdate();
        for (int k = line; k <= n + LanguageCount; ++k)
            FTable->Insert(line, QString());
        FTable->EndUpdate();
        break;
    }
    // An entry cut short at the end of the table is a list index error.
    FTable->Put(n + 1 + int(FCurrentLanguage), value);
}

void TTranslator::CollectTexts() {
    if (!IsDesigning()) return;
    TCustomForm* form = OwnerForm();
    if (!form) return;
    PutEntry(QStringLiteral("_Form"), form->Caption());
    PutEntry(QStringLiteral("_Form_Hint"), form->Hint());
    for (int i = 0; i < form->ComponentCount(); ++i) {
        TComponent* c = form->Components(i);
        const QString key = u'_' + c->Name();
        QString text;
        if (IsCaptionedControl(c) || c->InheritsFrom<TPanel>()) {
            text = static_cast<TControl*>(c)->Caption();
        } else if (auto* item = dynamic_cast<TMenuItem*>(c)) {
            text = item->Caption();
        } else if (auto* group = dynamic_cast<TRadioGroup*>(c)) {
            text = group->Caption();
            for (int j = 0; j < group->Items()->Count(); ++j)
                PutEntry(key + QStringLiteral("_Item") + QString::number(j), group->Items()->Strings(j));
        }
        PutEntry(key, text);
        if (auto* control = dynamic_cast<TControl*>(c))
            PutEntry(key + QStringLiteral("_Hint"), control->Hint());
    }
}

void TTranslator::SetCurrentLanguage(TLanguage value) {
    // While designing, the texts on the form belong to the old language: keep them.
    if (IsDesigning()) CollectTexts();
    TranslateForm(value);
    if (FTranslateAllForms && Application) {
        // One level only: translators that translate all forms themselves are skipped.
        for (int i = 0; i < Application->ComponentCount(); ++i) {
            auto* form = dynamic_cast<TCustomForm*>(Application->Components(i));
            if (!form) continue;
            for (int j = 0; j < form->ComponentCount(); ++j) {
                auto* other = qobject_cast<TTranslator*>(form->Components(j));
                if (other && !other->TranslateAllForms()) other->SetCurrentLanguage(value);
            }
        }
    }
    FCurrentLanguage = value;
}

void TTranslator::TranslateForm(TLanguage language) {
    // Set first, so that handlers reacting to the new texts see the new language.
    FCurrentLanguage = language;
    TCustomForm* form = OwnerForm();
    if (form) {
        auto apply = [&](const QString& key, auto&& set) {
            const int n = IndexOfKey(key);
            if (n >= 0) set(EntryText(n, language));
        };
        apply(QStringLiteral("_Form"), [&](const QString& t) { form->SetCaption(t); });
        apply(QStringLiteral("_Form_Hint"), [&](const QString& t) { form->SetHint(t); });
        // What a component takes depends on its class alone; a form with thousands of
        // fields has a handful of classes, so each is looked at once.
        struct TKind {
            bool control, group, captioned, menuItem;
        };
        QHash<const QMetaObject*, TKind> kinds;
        QString key; // one buffer for every component's keys
        key.reserve(64);
        for (int i = 0; i < form->ComponentCount(); ++i) {
            TComponent* c = form->Components(i);
            auto kind = kinds.constFind(c->metaObject());
            if (kind == kinds.cend()) {
                const bool group = c->InheritsFrom<TRadioGroup>();
                kind = kinds.insert(c->metaObject(),
                                    TKind{c->InheritsFrom<TControl>(), group,
                                          IsCaptionedControl(c) || c->InheritsFrom<TPanel>() || group,
                                          c->InheritsFrom<TMenuItem>()});
            }
            key.resize(0);
            key += u'_';
            key += c->Name();
            const qsizetype stem = key.size();
            auto* control = kind->control ? static_cast<TControl*>(c) : nullptr;
            auto* group = kind->group ? static_cast<TRadioGroup*>(c) : nullptr;
            if (kind->captioned) {
                apply(key, [&](const QString& t) { control->SetCaption(t); });
            } else if (kind->menuItem) {
                auto* item = static_cast<TMenuItem*>(c);
                apply(key, [&](const QString& t) { item->SetCaption(t); });
            }
            if (control) {
                key += u"_Hint";
                apply(key, [&](const QString& t) { control->SetHint(t); });
            }
            if (group) {
                TStrings* items = group->Items();
                for (int j = 0; j < items->Count(); ++j) {
                    key.resize(stem);
                    key += u"_Item";
                    key += QString::number(j);
                    apply(key, [&](const QString& t) { items->Put(j, t); });
                }
            }
        }
    }
    FAfterTranslate(this);
}
