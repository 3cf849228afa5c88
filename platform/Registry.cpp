#include "Registry.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>

#include <algorithm>

namespace {

const QString Root = QStringLiteral("HKEY_CURRENT_USER");
const QLatin1String Header("Windows Registry Editor Version 5.00");

// Appends s in quotes, with backslashes and quotes escaped; in place, as a hive of
// many keys is written value by value.
void AppendQuoted(QString& out, const QString& s) {
    out += u'"';
    if (!s.contains(u'\\') && !s.contains(u'"')) {
        out += s;
    } else {
        for (QChar c : s) {
            if (c == u'\\' || c == u'"') out += u'\\';
            out += c;
        }
    }
    out += u'"';
}

// Reads a quoted string starting at pos (on the opening quote); pos ends after
// the closing quote. False when the string is not closed.
bool Unquote(QStringView line, qsizetype& pos, QString& out) {
    out.clear();
    ++pos;
    while (pos < line.size()) {
        // Plain runs are taken whole: values may be megabytes long.
        qsizetype end = pos;
        while (end < line.size() && line[end] != u'"' && line[end] != u'\\')
            ++end;
        out += line.sliced(pos, end - pos);
        pos = end;
        if (pos >= line.size()) return false;
        if (line[pos] == u'"') {
            ++pos;
            return true;
        }
        if (++pos >= line.size()) return false;
        out += line[pos++];
    }
    return false;
}

bool HasControl(const QString& s) {
    return std::any_of(s.begin(), s.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

// Text the file holds as it is: no control characters and no half of a surrogate pair
// (UTF-8 has no spelling for one).
bool Plain(const QString& s) {
    return !HasControl(s) && s.isValidUtf16();
}

// Orders key paths step by step, ignoring case: folded, with each separator below
// every character a name may hold (names hold no zero), so that plain comparison of
// the results puts a key before the keys below it and "A\\B" before "A B".
QString SortKey(const QString& path) {
    QString key = CaseFoldKey(path);
    key.replace(u'\\', QChar(0));
    return key;
}

thread_local qint64 Comparisons = 0;

bool SamePath(const QString& a, const QString& b) {
    ++Comparisons;
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// A lookup by folded name.
template <class Index> auto Probe(const Index& index, const QString& folded) {
    ++Comparisons;
    return index.constFind(folded);
}

bool Below(const QString& path, const QString& key) {
    return SamePath(path, key) ||
           (path.size() > key.size() && path[key.size()] == u'\\' && SamePath(path.left(key.size()), key));
}

bool IsHexDigit(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
}

int HexDigit(QChar c) {
    const char16_t u = c.unicode();
    return u <= u'9' ? u - u'0' : (u | 0x20) - u'a' + 10;
}

// Parses byte data: "hex:" or "hex(type):", then two-digit bytes separated by commas,
// going on over lines that end in a backslash. Gives the type (3 for plain "hex:",
// -1 for one too big to be a type) and, when asked, the bytes. Linear in the length:
// values of many megabytes are read like small ones.
bool ParseHex(QStringView d, int& type, QByteArray* bytes) {
    if (!d.startsWith(u"hex")) return false;
    qsizetype i = 3;
    type = 3;
    if (i < d.size() && d[i] == u'(') {
        const qsizetype close = d.indexOf(u')', i);
        if (close < i + 2) return false;
        const QStringView digits = d.sliced(i + 1, close - i - 1);
        if (!std::all_of(digits.begin(), digits.end(), IsHexDigit)) return false;
        bool ok = false;
        type = digits.toInt(&ok, 16);
        if (!ok) type = -1;
        i = close + 1;
    }
    if (i >= d.size() || d[i] != u':') return false;
    if (++i == d.size()) return true;
    auto blank = [](QChar c) {
        return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f' || c == u'\v';
    };
    for (;;) {
        if (i + 2 > d.size() || !IsHexDigit(d[i]) || !IsHexDigit(d[i + 1])) return false;
        if (bytes) bytes->append(char(HexDigit(d[i]) << 4 | HexDigit(d[i + 1])));
        i += 2;
        if (i == d.size()) return true;
        if (d[i] != u',') return false;
        ++i;
        if (i < d.size() && d[i] == u'\\') ++i;
        while (i < d.size() && blank(d[i]))
            ++i;
    }
}

} // namespace

qint64 TRegIniFile::NameComparisons() {
    return Comparisons;
}

QString TRegIniFile::HivePath() {
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u'/' + program +
           QStringLiteral("/registry.reg");
}

TRegIniFile::TRegIniFile(const QString& baseKey) : TCustomIniFile(HivePath()) {
    QString base = baseKey;
    while (base.startsWith(u'\\'))
        base.remove(0, 1);
    FBase = Root;
    FBase = KeyPath(base);
    Open();
    // Made when missing; a store only read from then has nothing to write.
    if (const QString path = FBase; !FindKey(path)) Change([this, path] { CreateKey(path); });
}

TRegIniFile::~TRegIniFile() {
    // A store dropped without closing still keeps what was written to it.
    Guard([&] { UpdateFile(); });
}

void TRegIniFile::ReadFailed() const {
    throw ERegistryException(QStringLiteral("Konnte Daten für '%1' nicht holen").arg(FileName()));
}

void TRegIniFile::WriteFailed() const {
    throw ERegistryException(QStringLiteral("Konnte Daten für '%1' nicht setzen").arg(FileName()));
}

void TRegIniFile::Raise(const QString& message) const {
    throw ERegistryException(message);
}

QString TRegIniFile::KeyPath(const QString& section) const {
    QString path;
    if (section.startsWith(u'\\'))
        path = Root + section;
    else if (section.isEmpty())
        path = FBase;
    else
        path = FBase + u'\\' + section;
    if (path.endsWith(u'\\')) path.chop(1);
    const QStringList parts = path.split(u'\\');
    // Every step of a key path needs a name, and a name of printable characters.
    if (std::any_of(parts.begin(), parts.end(), [](const QString& p) { return p.isEmpty() || !Plain(p); }))
        throw ERegistryException(QStringLiteral("Erzeugung von Schlüssel %1 misslungen").arg(section));
    return path;
}

// Up to this many values a key is searched in order; more get an index.
constexpr size_t ValuesUnindexed = 8;

TRegIniFile::Value* TRegIniFile::Key::Find(const QString& name) {
    if (values.size() <= ValuesUnindexed) {
        for (auto& v : values)
            if (SamePath(v.name, name)) return &v;
        return nullptr;
    }
    const auto it = Probe(byName, CaseFoldKey(name));
    return it == byName.cend() ? nullptr : &values[*it];
}

const TRegIniFile::Value* TRegIniFile::Key::Find(const QString& name) const {
    return const_cast<Key*>(this)->Find(name);
}

void TRegIniFile::Key::Put(Value v) {
    if (Value* there = Find(v.name)) {
        *there = std::move(v);
        return;
    }
    values.push_back(std::move(v));
    if (values.size() == ValuesUnindexed + 1) {
        for (size_t i = 0; i < values.size(); ++i)
            byName.insert(CaseFoldKey(values[i].name), i);
    } else if (values.size() > ValuesUnindexed) {
        byName.insert(CaseFoldKey(values.back().name), values.size() - 1);
    }
}

TRegIniFile::Key* TRegIniFile::FindKey(const QString& path) {
    const auto it = Probe(FKeyIndex, CaseFoldKey(path));
    return it == FKeyIndex.cend() ? nullptr : &FKeys[*it];
}

void TRegIniFile::IndexKeys() {
    FKeyIndex.clear();
    for (size_t i = 0; i < FKeys.size(); ++i)
        FKeyIndex.insert(CaseFoldKey(FKeys[i].path), i);
}

const TRegIniFile::Key* TRegIniFile::FindKey(const QString& path) const {
    return const_cast<TRegIniFile*>(this)->FindKey(path);
}

TRegIniFile::Key& TRegIniFile::CreateKey(const QString& path) {
    const QString folded = CaseFoldKey(path);
    if (const auto it = Probe(FKeyIndex, folded); it != FKeyIndex.cend()) return FKeys[*it];
    FKeyIndex.insert(folded, FKeys.size());
    FKeys.push_back({path, {}, {}});
    return FKeys.back();
}

void TRegIniFile::Clear() {
    FKeys.clear();
    FKeyIndex.clear();
}

bool TRegIniFile::Parse(const QByteArray& data) {
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decode(data);
    if (decode.hasError() || text.contains(QChar())) return false;
    // Views into the text: values may be megabytes long, and are copied once, when kept.
    QList<QStringView> lines = QStringView(text).split(u'\n');
    for (auto& l : lines)
        if (l.endsWith(u'\r')) l.chop(1);
    if (!lines.isEmpty() && lines.front().startsWith(QChar(0xFEFF))) lines.front() = lines.front().sliced(1);
    if (lines.isEmpty() || lines.front() != Header) return false;
    Key* current = nullptr;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringView line = lines[i];
        if (line.trimmed().isEmpty() || line.startsWith(u';')) continue;
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']')) return false;
            const QStringView path = line.sliced(1, line.size() - 2);
            const auto parts = path.split(u'\\');
            if (path.startsWith(u'-') ||
                std::any_of(parts.begin(), parts.end(), [](QStringView p) { return p.isEmpty(); }))
                return false;
            current = &CreateKey(path.toString());
            continue;
        }
        if (!current) return false;
        Value v;
        qsizetype pos = 0;
        if (line.startsWith(u'@')) {
            pos = 1;
        } else if (!line.startsWith(u'"') || !Unquote(line, pos, v.name)) {
            return false;
        }
        if (pos >= line.size() || line[pos] != u'=') return false;
        const QStringView data = line.sliced(pos + 1);
        if (data.startsWith(u'"')) {
            qsizetype p = 0;
            if (!Unquote(data, p, v.text) || !data.sliced(p).trimmed().isEmpty()) return false;
            v.kind = Value::Text;
        } else if (data.startsWith(QLatin1String("dword:"))) {
            const QStringView digits = data.sliced(6);
            if (digits.size() != 8 || !std::all_of(digits.begin(), digits.end(), IsHexDigit)) return false;
            v.kind = Value::Other;
            v.raw = data.toString();
        } else if (data.startsWith(QLatin1String("hex"))) {
            QString bytes = data.toString();
            // Long byte lists go on over lines that end in a backslash.
            while (bytes.endsWith(u'\\')) {
                if (++i >= lines.size()) return false;
                bytes += u'\n';
                bytes += lines[i];
            }
            int type = 0;
            if (!ParseHex(bytes, type, nullptr)) return false;
            v.kind = type == 1 || type == 2 ? Value::HexText : Value::Other;
            v.raw = std::move(bytes);
        } else {
            return false;
        }
        current->Put(std::move(v));
    }
    return true;
}

