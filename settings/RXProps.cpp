#include "RXProps.h"

#include "IniFiles.h"

#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cstring>

namespace {

bool IsEventType(const QMetaType& type) {
    const QByteArray name(type.name());
    return name.startsWith("TEvent<") || name.endsWith("Event");
}

[[noreturn]] void PropertyError(const TPropInfo& info) {
    throw EPropertyError(QStringLiteral("Eigenschaft %1 kann nicht gesetzt werden").arg(info.Name));
}

void Write(QObject* instance, const TPropInfo& info, const QVariant& value) {
    if (!info.Prop.isWritable() || !info.Prop.write(instance, value)) PropertyError(info);
}

} // namespace

TPropKind PropKind(const QMetaProperty& prop) {
    const QMetaType type = prop.metaType();
    if (prop.isEnumType()) return prop.isFlagType() ? pkSet : pkEnumeration;
    switch (type.id()) {
    case QMetaType::Bool:
        return pkEnumeration;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return pkInteger;
    case QMetaType::Char:
        return pkChar;
    case QMetaType::QChar:
        return pkWChar;
    case QMetaType::Float:
    case QMetaType::Double:
        return pkFloat;
    case QMetaType::QString:
        return pkLString;
    case QMetaType::QVariant:
        return pkVariant;
    default:
        break;
    }
    if (type.flags() & QMetaType::PointerToQObject) {
        const QMetaObject* mo = type.metaObject();
        return mo && mo->inherits(&TPersistent::staticMetaObject) ? pkClass : pkNone;
    }
    return IsEventType(type) ? pkMethod : pkNone;
}

// ---------------------------------------------------------------------------

int GetOrdProp(const QObject* instance, const TPropInfo& info) {
    const QVariant v = info.Prop.read(instance);
    switch (v.metaType().id()) {
    case QMetaType::Bool:
        return v.toBool() ? 1 : 0;
    case QMetaType::Char:
        return int(static_cast<unsigned char>(v.value<char>()));
    case QMetaType::QChar:
        return v.value<QChar>().unicode();
    default:
        break;
    }
    if (info.Prop.isEnumType()) {
        // Enumerations and flag sets: their underlying integer, whatever its size.
        switch (v.metaType().sizeOf()) {
        case 1:
            return *static_cast<const quint8*>(v.constData());
        case 2:
            return *static_cast<const quint16*>(v.constData());
        default: {
            qint32 n = 0;
            std::memcpy(&n, v.constData(), sizeof n);
            return n;
        }
        }
    }
    return v.toInt();
}

void SetOrdProp(QObject* instance, const TPropInfo& info, int value) {
    const QMetaType type = info.Prop.metaType();
    switch (type.id()) {
    case QMetaType::Bool:
        return Write(instance, info, QVariant(value != 0));
    case QMetaType::Char:
        return Write(instance, info, QVariant::fromValue(char(value)));
    case QMetaType::QChar:
        return Write(instance, info, QVariant::fromValue(QChar(char16_t(value))));
    default:
        break;
    }
    if (info.Prop.isEnumType()) {
        QVariant v(type, nullptr);
        switch (type.sizeOf()) {
        case 1:
            *static_cast<quint8*>(v.data()) = quint8(value);
            break;
        case 2:
            *static_cast<quint16*>(v.data()) = quint16(value);
            break;
        default: {
            const qint32 n = value;
            std::memcpy(v.data(), &n, sizeof n);
        }
        }
        return Write(instance, info, v);
    }
    QVariant v(value);
    if (!v.convert(type)) PropertyError(info);
    Write(instance, info, v);
}

double GetFloatProp(const QObject* instance, const TPropInfo& info) {
    return info.Prop.read(instance).toDouble();
}

void SetFloatProp(QObject* instance, const TPropInfo& info, double value) {
    if (info.Prop.metaType().id() == QMetaType::Float)
        Write(instance, info, QVariant(float(value)));
    else
        Write(instance, info, QVariant(value));
}

