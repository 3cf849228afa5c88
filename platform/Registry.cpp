#include "Registry.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringDecoder>

#include <algorithm>

namespace {

const QString Root = QStringLiteral("HKEY_CURRENT_USER");
const QLatin1String Header("Windows Registry Editor Version 5.00");

QString Quote(const QString& s) {
    QString r = s;
    r.replace(u'\\', QLatin1String("\\\\"));
    r.replace(u'"', QLatin1String("\\\""));
    return u'"' + r + u'"';
}

// Reads a quoted string starting at pos (on the opening quote); pos ends after
// the closing quote. False when the string is not closed.
bool Unquote(const QString& line, qsizetype& pos, QString& out) {
    out.clear();
    for (++pos; pos < line.size(); ++pos) {
        const QChar c = line[pos];
        if (c == u'"') {
            ++pos;
            return true;
        }
        if (c == u'\\') {
            if (++pos >= line.size()) return false;
            out += line[pos];
            continue;
        }
        out += c;
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

int ComparePaths(const QString& a, const QString& b) {
    const QStringList x = a.split(u'\\'), y = b.split(u'\\');
    for (qsizetype i = 0; i < std::min(x.size(), y.size()); ++i)
        if (const int c = x[i].compare(y[i], Qt::CaseInsensitive)) return c;
    return int(x.size() - y.size());
}

bool SamePath(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool Below(const QString& path, const QString& key) {
    return SamePath(path, key) ||
           (path.size() > key.size() && path[key.size()] == u'\\' && SamePath(path.left(key.size()), key));
}

const QRegularExpression& HexData() {
    static const QRegularExpression re(
        QStringLiteral(R"(^hex(?:\(([0-9a-fA-F]+)\))?:((?:[0-9a-fA-F]{2}(?:,\\?\s*[0-9a-fA-F]{2})*)?)$)"));
    return re;
}

} // namespace

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
    const QString path = FBase;
    Change([this, path] { CreateKey(path); });
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

TRegIniFile::Key* TRegIniFile::FindKey(const QString& path) {
    for (auto& k : FKeys)
        if (SamePath(k.path, path)) return &k;
    return nullptr;
}

const TRegIniFile::Key* TRegIniFile::FindKey(const QString& path) const {
    return const_cast<TRegIniFile*>(this)->FindKey(path);
}

TRegIniFile::Key& TRegIniFile::CreateKey(const QString& path) {
    if (Key* k = FindKey(path)) return *k;
    FKeys.push_back({path, {}});
    return FKeys.back();
}

void TRegIniFile::Clear() {
    FKeys.clear();
}

bool TRegIniFile::Parse(const QByteArray& data) {
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decode(data);
    if (decode.hasError() || text.contains(QChar())) return false;
    if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
    QStringList lines = text.split(u'\n');
    for (auto& l : lines)
        if (l.endsWith(u'\r')) l.chop(1);
    if (lines.isEmpty() || lines.front() != Header) return false;
    Key* current = nullptr;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString line = lines[i];
        if (line.trimmed().isEmpty() || line.startsWith(u';')) continue;
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']')) return false;
            const QString path = line.mid(1, line.size() - 2);
            const QStringList parts = path.split(u'\\');
            if (path.startsWith(u'-') ||
                std::any_of(parts.begin(), parts.end(), [](const QString& p) { return p.isEmpty(); }))
                return false;
            current = &CreateKey(path);
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
        QString data = line.mid(pos + 1);
        if (data.startsWith(u'"')) {
            qsizetype p = 0;
            if (!Unquote(data, p, v.text) || !data.mid(p).trimmed().isEmpty()) return false;
            v.kind = Value::Text;
        } else if (data.startsWith(QLatin1String("dword:"))) {
            if (!QRegularExpression(QStringLiteral("^dword:[0-9a-fA-F]{8}$")).match(data).hasMatch())
                return false;
            v.kind = Value::Other;
            v.raw = data;
        } else if (data.startsWith(QLatin1String("hex"))) {
            // Long byte lists go on over lines that end in a backslash.
            while (data.endsWith(u'\\')) {
                if (++i >= lines.size()) return false;
                data += u'\n' + lines[i];
            }
            const auto m = HexData().match(data);
            if (!m.hasMatch()) return false;
            const int type = m.captured(1).isEmpty() ? 3 : m.captured(1).toInt(nullptr, 16);
            v.kind = type == 1 || type == 2 ? Value::HexText : Value::Other;
            v.raw = data;
        } else {
            return false;
        }
        auto it = std::find_if(current->values.begin(), current->values.end(),
                               [&](const Value& x) { return SamePath(x.name, v.name); });
        if (it != current->values.end())
            *it = std::move(v);
        else
            current->values.push_back(std::move(v));
    }
    return true;
}