QByteArray TRegIniFile::Serialize() const {
    // Each path folded once, not at every comparison.
    std::vector<std::pair<QString, const Key*>> keys;
    keys.reserve(FKeys.size());
    for (const auto& k : FKeys)
        keys.emplace_back(SortKey(k.path), &k);
    std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QString out = Header + QStringLiteral("\n\n");
    out.reserve(FKeys.size() * 64);
    for (const auto& [sortKey, k] : keys) {
        out += u'[';
        out += k->path;
        out += QLatin1String("]\n");
        for (const auto& v : k->values) {
            if (v.name.isEmpty())
                out += u'@';
            else
                AppendQuoted(out, v.name);
            out += u'=';
            if (v.kind != Value::Text) {
                out += v.raw;
            } else if (!Plain(v.text)) {
                // UTF-16 code units, low byte first, then the terminating zero.
                static constexpr char digits[] = "0123456789abcdef";
                out += QLatin1String("hex(1):");
                for (QChar c : v.text)
                    for (const int byte : {c.unicode() & 0xFF, c.unicode() >> 8}) {
                        out += QLatin1Char(digits[byte >> 4]);
                        out += QLatin1Char(digits[byte & 0xF]);
                        out += u',';
                    }
                out += QLatin1String("00,00");
            } else {
                AppendQuoted(out, v.text);
            }
            out += u'\n';
        }
        out += u'\n';
    }
    return out.toUtf8();
}

