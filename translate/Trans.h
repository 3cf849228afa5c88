// Interface translation: a non-visual component that holds its form's texts in
// two languages and applies one of them to the form and its components.
//
// The table is a plain list of lines. An entry is a key line followed by one line
// per language in enumeration order (German, then English); other lines may stand
// between entries. Keys:
//   "_Form", "_Form_Hint"                the owning form's caption and hint
//   "_" + Name                           caption of labels, buttons, check boxes,
//                                        radio buttons, group boxes, radio groups,
//                                        panels and menu items
//   "_" + Name + "_Hint"                 hint of any visual control
//   "_" + Name + "_Item" + j             item j of a radio group
// Reserved for kinds this widget set does not have (report labels, data grids,
// record navigators, tab strips, tabbed notebooks): "_ColumnHeader" + j,
// "_Hints" + j, "_Tab" + j and "_Page" + j after "_" + Name. Such lines are kept
// and never applied.
#pragma once

#include "Classes.h"

class TCustomForm;

namespace Trans {
Q_NAMESPACE
enum TLanguage : quint8 { German = 0, English = 1 };
Q_ENUM_NS(TLanguage)
} // namespace Trans

using Trans::English;
using Trans::German;
using Trans::TLanguage;

class TTranslator : public TComponent {
    Q_OBJECT
    Q_PROPERTY(TStrings* TranslateList READ TranslateList WRITE SetTranslateList)
    Q_PROPERTY(Trans::TLanguage CurrentLanguage READ CurrentLanguage WRITE SetCurrentLanguage)
    Q_PROPERTY(bool TranslateAllForms READ TranslateAllForms WRITE SetTranslateAllForms)
    Q_PROPERTY(TNotifyEvent AfterTranslate READ AfterTranslate WRITE SetAfterTranslate)
public:
    // The owner must be a form; anything else is an invalid cast.
    explicit TTranslator(TComponent* AOwner);
    ~TTranslator() override;

    // The table itself; while designing it is first refreshed from the form.
    TStrings* TranslateList();
    // Replaces the table's lines by a copy of the given list's lines.
    void SetTranslateList(TStrings* value);

    TLanguage CurrentLanguage() const { return FCurrentLanguage; }
    // Translates the form (again, also for the current language), fires
    // AfterTranslate and, with TranslateAllForms, sets the language on the
    // translators of the application's other forms.
    void SetCurrentLanguage(TLanguage value);
    bool TranslateAllForms() const { return FTranslateAllForms; }
    void SetTranslateAllForms(bool value) { FTranslateAllForms = value; }
    TNotifyEvent AfterTranslate() const { return FAfterTranslate; }
    void SetAfterTranslate(const TNotifyEvent& e) { FAfterTranslate = e; }

    // Index of the first line equal to the key, ignoring case by the user's
    // locale; -1 if there is none. Value lines take part too.
    int IndexOfKey(const QString& key) const;
    // Table lines compared or indexed by lookups so far, for tests that guard against
    // a translation costing a pass over the table per component.
    long long LinesExamined() const { return FLinesExamined; }
    // Text of the entry whose key line is at `index`, for a language: the line
    // (ordinal + 1) below it. A line beyond the end is a list index error.
    QString EntryText(int index, TLanguage language) const;
    // Records the text of a key for the current language, appending a new entry
    // (with the other language empty) if the key is not in the table.
    void PutEntry(const QString& key, const QString& value);
    // While designing: refreshes the table from the form's current texts for the
    // current language. Otherwise does nothing.
    void CollectTexts();

protected:
    void TranslateForm(TLanguage language);
    // The owning form; nullptr without an owner, an invalid cast for another owner.
    TCustomForm* OwnerForm() const;
    // Whether the line at index is an entry's key: key-shaped, and the line that
    // a lookup of its text lands on.
    bool IsKeyLine(int index) const;

private:
    // Key lookups run once or twice for every component of the form, and a form may
    // own thousands of fields: an index over the table's lines, rebuilt after it changes.
    struct TKeyIndex;
    const TKeyIndex& KeyIndex() const;
    std::unique_ptr<TStrings> FTable;
    mutable std::unique_ptr<TKeyIndex> FKeyIndex;
    mutable long long FLinesExamined = 0;
    TLanguage FCurrentLanguage = German;
    bool FTranslateAllForms = false;
    TNotifyEvent FAfterTranslate;
};
