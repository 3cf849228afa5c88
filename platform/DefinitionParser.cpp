#include "DefinitionParser.h"

#include "Classes.h"

namespace Definition {

std::unique_ptr<Node> Parser::ParseRoot() {
    Skip();
    auto n = ParseObject();
    Skip();
    if (pos < s.size()) Fail(QStringLiteral("Text nach dem Ende des Formulars"));
    return n;
}

void Parser::Fail(const QString& msg, int atLine) const {
    throw EReadError(QStringLiteral("Fehler beim Lesen von %1, Zeile %2: %3")
                         .arg(src)
                         .arg(atLine ? atLine : line)
                         .arg(msg));
}

void Parser::Skip() {
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

bool Parser::Peek(QChar c) {
    Skip();
    return pos < s.size() && s[pos] == c;
}

void Parser::Expect(QChar c) {
    Skip();
    if (pos >= s.size() || s[pos] != c) Fail(QStringLiteral("'%1' erwartet").arg(c));
    ++pos;
}

QString Parser::Ident() {
    Skip();
    if (pos >= s.size() || !IsIdentStart(s[pos])) Fail(QStringLiteral("Bezeichner erwartet"));
    const qsizetype start = pos;
    while (pos < s.size() && (s[pos].isLetterOrNumber() || s[pos] == u'_'))
        ++pos;
    return s.mid(start, pos - start);
}

QString Parser::StringLit() {
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

std::unique_ptr<Node> Parser::ParseObject() {
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

Prop Parser::ParseProp() {
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

Value Parser::ParseValue() {
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

} // namespace Definition
