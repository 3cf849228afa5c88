#include "FaceMetrics.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <fcntl.h>
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
        QVERIFY(QList<int>({1111, 1112, 1113, 1114}).contains(asc("Dup [Nobody]")));
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

    // ---- installed fonts ----------------------------------------------------------------

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
            QVERIFY(!t1.find("C059", false, false));
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