QString GetStrProp(const QObject* instance, const TPropInfo& info) {
    return info.Prop.read(instance).toString();
}

void SetStrProp(QObject* instance, const TPropInfo& info, const QString& value) {
    Write(instance, info, QVariant(value));
}

QVariant GetVariantProp(const QObject* instance, const TPropInfo& info) {
    return info.Prop.read(instance);
}

void SetVariantProp(QObject* instance, const TPropInfo& info, const QVariant& value) {
    Write(instance, info, value);
}

QObject* GetObjectProp(const QObject* instance, const TPropInfo& info) {
    return info.Prop.read(instance).value<QObject*>();
}

void SetObjectProp(QObject* instance, const TPropInfo& info, QObject* value) {
    QVariant v = QVariant::fromValue(value);
    if (!v.convert(info.Prop.metaType())) PropertyError(info);
    Write(instance, info, v);
}

// ---------------------------------------------------------------------------

static bool IsBool(const TPropInfo& info) {
    return info.Prop.metaType().id() == QMetaType::Bool;
}

QString GetEnumName(const TPropInfo& info, int value) {
    if (IsBool(info))
        return value == 0 ? QStringLiteral("False") : value == 1 ? QStringLiteral("True") : QString();
    if (!info.Prop.isEnumType()) return {};
    return QString::fromLatin1(info.Prop.enumerator().valueToKey(value));
}

int EnumMin(const TPropInfo& info) {
    if (IsBool(info) || !info.Prop.isEnumType()) return 0;
    const QMetaEnum e = info.Prop.enumerator();
    int m = e.keyCount() ? e.value(0) : 0;
    for (int i = 1; i < e.keyCount(); ++i)
        m = std::min(m, e.value(i));
    return m;
}

int EnumMax(const TPropInfo& info) {
    if (IsBool(info)) return 1;
    if (!info.Prop.isEnumType()) return 0;
    const QMetaEnum e = info.Prop.enumerator();
    int m = e.keyCount() ? e.value(0) : 0;
    for (int i = 1; i < e.keyCount(); ++i)
        m = std::max(m, e.value(i));
    return m;
}

static std::optional<int> FindEnumValue(const TPropInfo& info, const QString& name) {
    if (IsBool(info)) {
        if (name.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) return 0;
        if (name.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) return 1;
        return std::nullopt;
    }
    if (!info.Prop.isEnumType()) return std::nullopt;
    // From the lowest ordinal up, so the first of equal names wins.
    const QMetaEnum e = info.Prop.enumerator();
    std::vector<std::pair<int, QString>> values;
    for (int i = 0; i < e.keyCount(); ++i)
        values.emplace_back(e.value(i), QString::fromLatin1(e.key(i)));
    std::stable_sort(values.begin(), values.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [value, key] : values)
        if (key.compare(name, Qt::CaseInsensitive) == 0) return value;
    return std::nullopt;
}

int GetEnumValue(const TPropInfo& info, const QString& name) {
    return FindEnumValue(info, name).value_or(-1);
}

QString SetElementName(const TPropInfo& info, int ordinal) {
    if (!info.Prop.isFlagType() || ordinal < 0 || ordinal > 31) return {};
    const QMetaEnum e = info.Prop.enumerator();
    const auto bit = int(1u << unsigned(ordinal));
    for (int i = 0; i < e.keyCount(); ++i)
        if (e.value(i) == bit) return QString::fromLatin1(e.key(i));
    return {};
}

TFloatType GetFloatType(const TPropInfo& info) {
    return info.Prop.metaType().id() == QMetaType::Float ? ftSingle : ftDouble;
}

// ---------------------------------------------------------------------------

