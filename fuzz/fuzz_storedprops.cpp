// Stored values decoded from text: the stored properties of a form (every kind of
// property, nested objects, string lists, a font, and the program's own Edit1.Text and
// Translator1.CurrentLanguage) and the window placement (integers, positions and
// rectangles, show commands). The input's first line names the number locale; each
// further line is what one read of the store gives, in the order the reads happen (a
// line holding a single zero character, or no line left, is an absent item).
//
// Every integer must decode as an independent reading of the format says; enumerations
// and sets take only values they have. What was loaded is then saved, loaded into a
// fresh form and saved again: the same items, the same texts. The placement read is
// written, read into a fresh form and must give the same placement.
#include "FormReader.h"
#include "FuzzForm.h"
#include "FuzzSupport.h"
#include "Placemnt.h"
#include "RXProps.h"
#include "Trans.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>
#include <map>

namespace FuzzKinds {
Q_NAMESPACE
enum TShade { shBlue = -3, shRed = 0, shGreen = 5, shgreen = 6 };
Q_ENUM_NS(TShade)
enum TBit { b0 = 1, b1 = 2, b5 = 32, b15 = 1 << 15, b16 = 1 << 16, b30 = 1 << 30 };
Q_DECLARE_FLAGS(TBits, TBit)
Q_FLAG_NS(TBits)
} // namespace FuzzKinds

// A nested object: it refers back to its owner (not followed) and has lines and a font.
class TFuzzInner : public TPersistent {
    Q_OBJECT
    Q_PROPERTY(int Value MEMBER Value)
    Q_PROPERTY(TStrings* Lines READ Lines WRITE SetLines)
    Q_PROPERTY(TPersistent* Back MEMBER Back)
    Q_PROPERTY(TFont* Font READ Font)
public:
    int Value = 7;
    TPersistent* Back = nullptr;
    TStrings* Lines() { return &FLines; }
    void SetLines(TStrings* v) { FLines.Assign(v); }
    TFont* Font() { return &FFont; }

private:
    TStringList FLines;
    TFont FFont;
};

// One property of every kind that can be stored.
class TFuzzProps : public TComponent {
    Q_OBJECT
    Q_PROPERTY(int Number MEMBER Number)
    Q_PROPERTY(short Small MEMBER Small)
    Q_PROPERTY(uint Unsigned MEMBER Unsigned)
    Q_PROPERTY(uchar Byte MEMBER Byte)
    Q_PROPERTY(char Letter MEMBER Letter)
    Q_PROPERTY(QChar Wide MEMBER Wide)
    Q_PROPERTY(FuzzKinds::TShade Shade MEMBER Shade)
    Q_PROPERTY(Trans::TLanguage Language MEMBER Language)
    Q_PROPERTY(bool Flag MEMBER Flag)
    Q_PROPERTY(float Single MEMBER Single)
    Q_PROPERTY(double Real MEMBER Real)
    Q_PROPERTY(QString Text MEMBER Text)
    Q_PROPERTY(FuzzKinds::TBits Bits MEMBER Bits)
    Q_PROPERTY(Types::TFontStyles Styles MEMBER Styles)
    Q_PROPERTY(QVariant Any MEMBER Any)
    Q_PROPERTY(TFuzzInner* Inner READ Inner)
    Q_PROPERTY(TStrings* Items READ Items WRITE SetItems)
    Q_PROPERTY(TFont* Font READ Font WRITE SetFont)
public:
    explicit TFuzzProps(TComponent* owner) : TComponent(owner) {
        FInner.Back = this;
        FItems.Add(QStringLiteral("one"));
        FItems.Add(QStringLiteral("two"));
    }
    TFuzzInner* Inner() { return &FInner; }
    TStrings* Items() { return &FItems; }
    void SetItems(TStrings* v) { FItems.Assign(v); }
    TFont* Font() { return &FFont; }
    void SetFont(TFont* v) { FFont.Assign(v); }

    int Number = 12;
    short Small = 3;
    uint Unsigned = 4;
    uchar Byte = 5;
    char Letter = 'a';
    QChar Wide = u'w';
    FuzzKinds::TShade Shade = FuzzKinds::shRed;
    TLanguage Language = German;
    bool Flag = false;
    float Single = 1.5f;
    double Real = 2.25;
    QString Text = QStringLiteral("text");
    FuzzKinds::TBits Bits = FuzzKinds::b1;
    TFontStyles Styles;
    QVariant Any;

private:
    TFuzzInner FInner;
    TStringList FItems;
    TFont FFont;
};

namespace {

const char kDefinition[] = R"(Form: TFuzzForm {
  Left = 100
  Top = 80
  Width = 400
  Height = 300
  Edit1: TEdit {
    Text = "sample"
  }
  Translator1: TTranslator {
    TranslateList = ("_Form" "Formular" "Form" "_Edit1_Hint" "Hinweis" "Hint")
  }
}
)";