QString TRegIniFile::ReadString(const QString& section, const QString& ident, const QString& def) {
    QString path;
    try {
        path = KeyPath(section);
    } catch (const ERegistryException&) {
        return def; // a key that cannot exist is not there
    }
    const Key* k = FindKey(path);
    if (const Value* v = k ? k->Find(ident) : nullptr) {
        if (v->kind == Value::Other) {
            ERegistryException e(QStringLiteral("Ungültiger Datentyp für '%1'").arg(ident));
            // Every show of a form would stop at the same value again: told once.
            e.SetSubject(QStringLiteral("type ") + k->path + u'\\' + v->name);
            throw e;
        }
        QString text;
        if (!TextOf(*v, text))
            throw ERegistryException(QStringLiteral("Konnte Daten für '%1' nicht holen").arg(ident));
        NoteRead(path, ident, text);
        return text;
    }
    NoteRead(path, ident, def);
    return def;
}

bool TRegIniFile::TextOf(const Value& v, QString& text) {
    if (v.kind == Value::Text) {
        text = v.text;
        return true;
    }
    // Text spelt in bytes: UTF-16, little end first, up to the first zero.
    int type = 0;
    QByteArray bytes;
    if (v.kind != Value::HexText || !ParseHex(v.raw, type, &bytes) || bytes.size() % 2 != 0) return false;
    text.clear();
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const auto c = char16_t(quint8(bytes[i]) | quint8(bytes[i + 1]) << 8);
        if (c == 0) break;
        text += QChar(c);
    }
    return true;
}