TPropInfoList::TPropInfoList(const QObject* object, TPropKinds kinds) {
    if (!object) return;
    const QMetaObject* mo = object->metaObject();
    // QObject's own properties (objectName) are not the component model's.
    for (int i = QObject::staticMetaObject.propertyCount(); i < mo->propertyCount(); ++i) {
        const QMetaProperty p = mo->property(i);
        const QString name = QString::fromLatin1(p.name());
        auto same = std::find_if(FList.begin(), FList.end(), [&](const TPropInfo& x) {
            return x.Name.compare(name, Qt::CaseInsensitive) == 0;
        });
        const TPropKind kind = PropKind(p);
        if (same != FList.end()) {
            // A subclass redeclares it: its descriptor replaces the base's in place.
            if (kinds & KindBit(kind))
                *same = {name, kind, p};
            else
                FList.erase(same);
            continue;
        }
        if (kinds & KindBit(kind)) FList.push_back({name, kind, p});
    }
}

const TPropInfo* TPropInfoList::Find(const QString& name) const {
    for (const auto& p : FList)
        if (p.Name.compare(name, Qt::CaseInsensitive) == 0) return &p;
    return nullptr;
}

// ---------------------------------------------------------------------------

bool SplitStoredItem(const QString& item, QString& compName, QString& propName) {
    compName.clear();
    propName.clear();
    if (item.isEmpty()) return false;
    const qsizetype dot = item.indexOf(u'.');
    if (dot < 0) return false;
    compName = item.left(dot).trimmed();
    propName = item.mid(dot + 1).trimmed();
    return !compName.isEmpty() && !propName.isEmpty();
}

QString JoinStoredItem(const QString& compName, const QString& propName) {
    if (compName.isEmpty() || propName.isEmpty()) return {};
    return compName + u'.' + propName;
}

QString RenameStoredItem(const QString& item, const QString& newCompName) {
    QString comp, prop;
    if (!SplitStoredItem(item, comp, prop)) return {};
    return JoinStoredItem(newCompName, prop);
}

void BindStoredList(TComponent* form, TStrings* list, bool fromForm) {
    if (!form || !list) return;
    for (int i = list->Count() - 1; i >= 0; --i) {
        QString comp, prop;
        if (!SplitStoredItem(list->Strings(i), comp, prop)) {
            list->Delete(i);
            continue;
        }
        if (fromForm) {
            if (TComponent* c = form->FindComponent(comp))
                list->PutObject(i, c);
            else
                list->Delete(i);
        } else if (auto* c = qobject_cast<TComponent*>(list->Objects(i))) {
            list->Put(i, RenameStoredItem(list->Strings(i), c->Name()));
        } else {
            list->Delete(i);
        }
    }
}

TInfoLists BuildInfoLists(TComponent* form, TStrings* list) {
    TInfoLists result;
    try {
        BindStoredList(form, list, false);
        if (!list) return result;
        for (int i = 0; i < list->Count(); ++i) {
            QString comp, prop;
            auto* c = qobject_cast<TComponent*>(list->Objects(i));
            if (!SplitStoredItem(list->Strings(i), comp, prop) || !c || result.count(comp)) continue;
            result.emplace(comp, std::make_unique<TPropInfoList>(c, tkStorable));
        }
    } catch (...) {
        result.clear();
    }
    return result;
}

QString TrimText(const QString& s) {
    qsizetype b = 0, e = s.size();
    while (b < e && s[b].unicode() <= 32)
        ++b;
    while (e > b && s[e - 1].unicode() <= 32)
        --e;
    return s.mid(b, e - b);
}

// ---------------------------------------------------------------------------

QString TPropsStorage::ReadString(const QString& section, const QString& item, const QString& def) {
    return OnReadString ? OnReadString(section, item, def) : QString();
}

void TPropsStorage::WriteString(const QString& section, const QString& item, const QString& value) {
    if (OnWriteString) OnWriteString(section, item, value);
}

void TPropsStorage::EraseSection(const QString& section) {
    if (OnEraseSection) OnEraseSection(section);
}

QString TPropsStorage::ItemName(const QString& propName) {
    return Prefix + propName;
}

std::unique_ptr<TPropsStorage> TPropsStorage::NewStorage() {
    return std::make_unique<TPropsStorage>();
}

