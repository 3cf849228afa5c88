// Published properties by name and kind, and their storage as text items.
//
// A component's published properties are its Q_PROPERTY declarations (those of
// QObject itself excepted). TPropsStorage turns their values into text and back
// and hands the text to three callbacks: read an item, write an item, erase a
// section. Which store lies behind the callbacks is its user's business.
#pragma once

#include "Classes.h"

#include <QMetaEnum>
#include <QMetaProperty>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

GLYVEX_EXCEPTION(EPropertyError, Exception)

enum TPropKind {
    pkNone,
    pkInteger,
    pkChar,
    pkEnumeration,
    pkFloat,
    pkString,
    pkSet,
    pkClass,
    pkMethod,
    pkWChar,
    pkLString,
    pkWString,
    pkVariant
};
using TPropKinds = std::uint32_t;
constexpr TPropKinds KindBit(TPropKind k) {
    return TPropKinds(1) << unsigned(k);
}
// Every kind whose value can be stored.
inline constexpr TPropKinds tkStorable = ~(KindBit(pkNone) | KindBit(pkMethod)) & ((1u << 13) - 1);

enum TFloatType { ftSingle, ftDouble, ftExtended, ftComp, ftCurr };

// One published property of a class.
struct TPropInfo {
    QString Name;
    TPropKind Kind = pkNone;
    QMetaProperty Prop;
};

// The kind of a property, from its type: 32-bit (and smaller) integers are
// integers, char a character, QChar a wide character, enumerations and bool
// enumerations, float and double floats, QString long strings, flag sets sets,
// pointers to persistent objects classes, QVariant variants, events methods.
TPropKind PropKind(const QMetaProperty& prop);

// --- Access by descriptor (writes go through the setter) -------------------

int GetOrdProp(const QObject* instance, const TPropInfo& info);
void SetOrdProp(QObject* instance, const TPropInfo& info, int value);
double GetFloatProp(const QObject* instance, const TPropInfo& info);
void SetFloatProp(QObject* instance, const TPropInfo& info, double value);
QString GetStrProp(const QObject* instance, const TPropInfo& info);
void SetStrProp(QObject* instance, const TPropInfo& info, const QString& value);
QVariant GetVariantProp(const QObject* instance, const TPropInfo& info);
void SetVariantProp(QObject* instance, const TPropInfo& info, const QVariant& value);
QObject* GetObjectProp(const QObject* instance, const TPropInfo& info);
void SetObjectProp(QObject* instance, const TPropInfo& info, QObject* value);

// Enumerations (bool has the names False and True) and sets. An ordinal without
// a name gives empty text; a name without a value gives -1.
QString GetEnumName(const TPropInfo& info, int value);
int GetEnumValue(const TPropInfo& info, const QString& name);
int EnumMin(const TPropInfo& info);
int EnumMax(const TPropInfo& info);
// A set's elements: the name of the element with ordinal n (bit n of the mask),
// empty when there is none.
QString SetElementName(const TPropInfo& info, int ordinal);
TFloatType GetFloatType(const TPropInfo& info);

// The descriptors of an object's class for a set of kinds, in the order the
// class declares them (a property redeclared by a subclass appears once).
class TPropInfoList {
public:
    TPropInfoList(const QObject* object, TPropKinds kinds);
    int Count() const { return int(FList.size()); }
    const TPropInfo& Items(int index) const { return FList.at(size_t(index)); }
    // The first descriptor of that name, ignoring case; nullptr if none.
    const TPropInfo* Find(const QString& name) const;

private:
    std::vector<TPropInfo> FList;
};

// --- Stored-property lists ("Component.Property" lines) ---------------------

bool SplitStoredItem(const QString& item, QString& compName, QString& propName);
QString JoinStoredItem(const QString& compName, const QString& propName);
QString RenameStoredItem(const QString& item, const QString& newCompName);
// fromForm: attach each line's component (dropping lines naming none);
// otherwise rewrite lines with their attached component's current name (dropping
// lines without one). Lines that do not split are dropped either way.
void BindStoredList(TComponent* form, TStrings* list, bool fromForm);

struct TNameLess {
    bool operator()(const QString& a, const QString& b) const { return a.toCaseFolded() < b.toCaseFolded(); }
};
using TInfoLists = std::map<QString, std::unique_ptr<TPropInfoList>, TNameLess>;
// The storable properties of every component the list names, one entry per
// component; empty when building fails.
TInfoLists BuildInfoLists(TComponent* form, TStrings* list);

// Trims blanks and control characters from both ends.
QString TrimText(const QString& s);

class TPropsStorage {
public:
    using TReadStringEvent =
        std::function<QString(const QString& section, const QString& item, const QString& def)>;
    using TWriteStringEvent =
        std::function<void(const QString& section, const QString& item, const QString& value)>;
    using TEraseSectionEvent = std::function<void(const QString& section)>;

    TPropsStorage() = default;
    virtual ~TPropsStorage() = default;
    TPropsStorage(const TPropsStorage&) = delete;
    TPropsStorage& operator=(const TPropsStorage&) = delete;

    QObject* Instance = nullptr;
    QString Prefix;
    QString Section;
    TReadStringEvent OnReadString;
    TWriteStringEvent OnWriteString;
    TEraseSectionEvent OnEraseSection;

    // Every line of the list, in order. Failures while saving reach the caller;
    // failures while loading a property are swallowed, and the property keeps its value.
    void SaveStoredProps(TComponent* form, TStrings* list);
    void LoadStoredProps(TComponent* form, TStrings* list);
    void SaveProperty(const TPropInfo* info);
    void LoadProperty(const TPropInfo* info);

protected:
    virtual QString ReadString(const QString& section, const QString& item, const QString& def);
    virtual void WriteString(const QString& section, const QString& item, const QString& value);
    virtual void EraseSection(const QString& section);
    virtual QString ItemName(const QString& propName);
    virtual std::unique_ptr<TPropsStorage> NewStorage();

private:
    // The value as text; nullopt for kinds that are not stored.
    std::optional<QString> ValueText(const TPropInfo& info);
    void ApplyText(const TPropInfo& info, const QString& text);
    void SaveObject(const TPropInfo& info);
    void LoadObject(const TPropInfo& info);
    std::unique_ptr<TPropsStorage> Nested(const TPropInfo& info, QObject* object);
    // Objects being stored above this level: a reference back to one of them is
    // not followed again.
    std::vector<const QObject*> FOuter;
};
