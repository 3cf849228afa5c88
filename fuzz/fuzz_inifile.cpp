// The INI store's file. The input is a whole file: it is parsed, and what parses is
// written back and must parse again to the same sections and the same values. Then a
// section, key and value made from the input's first lines, and a value of any UTF-16,
// are written: a write is refused only when it could not read back, and otherwise reads
// back as written (blanks around the value aside) once the file has been written out
// and parsed again. An erased section is gone after that too.
#include "FuzzSupport.h"
#include "IniFiles.h"

#include <map>

namespace {

class TFuzzIniFile : public TIniFile {
public:
    // A file that cannot exist: nothing is read or written.
    TFuzzIniFile() : TIniFile(QStringLiteral("/dev/null/fuzz.ini")) {}
    using TIniFile::Clear;
    using TIniFile::Parse;
    using TIniFile::Serialize;

    bool Reparse(const QByteArray& data) {
        Clear();
        return Parse(data);
    }
};

const QString kAbsent = QStringLiteral("\u0001absent");

// What every key of every section reads as, by folded section and key.
std::map<QString, QString> Values(TFuzzIniFile& ini) {
    std::map<QString, QString> values;
    for (const QString& section : ini.ReadSections())
        for (const QString& key : ini.ReadSection(section)) {
            const QString value = ini.ReadString(section, key, kAbsent);
            FUZZ_CHECK(value != kAbsent); // a listed key is there
            values[section.toCaseFolded() + u']' + key.toCaseFolded()] = value;
        }
    return values;
}

// A write the file could not give back as written.
bool Unwritable(const QString& section, const QString& key, const QString& value) {
    auto breaks = [](const QString& s) {
        return s.contains(u'\n') || s.contains(u'\r') || s.contains(QChar()) || !s.isValidUtf16();
    };
    const QString k = key.trimmed();
    return breaks(section) || section.contains(u']') || breaks(key) || key.contains(u'=') ||
           k.startsWith(u'[') || k.startsWith(u';') || breaks(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return -1; // settings files are a few KiB
    FuzzEnvironment();
    const QByteArray file(reinterpret_cast<const char*>(data), qsizetype(size));
    TFuzzIniFile ini;
    if (!ini.Reparse(file)) return 0;

    // Written back and parsed again: the same sections and values.
    const QStringList sections = ini.ReadSections();
    const auto values = Values(ini);
    FUZZ_CHECK(ini.Reparse(ini.Serialize()));
    FUZZ_CHECK(ini.ReadSections() == sections);
    FUZZ_CHECK(Values(ini) == values);

    // Writes made from the input.
    const QStringList lines = QString::fromLatin1(file.left(512)).split(u'\n');
    struct Write {
        QString section, key, value;
    };
    const Write writes[] = {
        {lines.value(0), lines.value(1), lines.value(2)},
        {QStringLiteral("Fuzz\u20ac"), QStringLiteral("Wide"), // a name no Latin-1 line can give
         QString(reinterpret_cast<const QChar*>(data), qsizetype(size / 2))},
    };
    std::vector<Write> done;
    for (const auto& w : writes) {
        try {
            ini.WriteString(w.section, w.key, w.value);
            done.push_back(w);
        } catch (const EIniFileException&) {
            FUZZ_CHECK(Unwritable(w.section, w.key, w.value));
        }
    }
    const QString erased = sections.isEmpty() ? QString() : sections.back();
    const bool erase =
        !erased.isEmpty() && erased.compare(writes[0].section.trimmed(), Qt::CaseInsensitive) != 0;
    if (erase) ini.EraseSection(erased);
    FUZZ_CHECK(ini.Reparse(ini.Serialize()));
    for (const auto& w : done)
        FUZZ_CHECK(ini.ReadString(w.section, w.key, kAbsent) == w.value.trimmed());
    if (erase) FUZZ_CHECK(!ini.SectionExists(erased));
    return 0;
}