template <class Step>
static void WalkStoredProps(TPropsStorage& s, TComponent* form, TStrings* list, Step step) {
    TInfoLists lists = BuildInfoLists(form, list);
    if (lists.empty()) return;
    for (int i = 0; i < list->Count(); ++i) {
        QString comp, prop;
        if (!SplitStoredItem(list->Strings(i), comp, prop)) continue;
        auto* c = qobject_cast<TComponent*>(list->Objects(i));
        if (!c) continue;
        s.Instance = c;
        s.Prefix = c->Name();
        auto it = lists.find(s.Prefix);
        if (it == lists.end()) continue;
        s.Prefix += u'_';
        step(it->second->Find(prop));
    }
}

void TPropsStorage::SaveStoredProps(TComponent* form, TStrings* list) {
    WalkStoredProps(*this, form, list, [this](const TPropInfo* p) { SaveProperty(p); });
}

void TPropsStorage::LoadStoredProps(TComponent* form, TStrings* list) {
    WalkStoredProps(*this, form, list, [this](const TPropInfo* p) { LoadProperty(p); });
}

static bool AlwaysWritten(TPropKind k) {
    return k == pkString || k == pkWChar || k == pkLString || k == pkWString;
}

static QLocale NumberLocale() {
    QLocale l;
    l.setNumberOptions(QLocale::OmitGroupSeparator);
    return l;
}

std::optional<QString> TPropsStorage::ValueText(const TPropInfo& info) {
    switch (info.Kind) {
    case pkInteger:
        return QString::number(GetOrdProp(Instance, info));
    case pkChar:
        return QString(QChar(char16_t(GetOrdProp(Instance, info) & 0xFF)));
    case pkWChar:
        return QString(QChar(char16_t(GetOrdProp(Instance, info))));
    case pkEnumeration:
        return GetEnumName(info, GetOrdProp(Instance, info));
    case pkFloat: {
        static constexpr int precision[] = {7, 15, 18, 18, 19};
        return NumberLocale().toString(GetFloatProp(Instance, info), 'g', precision[GetFloatType(info)]);
    }
    case pkString:
    case pkLString:
    case pkWString:
        return GetStrProp(Instance, info);
    case pkVariant:
        return GetVariantProp(Instance, info).toString();
    case pkSet: {
        const auto mask = quint32(GetOrdProp(Instance, info));
        QStringList names;
        for (int n = 0; n < 32; ++n)
            if (mask & (1u << unsigned(n))) {
                const QString name = SetElementName(info, n);
                if (!name.isEmpty()) names << name;
            }
        return u'[' + names.join(u',') + u']';
    }
    case pkClass:
        return QString();
    case pkNone:
    case pkMethod:
        break;
    }
    return std::nullopt;
}

void TPropsStorage::ApplyText(const TPropInfo& info, const QString& text) {
    switch (info.Kind) {
    case pkInteger: {
        int v = 0;
        SetOrdProp(Instance, info, StrToIntCheck(text, v) ? v : 0);
        break;
    }
    case pkChar:
        if (!text.isEmpty()) SetOrdProp(Instance, info, text.front().unicode() & 0xFF);
        break;
    case pkWChar:
        if (!text.isEmpty()) SetOrdProp(Instance, info, text.front().unicode());
        break;
    case pkEnumeration:
        if (const auto v = FindEnumValue(info, text)) SetOrdProp(Instance, info, *v);
        break;
    case pkFloat: {
        bool ok = false;
        const double v = NumberLocale().toDouble(text, &ok);
        if (ok) SetFloatProp(Instance, info, v);
        break;
    }
    case pkString:
    case pkLString:
    case pkWString:
        SetStrProp(Instance, info, text);
        break;
    case pkVariant:
        SetVariantProp(Instance, info, QVariant(text));
        break;
    case pkSet: {
        quint32 mask = 0;
        static const QRegularExpression separators(QStringLiteral("[ ,\\[\\]]"));
        for (const QString& word : text.split(separators, Qt::SkipEmptyParts))
            for (int n = 0; n < 32; ++n) {
                const QString name = SetElementName(info, n);
                if (!name.isEmpty() && name.compare(word, Qt::CaseInsensitive) == 0)
                    mask |= 1u << unsigned(n);
            }
        SetOrdProp(Instance, info, int(mask));
        break;
    }
    case pkClass:
        LoadObject(info);
        break;
    case pkNone:
    case pkMethod:
        break;
    }
}

