#include "DefinitionReader.h"

#include "ClassRegistry.h"
#include "DefinitionParser.h"
#include "Graphics.h"

#include <QFile>
#include <QMetaEnum>

#include <climits>

namespace {

using namespace Definition;

struct Reference {
    QObject* object;
    QMetaProperty prop;
    QString target;
    int line;
};

class Reader {
public:
    Reader(TComponent* root, std::span<const TMethodBinding> methods, Parser& parser)
        : Root(root), Methods(methods), P(parser) {}

    void Read(const Node& root) {
        const QString cls = QString::fromLatin1(Root->metaObject()->className());
        if (root.className != cls)
            P.Fail(QStringLiteral("Klasse %1 erwartet, %2 gefunden").arg(cls, root.className), root.line);
        Root->SetLoadingState(true);
        created.push_back(Root);
        Guarded(root.line, root.name, [&] { Root->SetName(root.name); });
        ReadMembers(Root, root);
        // References to components defined later than the property.
        for (const auto& r : refs)
            if (!WriteReference(r))
                P.Fail(QStringLiteral("Komponente %1 nicht gefunden").arg(r.target), r.line);
        for (auto* c : created)
            if (c != Root) c->Loaded();
        Root->Loaded();
    }

private:
    // Sets a reference if its component exists; false when it does not (yet).
    bool WriteReference(const Reference& r) {
        TComponent* target =
            r.target.compare(Root->Name(), Qt::CaseInsensitive) == 0 ? Root : Root->FindComponent(r.target);
        if (!target) return false;
        QVariant v = QVariant::fromValue(static_cast<QObject*>(target));
        if (!v.convert(r.prop.metaType()) || !r.prop.write(r.object, v))
            P.Fail(QStringLiteral("%1 passt nicht zur Eigenschaft %2")
                       .arg(r.target, QLatin1String(r.prop.name())),
                   r.line);
        return true;
    }

    template <class Fn> void Guarded(int line, const QString& item, Fn&& fn) {
        try {
            fn();
        } catch (const EReadError&) {
            throw;
        } catch (const Exception& e) {
            P.Fail(QStringLiteral("%1 (%2)").arg(e.Message(), item), line);
        }
    }

    void ReadMembers(TComponent* comp, const Node& node) {
        for (const auto& m : node.members) {
            if (m.prop) {
                ApplyProp(comp, *m.prop);
                continue;
            }
            const Node& child = *m.child;
            if (!TClassRegistry::IsRegistered(child.className))
                P.Fail(QStringLiteral("Klasse %1 nicht gefunden").arg(child.className), child.line);
            TComponent* c = TClassRegistry::Create(child.className, Root);
            c->SetLoadingState(true);
            created.push_back(c);
            Guarded(child.line, child.name, [&] {
                c->SetName(child.name);
                c->SetParentComponent(comp);
            });
            ReadMembers(c, child);
        }
    }

    void ApplyProp(QObject* target, const Prop& p) {
        const QString item = p.path.join(u'.');
        QObject* obj = target;
        for (qsizetype i = 0; i + 1 < p.path.size(); ++i) {
            QMetaProperty mp = FindProperty(obj, p.path[i]);
            QObject* next = mp.isValid() ? mp.read(obj).value<QObject*>() : nullptr;
            if (!next) P.Fail(QStringLiteral("Eigenschaft %1 nicht gefunden").arg(item), p.line);
            obj = next;
        }
        const QString name = p.path.back();
        QMetaProperty mp = FindProperty(obj, name);
        if (!mp.isValid()) {
            bool claimed = false;
            if (auto* per = qobject_cast<TPersistent*>(obj))
                Guarded(p.line, item, [&] { claimed = per->ReadDefinedProperty(name, PlainValue(p.value)); });
            if (!claimed) P.Fail(QStringLiteral("Eigenschaft %1 nicht gefunden").arg(item), p.line);
            return;
        }
        Guarded(p.line, item, [&] { Write({obj, mp, p.value, item}); });
    }

    // A value for properties that classes read themselves.
    static QVariant PlainValue(const Value& v) {
        switch (v.kind) {
        case Value::Int:
            return QVariant(qlonglong(v.number));
        case Value::String:
        case Value::Ident:
        case Value::Resource:
            return QVariant(v.text);
        case Value::Set:
            return QVariant(v.idents);
        default:
            return {};
        }
    }

    // One property assignment of the definition.
    struct Target {
        QObject* obj;
        const QMetaProperty& mp;
        const Value& v;
        const QString& item;
    };

    [[noreturn]] void Bad(const Target& t) const {
        P.Fail(QStringLiteral("Ungültiger Wert für %1").arg(t.item), t.v.line);
    }
    void Put(const Target& t, const QVariant& value) const {
        if (!t.mp.write(t.obj, value)) Bad(t);
    }

    void Write(const Target& t) {
        const QMetaType type = t.mp.metaType();
        if (type.flags() & QMetaType::PointerToQObject)
            WriteObject(t);
        else if (type.id() == QMetaType::QString)
            WriteString(t);
        else if (type.id() == QMetaType::Bool)
            WriteBool(t);
        else if (t.mp.isEnumType())
            WriteEnum(t);
        else if (type.id() == QMetaType::UInt)
            WriteUInt(t);
        else if (type.id() == QMetaType::Int)
            WriteInt(t);
        else if (t.v.kind == Value::Ident)
            WriteEvent(t);
        else
            Bad(t);
    }