void TRegIniFile::WriteString(const QString& section, const QString& ident, const QString& value) {
    const QString path = KeyPath(section);
    if (!Plain(ident))
        throw ERegistryException(QStringLiteral("Konnte Daten für '%1' nicht setzen").arg(ident));
    // The registry's text type ends at the first zero.
    const QString text = value.left(value.indexOf(QChar()) < 0 ? value.size() : value.indexOf(QChar()));
    // A value left as it was is no change of ours: another copy's newer value stays.
    if (const Key* k = FindKey(path)) {
        QString now;
        if (const Value* v = k->Find(ident); v && TextOf(*v, now) && now == text) return;
    }
    const bool own = OwnChange(path, ident, text);
    Change([this, path, ident, text, own] {
        Key& k = CreateKey(path);
        if (Value* v = k.Find(ident)) {
            if (!own) return;
            v->kind = Value::Text;
            v->text = text;
            v->raw.clear();
            return;
        }
        Value v;
        v.name = ident;
        v.text = text;
        k.Put(std::move(v));
    });
}

void TRegIniFile::NoteUnchanged(const QString& section, const QString& ident, const QString& text) {
    NoteRead(KeyPath(section), ident, text);
}

void TRegIniFile::EraseSection(const QString& section) {
    const QString path = KeyPath(section);
    Change([this, path] {
        std::erase_if(FKeys, [&](const Key& k) { return Below(k.path, path); });
        IndexKeys();
    });
}

bool TRegIniFile::KeyExists(const QString& section) const {
    try {
        const QString path = KeyPath(section);
        return std::any_of(FKeys.begin(), FKeys.end(), [&](const Key& k) { return Below(k.path, path); });
    } catch (const ERegistryException&) {
        return false;
    }
}

bool TRegIniFile::ValueExists(const QString& section, const QString& ident) const {
    try {
        const Key* k = FindKey(KeyPath(section));
        return k && k->Find(ident);
    } catch (const ERegistryException&) {
        return false;
    }
}

QStringList TRegIniFile::ReadSection(const QString& section) const {
    QStringList names;
    try {
        if (const Key* k = FindKey(KeyPath(section)))
            for (const auto& v : k->values)
                names << v.name;
    } catch (const ERegistryException&) {
    }
    return names;
}

QStringList TRegIniFile::KeyPaths() const {
    QStringList paths;
    for (const auto& k : FKeys)
        paths << k.path;
    return paths;
}
