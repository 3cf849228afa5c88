#include "FormReader.h"

#include "ComCtrls.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "Menus.h"
#include "StdCtrls.h"

#include <QFile>
#include <QMetaEnum>

namespace {

std::map<QString, TComponentFactory>& Registry() {
    static std::map<QString, TComponentFactory> registry;
    return registry;
}

// ---------------------------------------------------------------------------
// Parsing

struct Value {
    enum Kind { Int, String, Ident, Set, List, Collection, Resource } kind = Int;
    int line = 0;
    long long number = 0;
    QString text;             // String, Ident, Resource
    QStringList idents;       // Set
    std::vector<Value> items; // List
    // Collection: index into the parser's collected item lists (in `number`).
};

struct Prop {
    QStringList path;
    Value value;
    int line = 0;
};

struct Item {
    std::vector<Prop> props;
};

struct Node {
    QString name, className;
    int line = 0;
    // Members in file order: a property or a child object.
    struct Member {
        std::unique_ptr<Prop> prop;
        std::unique_ptr<Node> child;
    };
    std::vector<Member> members;
};

struct CollectionValue {
    std::vector<Item> items;
};

class Parser {
public:
    Parser(const QString& text, QString source) : s(text), src(std::move(source)) {}

    std::unique_ptr<Node> ParseRoot() {
        Skip();
        auto n = ParseObject();
        Skip();
        if (pos < s.size()) Fail(QStringLiteral("Text nach dem Ende des Formulars"));
        return n;
    }

    [[noreturn]] void Fail(const QString& msg, int atLine = 0) const {
        throw EReadError(QStringLiteral("Fehler beim Lesen von %1, Zeile %2: %3")
                             .arg(src)
                             .arg(atLine ? atLine : line)
                             .arg(msg));
    }

private:
    void Skip() {
        while (pos < s.size()) {
            const QChar c = s[pos];
            if (c == u'\n') {
                ++line;
                ++pos;
            } else if (c.isSpace()) {
                ++pos;
            } else if (c == u'#') {
                while (pos < s.size() && s[pos] != u'\n')
                    ++pos;
            } else {
                break;
            }
        }
    }
    bool Peek(QChar c) {
        Skip();
        return pos < s.size() && s[pos] == c;
    }
    void Expect(QChar c) {
        Skip();
        if (pos >= s.size() || s[pos] != c) Fail(QStringLiteral("'%1' erwartet").arg(c));
        ++pos;
    }
    bool IsIdentStart(QChar c) const { return c.isLetter() || c == u'_'; }
    QString Ident() {
        Skip();
        if (pos >= s.size() || !IsIdentStart(s[pos])) Fail(QStringLiteral("Bezeichner erwartet"));
        const qsizetype start = pos;
        while (pos < s.size() && (s[pos].isLetterOrNumber() || s[pos] == u'_'))
            ++pos;
        return s.mid(start, pos - start);
    }
    QString StringLit() {
        Expect(u'"');
        QString r;
        while (true) {
            if (pos >= s.size() || s[pos] == u'\n') Fail(QStringLiteral("Zeichenkette nicht abgeschlossen"));
            QChar c = s[pos++];
            if (c == u'"') break;
            if (c == u'\\') {
                if (pos >= s.size()) Fail(QStringLiteral("Zeichenkette nicht abgeschlossen"));
                QChar e = s[pos++];
                if (e == u'n')
                    r += u'\n';
                else if (e == u't')
                    r += u'\t';
                else if (e == u'u') {
                    bool ok = false;
                    const uint code = s.mid(pos, 4).toUInt(&ok, 16);
                    if (!ok || pos + 4 > s.size()) Fail(QStringLiteral("Ungültige \\u-Folge"));
                    r += QChar(char16_t(code));
                    pos += 4;
                } else if (e == u'"' || e == u'\\')
                    r += e;
                else
                    Fail(QStringLiteral("Ungültige Escape-Folge \\%1").arg(e));
            } else {
                r += c;
            }
        }
        return r;
    }

    std::unique_ptr<Node> ParseObject() {
        auto n = std::make_unique<Node>();
        n->line = line;
        n->name = Ident();
        Expect(u':');
        n->className = Ident();
        Expect(u'{');
        while (!Peek(u'}')) {
            if (pos >= s.size()) Fail(QStringLiteral("'}' erwartet"));
            const qsizetype save = pos;
            const int saveLine = line;
            Ident();
            Skip();
            const bool isObject = pos < s.size() && s[pos] == u':';
            pos = save;
            line = saveLine;
            Node::Member m;
            if (isObject)
                m.child = ParseObject();
            else
                m.prop = std::make_unique<Prop>(ParseProp());
            n->members.push_back(std::move(m));
        }
        Expect(u'}');
        return n;
    }

