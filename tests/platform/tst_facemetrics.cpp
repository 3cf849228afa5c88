#include "FaceMetrics.h"
#include "FontMatch.h"
#include "Watchdog.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <climits>

#include <dlfcn.h>
#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <sys/stat.h>

namespace {

// ---- synthetic sfnt files -------------------------------------------------------------

struct TTable {
    QByteArray tag;
    QByteArray data;
};
struct TFace {
    quint32 version = 0x00010000;
    QList<TTable> tables;
};

void putU16(QByteArray& b, int at, int v) {
    qToBigEndian<quint16>(quint16(v), b.data() + at);
}
void putU32(QByteArray& b, int at, quint32 v) {
    qToBigEndian<quint32>(v, b.data() + at);
}

QByteArray table(int size, std::initializer_list<std::pair<int, int>> u16s) {
    QByteArray t(size, '\0');
    for (auto [at, v] : u16s)
        putU16(t, at, v);
    return t;
}
QByteArray head(int upem) {
    return table(54, {{0, 1}, {12, 0x5F0F}, {14, 0x3CF5}, {18, upem}});
}
QByteArray hhea(int asc, int desc) {
    return table(36, {{0, 1}, {4, asc}, {6, desc}});
}
QByteArray os2(int fsSelection, int typoAsc, int typoDesc, int winAsc, int winDesc, int length = 96) {
    return table(96, {{0, 4}, {62, fsSelection}, {68, typoAsc}, {70, typoDesc}, {74, winAsc}, {76, winDesc}})
        .left(length);
}
TFace face(int upem, int asc, int desc) {
    return TFace{0x00010000, {{"head", head(upem)}, {"hhea", hhea(asc, desc)}}};
}

// All table directories first, then the 4-byte aligned table data.
QByteArray buildFont(const QList<TFace>& faces, bool collection = false) {
    QList<int> dirs;
    int pos = collection ? 12 + 4 * int(faces.size()) : 0;
    for (const TFace& f : faces) {
        dirs << pos;
        pos += 12 + 16 * int(f.tables.size());
    }
    QByteArray out(pos, '\0');
    if (collection) {
        out.replace(0, 4, "ttcf");
        putU32(out, 8, quint32(faces.size()));
        for (int i = 0; i < faces.size(); ++i)
            putU32(out, 12 + 4 * i, quint32(dirs[i]));
    }
    for (int i = 0; i < faces.size(); ++i) {
        putU32(out, dirs[i], faces[i].version);
        putU16(out, dirs[i] + 4, int(faces[i].tables.size()));
        for (int t = 0; t < faces[i].tables.size(); ++t) {
            while (out.size() % 4)
                out.append('\0');
            const int rec = dirs[i] + 12 + 16 * t;
            out.replace(rec, 4, faces[i].tables[t].tag);
            putU32(out, rec + 8, quint32(out.size()));
            putU32(out, rec + 12, quint32(faces[i].tables[t].data.size()));
            out.append(faces[i].tables[t].data);
        }
    }
    return out;
}

// ---- synthetic Type 1 fonts ---------------------------------------------------------

// Type 1 encryption (eexec: r = 55665, charstrings: r = 4330) after `lead` zero bytes.
QByteArray t1Encrypt(const QByteArray& plain, quint16 r, int lead = 4) {
    QByteArray out;
    for (const char p : QByteArray(lead, '\0') + plain) {
        const quint8 c = quint8(p) ^ quint8(r >> 8);
        r = quint16((c + r) * 52845u + 22719u);
        out.append(char(c));
    }
    return out;
}

// A charstring number (only the small ranges are needed).
QByteArray t1Num(int v) {
    if (v >= -107 && v <= 107) return QByteArray(1, char(v + 139));
    const int m = std::abs(v) - 108;
    return QByteArray().append(char((v > 0 ? 247 : 251) + m / 256)).append(char(m % 256));
}

// The clear-text font dictionary; `extra` goes in front of "currentdict end".
QByteArray t1Clear(const QByteArray& family, const QByteArray& bbox, const QByteArray& matrix,
                   const QByteArray& extra = {}) {
    return "%!PS-AdobeFont-1.0: " + family + " 1.0\n% /FontBBox {0 0 0 0} in a comment\n" +
           "12 dict begin\n/FontInfo 4 dict dup begin\n/FamilyName (" + family + ") readonly def\n" +
           "/Notice (A (nested) string: /FontBBox {1 2 3 4} def) readonly def\n/Weight (Regular) readonly "
           "def\n" +
           "end readonly def\n/FontName /" + QByteArray(family).replace(' ', "") +
           " def\n/PaintType 0 def\n" + "/FontType 1 def\n/FontMatrix [" + matrix + "] readonly def\n" +
           "/Encoding 256 array\n0 1 255 {1 index exch /.notdef put} for\ndup 65 /A put\nreadonly def\n" +
           "/FontBBox {" + bbox + "} readonly def\n" + extra + "currentdict end\ncurrentfile eexec\n";
}

// A complete font FreeType loads: the clear text, then the encrypted private part with
// .notdef and 'A' (a box), as PFA (hex) or PFB segments.
QByteArray t1Font(const QByteArray& clear, bool pfb = false) {
    const auto glyph = [](const QByteArray& name, const QByteArray& ops) {
        const QByteArray cs = t1Encrypt(ops, 4330);
        return "/" + name + " " + QByteArray::number(cs.size()) + " RD " + cs + " ND\n";
    };
    const QByteArray notdef = t1Num(0) + t1Num(500) + "\x0d\x0e"; // hsbw endchar
    const QByteArray a = t1Num(0) + t1Num(600) + "\x0d" + t1Num(100) + t1Num(0) + "\x15" + t1Num(700) +
                         "\x05" + t1Num(400) + "\x06" + t1Num(-700) + "\x07\x09\x0e"; // a closed box
    const QByteArray priv =
        "dup /Private 8 dict dup begin\n/RD{string currentfile exch readstring pop}executeonly def\n"
        "/ND{noaccess def}executeonly def\n/NP{noaccess put}executeonly def\n/BlueValues [] def\n"
        "/MinFeature {16 16} def\n/password 5839 def\n/lenIV 4 def\n/Subrs 0 array\n"
        "2 index /CharStrings 2 dict dup begin\n" +
        glyph(".notdef", notdef) + glyph("A", a) +
        "end\nend\nreadonly put\nnoaccess put\ndup /FontName get exch definefont pop\n"
        "mark currentfile closefile\n";
    const QByteArray encrypted = t1Encrypt(priv, 55665);
    QByteArray trailer;
    for (int i = 0; i < 8; ++i)
        trailer += QByteArray(64, '0') + '\n';
    trailer += "cleartomark\n";
    if (!pfb) return clear + encrypted.toHex() + '\n' + trailer;
    const auto segment = [](char type, const QByteArray& data) {
        QByteArray head("\x80\0\0\0\0\0", 6);
        head[1] = type;
        qToLittleEndian<quint32>(quint32(data.size()), head.data() + 2);
        return head + data;
    };
    return segment(1, clear) + segment(2, encrypted) + segment(1, trailer) + QByteArray("\x80\x03", 2);
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) return {};
    return f.fileName();
}

bool setMtime(const QString& path, qint64 seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

TFaceInfo info(const QStringList& families, const QString& file, int weight = 80, int slant = 0,
               int width = 100, const QString& foundry = {}) {
    TFaceInfo f;
    f.families = families;
    f.file = file;
    f.weight = weight;
    f.slant = slant;
    f.width = width;
    f.foundry = foundry;
    return f;
}

int ascenderOf(const std::optional<TFaceVMetrics>& m) {
    return m ? m->ascender : -1;
}

} // namespace