QByteArray TRegIniFile::Serialize() const {
    std::vector<const Key*> keys;
    for (const auto& k : FKeys)
        keys.push_back(&k);
    std::stable_sort(keys.begin(), keys.end(),
                     [](const Key* a, const Key* b) { return ComparePaths(a->path, b->path) < 0; });
    QString out = Header + QStringLiteral("\n\n");
    for (const Key* k : keys) {
        out += u'[' + k->path + QStringLiteral("]\n");
        for (const auto& v : k->values) {
            out += (v.name.isEmpty() ? QStringLiteral("@") : Quote(v.name)) + u'=';
            if (v.kind != Value::Text) {
                out += v.raw;
            } else if (!Plain(v.text)) {
                QStringList bytes;
                for (QChar c : v.text)
                    bytes << QString::asprintf("%02x", c.unicode() & 0xFF)
                          << QString::asprintf("%02x", c.unicode() >> 8);
                out += QStringLiteral("hex(1):") + bytes.join(u',') + QStringLiteral(",00,00");
            } else {
                out += Quote(v.text);
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
    if (!k) return def;
    for (const auto& v : k->values) {
        if (!SamePath(v.name, ident)) continue;
        if (v.kind == Value::Other)
            throw ERegistryException(QStringLiteral("Ungültiger Datentyp für '%1'").arg(ident));
        if (v.kind == Value::Text) return v.text;
        // Text spelt in bytes: UTF-16, little end first, up to the first zero.
        const auto m = HexData().match(v.raw);
        QString bytesText = m.captured(2);
        bytesText.remove(QRegularExpression(QStringLiteral("[\\\\\\s]")));
        const QStringList bytes = bytesText.isEmpty() ? QStringList() : bytesText.split(u',');
        if (bytes.size() % 2 != 0)
            throw ERegistryException(QStringLiteral("Konnte Daten für '%1' nicht holen").arg(ident));
        QString text;
        for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
            const char16_t c =
                char16_t(bytes[i].toUInt(nullptr, 16) | (bytes[i + 1].toUInt(nullptr, 16) << 8));
            if (c == 0) break;
            text += QChar(c);
        }
        return text;
    }
    return def;
}

void TRegIniFile::WriteString(const QString& section, const QString& ident, const QString& value) {
    const QString path = KeyPath(section);
    if (!Plain(ident))
        throw ERegistryException(QStringLiteral("Konnte Daten für '%1' nicht setzen").arg(ident));
    // The registry's text type ends at the first zero.
    const QString text = value.left(value.indexOf(QChar()) < 0 ? value.size() : value.indexOf(QChar()));
    Change([this, path, ident, text] {
        Key& k = CreateKey(path);
        for (auto& v : k.values)
            if (SamePath(v.name, ident)) {
                v.kind = Value::Text;
                v.text = text;
                v.raw.clear();
                return;
            }
        Value v;
        v.name = ident;
        v.text = text;
        k.values.push_back(std::move(v));
    });
}

void TRegIniFile::EraseSection(const QString& section) {
    const QString path = KeyPath(section);
    Change([this, path] { std::erase_if(FKeys, [&](const Key& k) { return Below(k.path, path); }); });
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
        return k && std::any_of(k->values.begin(), k->values.end(),
                                [&](const Value& v) { return SamePath(v.name, ident); });
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