    Prop ParseProp() {
        Prop p;
        p.line = line;
        p.path << Ident();
        while (Peek(u'.')) {
            ++pos;
            p.path << Ident();
        }
        Expect(u'=');
        p.value = ParseValue();
        return p;
    }

public:
    Value ParseValue() {
        Skip();
        Value v;
        v.line = line;
        if (pos >= s.size()) Fail(QStringLiteral("Wert erwartet"));
        const QChar c = s[pos];
        if (c == u'"') {
            v.kind = Value::String;
            v.text = StringLit();
            while (Peek(u'+')) {
                ++pos;
                Skip();
                v.text += StringLit();
            }
        } else if (c == u'-' || c.isDigit()) {
            const qsizetype start = pos;
            if (c == u'-') ++pos;
            while (pos < s.size() && s[pos].isDigit())
                ++pos;
            bool ok = false;
            v.number = s.mid(start, pos - start).toLongLong(&ok);
            if (!ok) Fail(QStringLiteral("Ungültige Zahl"));
            v.kind = Value::Int;
        } else if (c == u'[') {
            ++pos;
            v.kind = Value::Set;
            while (!Peek(u']')) {
                v.idents << Ident();
                if (Peek(u',')) ++pos;
            }
            ++pos;
        } else if (c == u'(') {
            ++pos;
            v.kind = Value::List;
            while (!Peek(u')')) {
                if (pos >= s.size()) Fail(QStringLiteral("')' erwartet"));
                v.items.push_back(ParseValue());
            }
            ++pos;
        } else if (c == u'<') {
            ++pos;
            v.kind = Value::Collection;
            CollectionValue cv;
            while (!Peek(u'>')) {
                if (Ident() != QLatin1String("item")) Fail(QStringLiteral("'item' erwartet"));
                Expect(u'{');
                Item it;
                while (!Peek(u'}')) {
                    if (pos >= s.size()) Fail(QStringLiteral("'}' erwartet"));
                    it.props.push_back(ParseProp());
                }
                ++pos;
                cv.items.push_back(std::move(it));
            }
            ++pos;
            v.number = qint64(pendingCollections.size());
            pendingCollections.push_back(std::move(cv));
        } else if (IsIdentStart(c)) {
            v.text = Ident();
            v.kind = Value::Ident;
            if (v.text == QLatin1String("res") && Peek(u'(')) {
                ++pos;
                Skip();
                v.text = StringLit();
                Expect(u')');
                v.kind = Value::Resource;
            }
        } else {
            Fail(QStringLiteral("Unerwartetes Zeichen '%1'").arg(c));
        }
        return v;
    }

    std::vector<CollectionValue> pendingCollections;

private:
    QString s;
    QString src;
    qsizetype pos = 0;
    int line = 1;
};

// ---------------------------------------------------------------------------
// Applying

struct Reference {
    QObject* object;
    QMetaProperty prop;
    QString target;
    int line;
};

class Reader {
public:
    Reader(TCustomForm* form, Parser& parser, QString source) : F(form), P(parser), Src(std::move(source)) {}

