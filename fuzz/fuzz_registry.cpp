// The registry hive file. The input is a whole file: it is parsed, and what parses is
// written back and must parse again to the same keys and the same values, written the
// same way. Then texts made from the input (any UTF-16, line breaks and zeros included)
// are written as values, with names and keys made from it too: a write either fails
// with the registry error or reads back as written (up to the first zero) once the
// hive has been written out and parsed again.
#include "FuzzSupport.h"
#include "Registry.h"

#include <map>

namespace {

class TFuzzRegistry : public TRegIniFile {
public:
    TFuzzRegistry() : TRegIniFile(QStringLiteral("Software\\Fuzz")) {}
    using TRegIniFile::Clear;
    using TRegIniFile::Parse;
    using TRegIniFile::Serialize;

    bool Reparse(const QByteArray& data) {
        Clear();
        return Parse(data);
    }
};

const QString kRoot = QStringLiteral("HKEY_CURRENT_USER");
const QString kAbsent = QStringLiteral("\u0001absent");

// What reading a value gives: its text, or the error's message.
QString Reading(TFuzzRegistry& reg, const QString& section, const QString& name) {
    try {
        return u'=' + reg.ReadString(section, name, kAbsent);
    } catch (const ERegistryException& e) {
        return u'!' + e.Message();
    }
}

// The section that names a key, when the key is below HKEY_CURRENT_USER.
bool SectionOf(const QString& path, QString& section) {
    const QString first = path.section(u'\\', 0, 0);
    if (first.compare(kRoot, Qt::CaseInsensitive) != 0) return false;
    section = u'\\' + path.section(u'\\', 1);
    return true;
}

// Every readable value by key (folded) and name (folded), with what reading it gives.
std::map<QString, QString> Values(TFuzzRegistry& reg) {
    std::map<QString, QString> values;
    for (const QString& path : reg.KeyPaths()) {
        QString section;
        if (!SectionOf(path, section)) continue;
        for (const QString& name : reg.ReadSection(section)) {
            const QString reading = Reading(reg, section, name);
            FUZZ_CHECK(reading != u'=' + kAbsent); // a listed value is there
            values[path.toCaseFolded() + u'|' + name.toCaseFolded()] = reading;
        }
    }
    return values;
}

QStringList Sorted(QStringList l) {
    l.sort();
    return l;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return -1; // a hive is a few KiB
    static const bool environment = [] {
        // No hive file may be read or written: the store's own file cannot exist.
        qputenv("XDG_CONFIG_HOME", "/dev/null");
        FuzzEnvironment();
        return true;
    }();
    (void)environment;
    const QByteArray file(reinterpret_cast<const char*>(data), qsizetype(size));
    TFuzzRegistry reg;
    if (!reg.Reparse(file)) return 0;

    // Written back and parsed again: the same keys, values and text.
    const QStringList keys = reg.KeyPaths();
    const auto values = Values(reg);
    const QByteArray written = reg.Serialize();
    FUZZ_CHECK(reg.Reparse(written));
    FUZZ_CHECK(Sorted(reg.KeyPaths()) == Sorted(keys));
    FUZZ_CHECK(Values(reg) == values);
    FUZZ_CHECK(reg.Serialize() == written);

    // Texts, names and keys from the input.
    const QString wide(reinterpret_cast<const QChar*>(data), qsizetype(size / 2));
    const QString latin = QString::fromLatin1(file.left(256));
    struct Write {
        QString section, name, value;
    };
    std::vector<Write> writes = {
        {QStringLiteral("\\Fuzz\\Wide"), QStringLiteral("Text"), wide},
        {QStringLiteral("\\Fuzz\\Latin"), QStringLiteral("Text"), latin},
        {QStringLiteral("\\Fuzz\\Named"), wide.left(40), QStringLiteral("v")},
        {QStringLiteral("\\Fuzz\\Keys\\") + latin.left(40), QStringLiteral("K"), QStringLiteral("v")}};
    // Every text the file held, written again under a name of its own.
    int n = 0;
    for (const auto& [where, reading] : values)
        if (reading.startsWith(u'=') && n < 16)
            writes.push_back(
                {QStringLiteral("\\Fuzz\\Copies"), QStringLiteral("V%1").arg(n++), reading.mid(1)});
    std::vector<Write> done;
    for (const auto& w : writes) {
        try {
            reg.WriteString(w.section, w.name, w.value);
            done.push_back(w);
        } catch (const ERegistryException&) {
            // Only a name or key path that cannot be stored may be refused.
            FUZZ_CHECK(&w == &writes[2] || &w == &writes[3]);
        }
    }
    FUZZ_CHECK(reg.Reparse(reg.Serialize()));
    for (const auto& w : done) {
        const qsizetype zero = w.value.indexOf(QChar());
        FUZZ_CHECK(Reading(reg, w.section, w.name) == u'=' + (zero < 0 ? w.value : w.value.left(zero)));
    }
    return 0;
}