    // Object-valued properties are filled in place, or refer to a component.
    void WriteObject(const Target& t) {
        const Value& v = t.v;
        QObject* current = t.mp.read(t.obj).value<QObject*>();
        switch (v.kind) {
        case Value::Ident: {
            // Properties are set in definition order: a component that already
            // exists is referenced at once, so later setters see it.
            Reference r{t.obj, t.mp, v.text, v.line};
            if (!WriteReference(r)) refs.push_back(std::move(r));
            return;
        }
        case Value::List:
            return WriteStrings(t, qobject_cast<TStrings*>(current));
        case Value::Collection:
            return WriteCollection(t, qobject_cast<TCollection*>(current));
        case Value::Resource: {
            auto* pic = qobject_cast<TPicture*>(current);
            if (!pic) Bad(t);
            pic->LoadFromResource(v.text);
            return;
        }
        default:
            Bad(t);
        }
    }

    void WriteStrings(const Target& t, TStrings* list) {
        if (!list) Bad(t);
        QStringList lines;
        for (const auto& e : t.v.items) {
            if (e.kind != Value::String) Bad(t);
            lines << e.text;
        }
        list->SetStrings(lines);
    }

    void WriteCollection(const Target& t, TCollection* coll) {
        if (!coll) Bad(t);
        coll->Clear();
        for (const auto& it : P.pendingCollections[size_t(t.v.number)].items) {
            TCollectionItem* ci = coll->Add();
            for (const auto& ip : it.props)
                ApplyProp(ci, ip);
        }
    }

    void WriteString(const Target& t) {
        if (t.v.kind != Value::String) Bad(t);
        Put(t, t.v.text);
    }

    void WriteBool(const Target& t) {
        if (t.v.kind != Value::Ident) Bad(t);
        if (t.v.text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
            Put(t, true);
        else if (t.v.text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
            Put(t, false);
        else
            Bad(t);
    }

    void WriteEnum(const Target& t) {
        const Value& v = t.v;
        const QMetaEnum e = t.mp.enumerator();
        int value = 0;
        if (t.mp.isFlagType()) {
            if (v.kind != Value::Set) Bad(t);
            for (const auto& id : v.idents) {
                const int bit = e.keyToValue(id.toLatin1().constData());
                if (bit < 0) Bad(t);
                value |= bit;
            }
        } else {
            if (v.kind != Value::Ident) Bad(t);
            bool ok = false;
            value = e.keyToValue(v.text.toLatin1().constData(), &ok);
            if (!ok) Bad(t);
        }
        // Enumerations travel as their underlying int.
        QVariant val(value);
        if (!val.convert(t.mp.metaType())) Bad(t);
        Put(t, val);
    }

    void WriteUInt(const Target& t) {
        if (t.v.kind != Value::Int || t.v.number < 0 || t.v.number > UINT_MAX) Bad(t);
        Put(t, uint(t.v.number));
    }

    void WriteInt(const Target& t) {
        int value = 0;
        if (t.v.kind == Value::Int) {
            if (t.v.number < INT_MIN || t.v.number > INT_MAX) Bad(t);
            value = int(t.v.number);
        } else if (t.v.kind != Value::Ident || !IdentToInt(t.v.text, value)) {
            Bad(t);
        }
        Put(t, value);
    }

    // Event: bind the root's handler of that name.
    void WriteEvent(const Target& t) {
        const Value& v = t.v;
        for (const auto& m : Methods) {
            if (v.text.compare(QLatin1String(m.Name), Qt::CaseInsensitive) != 0) continue;
            QVariant ev = m.Make(Root);
            if (ev.metaType() != t.mp.metaType())
                P.Fail(QStringLiteral("Methode %1 hat die falsche Signatur für %2").arg(v.text, t.item),
                       v.line);
            Put(t, ev);
            return;
        }
        P.Fail(QStringLiteral("Methode %1 nicht gefunden").arg(v.text), v.line);
    }

    TComponent* Root;
    std::span<const TMethodBinding> Methods;
    Parser& P;
    std::vector<TComponent*> created;
    std::vector<Reference> refs;
};

} // namespace

QMetaProperty FindProperty(const QObject* object, const QString& name) {
    const QMetaObject* mo = object->metaObject();
    for (int i = mo->propertyCount() - 1; i >= 0; --i) {
        QMetaProperty p = mo->property(i);
        if (name.compare(QLatin1String(p.name()), Qt::CaseInsensitive) == 0) return p;
    }
    return {};
}

void ReadDefinitionText(TComponent* root, std::span<const TMethodBinding> methods, const QString& text,
                        const QString& source) {
    Parser parser(text, source);
    auto tree = parser.ParseRoot();
    Reader reader(root, methods, parser);
    reader.Read(*tree);
}

void ReadDefinitionFile(TComponent* root, std::span<const TMethodBinding> methods, const QString& resource) {
    QFile f(resource);
    if (!f.open(QIODevice::ReadOnly))
        throw EReadError(QStringLiteral("Formulardefinition %1 nicht gefunden").arg(resource));
    ReadDefinitionText(root, methods, QString::fromUtf8(f.readAll()), resource);
}