class TestFaceMetrics : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    std::optional<TFaceVMetrics> read(const QByteArray& bytes, int index = 0) {
        return TFaceMetrics::readFile(writeFile(m_dir, "probe.ttf", bytes), index);
    }
    // A font whose ascender tells which file a lookup landed on.
    QString marked(int ascender) {
        return writeFile(m_dir, QStringLiteral("mark%1.ttf").arg(ascender),
                         buildFont({face(1000, ascender, -200)}));
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // ---- reading a face -----------------------------------------------------------------

    void metricRules() {
        struct Row {
            const char* name;
            int hheaAsc, hheaDesc, os2Length, fsSelection, typoAsc, typoDesc, winAsc, winDesc, wantAsc,
                wantDesc;
        };
        const Row rows[] = {
            {"win overrides hhea", 1800, -400, 96, 0, 1500, -500, 1900, 450, 1900, 450},
            {"USE_TYPO_METRICS", 1800, -400, 96, 0x80, 1500, -500, 1900, 450, 1500, 500},
            {"USE_TYPO_METRICS, zero typo keeps hhea", 1800, -400, 96, 0x80, 0, 0, 1900, 450, 1800, 400},
            {"zero win keeps hhea", 1800, -400, 96, 0, 1500, -500, 0, 0, 1800, 400},
            {"no OS/2", 1800, -400, 0, 0, 0, 0, 0, 0, 1800, 400},
            {"68-byte OS/2 ignored", 1800, -400, 68, 0x80, 1500, -500, 0, 0, 1800, 400},
            {"zero hhea, win", 0, 0, 96, 0, 1500, -500, 1900, 450, 1900, 450},
            {"zero hhea and win, typo", 0, 0, 96, 0, 1500, -500, 0, 0, 1500, 500},
            {"zero hhea, empty flagged typo, win", 0, 0, 96, 0x80, 0, 0, 1900, 450, 1900, 450},
            {"only a descender", 0, -300, 0, 0, 0, 0, 0, 0, 0, 300},
            {"all zero", 0, 0, 96, 0x80, 0, 0, 0, 0, -1, -1},
            {"zero hhea, no OS/2", 0, 0, 0, 0, 0, 0, 0, 0, -1, -1},
        };
        for (const Row& r : rows) {
            TFace f = face(2048, r.hheaAsc, r.hheaDesc);
            if (r.os2Length)
                f.tables << TTable{
                    "OS/2", os2(r.fsSelection, r.typoAsc, r.typoDesc, r.winAsc, r.winDesc, r.os2Length)};
            const auto m = read(buildFont({f}));
            if (r.wantAsc < 0)
                QVERIFY2(!m, r.name);
            else
                QVERIFY2(m == (TFaceVMetrics{2048, r.wantAsc, r.wantDesc}), r.name);
        }
    }

    void faceVariants() {
        for (quint32 version : {0x00010000u, 0x74727565u /* true */, 0x4F54544Fu /* OTTO */}) {
            TFace f = face(1000, 800, -200);
            f.version = version;
            QCOMPARE(read(buildFont({f})), (TFaceVMetrics{1000, 800, 200}));
        }
        TFace unknownFlavour = face(1000, 800, -200);
        unknownFlavour.version = 0x41424344;
        TFace strikes = face(1000, 800, -200);
        strikes.tables << TTable{"EBLC", QByteArray(8, '\0')};
        const std::pair<const char*, TFace> unusable[] = {
            {"unknown flavour", unknownFlavour},
            {"upem 0", face(0, 800, -200)},
            {"upem too large", face(20000, 800, -200)},
            {"no head", TFace{0x00010000, {{"hhea", hhea(800, -200)}}}},
            {"short head", TFace{0x00010000, {{"head", head(1000).left(40)}, {"hhea", hhea(800, -200)}}}},
            {"bitmap strikes", strikes},
            {"no tables", TFace{}},
        };
        for (const auto& [what, f] : unusable)
            QVERIFY2(!read(buildFont({f})), what);
    }

    void collections() {
        const QByteArray ttc =
            buildFont({face(1000, 700, -100), face(2048, 1700, -300), face(1000, 900, -250)}, true);
        QCOMPARE(read(ttc, 0), (TFaceVMetrics{1000, 700, 100}));
        QCOMPARE(read(ttc, 1), (TFaceVMetrics{2048, 1700, 300}));
        QCOMPARE(read(ttc, 2), (TFaceVMetrics{1000, 900, 250}));
        QCOMPARE(read(ttc, 1 | (3 << 16)), (TFaceVMetrics{2048, 1700, 300})); // named instance bits ignored
        QVERIFY(!read(ttc, 3));
        QVERIFY(!read(ttc, -1));
        QVERIFY(!read(buildFont({face(1000, 700, -100)}), 1));
    }

    // Every table is needed and the last one ends the file, so each cut must fail.
    void truncatedFiles() {
        TFace f = face(1000, 800, -200);
        f.tables << TTable{"OS/2", os2(0, 700, -300, 900, 250)};
        for (const auto& [full, index] :
             {std::pair{buildFont({f}), 0}, std::pair{buildFont({f, f}, true), 1}}) {
            QVERIFY(read(full, index));
            for (int len = 0; len < full.size(); ++len)
                QVERIFY2(!read(full.left(len), index), qPrintable(QString::number(len)));
        }
    }

    void hostileAndForeignFiles() {
        const QByteArray good = buildFont({face(1000, 800, -200)});
        const auto patched = [](QByteArray b, int at, quint32 v) {
            putU32(b, at, v);
            return b;
        };
        // Directory records start at 12 (head) and 28 (hhea): tag, checksum, offset, length.
        QVERIFY(read(good));
        QVERIFY2(!read(patched(good, 20, quint32(good.size()) + 100)), "head past the end");
        QVERIFY2(!read(patched(good, 20, 0xFFFFFFF0u)), "head near 4 GiB");
        QVERIFY2(!read(patched(good, 24, 0xFFFFFFFFu)), "head length wraps");
        QVERIFY2(!read(patched(good, 36, quint32(good.size()) - 4)), "hhea straddles the end");
        QByteArray manyTables = good;
        putU16(manyTables, 4, 0xFFFF);
        QVERIFY2(!read(manyTables), "directory larger than the file");
        const QByteArray ttc = buildFont({face(1000, 800, -200)}, true);
        QVERIFY(read(ttc));
        QVERIFY2(!read(patched(ttc, 8, 0xFFFFFFFFu), 5000), "offset table past the end");
        QVERIFY2(!read(patched(ttc, 12, 0x7FFFFFF0u)), "face past the end");

        QVERIFY(!read({}));
        QVERIFY(!read(QByteArray("\x80\x01\x10\x00\x00\x00%!PS-AdobeFont-1.0: Test\n", 31)));
        QVERIFY(!TFaceMetrics::readFile(m_dir.filePath("does-not-exist.ttf")));
        QVERIFY(!TFaceMetrics::readFile(m_dir.path()));
        // Opening a FIFO for reading would block forever without a writer.
        const QString fifo = m_dir.filePath("font.fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(!TFaceMetrics::readFile(fifo));

        // Listed faces that are not regular, readable files must be kept from Qt; a damaged
        // but readable file is Qt's to judge.
        const QString good2 = writeFile(m_dir, "good2.ttf", good);
        const QString damaged = writeFile(m_dir, "damaged.ttf", good.left(40));
        const auto index = TFaceMetrics::fromFaces(
            {info({"Fifo"}, fifo), info({"Gone"}, m_dir.filePath("gone.ttf")), info({"Dir"}, m_dir.path()),
             info({"Damaged"}, damaged), info({"Good"}, good2), info({"Mixed"}, good2, 80, 0, 100, "a"),
             info({"Mixed"}, fifo, 80, 0, 100, "b"), info({"Mixed"}, good2, 200, 0, 100, "b")},
            {});
        for (const char* name : {"Fifo", "fifo", "Gone", "Dir", "Mixed", "Mixed [b]"})
            QVERIFY2(index.unreadable(name, false, false), name);
        for (const char* name : {"Damaged", "Good", "Unlisted", "Mixed [a]"})
            QVERIFY2(!index.unreadable(name, false, false), name);
        QVERIFY(!index.unreadable("Mixed [b]", true, false)); // its bold face is a good file
    }

    // Random damage: whatever is read back must stay plausible (and, under the
    // sanitizers, no read may stray).
    void damagedFontsFuzz() {
        TFace f = face(1000, 800, -200);
        f.tables << TTable{"OS/2", os2(0x80, 700, -300, 900, 250)};
        const QByteArray good = buildFont({f, face(2048, 1500, -400)}, true);
        QRandomGenerator rng(20240607);
        int readable = 0;
        for (int round = 0; round < 1000; ++round) {
            QByteArray b = good;
            for (int e = 0, edits = 1 + int(rng.bounded(4)); e < edits; ++e)
                b[int(rng.bounded(quint32(b.size())))] = char(rng.bounded(256));
            if (rng.bounded(4) == 0) b.truncate(int(rng.bounded(quint32(b.size()))));
            if (const auto m = read(b, int(rng.bounded(3)))) {
                ++readable;
                QVERIFY(m->unitsPerEm >= 16 && m->unitsPerEm <= 16384);
                QVERIFY(m->ascender != 0 || m->descender != 0);
            }
        }
        QVERIFY(readable > 0); // the damage was not always fatal, so the checks above ran
        for (int round = 0; round < 200; ++round) {
            QByteArray noise(int(rng.bounded(400)), '\0');
            for (auto& c : noise)
                c = char(rng.bounded(256));
            QVERIFY(!read(noise));
        }
    }

    // ---- pixel arithmetic ---------------------------------------------------------------

    void scaling() {
        // {design units, px, upem, pixels}; the first rows are values QFontMetrics reported.
        const std::array<int, 4> rows[] = {
            {1901, 7, 2048, 7}, // 6.497 px: rounded to 1/64 first, so it becomes 6.5 and then 7
            {1901, 8, 2048, 7},
            {483, 8, 2048, 2},
            {293, 29, 1000, 9},
            {293, 13, 1000, 4},
            {192, 13, 1000, 3},
            {248, 10, 1000, 2},
            {800, 40, 1000, 32},
            {0, 40, 1000, 0},
            {-250, 10, 1000, -2},
            {-260, 10, 1000, -3},
            {65535, 100000, 16, 409593750},
        };
        for (const auto& [design, px, upem, want] : rows)
            QVERIFY2(TFaceMetrics::scaleToPixels(design, px, upem) == want,
                     qPrintable(QStringLiteral("%1 at %2px / %3").arg(design).arg(px).arg(upem)));

        const TFaceVMetrics dejavu{2048, 1901, 483};
        QCOMPARE(TFaceMetrics::lineHeightOf(dejavu, 13), 15);
        QCOMPARE(TFaceMetrics::lineHeightOf(dejavu, 133), 154);
        QCOMPARE(TFaceMetrics::lineHeightOf(TFaceVMetrics{16, 65535, 65535}, 100000), 819187500);
        for (int px : {0, -5, 100001})
            QVERIFY(!TFaceMetrics::lineHeightOf(dejavu, px));
        QVERIFY(!TFaceMetrics::lineHeightOf(TFaceVMetrics{0, 800, 200}, 12));
        // Values beyond what a font file holds get no line height; nothing overflows.
        using S = TFaceVMetrics::Scaling;
        for (S scaling : {S::Sfnt, S::Type1}) {
            for (const TFaceVMetrics& m :
                 {TFaceVMetrics{16, INT_MIN, INT_MIN, scaling}, TFaceVMetrics{16, INT_MAX, INT_MAX, scaling},
                  TFaceVMetrics{1, 65535, 65535, scaling}, TFaceVMetrics{INT_MAX, 800, 200, scaling},
                  TFaceVMetrics{1000, 65536, 0, scaling}, TFaceVMetrics{1000, 0, -65536, scaling}})
                QVERIFY(!TFaceMetrics::lineHeightOf(m, 100000));
            const auto lowest =
                TFaceMetrics::lineHeightOf(TFaceVMetrics{16, -65535, -65535, scaling}, 100000);
            QVERIFY(lowest && *lowest < -800000000);
        }
        QCOMPARE(TFaceMetrics::scaleToPixels(INT_MAX, INT_MAX, 1), INT_MAX);
        QCOMPARE(TFaceMetrics::scaleToPixels(INT_MIN, 100000, 1), INT_MIN);
        QCOMPARE(TFaceMetrics::scaleToPixels(INT_MIN, INT_MIN, 1), 0);

        const auto index = TFaceMetrics::fromFaces({info({"Synth"}, marked(1901))}, {});
        QCOMPARE(index.lineHeight("Synth", 40, false, false), 84); // 76.04 + 8
        QVERIFY(!index.lineHeight("Synth", 0, false, false));
        QVERIFY(!index.lineHeight("Unknown", 40, false, false));
    }

    // ---- the index ----------------------------------------------------------------------

    void styleChoice() {
        const auto index = TFaceMetrics::fromFaces(
            {
                info({"Fam"}, marked(1001), 80, 0),
                info({"Fam"}, marked(1002), 200, 0),
                info({"Fam"}, marked(1003), 80, 100),
                info({"Fam"}, marked(1004), 200, 100),
                info({"Fam"}, marked(1005), 80, 0, 75),
                info({"Fam"}, marked(1006), 50, 0),
                info({"Fam"}, marked(1007), 200, 0, 75),
                info({"Plain"}, marked(1011)),
                info({"Slanted"}, marked(1021)),
                info({"Slanted"}, marked(1022), 80, 110),
                info({"LightMedium"}, marked(1031), 50),
                info({"LightMedium"}, marked(1032), 100),
                info({"BookBold"}, marked(1041), 75),
                info({"BookBold"}, marked(1042), 200),
                info({"BoldOnly"}, marked(1051), 200),
                info({"ItalicFirst"}, marked(1061), 80, 100),
                info({"ItalicFirst"}, marked(1062), 80, 110),
                info({"ItalicFirst"}, marked(1063)),
            },
            {});
        const auto asc = [&](const char* family, bool bold, bool italic) {
            return ascenderOf(index.find(QString::fromLatin1(family), bold, italic));
        };
        QCOMPARE(asc("Fam", false, false), 1001); // normal width beats condensed, regular beats light
        QCOMPARE(asc("Fam", true, false), 1002);
        QCOMPARE(asc("Fam", false, true), 1003);
        QCOMPARE(asc("Fam", true, true), 1004);
        QCOMPARE(index.fileOf("Fam"), marked(1001));
        for (int style = 0; style < 4; ++style)
            QCOMPARE(asc("Plain", style & 2, style & 1), 1011); // synthesised
        QCOMPARE(asc("Slanted", false, true), 1022);
        QCOMPARE(asc("Slanted", false, false), 1021);
        QCOMPARE(asc("LightMedium", false, false), 1032);
        QCOMPARE(asc("BookBold", false, false), 1041);
        QCOMPARE(asc("BookBold", true, false), 1042);
        QCOMPARE(asc("BoldOnly", false, false), 1051);
        QCOMPARE(asc("ItalicFirst", false, true), 1061);
        QCOMPARE(asc("ItalicFirst", false, false), 1063);
    }

    void familyNames() {
        const auto index = TFaceMetrics::fromFaces(
            {
                info({"Mixed Case", QString::fromUtf8("Смешанный")}, marked(1101)),
                info({"Dup"}, marked(1111), 80, 0, 100, "ACME"),
                info({"Dup"}, marked(1112), 80, 0, 100, "acme"),
                info({"Dup"}, marked(1113), 80, 0, 100, "URW "),
                info({"Dup"}, marked(1114), 80, 0, 100, "Other"),
                info({"Literal [x]"}, marked(1121)),
                info({"Literal"}, marked(1122)),
            },
            {});
        const auto asc = [&](const QString& family) { return ascenderOf(index.find(family, false, false)); };
        QCOMPARE(asc("mIXED cASE"), 1101);
        QCOMPARE(asc(QString::fromUtf8("смешанный")), 1101);
        // Qt's "Family [Foundry]": the exact foundry first ("URW " and "urw" are different
        // foundries to Qt), then a loose match, then any face of the family.
        QCOMPARE(asc("Dup [ACME]"), 1111);
        QCOMPARE(asc("Dup [acme]"), 1112);
        QCOMPARE(asc("Dup [URW ]"), 1113);
        QCOMPARE(asc("dup [Other]"), 1114);
        QCOMPARE(asc("Dup [urw]"), 1113);
        // Without a foundry that narrows the choice Qt decides between foundries by rules
        // of its own, so no metrics; the file is still one of the family's.
        for (const char* ambiguous : {"Dup", "dup", "Dup [Nobody]"}) {
            QVERIFY2(!index.find(QString::fromLatin1(ambiguous), false, false), ambiguous);
            QVERIFY2(!index.lineHeight(QString::fromLatin1(ambiguous), 12, true, true), ambiguous);
            QVERIFY2(QStringList({marked(1111), marked(1112), marked(1113), marked(1114)})
                         .contains(index.fileOf(QString::fromLatin1(ambiguous))),
                     ambiguous);
        }
        // Every file of the family, whichever foundry, the regular face's first; a foundry
        // named narrows it. An index not made from fontconfig's fonts knows no preference.
        QCOMPARE(index.filesOf("dup").size(), 4);
        QCOMPARE(index.filesOf("dup").front(), index.fileOf("dup"));
        QCOMPARE(index.filesOf("Dup [ACME]"), QStringList{marked(1111)});
        QVERIFY(index.filesOf("Nope").isEmpty());
        QVERIFY(index.preferredFoundry("Dup", false, false).isEmpty());
        QVERIFY(index.preferredFoundry("Mixed Case", false, false).isEmpty());
        QCOMPARE(asc("Literal [x]"), 1121);
        QCOMPARE(asc("Literal [y]"), 1122);
        for (const char* unknown : {"Nope", "", "[x]", " [x]", "Dup [", "Nope [ACME]"}) {
            QVERIFY2(!index.find(QString::fromLatin1(unknown), false, false), unknown);
            QVERIFY2(index.fileOf(QString::fromLatin1(unknown)).isEmpty(), unknown);
        }
        QCOMPARE(index.stats().families, 5);
        QCOMPARE(index.stats().faces, 7);
    }

    // ---- disk cache ---------------------------------------------------------------------

    void cacheReuseAndInvalidation() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString cache = dir.filePath("nested/glyvex/facemetrics.cache");
        const QString font = writeFile(dir, "f.ttf", buildFont({face(1000, 810, -190)}));
        const QString pfb = writeFile(dir, "f.pfb", "\x80\x01 not sfnt");
        const std::vector<TFaceInfo> faces{info({"F"}, font), info({"Type One"}, pfb)};
        const auto rewrite = [&](const TFace& f, qint64 mtime) {
            return !writeFile(dir, "f.ttf", buildFont({f})).isEmpty() && setMtime(font, mtime);
        };
        const auto run = [&](int wantAscender, int wantParsed) {
            const auto index = TFaceMetrics::fromFaces(faces, cache);
            QCOMPARE(ascenderOf(index.find("F", false, false)), wantAscender);
            QVERIFY(!index.find("Type One", false, false));
            QCOMPARE(index.stats().parsed, wantParsed);
            QVERIFY(index.saveCache());
        };
        QVERIFY(setMtime(font, 1700000000));
        run(810, 2);
        QVERIFY(QFile::exists(cache));                       // directory created
        QVERIFY(rewrite(face(1000, 820, -180), 1700000000)); // same size and mtime: cache wins
        run(810, 0);
        QVERIFY(rewrite(face(1000, 820, -180), 1700000100)); // mtime changed
        run(820, 1);
        TFace bigger = face(1000, 840, -160);
        bigger.tables << TTable{"OS/2", os2(0x80, 840, -160, 0, 0)};
        QVERIFY(rewrite(bigger, 1700000100)); // size changed
        run(840, 1);

        // Nothing new measured: nothing written.
        const auto index = TFaceMetrics::fromFaces(faces, cache);
        QVERIFY(index.find("F", false, false) && !index.find("Type One", false, false));
        QCOMPARE(index.stats().fromCache, 2);
        QVERIFY(QFile::remove(cache));
        QVERIFY(index.saveCache());
        QVERIFY(!QFile::exists(cache));
    }

    void cacheDropsUninstalledFaces() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString cache = dir.filePath("facemetrics.cache");
        const TFaceInfo a = info({"A"}, writeFile(dir, "a.ttf", buildFont({face(1000, 700, -100)})));
        const TFaceInfo b = info({"B"}, writeFile(dir, "b.ttf", buildFont({face(1000, 750, -100)})));
        const auto both = TFaceMetrics::fromFaces({a, b}, cache);
        QVERIFY(both.find("A", false, false) && both.find("B", false, false) && both.saveCache());
        const auto onlyA = TFaceMetrics::fromFaces({a}, cache);
        QVERIFY(onlyA.find("A", false, false));
        QCOMPARE(onlyA.stats().parsed, 0);
        QVERIFY(onlyA.saveCache()); // rewritten without b.ttf
        const auto again = TFaceMetrics::fromFaces({a, b}, cache);
        QVERIFY(again.find("B", false, false));
        QCOMPARE(again.stats().cacheEntriesRead, 1);
        QCOMPARE(again.stats().parsed, 1);
    }

    void corruptCacheIgnored() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString cache = dir.filePath("facemetrics.cache");
        const std::vector<TFaceInfo> faces{
            info({"F"}, writeFile(dir, "f.ttf", buildFont({face(1000, 810, -190)})))};
        const auto first = TFaceMetrics::fromFaces(faces, cache);
        QVERIFY(first.find("F", false, false) && first.saveCache());
        QFile f(cache);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray valid = f.readAll();
        QVERIFY(valid.size() > 40);

        // Header: magic 8, version 4, count 4, payload size 8, hash 8; the payload ends
        // with the descender, whose low byte only the hash can vouch for.
        const auto damaged = [&](int at, char xorWith) {
            QByteArray b = valid;
            b[at] = char(b[at] ^ xorWith);
            return b;
        };
        const std::pair<const char*, QByteArray> damages[] = {
            {"empty", {}},
            {"text", "facemetrics v1\n/usr/share/fonts/x.ttf 1000 800 200\n"},
            {"truncated", valid.left(valid.size() - 1)},
            {"extended", valid + '\0'},
            {"payload byte", damaged(int(valid.size()) - 4, 0x01)},
            {"version", damaged(8, 0x01)},
            {"magic", damaged(0, 0x20)},
            {"count", damaged(15, char(0x80))},
        };
        // Metrics no font can have, behind a hash that vouches for them: the last entry
        // ends with units per em, ascender and descender.
        const auto rehashed = [&](int fromEnd, qint32 value) {
            QByteArray b = valid;
            qToLittleEndian<qint32>(value, b.data() + b.size() - fromEnd);
            quint64 h = 0xcbf29ce484222325ull; // FNV-1a 64 of the payload, after the header
            for (qsizetype i = 32; i < b.size(); ++i)
                h = (h ^ quint8(b[i])) * 0x100000001b3ull;
            qToLittleEndian<quint64>(h, b.data() + 24);
            return b;
        };
        const std::pair<const char*, QByteArray> implausible[] = {
            {"ascender INT_MIN", rehashed(8, INT_MIN)},      {"descender INT_MIN", rehashed(4, INT_MIN)},
            {"ascender 65536", rehashed(8, 65536)},          {"descender -65536", rehashed(4, -65536)},
            {"units per em INT_MIN", rehashed(12, INT_MIN)}, {"units per em 15", rehashed(12, 15)},
            {"units per em 16385", rehashed(12, 16385)},
        };
        const auto entriesRead = [&] {
            const auto index = TFaceMetrics::fromFaces(faces, cache);
            index.find("F", false, false);
            return index.stats().cacheEntriesRead;
        };
        QCOMPARE(entriesRead(), 1);
        QVERIFY(!writeFile(dir, "facemetrics.cache", rehashed(8, 810)).isEmpty()); // the same value
        QCOMPARE(entriesRead(), 1);
        for (const auto& [what, bytes] : implausible) {
            QVERIFY(!writeFile(dir, "facemetrics.cache", bytes).isEmpty());
            const auto index = TFaceMetrics::fromFaces(faces, cache);
            QVERIFY2(index.lineHeight("F", 100000, false, false) == 100000, what);
            QVERIFY2(index.stats().cacheEntriesRead == 0 && index.stats().parsed == 1, what);
        }
        for (const auto& [what, bytes] : damages) {
            QVERIFY(!writeFile(dir, "facemetrics.cache", bytes).isEmpty());
            const auto index = TFaceMetrics::fromFaces(faces, cache);
            QVERIFY2(index.find("F", false, false) == (TFaceVMetrics{1000, 810, 190}), what);
            QVERIFY2(index.stats().cacheEntriesRead == 0 && index.stats().parsed == 1, what);
            QVERIFY2(index.saveCache(), what); // replaces the damaged file
            const auto next = TFaceMetrics::fromFaces(faces, cache);
            QVERIFY2(next.find("F", false, false) && next.stats().parsed == 0, what);
        }
    }

    // The cache path is read like a font file: a FIFO would block start-up for ever in
    // open(), a link to an endless device would be read until memory runs out.
    void cacheThatIsNotARegularFile() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const std::vector<TFaceInfo> faces{
            info({"F"}, writeFile(dir, "f.ttf", buildFont({face(1000, 810, -190)})))};
        const QString fifo = dir.filePath("fifo.cache");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        {
            TFifoWatchdog watchdog(fifo, std::chrono::seconds(5));
            const auto index = TFaceMetrics::fromFaces(faces, fifo);
            QVERIFY(index.find("F", false, false));
            QVERIFY2(!watchdog.fired(), "opening the cache blocked on a FIFO");
            QCOMPARE(index.stats().cacheEntriesRead, 0);
            QCOMPARE(index.stats().parsed, 1);
        }
        const QString zero = dir.filePath("zero.cache");
        QVERIFY(QFile::link("/dev/zero", zero));