const QString kAbsent(QChar(0));

// Hands out the input's lines, one per read; remembers what each item was given.
struct TReader {
    QStringList lines;
    qsizetype next = 0;
    std::map<QString, QString> given;
    QString Read(const QString& section, const QString& item, const QString& def) {
        const QString line = next < lines.size() ? lines[next++] : kAbsent;
        const QString text = line == kAbsent ? def : line;
        given[section + u'|' + item] = text;
        return text;
    }
};

// A store over the reader (reads) and an item map (writes).
class TFuzzStore : public TCustomIniFile {
public:
    TFuzzStore() : TCustomIniFile(QStringLiteral("/dev/null/fuzz")) {}
    TReader* reader = nullptr;
    std::map<QString, QString> items;

    QString ReadString(const QString& section, const QString& ident, const QString& def) override {
        if (reader) return reader->Read(section, ident, def);
        const auto it = items.find(section + u'|' + ident);
        return it == items.end() ? def : it->second;
    }
    void WriteString(const QString& section, const QString& ident, const QString& value) override {
        items[section + u'|' + ident] = value;
    }
    void EraseSection(const QString& section) override {
        std::erase_if(items, [&](const auto& item) { return item.first.startsWith(section + u'|'); });
    }
    // Nothing is replayed onto a file here, so there is no base to note.
    void NoteUnchanged(const QString&, const QString&, const QString&) override {}

protected:
    bool Parse(const QByteArray&) override { return true; }
    QByteArray Serialize() const override { return {}; }
    void Clear() override {}
    [[noreturn]] void ReadFailed() const override { throw EIniFileException(QStringLiteral("read")); }
    [[noreturn]] void WriteFailed() const override { throw EIniFileException(QStringLiteral("write")); }
    [[noreturn]] void Raise(const QString& message) const override { throw EIniFileException(message); }
};

struct TFuzzFormSet {
    std::unique_ptr<TFuzzForm> form = std::make_unique<TFuzzForm>(nullptr);
    TFuzzProps* props = nullptr;
    TStringList stored;
    TFuzzFormSet() {
        TFormReader::ReadFormText(form.get(), QString::fromUtf8(kDefinition), QStringLiteral("fuzz"));
        props = new TFuzzProps(form.get());
        props->SetName(QStringLiteral("Props1"));
        stored.Add(QStringLiteral("Edit1.Text"));
        stored.Add(QStringLiteral("Translator1.CurrentLanguage"));
        stored.Add(QStringLiteral("Edit1.Font"));
        const TPropInfoList list(props, tkStorable);
        // Not the name: a stored name would rename the component and its items.
        for (int i = 0; i < list.Count(); ++i)
            if (list.Items(i).Name != QLatin1String("Name"))
                stored.Add(QStringLiteral("Props1.") + list.Items(i).Name);
        stored.Add(QStringLiteral("Props1.NoSuchProperty"));
        stored.Add(QStringLiteral("Missing1.Text"));
        BindStoredList(form.get(), &stored, true);
    }
    std::map<QString, QString> Save() {
        TFuzzStore store;
        TPropsStorage storage;
        storage.Section = QStringLiteral("S");
        storage.OnWriteString = [&](const QString& s, const QString& i, const QString& v) {
            store.WriteString(s, i, v);
        };
        storage.OnEraseSection = [&](const QString& s) { store.EraseSection(s); };
        storage.SaveStoredProps(form.get(), &stored);
        return store.items;
    }
    void Load(TCustomIniFile& store) {
        TPropsStorage storage;
        storage.Section = QStringLiteral("S");
        storage.OnReadString = [&](const QString& s, const QString& i, const QString& d) {
            return store.ReadString(s, i, d);
        };
        storage.LoadStoredProps(form.get(), &stored);
    }
};

// The integer format, read independently: optional sign, then decimal digits within
// the 32-bit range, or "$"/"0x" and up to 32 bits of hexadecimal (negated modulo 2^32).
std::optional<int> ReferenceInteger(const QString& text) {
    static const QRegularExpression format(
        QStringLiteral(R"(^([+-]?)(?:([0-9]+)|(?:\$|0[xX])([0-9a-fA-F]+))$)"));
    const auto m = format.match(text);
    if (!m.hasMatch()) return std::nullopt;
    const bool negative = m.captured(1) == u'-';
    QString digits = m.captured(2).isEmpty() ? m.captured(3) : m.captured(2);
    const int base = m.captured(2).isEmpty() ? 16 : 10;
    while (digits.size() > 1 && digits.front() == u'0')
        digits.remove(0, 1);
    if (digits.size() > 10) return std::nullopt;
    const qulonglong n = digits.toULongLong(nullptr, base);
    if (base == 16) {
        if (n > 0xFFFFFFFFull) return std::nullopt;
        return int(quint32(negative ? 0u - quint32(n) : quint32(n)));
    }
    if (n > (negative ? 2147483648ull : 2147483647ull)) return std::nullopt;
    return int(negative ? -qlonglong(n) : qlonglong(n));
}

