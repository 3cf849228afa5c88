// The syntax of stored definitions (the format is shown in FormReader.h): text in, a tree
// of objects, properties and values out. Nothing here knows components.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace Definition {

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

    std::unique_ptr<Node> ParseRoot();
    // Throws EReadError naming the source and the line (the current one by default).
    [[noreturn]] void Fail(const QString& msg, int atLine = 0) const;
    Value ParseValue();

    std::vector<CollectionValue> pendingCollections;

private:
    void Skip();
    bool Peek(QChar c);
    void Expect(QChar c);
    bool IsIdentStart(QChar c) const { return c.isLetter() || c == u'_'; }
    QString Ident();
    QString StringLit();
    std::unique_ptr<Node> ParseObject();
    Prop ParseProp();

    QString s;
    QString src;
    qsizetype pos = 0;
    int line = 1;
};

} // namespace Definition