#ifdef GLYVEX_SANITIZED
        QSKIP("the endless-device case needs an address-space limit, which sanitizers rule out");
#else
        const bool bounded = RunBounded(
            [&] {
                const auto index = TFaceMetrics::fromFaces(faces, zero);
                return index.find("F", false, false) && index.stats().cacheEntriesRead == 0;
            },
            10, 256l << 20);
        QVERIFY2(bounded, "reading a cache linked to /dev/zero did not end within its bounds");
#endif
    }

    void cacheWriteFailureIsReported() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString blocker = writeFile(dir, "plainfile", "x");
        const TFaceInfo f = info({"F"}, writeFile(dir, "f.ttf", buildFont({face(1000, 810, -190)})));
        const auto index = TFaceMetrics::fromFaces({f}, blocker + "/sub/facemetrics.cache");
        QVERIFY(index.find("F", false, false));
        QVERIFY(!index.saveCache());
        const auto noCache = TFaceMetrics::fromFaces({f}, {});
        QVERIFY(noCache.find("F", false, false) && noCache.saveCache());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
    }

    // ---- Type 1 -------------------------------------------------------------------------

    std::optional<TFaceVMetrics> readT1(const QByteArray& bytes, const char* name = "probe.pfa") {
        return TFaceMetrics::readFile(writeFile(m_dir, QString::fromLatin1(name), bytes));
    }

    void type1Dictionary() {
        using S = TFaceVMetrics::Scaling;
        const QByteArray box = "-217 -302 1118 1116", m1000 = "0.001 0.0 0.0 0.001 0.0 0.0";
        const QByteArray usual = t1Clear("T", box, m1000);
        const TFaceVMetrics c059{1000, 1116, 302, S::Type1};
        const auto with = [&](const QByteArray& from, const QByteArray& to) {
            return QByteArray(usual).replace(from, to);
        };
        struct Row {
            const char* name;
            QByteArray clear;
            std::optional<TFaceVMetrics> want;
        };
        const Row rows[] = {
            {"usual", usual, c059},
            {"halves away from zero",
             t1Clear("T", "-1.5 -250.5 900.25 880.5", m1000),
             {{1000, 881, 251, S::Type1}}},
            {"near a half but clear of it",
             t1Clear("T", box, m1000).replace("1116}", "1116.50001}"),
             {{1000, 1117, 302, S::Type1}}},
            {"exponents",
             t1Clear("T", "-1e2 -2.5E2 9e2 8.8e+2", "1e-3 0 0 1.0E-3 0 0"),
             {{1000, 880, 250, S::Type1}}},
            {"em of 2000", t1Clear("T", box, "0.0005 0 0 0.0005 0 0"), {{2000, 1116, 302, S::Type1}}},
            {"em of 2048",
             t1Clear("T", box, "0.00048828125 0 0 0.00048828125 0 0"),
             {{2048, 1116, 302, S::Type1}}},
            {"flipped", t1Clear("T", box, "0.001 0 0 -0.001 0 0"), c059},
            {"slanted", t1Clear("T", box, "0.001 0 0.0002 0.001 0 0"), c059},
            {"box in square brackets", with("{" + box + "}", "[" + box + "]"), c059},
            {"same box twice", t1Clear("T", box, m1000, "/FontBBox {" + box + "} def\n"), c059},
            // Refused: FreeType would fail, or the value it ends up with is not certain.
            {"too close to a half", t1Clear("T", "-217 -302 1118 1116.49999", m1000), {}},
            {"second, different box", t1Clear("T", box, m1000, "/FontBBox {0 -300 1000 1100} def\n"), {}},
            {"three numbers", t1Clear("T", "-217 -302 1118", m1000), {}},
            {"five numbers", t1Clear("T", box + " 5", m1000), {}},
            {"mismatched brackets", with("{" + box + "}", "[" + box + "}"), {}},
            {"radix number", t1Clear("T", "-217 -302 1118 16#45C", m1000), {}},
            {"not a number", t1Clear("T", "-217 -302 1118 1e", m1000), {}},
            {"flat box", t1Clear("T", "0 0 0 0", m1000), {}},
            {"box beyond 16 bits", t1Clear("T", "-217 -302 1118 40000", m1000), {}},
            {"singular matrix", t1Clear("T", box, "0 0 0 0.001 0 0"), {}},
            {"zero yy", t1Clear("T", box, "0.001 0 0 0 0 0"), {}},
            {"em too small", t1Clear("T", box, "0.1 0 0 0.1 0 0"), {}},
            {"five-number matrix", t1Clear("T", box, "0.001 0 0 0.001 0"), {}},
            {"no box", with("/FontBBox {" + box + "} readonly def\n", ""), {}},
            {"no matrix", with("/FontMatrix [" + m1000 + "] readonly def\n", ""), {}},
            {"FontType 3", with("/FontType 1", "/FontType 3"), {}},
            {"no FontType", with("/FontType 1 def\n", ""), {}},
            {"multiple master", t1Clear("T", box, m1000, "/BlendAxisTypes [/Weight] def\n"), {}},
            {"no eexec", with("currentfile eexec", "currentfile"), {}},
            {"CID-keyed header", with("%!PS-AdobeFont-1.0", "%!PS-Adobe-3.0 Resource-CIDFont"), {}},
            {"unterminated string", t1Clear("T", box, m1000, "/X (open\n"), {}},
        };
        for (const Row& r : rows) {
            QVERIFY2(readT1(t1Font(r.clear)) == r.want, r.name);
            QVERIFY2(readT1(t1Font(r.clear, true), "probe.pfb") == r.want, r.name);
        }
        // A .t1 file: clear text, then the encrypted part as raw bytes.
        QByteArray t1 = t1Font(usual, true);
        QVERIFY(readT1(t1.mid(6, usual.size()) + t1.mid(12 + usual.size()), "probe.t1") == c059);
        QVERIFY2(!TFaceMetrics::readFile(writeFile(m_dir, "probe.pfa", t1Font(usual)), 1), "no face 1");
        QByteArray longSegment = t1Font(usual, true);
        qToLittleEndian<quint32>(quint32(longSegment.size()), longSegment.data() + 2);
        QVERIFY2(!readT1(longSegment, "probe.pfb"), "segment past the end");
        qToLittleEndian<quint32>(0xFFFFFFF0u, longSegment.data() + 2);
        QVERIFY2(!readT1(longSegment, "probe.pfb"), "segment near 4 GiB");
        // Only the clear text is read, and only so much of it.
        QVERIFY2(!readT1(t1Clear("T", box, m1000, "% " + QByteArray(70000, 'x') + "\n")),
                 "clear text too long");
    }

    // A cut before "eexec" may have lost a later definition, so nothing counts until then.
    void type1Truncated() {
        const QByteArray clear = t1Clear("T", "-217 -302 1118 1116", "0.001 0 0 0.001 0 0");
        const qsizetype complete = clear.indexOf("eexec") + 5;
        const QByteArray pfa = t1Font(clear), pfb = t1Font(clear, true);
        const qsizetype pfbComplete = 6 + clear.size();
        const auto nearEnd = [&](qsizetype len) {
            return std::abs(len - complete) < 12 || std::abs(len - pfbComplete) < 12;
        };
        for (qsizetype len = 0; len < clear.size() + 40; len += nearEnd(len) ? 1 : 5) {
            QVERIFY2(bool(readT1(pfa.left(len))) == (len >= complete), qPrintable(QString::number(len)));
            QVERIFY2(bool(readT1(pfb.left(len), "probe.pfb")) == (len >= pfbComplete),
                     qPrintable(QString::number(len)));
        }
    }

    void type1Fuzz() {
        const QByteArray clear = t1Clear("T", "-217 -302.5 1118 1116", "0.0005 0 0 0.0005 0 0");
        QRandomGenerator rng(20240611);
        const QByteArray fonts[] = {t1Font(clear), t1Font(clear, true)};
        int readable = 0;
        for (int round = 0; round < 600; ++round) {
            const bool pfb = round % 2;
            QByteArray b = fonts[pfb];
            const int span = int(clear.size()) + (pfb ? 6 : 0); // damage the part that is read
            for (int e = 0, edits = 1 + int(rng.bounded(4)); e < edits; ++e)
                b[int(rng.bounded(span))] =
                    round % 3 ? " 0.-e1{}[]()/%<>\\"[rng.bounded(17)] : char(rng.bounded(256));
            if (const auto m = readT1(b, pfb ? "probe.pfb" : "probe.pfa")) {
                ++readable;
                QVERIFY(m->scaling == TFaceVMetrics::Scaling::Type1);
                QVERIFY(m->unitsPerEm >= 16 && m->unitsPerEm <= 16384);
                QVERIFY(m->ascender > -m->descender && m->ascender <= 32767 && m->descender <= 32768);
                QVERIFY(TFaceMetrics::lineHeightOf(*m, 100000));
            }
        }
        QVERIFY(readable > 0);
        for (int round = 0; round < 200; ++round) {
            QByteArray noise = "%!PS-AdobeFont-1.0\n";
            for (int i = int(rng.bounded(600)); i > 0; --i)
                noise += char(rng.bounded(256));
            QVERIFY(!readT1(noise));
        }
    }

    void type1Scaling() {
        using S = TFaceVMetrics::Scaling;
        // {ascender, descender, upem, px, line height}; from QFontMetrics on URW fonts and
        // on the synthetic fonts below.
        const std::array<int, 5> rows[] = {
            {1116, 302, 1000, 6, 9},   // 6.70 up to 7, 1.81 down to -2
            {1170, 372, 1000, 6, 11},  // 7.02 still goes up to 8
            {1001, 1, 1000, 1, 1},     // 1.001 px scales to exactly 64/64 in FreeType, 0.001 px to 0
            {1000, 0, 1000, 13, 13},   // whole pixels stay
            {880, 250, 2048, 100, 56}, // 42.97 and 12.21
            {880, -100, 1000, 10, 8},  // a box above the baseline: negative descent rounds down too
        };
        for (const auto& [asc, desc, upem, px, want] : rows)
            QVERIFY2(TFaceMetrics::lineHeightOf(TFaceVMetrics{upem, asc, desc, S::Type1}, px) == want,
                     qPrintable(QStringLiteral("%1/%2 of %3 at %4px").arg(asc).arg(desc).arg(upem).arg(px)));
        QCOMPARE(TFaceMetrics::lineHeightOf(TFaceVMetrics{16, 32767, 32768, S::Type1}, 100000), 409593750);
        QVERIFY(!TFaceMetrics::lineHeightOf(TFaceVMetrics{1000, 800, 200, S::Type1}, 0));
    }

    // Synthetic fonts loaded into Qt: rounding of boxes, ems other than 1000 and the .afm
    // beside a font (which Qt does not read) are compared with what Qt reports.
    void type1AgreesWithQtOnSyntheticFonts() {
        struct Row {
            QByteArray bbox, matrix;
            bool pfb;
        };
        const QByteArray m1000 = "0.001 0 0 0.001 0 0";
        const Row rows[] = {
            {"-100 -250 900 880", m1000, false},
            {"-100 -250.5 900 880.5", m1000, true},
            {"-1 -1 1000 1001", m1000, false}, // just above whole pixels at small sizes
            {"-100 -250 900 880", "0.0005 0 0 0.0005 0 0", true},
            {"-100 -250 900 880", "0.00048828125 0 0 0.00048828125 0 0", false},
            {"-100 -333 900 777", "0.001 0 0.0002 0.001 0 0", false},
            {"-10 -2000 900 2100", "0.001 0 0 -0.001 0 0", false},
        };
        QStringList mismatches;
        int compared = 0;
        for (int i = 0; i < int(std::size(rows)); ++i) {
            const QByteArray family = "Glyvex Probe " + QByteArray(1, char('A' + i));
            const QString file =
                writeFile(m_dir, QStringLiteral("probe%1.%2").arg(i).arg(rows[i].pfb ? "pfb" : "pfa"),
                          t1Font(t1Clear(family, rows[i].bbox, rows[i].matrix), rows[i].pfb));
            // Ascender and descender an .afm reader would take instead of the box.
            QVERIFY(!writeFile(
                         m_dir, QStringLiteral("probe%1.afm").arg(i),
                         "StartFontMetrics 2.0\nFontName x\nAscender 1500\nDescender -700\nEndFontMetrics\n")
                         .isEmpty());
            const auto ours = TFaceMetrics::readFile(file);
            QVERIFY2(ours, family.constData());
            const int id = QFontDatabase::addApplicationFont(file);
            QVERIFY2(id >= 0 &&
                         QFontDatabase::applicationFontFamilies(id).contains(QString::fromLatin1(family)),
                     family.constData());
            for (int px = 1; px <= 150; ++px) {
                QFont font(QString::fromLatin1(family));
                font.setPixelSize(px);
                const QFontMetrics qt(font);
                ++compared;
                if (TFaceMetrics::lineHeightOf(*ours, px) != qt.ascent() + qt.descent())
                    mismatches << QStringLiteral("%1 %2px: %3 vs Qt %4")
                                      .arg(QString::fromLatin1(family))
                                      .arg(px)
                                      .arg(TFaceMetrics::lineHeightOf(*ours, px).value_or(-1))
                                      .arg(qt.ascent() + qt.descent());
            }
            QFontDatabase::removeApplicationFont(id);
        }
        QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.join('\n')));
        qInfo("%d sizes compared, all equal", compared);
    }

    void type1CacheRoundTrip() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString cache = dir.filePath("facemetrics.cache");
        const std::vector<TFaceInfo> faces{
            info({"T"}, writeFile(dir, "t.pfb",
                                  t1Font(t1Clear("T", "-100 -250 900 880", "0.0005 0 0 0.0005 0 0"), true))),
            info({"S"}, writeFile(dir, "s.ttf", buildFont({face(2000, 880, -250)})))};
        const TFaceVMetrics want{2000, 880, 250, TFaceVMetrics::Scaling::Type1};
        const auto first = TFaceMetrics::fromFaces(faces, cache);
        QCOMPARE(first.find("T", false, false), want);
        QVERIFY(first.find("S", false, false) && first.saveCache());
        const auto second = TFaceMetrics::fromFaces(faces, cache);
        QCOMPARE(second.find("T", false, false), want); // read back as Type 1, not as sfnt
        QCOMPARE(second.find("S", false, false), first.find("S", false, false));
        QCOMPARE(second.stats().fromCache, 2);
        QCOMPARE(second.stats().parsed, 0);
        // 10px is 4.4 + 1.25 for both: Type 1 rounds outwards (5 + 2), sfnt to nearest (4 + 1).
        QCOMPARE(second.lineHeight("T", 10, false, false), 7);
        QCOMPARE(second.lineHeight("S", 10, false, false), 5);
    }

    // ---- lookup memo --------------------------------------------------------------------

    // Spellings that differ only in case are one family, whichever spelling is asked for.
    void spellingsShareOneFamily() {
        const auto index = TFaceMetrics::fromFaces(
            {
                info({"Foo"}, marked(1201)),
                info({"FOO"}, marked(1202), 200),
                info({"fOO", "Other"}, marked(1203), 80, 100),
            },
            {});
        QCOMPARE(ascenderOf(index.find("Foo", true, false)), 1202);
        QCOMPARE(ascenderOf(index.find("FOO", false, false)), 1201);
        QCOMPARE(ascenderOf(index.find("foo", false, true)), 1203);
        QCOMPARE(ascenderOf(index.find("fOO", true, false)), 1202);
        QCOMPARE(ascenderOf(index.find("Other", true, false)), 1203);
        QCOMPARE(index.stats().families, 2);
    }

    // Answers from the memo equal those of a fresh index, in any order, and the memo
    // neither re-reads files nor keeps measured faces out of the disk cache.
    void repeatedLookupsMatchFreshOnes() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString cache = dir.filePath("facemetrics.cache");
        const auto font = [&](const char* name, int asc) {
            return writeFile(dir, QString::fromLatin1(name), buildFont({face(1000, asc, -200)}));
        };
        const std::vector<TFaceInfo> faces{
            info({"Fam"}, font("r.ttf", 701)),
            info({"Fam"}, font("b.ttf", 702), 200),
            info({"Fam"}, font("i.ttf", 703), 80, 100),
            info({"Dup"}, font("d1.ttf", 711), 80, 0, 100, "ACME"),
            info({"Dup"}, font("d2.ttf", 712), 200, 0, 100, "URW "),
            info({"Type"},
                 writeFile(dir, "t.pfa", t1Font(t1Clear("Type", "0 -300 900 800", "0.001 0 0 0.001 0 0")))),
            info({"Broken"}, writeFile(dir, "x.ttf", "not a font")),
        };
        const QStringList names{"Fam",  "fam",    "Dup [ACME]", "Dup [urw]", "Dup [Nobody]",
                                "Type", "Broken", "Missing",    "Serif"};
        const auto shared = TFaceMetrics::fromFaces(faces, cache);
        for (int round = 0; round < 3; ++round) {
            for (qsizetype n = 0; n < names.size(); ++n) {
                const QString& name = names[round == 1 ? names.size() - 1 - n : n];
                const auto fresh = TFaceMetrics::fromFaces(faces, {});
                for (int style = 0; style < 4; ++style) {
                    const int s = round == 2 ? 3 - style : style;
                    const QString what = QStringLiteral("%1 style %2 round %3").arg(name).arg(s).arg(round);
                    QVERIFY2(shared.find(name, s & 2, s & 1) == fresh.find(name, s & 2, s & 1),
                             qPrintable(what));
                    QVERIFY2(shared.lineHeight(name, 17, s & 2, s & 1) ==
                                 fresh.lineHeight(name, 17, s & 2, s & 1),
                             qPrintable(what));
                }
                QCOMPARE(shared.fileOf(name), fresh.fileOf(name));
            }
        }
        QCOMPARE(shared.stats().parsed, 7); // each file read once, however often it was asked for
        QVERIFY(shared.saveCache());
        const auto next = TFaceMetrics::fromFaces(faces, cache);
        for (const QString& name : names)
            for (int s = 0; s < 4; ++s)
                QVERIFY(next.find(name, s & 2, s & 1) == shared.find(name, s & 2, s & 1));
        QCOMPARE(next.stats().parsed, 0);
        QCOMPARE(next.stats().fromCache, 7);
    }

    // Reading ahead on several threads, and listing on a worker, change no answer and
    // read each face once: the first pass over a large collection relies on both.
    void preparedAndBackgroundLookupsMatchFreshOnes() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString cache = dir.filePath("facemetrics.cache");
        std::vector<TFaceInfo> faces;
        QStringList names;
        int files = 0;
        for (int i = 0; i < 300; ++i) {
            const QString name = QStringLiteral("Family %1").arg(i);
            names << name;
            const auto add = [&](int asc, int weight, int slant) {
                const QString file = writeFile(dir, QStringLiteral("f%1.ttf").arg(files++),
                                               buildFont({face(1000, asc, -200)}));
                faces.push_back(info({name}, file, weight, slant));
            };
            add(600 + i, 80, 0);
            if (i % 4 == 1) add(1000 + i, 200, 0);  // bold
            if (i % 4 == 2) add(1400 + i, 80, 100); // italic
        }
        names << QStringLiteral("Not Installed") << names.front(); // unknown and repeated names

        const auto prepared = TFaceMetrics::fromFaces(faces, cache);
        prepared.prepare(names, false, false);
        QCOMPARE(prepared.stats().parsed, 300); // every regular face, once
        prepared.prepare(names, true, false);
        QCOMPARE(prepared.stats().parsed, 375); // and the 75 bold ones; the rest fall back to regular
        const auto fresh = TFaceMetrics::fromFaces(faces, {});
        for (const QString& name : names)
            for (int s = 0; s < 4; ++s)
                QVERIFY2(prepared.lineHeight(name, 19, s & 2, s & 1) ==
                             fresh.lineHeight(name, 19, s & 2, s & 1),
                         qPrintable(name));
        QCOMPARE(prepared.stats().parsed, 450); // italic asked for without reading ahead: 75 more
        QVERIFY(prepared.saveCache());

        // From the cache, on a worker, then read ahead: nothing parsed, all answers equal.
        // The worker takes every cached face whose file is unchanged, not only those asked for.
        auto next = TFaceMetrics::fromFaces(faces, cache);
        next.buildInBackground();
        next.prepare(names, false, true);
        for (const QString& name : names)
            QCOMPARE(next.lineHeight(name, 19, false, true), fresh.lineHeight(name, 19, false, true));
        QCOMPARE(next.stats().parsed, 0);
        QCOMPARE(next.stats().fromCache, 450);
        QCOMPARE(next.stats().faces, 450);

        // A file changed since: the worker leaves its face, which is read again when asked for.
        const QString changed = faces.front().file;
        QFile::remove(changed);
        QCOMPARE(writeFile(dir, QFileInfo(changed).fileName(), buildFont({face(1000, 1800, -200)})), changed);
        QVERIFY(setMtime(changed, 1000000000)); // the same size: only the date tells
        auto after = TFaceMetrics::fromFaces(faces, cache);
        after.buildInBackground();
        QCOMPARE(after.stats().fromCache, 449);
        const auto reread = TFaceMetrics::fromFaces(faces, {});
        QCOMPARE(after.lineHeight(names.front(), 19, false, false),
                 reread.lineHeight(names.front(), 19, false, false));
        QVERIFY(after.lineHeight(names.front(), 19, false, false) !=
                fresh.lineHeight(names.front(), 19, false, false));
        QCOMPARE(after.stats().parsed, 1);
    }

    // Fontconfig matches for the generic names are kept in the disk cache, and trusted
    // only while the digest of what they depend on is unchanged.
    void genericMatchesCached() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString cache = dir.filePath("facemetrics.cache");
        const auto answers = [](const TFaceMetrics& index) {
            QList<std::optional<TFaceVMetrics>> out;
            QStringList files;
            for (const char* generic : {"Serif", "Sans Serif", "Monospace"}) {
                for (int s = 0; s < 4; ++s)
                    out << index.find(QString::fromLatin1(generic), s & 2, s & 1);
                files << index.fileOf(QString::fromLatin1(generic));
            }
            return std::pair{out, files};
        };
        const TFaceMetrics first(cache);
        const auto want = answers(first);
        if (std::none_of(want.first.begin(), want.first.end(), [](const auto& m) { return m.has_value(); }))
            QSKIP("fontconfig resolves no generic name to a font with metrics");
        QCOMPARE(first.stats().genericMatches, 12);
        QVERIFY(first.saveCache());

        const TFaceMetrics second(cache);
        QVERIFY(answers(second) == want);
        QCOMPARE(second.stats().genericMatches, 0);
        QVERIFY(answers(TFaceMetrics(QString())) == want);

        // As if written under another configuration: the digest (the first payload field,
        // after the 32-byte header) differs while the checksum stays valid.
        QFile f(cache);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray bytes = f.readAll();
        f.close();
        bytes[32] = char(bytes[32] ^ 0x01);
        quint64 hash = 0xcbf29ce484222325ull;
        for (qsizetype i = 32; i < bytes.size(); ++i)
            hash = (hash ^ quint8(bytes[i])) * 0x100000001b3ull;
        qToLittleEndian<quint64>(hash, bytes.data() + 24);
        QVERIFY(!writeFile(dir, "facemetrics.cache", bytes).isEmpty());
        const TFaceMetrics third(cache);
        QVERIFY(answers(third) == want);
        QCOMPARE(third.stats().genericMatches, 12);
        QVERIFY(third.stats().cacheEntriesRead > 0); // the file entries were still good

        // Built on a worker with nothing cached, the plain style's matches are made there,
        // before any field asks, and give the same faces.
        TFaceMetrics ahead{QString()};
        ahead.buildInBackground();
        QCOMPARE(ahead.stats().genericMatches, 3);
        QVERIFY(answers(ahead) == want);
        QCOMPARE(ahead.stats().genericMatches, 12);
        // With the matches cached, the worker makes none.
        QVERIFY(third.saveCache());
        TFaceMetrics aheadCached(cache);
        aheadCached.buildInBackground();
        QCOMPARE(aheadCached.stats().genericMatches, 0);
    }

    // ---- installed fonts ----------------------------------------------------------------

    void prefetchedSubstitutesMatchAskedOnes() {
        const QStringList names{QStringLiteral("Arial"), QStringLiteral("MS Sans Serif"),
                                QStringLiteral("No Such Family 1234")};
        const TFaceMetrics asked{QString()};
        QStringList want;
        for (const QString& name : names)
            want << asked.substituteFamily(name);
        QCOMPARE(asked.stats().substitutions, 3);

        TFaceMetrics ahead{QString()};
        ahead.buildInBackground();
        ahead.prefetchSubstitutes(names + QStringList{QStringLiteral("Arial")});
        QStringList got;
        for (const QString& name : names)
            got << ahead.substituteFamily(name);
        QCOMPARE(got, want);
        // Each name was matched once, on the worker, and answered from its memo here.
        QCOMPARE(ahead.stats().substitutions, 3);
        // A name it was not given is matched when asked.
        (void)ahead.substituteFamily(QStringLiteral("Times New Roman"));
        QCOMPARE(ahead.stats().substitutions, 4);
        // An index that does not come from fontconfig has nothing to work out.
        TFaceMetrics files = TFaceMetrics::fromFiles({}, QString());
        files.prefetchSubstitutes(names);
        QCOMPARE(files.substituteFamily(names[0]), QString());
    }

    void fromFilesQueriesFontconfig() {
        const QDir dejavu("/usr/share/fonts/truetype/dejavu");
        const QString regular = dejavu.filePath("DejaVuSans.ttf"),
                      bold = dejavu.filePath("DejaVuSans-Bold.ttf"),
                      condensed = dejavu.filePath("DejaVuSansCondensed.ttf");
        if (!QFile::exists(regular) || !QFile::exists(bold) || !QFile::exists(condensed))
            QSKIP("DejaVu Sans is not installed");
        const auto index =
            TFaceMetrics::fromFiles({condensed, bold, regular, m_dir.filePath("missing.ttf")}, {});
        QCOMPARE(index.fileOf("DejaVu Sans"), regular);
        QCOMPARE(index.fileOf("dejavu sans condensed"), condensed);
        QVERIFY(index.find("DejaVu Sans", false, false));
        QCOMPARE(index.find("DejaVu Sans", false, false), TFaceMetrics::readFile(regular));
        QCOMPARE(index.find("DejaVu Sans", true, false), TFaceMetrics::readFile(bold));
        QCOMPARE(index.stats().faces, 3);

        const QString type1 = "/usr/share/fonts/type1/urw-base35/C059-Roman.t1";
        if (QFile::exists(type1)) {
            const auto t1 = TFaceMetrics::fromFiles({type1}, {});
            QCOMPARE(t1.fileOf("C059"), type1);
            QCOMPARE(t1.find("C059", false, false),
                     (TFaceVMetrics{1000, 1116, 302, TFaceVMetrics::Scaling::Type1})); // its FontBBox
        }
    }

    // A pattern naming a font file, as Qt asks for a new face's rendering settings, is
    // matched among that file's fonts only, with exactly fontconfig's answer.
    void fileMatchesAreFontconfigs() {
        using Match = FcPattern* (*)(FcConfig*, FcPattern*, FcResult*);
        const auto library = reinterpret_cast<Match>(dlsym(RTLD_NEXT, "FcFontMatch"));
        QVERIFY(library && library != &FcFontMatch);
        FcFontSet* fonts = FcConfigGetFonts(nullptr, FcSetSystem);
        if (!fonts || fonts->nfont == 0) QSKIP("needs installed fonts");
        auto same = [&](FcPattern* asked) {
            FcResult ours = FcResultNoMatch, theirs = FcResultNoMatch;
            FcPattern* a = FcFontMatch(nullptr, asked, &ours);
            FcPattern* b = library(nullptr, asked, &theirs);
            const bool equal = ours == theirs && (a && b ? FcPatternEqual(a, b) : a == b);
            if (a) FcPatternDestroy(a);
            if (b) FcPatternDestroy(b);
            return equal;
        };
        struct Ask {
            const char* what;
            bool file, family, bold;
            const char* otherFile; // instead of the font's own
            bool shortcut;
        };
        const Ask asks[] = {
            {"file and family, as Qt asks", true, true, false, nullptr, true},
            {"file, family and another weight", true, true, true, nullptr, true},
            {"file alone", true, false, false, nullptr, true},
            {"family alone", false, true, false, nullptr, false},
            {"a file nobody installed", true, true, false, "/nonexistent/font.ttf", false},
        };
        for (const Ask& ask : asks)
            for (int i = 0; i < fonts->nfont; i += std::max(1, fonts->nfont / 40)) {
                FcPattern* font = fonts->fonts[i];
                FcChar8 *file = nullptr, *family = nullptr;
                int index = 0;
                if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch ||
                    FcPatternGetString(font, FC_FAMILY, 0, &family) != FcResultMatch)
                    continue;
                FcPatternGetInteger(font, FC_INDEX, 0, &index);
                FcPattern* asked = FcPatternCreate();
                if (ask.family) FcPatternAddString(asked, FC_FAMILY, family);
                if (ask.file) {
                    FcPatternAddString(asked, FC_FILE,
                                       ask.otherFile ? reinterpret_cast<const FcChar8*>(ask.otherFile)
                                                     : file);
                    FcPatternAddInteger(asked, FC_INDEX, index);
                }
                if (ask.bold) FcPatternAddInteger(asked, FC_WEIGHT, FC_WEIGHT_BOLD);
                FcPatternAddDouble(asked, FC_PIXEL_SIZE, 19);
                FcConfigSubstitute(nullptr, asked, FcMatchPattern);
                FcDefaultSubstitute(asked);
                const int before = FontFileMatchShortcuts();
                QVERIFY2(same(asked), qPrintable(QString::fromUtf8(ask.what) + u' ' +
                                                 QString::fromUtf8(reinterpret_cast<const char*>(file))));
                QCOMPARE(FontFileMatchShortcuts() - before, ask.shortcut ? 1 : 0);
                FcPatternDestroy(asked);
            }
    }

    void everyQtFamilyIsIndexed() {
        const TFaceMetrics index{QString()};
        const QStringList families = QFontDatabase::families();
        if (families.isEmpty()) QSKIP("no fonts installed");
        int withMetrics = 0;
        for (const QString& family : families) {
            const QString file = index.fileOf(family);
            QVERIFY2(!file.isEmpty(), qPrintable(family));
            if (index.find(family, false, false))
                ++withMetrics;
            else // only files without usable sfnt metrics may come back empty
                QVERIFY2(!TFaceMetrics::readFile(file), qPrintable(family + " " + file));
        }
        qInfo("%d of %lld Qt families have metrics", withMetrics, qlonglong(families.size()));
        QVERIFY(withMetrics > 0);
    }

    void agreesWithQt() {
        // Plain TrueType; CFF with USE_TYPO_METRICS (TeX Gyre); win metrics larger than
        // hhea (URW OpenType); fontconfig aliases.
        const QStringList wanted{"DejaVu Sans",        "Liberation Serif", "Liberation Mono",   "Noto Sans",
                                 "Noto Sans Math",     "TeX Gyre Heros",   "TeX Gyre Adventor", "C059 [UKWN]",
                                 "Nimbus Sans [URW ]", "Sans Serif",       "Monospace"};
        const QStringList installed = QFontDatabase::families();
        const TFaceMetrics index{QString()};
        int compared = 0;
        for (const QString& family : wanted) {
            if (!installed.contains(family)) continue;
            for (int style = 0; style < 4; ++style) {
                for (int px : {8, 13, 19, 40, 133}) {
                    QFont font(family);
                    font.setPixelSize(px);
                    font.setBold(style & 2);
                    font.setItalic(style & 1);
                    const QFontMetrics qt(font);
                    const auto ours = index.lineHeight(family, px, style & 2, style & 1);
                    const QString what = QStringLiteral("%1 %2px style %3").arg(family).arg(px).arg(style);
                    QVERIFY2(ours, qPrintable(what));
                    QVERIFY2(*ours == qt.ascent() + qt.descent(),
                             qPrintable(
                                 what +
                                 QStringLiteral(": %1 vs Qt %2").arg(*ours).arg(qt.ascent() + qt.descent())));
                    ++compared;
                }
            }
        }
        if (compared == 0) QSKIP("none of the reference families is installed");
    }

    // The URW base 35 families that Debian installs as Type 1 (fonts-urw-base35), which
    // Qt lists as "Family [urw]" beside the OpenType copies.
    void type1AgreesWithQtOnInstalledFonts() {
        const QStringList urw{"C059",
                              "D050000L",
                              "Nimbus Mono PS",
                              "Nimbus Roman",
                              "Nimbus Sans",
                              "Nimbus Sans Narrow",
                              "P052",
                              "Standard Symbols PS",
                              "URW Bookman",
                              "URW Gothic",
                              "Z003"};
        const QStringList installed = QFontDatabase::families();
        const TFaceMetrics index{QString()};
        int compared = 0, families = 0;
        QStringList mismatches;
        for (const QString& base : urw) {
            const QString family = base + " [urw]";
            if (!installed.contains(family)) continue;
            ++families;
            // The bare name stands for the face fontconfig prefers, which the program hands
            // Qt with its foundry: the metrics are that foundry's.
            if (!installed.contains(base)) {
                const QString foundry = index.preferredFoundry(base, false, false);
                QVERIFY2(!foundry.isEmpty(), qPrintable(base));
                QCOMPARE(index.find(base, false, false),
                         index.find(base + " [" + foundry + "]", false, false));
            }
            for (int style = 0; style < 4; ++style) {
                const bool bold = style & 2, italic = style & 1;
                const auto m = index.find(family, bold, italic);
                QVERIFY2(m && m->scaling == TFaceVMetrics::Scaling::Type1,
                         qPrintable(QStringLiteral("%1 style %2").arg(family).arg(style)));
                for (int px = 6; px <= 140; ++px) {
                    QFont font(family);
                    font.setPixelSize(px);
                    font.setBold(bold);
                    font.setItalic(italic);
                    const QFontMetrics qt(font);
                    const auto ours = index.lineHeight(family, px, bold, italic);
                    ++compared;
                    if (ours != qt.ascent() + qt.descent())
                        mismatches << QStringLiteral("%1 style %2 %3px: %4 vs Qt %5")
                                          .arg(family)
                                          .arg(style)
                                          .arg(px)
                                          .arg(ours.value_or(-1))
                                          .arg(qt.ascent() + qt.descent());
                }
            }
        }
        if (compared == 0) QSKIP("the URW Type 1 fonts are not installed");
        QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.join('\n')));
        qInfo("%d families, %d sizes compared, all equal", families, compared);
    }

    // A spread over the whole installed set, so families of every kind are compared.
    void agreesWithQtAcrossInstalledFamilies() {
        const QStringList families = QFontDatabase::families();
        const TFaceMetrics index{QString()};
        int compared = 0;
        QStringList mismatches;
        for (qsizetype i = 0; i < families.size(); i += 7) {
            const bool bold = (i / 7) % 2;
            for (int px : {8, 13, 19, 40, 133}) {
                const auto ours = index.lineHeight(families[i], px, bold, false);
                if (!ours) continue;
                QFont font(families[i]);
                font.setPixelSize(px);
                font.setBold(bold);
                const QFontMetrics qt(font);
                ++compared;
                if (*ours != qt.ascent() + qt.descent())
                    mismatches << QStringLiteral("%1 %2px: %3 vs Qt %4")
                                      .arg(families[i])
                                      .arg(px)
                                      .arg(*ours)
                                      .arg(qt.ascent() + qt.descent());
            }
        }
        if (compared == 0) QSKIP("no scalable fonts installed");
        QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.join('\n')));
        qInfo("%d sizes compared, all equal", compared);
    }
};

int main(int argc, char** argv) {
    // The Qt comparison needs a GUI application, but no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestFaceMetrics test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_facemetrics.moc"