    void Read(const Node& root) {
        const QString cls = QString::fromLatin1(F->metaObject()->className());
        if (root.className != cls)
            P.Fail(QStringLiteral("Klasse %1 erwartet, %2 gefunden").arg(cls, root.className), root.line);
        F->SetLoadingState(true);
        created.push_back(F);
        Guarded(root.line, root.name, [&] { F->SetName(root.name); });
        ReadMembers(F, root);
        // References to components defined later than the property.
        for (const auto& r : refs)
            if (!WriteReference(r))
                P.Fail(QStringLiteral("Komponente %1 nicht gefunden").arg(r.target), r.line);
        for (auto* c : created)
            if (c != F) c->Loaded();
        F->Loaded();
    }

private:
    // Sets a reference if its component exists; false when it does not (yet).
    bool WriteReference(const Reference& r) {
        TComponent* target =
            r.target.compare(F->Name(), Qt::CaseInsensitive) == 0 ? F : F->FindComponent(r.target);
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
            TComponent* c = TClassRegistry::Create(child.className, F);
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
        Guarded(p.line, item, [&] { Write(obj, mp, p.value, item); });
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

    void Write(QObject* obj, const QMetaProperty& mp, const Value& v, const QString& item) {
        const QMetaType type = mp.metaType();
        auto bad = [&] { P.Fail(QStringLiteral("Ungültiger Wert für %1").arg(item), v.line); };
        auto write = [&](const QVariant& val) {
            if (!mp.write(obj, val)) bad();
        };
        // Object-valued properties are filled in place.
        if (type.flags() & QMetaType::PointerToQObject) {
            QObject* current = mp.read(obj).value<QObject*>();
            if (v.kind == Value::Ident) {
                // Properties are set in definition order: a component that already
                // exists is referenced at once, so later setters see it.
                Reference r{obj, mp, v.text, v.line};
                if (!WriteReference(r)) refs.push_back(std::move(r));
                return;
            }
            if (v.kind == Value::List) {
                auto* list = qobject_cast<TStrings*>(current);
                if (!list) bad();
                QStringList lines;
                for (const auto& e : v.items) {
                    if (e.kind != Value::String) bad();
                    lines << e.text;
                }
                list->SetStrings(lines);
                return;
            }
            if (v.kind == Value::Collection) {
                auto* coll = qobject_cast<TCollection*>(current);
                if (!coll) bad();
                coll->Clear();
                for (const auto& it : P.pendingCollections[size_t(v.number)].items) {
                    TCollectionItem* ci = coll->Add();
                    for (const auto& ip : it.props)
                        ApplyProp(ci, ip);
                }
                return;
            }
            if (v.kind == Value::Resource) {
                auto* pic = qobject_cast<TPicture*>(current);
                if (!pic) bad();
                pic->LoadFromResource(v.text);
                return;
            }
            bad();
        }
        if (type.id() == QMetaType::QString) {
            if (v.kind != Value::String) bad();
            write(v.text);
            return;
        }
        if (type.id() == QMetaType::Bool) {
            if (v.kind != Value::Ident) bad();
            if (v.text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
                write(true);
            else if (v.text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
                write(false);
            else
                bad();
            return;
        }
        if (mp.isEnumType()) {
            const QMetaEnum e = mp.enumerator();
            int value = 0;
            if (mp.isFlagType()) {
                if (v.kind != Value::Set) bad();
                for (const auto& id : v.idents) {
                    const int bit = e.keyToValue(id.toLatin1().constData());
                    if (bit < 0) bad();
                    value |= bit;
                }
            } else {
                if (v.kind != Value::Ident) bad();
                bool ok = false;
                value = e.keyToValue(v.text.toLatin1().constData(), &ok);
                if (!ok) bad();
            }
            // Enumerations travel as their underlying int.
            QVariant val(value);
            if (!val.convert(type)) bad();
            write(val);
            return;
        }
        if (type.id() == QMetaType::UInt) {
            if (v.kind != Value::Int || v.number < 0 || v.number > UINT_MAX) bad();
            write(uint(v.number));
            return;
        }
        if (type.id() == QMetaType::Int) {
            int value = 0;
            if (v.kind == Value::Int) {
                if (v.number < INT_MIN || v.number > INT_MAX) bad();
                value = int(v.number);
            } else if (v.kind != Value::Ident || !IdentToInt(v.text, value)) {
                bad();
            }
            write(value);
            return;
        }
        if (v.kind == Value::Ident) {
            // Event: bind the form's handler of that name.
            for (const auto& m : F->PublishedMethods()) {
                if (v.text.compare(QLatin1String(m.Name), Qt::CaseInsensitive) != 0) continue;
                QVariant ev = m.Make(F);
                if (ev.metaType() != type)
                    P.Fail(QStringLiteral("Methode %1 hat die falsche Signatur für %2").arg(v.text, item),
                           v.line);
                write(ev);
                return;
            }
            P.Fail(QStringLiteral("Methode %1 nicht gefunden").arg(v.text), v.line);
        }
        bad();
    }

    TCustomForm* F;
    Parser& P;
    QString Src;
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

void TClassRegistry::Register(const QString& className, TComponentFactory factory) {
    Registry()[className] = std::move(factory);
}

TComponent* TClassRegistry::Create(const QString& className, TComponent* owner) {
    auto it = Registry().find(className);
    if (it == Registry().end()) throw EReadError(QStringLiteral("Klasse %1 nicht gefunden").arg(className));
    return it->second(owner);
}

bool TClassRegistry::IsRegistered(const QString& className) {
    return Registry().count(className) > 0;
}

void RegisterStandardClasses() {
    TClassRegistry::Register<TLabel>();
    TClassRegistry::Register<TEdit>();
    TClassRegistry::Register<TMemo>();
    TClassRegistry::Register<TButton>();
    TClassRegistry::Register<TCheckBox>();
    TClassRegistry::Register<TListBox>();
    TClassRegistry::Register<TGroupBox>();
    TClassRegistry::Register<TPanel>();
    TClassRegistry::Register<TBevel>();
    TClassRegistry::Register<TImage>();
    TClassRegistry::Register<TTrackBar>();
    TClassRegistry::Register<TPageControl>();
    TClassRegistry::Register<TTabSheet>();
    TClassRegistry::Register<TStatusBar>();
    TClassRegistry::Register<TProgressBar>();
    TClassRegistry::Register<TScrollBox>();
    TClassRegistry::Register<TRadioButton>();
    TClassRegistry::Register<TRadioGroup>();
    TClassRegistry::Register<TMainMenu>();
    TClassRegistry::Register<TPopupMenu>();
    TClassRegistry::Register<TMenuItem>();
}

void TFormReader::ReadForm(TCustomForm* form, const QString& resource) {
    QFile f(resource);
    if (!f.open(QIODevice::ReadOnly))
        throw EReadError(QStringLiteral("Formulardefinition %1 nicht gefunden").arg(resource));
    ReadFormText(form, QString::fromUtf8(f.readAll()), resource);
}

void TFormReader::ReadFormText(TCustomForm* form, const QString& text, const QString& source) {
    Parser parser(text, source);
    auto root = parser.ParseRoot();
    Reader reader(form, parser, source);
    reader.Read(*root);
}