int EnumBits(const QMetaEnum& e) {
    int bits = 0;
    for (int i = 0; i < e.keyCount(); ++i)
        bits |= e.value(i);
    return bits;
}

// The same items, but for single-precision values within rounding, and characters the
// encoding cannot hold (blanks and control characters are trimmed away).
bool SameItems(std::map<QString, QString> a, std::map<QString, QString> b, const TFuzzProps& p,
               const QLocale& locale) {
    const auto drop = [&](const char* item) {
        a.erase(QString::fromLatin1(item));
        b.erase(QString::fromLatin1(item));
    };
    if (uchar(p.Letter) <= 32) drop("S|Props1_Letter");
    if (p.Wide.unicode() <= 32) drop("S|Props1_Wide");
    if (a.size() != b.size()) return false;
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
        if (i->first != j->first) return false;
        if (i->second == j->second) continue;
        // Seven digits do not always carry a single-precision value there and back.
        if (!i->first.endsWith(QLatin1String("Props1_Single"))) return false;
        const float x = locale.toFloat(i->second), y = locale.toFloat(j->second);
        if (!(std::fabs(x - y) <= std::fabs(x) * 1e-6f)) return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16 * 1024) return -1;
    FuzzEnvironment();
    TReader reader;
    reader.lines = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)).split(u'\n');
    const QString localeName = reader.lines.takeFirst();
    static const QRegularExpression localeFormat(QStringLiteral("^[a-z]{2}_[A-Z]{2}$"));
    const QLocale locale = localeFormat.match(localeName).hasMatch() ? QLocale(localeName) : QLocale::c();
    QLocale::setDefault(locale);

    // Every integer the input holds reads as the format says.
    for (const QString& line : reader.lines) {
        int value = 0;
        const std::optional<int> expected = ReferenceInteger(line);
        FUZZ_CHECK(StrToIntCheck(line, value) == expected.has_value());
        FUZZ_CHECK(!expected || value == *expected);
    }

    TFuzzFormSet a;
    TFuzzStore store;
    store.reader = &reader;
    a.Load(store);
    ReadWindowPlacement(a.form.get(), &store, QStringLiteral("P"), true, true);

    // What was loaded: integers as read (or 0), enumerations and sets within their values.
    TFuzzProps& p = *a.props;
    if (const auto it = reader.given.find(QStringLiteral("S|Props1_Number")); it != reader.given.end())
        FUZZ_CHECK(p.Number == ReferenceInteger(TrimText(it->second)).value_or(0));
    const QMetaObject& kinds = FuzzKinds::staticMetaObject;
    const QMetaEnum shades = kinds.enumerator(kinds.indexOfEnumerator("TShade"));
    FUZZ_CHECK(shades.valueToKey(p.Shade) != nullptr);
    FUZZ_CHECK(p.Language == German || p.Language == English);
    FUZZ_CHECK((int(p.Bits) & ~EnumBits(kinds.enumerator(kinds.indexOfEnumerator("TBits")))) == 0);
    FUZZ_CHECK((int(p.Styles) & ~(fsBold | fsItalic | fsUnderline | fsStrikeOut)) == 0);
    FUZZ_CHECK(p.Items()->Count() >= 0);

    // Saved, loaded into a fresh form and saved again: the same items.
    const auto saved = a.Save();
    TFuzzFormSet b;
    TFuzzStore copy;
    copy.items = saved;
    b.Load(copy);
    FUZZ_CHECK(SameItems(b.Save(), saved, p, locale));

    // The placement, written and read into a fresh form: the same placement.
    TFuzzStore placement;
    WriteWindowPlacement(a.form.get(), &placement, QStringLiteral("P"));
    TFuzzFormSet c;
    ReadWindowPlacement(c.form.get(), &placement, QStringLiteral("P"), true, true);
    const TWindowPlacement x = a.form->GetWindowPlacement(), y = c.form->GetWindowPlacement();
    FUZZ_CHECK(x.flags == y.flags && x.showCmd == y.showCmd && x.ptMinPosition == y.ptMinPosition &&
               x.ptMaxPosition == y.ptMaxPosition);
    FUZZ_CHECK(x.normalLeft == y.normalLeft && x.normalTop == y.normalTop && x.normalRight == y.normalRight &&
               x.normalBottom == y.normalBottom);
    return 0;
}

#include "fuzz_storedprops.moc"