void TPropsStorage::SaveProperty(const TPropInfo* info) {
    if (!info) return;
    if (info->Kind == pkClass) {
        SaveObject(*info);
        return;
    }
    const std::optional<QString> text = ValueText(*info);
    if (!text) return;
    if (!text->isEmpty() || AlwaysWritten(info->Kind))
        WriteString(Section, ItemName(info->Name), TrimText(*text));
}

void TPropsStorage::LoadProperty(const TPropInfo* info) {
    if (!info) return;
    try {
        const std::optional<QString> def = info->Kind == pkClass ? QString() : ValueText(*info);
        if (!def) return;
        QString text;
        if (!def->isEmpty() || AlwaysWritten(info->Kind))
            text = TrimText(ReadString(Section, ItemName(info->Name), *def));
        ApplyText(*info, text);
    } catch (...) {
        // A property that cannot take the stored value keeps its own.
    }
}

std::unique_ptr<TPropsStorage> TPropsStorage::Nested(const TPropInfo& info, QObject* object) {
    auto s = NewStorage();
    s->Instance = object;
    s->Prefix = Prefix + info.Name;
    s->Section = Section;
    s->FOuter = FOuter;
    s->FOuter.push_back(Instance);
    return s;
}

void TPropsStorage::SaveObject(const TPropInfo& info) {
    QObject* object = GetObjectProp(Instance, info);
    if (!object || object == Instance || std::find(FOuter.begin(), FOuter.end(), object) != FOuter.end())
        return;
    if (auto* lines = qobject_cast<TStrings*>(object)) {
        const QString section = Section + u'.' + ItemName(info.Name);
        EraseSection(section);
        if (lines->Count() > 0) {
            WriteString(section, QStringLiteral("Count"), QString::number(lines->Count()));
            for (int i = 0; i < lines->Count(); ++i)
                WriteString(section, QStringLiteral("Item%1").arg(i), lines->Strings(i));
        }
    }
    auto nested = Nested(info, object);
    nested->OnWriteString = OnWriteString;
    nested->OnEraseSection = OnEraseSection;
    const TPropInfoList props(object, tkStorable);
    for (int i = 0; i < props.Count(); ++i)
        nested->SaveProperty(&props.Items(i));
}

void TPropsStorage::LoadObject(const TPropInfo& info) {
    QObject* object = GetObjectProp(Instance, info);
    if (!object || object == Instance || std::find(FOuter.begin(), FOuter.end(), object) != FOuter.end())
        return;
    if (auto* lines = qobject_cast<TStrings*>(object)) {
        const QString section = Section + u'.' + ItemName(info.Name);
        int count = 0;
        if (!StrToIntCheck(TrimText(ReadString(section, QStringLiteral("Count"), QStringLiteral("0"))),
                           count))
            count = 0;
        if (count > 0) {
            // The count is only as good as the file: the lines end at the first item that
            // is not there, so a damaged count cannot make a load read (and hold) billions.
            // No stored text is a lone zero character (neither store can hold one).
            const QString absent(QChar(0));
            TStringList loaded;
            for (int i = 0; i < count; ++i) {
                const QString line = ReadString(section, QStringLiteral("Item%1").arg(i), absent);
                if (line == absent) break;
                loaded.Add(line);
            }
            // Nothing there after all: the list keeps its lines.
            if (loaded.Count() > 0 && info.Prop.isWritable())
                SetObjectProp(Instance, info, &loaded);
            else if (loaded.Count() > 0)
                lines->Assign(&loaded);
        }
    }
    auto nested = Nested(info, object);
    nested->OnReadString = OnReadString;
    const TPropInfoList props(object, tkStorable);
    for (int i = 0; i < props.Count(); ++i)
        nested->LoadProperty(&props.Items(i));
}
