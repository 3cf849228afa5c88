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

QByteArray headTable(int upem) {
    QByteArray t(54, '\0');
    putU32(t, 0, 0x00010000);
    putU32(t, 12, 0x5F0F3CF5);
    putU16(t, 18, upem);
    return t;
}

QByteArray hheaTable(int ascender, int descender) {
    QByteArray t(36, '\0');
    putU32(t, 0, 0x00010000);
    putU16(t, 4, ascender);
    putU16(t, 6, descender);
    return t;
}

QByteArray os2Table(int fsSelection, int typoAsc, int typoDesc, int winAsc, int winDesc, int length = 96) {
    QByteArray t(qMax(length, 78), '\0');
    putU16(t, 0, 4);
    putU16(t, 62, fsSelection);
    putU16(t, 68, typoAsc);
    putU16(t, 70, typoDesc);
    putU16(t, 74, winAsc);
    putU16(t, 76, winDesc);
    return t.left(length);
}

TFace simpleFace(int upem, int ascender, int descender) {
    return TFace{0x00010000, {{"head", headTable(upem)}, {"hhea", hheaTable(ascender, descender)}}};
}

// Lays out one face, or a collection of faces, with all table directories first and
// the (4-byte aligned) table data after them.
QByteArray buildFont(const QList<TFace>& faces, bool collection) {
    const int ttcHeader = collection ? 12 + 4 * int(faces.size()) : 0;
    QList<int> dirOffsets;
    int pos = ttcHeader;
    for (const TFace& f : faces) {
        dirOffsets << pos;
        pos += 12 + 16 * int(f.tables.size());
    }
    QByteArray out(pos, '\0');
    if (collection) {
        out.replace(0, 4, "ttcf");
        putU32(out, 4, 0x00010000);
        putU32(out, 8, quint32(faces.size()));
        for (int i = 0; i < faces.size(); ++i)
            putU32(out, 12 + 4 * i, quint32(dirOffsets[i]));
    }
    for (int i = 0; i < faces.size(); ++i) {
        const TFace& f = faces[i];
        const int dir = dirOffsets[i];
        putU32(out, dir, f.version);
        putU16(out, dir + 4, int(f.tables.size()));
        for (int t = 0; t < f.tables.size(); ++t) {
            while (out.size() % 4)
                out.append('\0');
            const int rec = dir + 12 + 16 * t;
            out.replace(rec, 4, f.tables[t].tag.leftJustified(4, ' ', true));
            putU32(out, rec + 8, quint32(out.size()));
            putU32(out, rec + 12, quint32(f.tables[t].data.size()));
            out.append(f.tables[t].data);
        }
    }
    return out;
}

QByteArray buildFont(const TFace& face) {
    return buildFont(QList<TFace>{face}, false);
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) return {};
    return path;
}

bool setMtime(const QString& path, qint64 seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

TFaceInfo faceInfo(const QStringList& families, const QString& file, int weight = 80, int slant = 0,
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

    // A font whose ascender identifies which file a lookup landed on.
    QString markedFont(int ascender) {
        return writeFile(m_dir, QStringLiteral("mark%1.ttf").arg(ascender),
                         buildFont(simpleFace(1000, ascender, -200)));
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // ---- reading a face's metrics -------------------------------------------------------

    void metricRules_data() {
        QTest::addColumn<int>("hheaAsc");
        QTest::addColumn<int>("hheaDesc");
        QTest::addColumn<int>("os2Length"); // 0 = no OS/2 table
        QTest::addColumn<int>("fsSelection");
        QTest::addColumn<int>("typoAsc");
        QTest::addColumn<int>("typoDesc");
        QTest::addColumn<int>("winAsc");
        QTest::addColumn<int>("winDesc");
        QTest::addColumn<int>("wantAsc"); // -1 = no metrics
        QTest::addColumn<int>("wantDesc");

        QTest::newRow("win values override hhea")
            << 1800 << -400 << 96 << 0 << 1500 << -500 << 1900 << 450 << 1900 << 450;
        QTest::newRow("USE_TYPO_METRICS takes typo")
            << 1800 << -400 << 96 << 0x80 << 1500 << -500 << 1900 << 450 << 1500 << 500;
        QTest::newRow("USE_TYPO_METRICS with zero typo keeps hhea")
            << 1800 << -400 << 96 << 0x80 << 0 << 0 << 1900 << 450 << 1800 << 400;
        QTest::newRow("zero win keeps hhea")
            << 1800 << -400 << 96 << 0 << 1500 << -500 << 0 << 0 << 1800 << 400;
        QTest::newRow("no OS/2 uses hhea") << 1800 << -400 << 0 << 0 << 0 << 0 << 0 << 0 << 1800 << 400;
        QTest::newRow("version 0 OS/2 (68 bytes) is ignored")
            << 1800 << -400 << 68 << 0x80 << 1500 << -500 << 0 << 0 << 1800 << 400;
        QTest::newRow("zero hhea falls to win")
            << 0 << 0 << 96 << 0 << 1500 << -500 << 1900 << 450 << 1900 << 450;
        QTest::newRow("zero hhea and win fall to typo")
            << 0 << 0 << 96 << 0 << 1500 << -500 << 0 << 0 << 1500 << 500;
        QTest::newRow("zero hhea, typo flag")
            << 0 << 0 << 96 << 0x80 << 1500 << -500 << 1900 << 450 << 1500 << 500;
        QTest::newRow("zero hhea, empty typo flagged, win")
            << 0 << 0 << 96 << 0x80 << 0 << 0 << 1900 << 450 << 1900 << 450;
        QTest::newRow("everything zero") << 0 << 0 << 96 << 0x80 << 0 << 0 << 0 << 0 << -1 << -1;
        QTest::newRow("zero hhea, no OS/2") << 0 << 0 << 0 << 0 << 0 << 0 << 0 << 0 << -1 << -1;
        QTest::newRow("only a descender") << 0 << -300 << 0 << 0 << 0 << 0 << 0 << 0 << 0 << 300;
    }

    void metricRules() {
        QFETCH(int, hheaAsc);
        QFETCH(int, hheaDesc);
        QFETCH(int, os2Length);
        QFETCH(int, fsSelection);
        QFETCH(int, typoAsc);
        QFETCH(int, typoDesc);
        QFETCH(int, winAsc);
        QFETCH(int, winDesc);
        QFETCH(int, wantAsc);
        QFETCH(int, wantDesc);

        TFace face = simpleFace(2048, hheaAsc, hheaDesc);
        if (os2Length)
            face.tables << TTable{"OS/2",
                                  os2Table(fsSelection, typoAsc, typoDesc, winAsc, winDesc, os2Length)};
        const QString path = writeFile(m_dir, QStringLiteral("rules.ttf"), buildFont(face));
        const auto m = TFaceMetrics::readFile(path);
        if (wantAsc < 0) {
            QVERIFY(!m);
            return;
        }
        QVERIFY(m);
        QCOMPARE(*m, (TFaceVMetrics{2048, wantAsc, wantDesc}));
    }

    void sfntFlavours() {
        TFace face = simpleFace(1000, 800, -200);
        for (quint32 version : {0x00010000u, 0x74727565u /* true */, 0x4F54544Fu /* OTTO */}) {
            face.version = version;
            const auto m = TFaceMetrics::readFile(writeFile(m_dir, "flavour.ttf", buildFont(face)));
            QVERIFY2(m, qPrintable(QString::number(version, 16)));
            QCOMPARE(*m, (TFaceVMetrics{1000, 800, 200}));
        }
        face.version = 0x41424344; // unknown flavour
        QVERIFY(!TFaceMetrics::readFile(writeFile(m_dir, "flavour.ttf", buildFont(face))));
    }

    void unusableFacesHaveNoMetrics() {
        const auto check = [&](const char* what, const TFace& face) {
            QVERIFY2(!TFaceMetrics::readFile(writeFile(m_dir, "unusable.ttf", buildFont(face))), what);
        };
        check("upem 0", simpleFace(0, 800, -200));
        check("upem out of range", simpleFace(20000, 800, -200));
        check("no head", TFace{0x00010000, {{"hhea", hheaTable(800, -200)}}});
        check("short head",
              TFace{0x00010000, {{"head", headTable(1000).left(40)}, {"hhea", hheaTable(800, -200)}}});
        TFace strikes = simpleFace(1000, 800, -200);
        strikes.tables << TTable{"EBLC", QByteArray(8, '\0')};
        check("bitmap strikes", strikes);
        check("no tables", TFace{0x00010000, {}});
    }

    void collections() {
        const QList<TFace> faces{simpleFace(1000, 700, -100), simpleFace(2048, 1700, -300),
                                 simpleFace(1000, 900, -250)};
        const QString ttc = writeFile(m_dir, "faces.ttc", buildFont(faces, true));
        QCOMPARE(TFaceMetrics::readFile(ttc, 0), (TFaceVMetrics{1000, 700, 100}));
        QCOMPARE(TFaceMetrics::readFile(ttc, 1), (TFaceVMetrics{2048, 1700, 300}));
        QCOMPARE(TFaceMetrics::readFile(ttc, 2), (TFaceVMetrics{1000, 900, 250}));
        // Named instances live above the low 16 bits of FC_INDEX.
        QCOMPARE(TFaceMetrics::readFile(ttc, 1 | (3 << 16)), (TFaceVMetrics{2048, 1700, 300}));
        QVERIFY(!TFaceMetrics::readFile(ttc, 3));
        QVERIFY(!TFaceMetrics::readFile(ttc, -1));

        const QString single = writeFile(m_dir, "single.ttf", buildFont(faces[0]));
        QVERIFY(TFaceMetrics::readFile(single, 0));
        QVERIFY(!TFaceMetrics::readFile(single, 1));
    }

    // Every table is needed here and the last one ends the file, so each cut must fail.
    void truncatedFilesHaveNoMetrics() {
        TFace face = simpleFace(1000, 800, -200);
        face.tables << TTable{"OS/2", os2Table(0, 700, -300, 900, 250)};
        const QByteArray full = buildFont(face);
        const QByteArray ttc = buildFont(QList<TFace>{face, face}, true);
        QVERIFY(TFaceMetrics::readFile(writeFile(m_dir, "cut.ttf", full)));
        QVERIFY(TFaceMetrics::readFile(writeFile(m_dir, "cut.ttc", ttc), 1));
        for (int len = 0; len < full.size(); ++len)
            QVERIFY2(!TFaceMetrics::readFile(writeFile(m_dir, "cut.ttf", full.left(len))),
                     qPrintable(QString::number(len)));
        for (int len = 0; len < ttc.size(); ++len)
            QVERIFY2(!TFaceMetrics::readFile(writeFile(m_dir, "cut.ttc", ttc.left(len)), 1),
                     qPrintable(QString::number(len)));
    }

    void hostileOffsets() {
        const QByteArray good = buildFont(simpleFace(1000, 800, -200));
        QVERIFY(TFaceMetrics::readFile(writeFile(m_dir, "hostile.ttf", good)));
        // Directory records start at 12: head first, hhea second.
        const auto patched = [&](int at, quint32 value) {
            QByteArray b = good;
            putU32(b, at, value);
            return writeFile(m_dir, "hostile.ttf", b);
        };
        QVERIFY2(!TFaceMetrics::readFile(patched(12 + 8, quint32(good.size()) + 100)), "head past the end");
        QVERIFY2(!TFaceMetrics::readFile(patched(12 + 8, 0xFFFFFFF0u)), "head offset near 4 GiB");
        QVERIFY2(!TFaceMetrics::readFile(patched(12 + 12, 0xFFFFFFFFu)), "head length wraps");
        QVERIFY2(!TFaceMetrics::readFile(patched(28 + 8, quint32(good.size()) - 4)),
                 "hhea straddles the end");
        QByteArray many = good;
        putU16(many, 4, 0xFFFF);
        QVERIFY2(!TFaceMetrics::readFile(writeFile(m_dir, "hostile.ttf", many)),
                 "directory larger than file");

        QByteArray ttc = buildFont(QList<TFace>{simpleFace(1000, 800, -200)}, true);
        QVERIFY(TFaceMetrics::readFile(writeFile(m_dir, "hostile.ttc", ttc)));
        QByteArray hugeCount = ttc;
        putU32(hugeCount, 8, 0xFFFFFFFFu);
        QVERIFY2(!TFaceMetrics::readFile(writeFile(m_dir, "hostile.ttc", hugeCount), 5000),
                 "offset table past end");
        QByteArray farFace = ttc;
        putU32(farFace, 12, 0x7FFFFFF0u);
        QVERIFY2(!TFaceMetrics::readFile(writeFile(m_dir, "hostile.ttc", farFace)), "face offset past end");
    }

    void nonFontFiles() {
        QVERIFY(!TFaceMetrics::readFile(writeFile(m_dir, "empty.ttf", {})));
        QVERIFY(!TFaceMetrics::readFile(m_dir.filePath("does-not-exist.ttf")));
        QVERIFY(!TFaceMetrics::readFile(m_dir.path()));
        QByteArray pfb("\x80\x01\x10\x00\x00\x00%!PS-AdobeFont-1.0: Test 001.000\n", 39);
        QVERIFY(!TFaceMetrics::readFile(writeFile(m_dir, "font.pfb", pfb)));
        QVERIFY(!TFaceMetrics::readFile(writeFile(m_dir, "font.t1", "%!PS-AdobeFont-1.0: Test\n")));

        // Opening a FIFO for reading would block forever without a writer.
        const QString fifo = m_dir.filePath("font.fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(!TFaceMetrics::readFile(fifo));
    }

    // Random damage to a valid font: whatever is read back must stay plausible (and,
    // under the sanitizers, no read may stray).
    void damagedFontsFuzz() {
        TFace face = simpleFace(1000, 800, -200);
        face.tables << TTable{"OS/2", os2Table(0x80, 700, -300, 900, 250)};
        const QByteArray good = buildFont(QList<TFace>{face, simpleFace(2048, 1500, -400)}, true);
        QRandomGenerator rng(20240607);
        int readable = 0;
        for (int round = 0; round < 3000; ++round) {
            QByteArray b = good;
            const int edits = 1 + int(rng.bounded(4));
            for (int e = 0; e < edits; ++e)
                b[int(rng.bounded(quint32(b.size())))] = char(rng.bounded(256));
            if (rng.bounded(4) == 0) b.truncate(int(rng.bounded(quint32(b.size()))));
            const auto m = TFaceMetrics::readFile(writeFile(m_dir, "fuzz.ttc", b), int(rng.bounded(3)));
            if (m) {
                ++readable;
                QVERIFY(m->unitsPerEm >= 16 && m->unitsPerEm <= 16384);
                QVERIFY(m->ascender != 0 || m->descender != 0);
            }
        }
        QVERIFY(readable > 0); // the fuzzing did not only produce unreadable files
        for (int round = 0; round < 200; ++round) {
            QByteArray noise(int(rng.bounded(400)), '\0');
            for (auto& c : noise)
                c = char(rng.bounded(256));
            QVERIFY(!TFaceMetrics::readFile(writeFile(m_dir, "noise.ttf", noise)));
        }
    }

    // ---- pixel arithmetic -------------------------------------------------------------

    void scaling_data() {
        QTest::addColumn<int>("design");
        QTest::addColumn<int>("px");
        QTest::addColumn<int>("upem");
        QTest::addColumn<int>("expected");
        // Values observed from QFontMetrics on real fonts.
        QTest::newRow("DejaVu ascent 7px: 6.497 rounds up via 1/64") << 1901 << 7 << 2048 << 7;
        QTest::newRow("DejaVu ascent 8px") << 1901 << 8 << 2048 << 7;
        QTest::newRow("DejaVu descent 8px") << 483 << 8 << 2048 << 2;
        QTest::newRow("Noto descent 29px: 8.497 -> 9") << 293 << 29 << 1000 << 9;
        QTest::newRow("Noto descent 13px: 3.809") << 293 << 13 << 1000 << 4;
        QTest::newRow("Adventor descent 13px: 2.496 -> 3") << 192 << 13 << 1000 << 3;
        QTest::newRow("2.48 stays 2") << 248 << 10 << 1000 << 2;
        QTest::newRow("exact") << 800 << 40 << 1000 << 32;
        QTest::newRow("zero") << 0 << 40 << 1000 << 0;
        QTest::newRow("negative half goes up") << -250 << 10 << 1000 << -2;
        QTest::newRow("negative") << -260 << 10 << 1000 << -3;
        QTest::newRow("large") << 65535 << 100000 << 16 << 409593750;
    }

    void scaling() {
        QFETCH(int, design);
        QFETCH(int, px);
        QFETCH(int, upem);
        QFETCH(int, expected);
        QCOMPARE(TFaceMetrics::scaleToPixels(design, px, upem), expected);
    }

    void lineHeightOf() {
        const TFaceVMetrics dejavu{2048, 1901, 483};
        QCOMPARE(TFaceMetrics::lineHeightOf(dejavu, 13), 15);
        QCOMPARE(TFaceMetrics::lineHeightOf(dejavu, 133), 154);
        QCOMPARE(TFaceMetrics::lineHeightOf(TFaceVMetrics{16, 65535, 65535}, 100000), 819187500);
        QVERIFY(!TFaceMetrics::lineHeightOf(dejavu, 0));
        QVERIFY(!TFaceMetrics::lineHeightOf(dejavu, -5));
        QVERIFY(!TFaceMetrics::lineHeightOf(dejavu, 100001));
        QVERIFY(!TFaceMetrics::lineHeightOf(TFaceVMetrics{0, 800, 200}, 12));

        const auto index = TFaceMetrics::fromFaces({faceInfo({"Synth"}, markedFont(1901))}, {});
        QCOMPARE(index.lineHeight("Synth", 40, false, false), 84); // 76.04 + 8
        QVERIFY(!index.lineHeight("Synth", 0, false, false));
        QVERIFY(!index.lineHeight("Unknown", 40, false, false));
    }

    // ---- the index ----------------------------------------------------------------------

    void styleChoice() {
        const std::vector<TFaceInfo> faces{
            faceInfo({"Fam"}, markedFont(1001), 80, 0),
            faceInfo({"Fam"}, markedFont(1002), 200, 0),
            faceInfo({"Fam"}, markedFont(1003), 80, 100),
            faceInfo({"Fam"}, markedFont(1004), 200, 100),
            faceInfo({"Fam"}, markedFont(1005), 80, 0, 75),  // condensed regular
            faceInfo({"Fam"}, markedFont(1006), 50, 0),      // light
            faceInfo({"Fam"}, markedFont(1007), 200, 0, 75), // condensed bold
            faceInfo({"Plain"}, markedFont(1011), 80, 0),
            faceInfo({"Slanted"}, markedFont(1021), 80, 0),
            faceInfo({"Slanted"}, markedFont(1022), 80, 110),
            faceInfo({"LightMedium"}, markedFont(1031), 50, 0),
            faceInfo({"LightMedium"}, markedFont(1032), 100, 0),
            faceInfo({"BookBold"}, markedFont(1041), 75, 0),
            faceInfo({"BookBold"}, markedFont(1042), 200, 0),
            faceInfo({"BoldOnly"}, markedFont(1051), 200, 0),
            faceInfo({"ItalicFirst"}, markedFont(1061), 80, 100),
            faceInfo({"ItalicFirst"}, markedFont(1062), 80, 110),
            faceInfo({"ItalicFirst"}, markedFont(1063), 80, 0),
        };
        const auto index = TFaceMetrics::fromFaces(faces, {});
        const auto asc = [&](const char* family, bool bold, bool italic) {
            return ascenderOf(index.find(QString::fromLatin1(family), bold, italic));
        };
        QCOMPARE(asc("Fam", false, false), 1001);
        QCOMPARE(asc("Fam", true, false), 1002);
        QCOMPARE(asc("Fam", false, true), 1003);
        QCOMPARE(asc("Fam", true, true), 1004);
        QCOMPARE(index.fileOf("Fam"), markedFont(1001));
        // Missing styles are synthesised by Qt from the regular face.
        for (bool bold : {false, true})
            for (bool italic : {false, true})
                QCOMPARE(asc("Plain", bold, italic), 1011);
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
        const std::vector<TFaceInfo> faces{
            faceInfo({"Mixed Case", QString::fromUtf8("Смешанный")}, markedFont(1101)),
            faceInfo({"Dup"}, markedFont(1111), 80, 0, 100, "ACME"),
            faceInfo({"Dup"}, markedFont(1112), 80, 0, 100, "acme"),
            faceInfo({"Dup"}, markedFont(1113), 80, 0, 100, "URW "),
            faceInfo({"Dup"}, markedFont(1114), 80, 0, 100, "Other"),
            faceInfo({"Literal [x]"}, markedFont(1121)),
            faceInfo({"Literal"}, markedFont(1122)),
        };
        const auto index = TFaceMetrics::fromFaces(faces, {});
        const auto asc = [&](const QString& family) { return ascenderOf(index.find(family, false, false)); };
        QCOMPARE(asc("Mixed Case"), 1101);
        QCOMPARE(asc("mIXED cASE"), 1101);
        QCOMPARE(asc(QString::fromUtf8("смешанный")), 1101);
        QCOMPARE(asc("Dup [ACME]"), 1111);
        QCOMPARE(asc("Dup [acme]"), 1112);
        QCOMPARE(asc("Dup [URW ]"), 1113);
        QCOMPARE(asc("dup [Other]"), 1114);
        QCOMPARE(asc("Dup [urw]"), 1113); // no exact foundry: a loose match beats any face
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

    void unreadableFilesInIndex() {
        const QString pfb = writeFile(m_dir, "listed.pfb", "\x80\x01 not sfnt");
        const auto index = TFaceMetrics::fromFaces(
            {faceInfo({"Type One"}, pfb), faceInfo({"Gone"}, m_dir.filePath("vanished.ttf"))}, {});
        QCOMPARE(index.fileOf("Type One"), pfb);
        QVERIFY(!index.find("Type One", false, false));
        QVERIFY(!index.lineHeight("Gone", 12, false, false));
        QCOMPARE(index.fileOf("Gone"), m_dir.filePath("vanished.ttf"));
    }

    void movedFromIsInert() {
        auto a = TFaceMetrics::fromFaces({faceInfo({"Synth"}, markedFont(1201))}, {});
        TFaceMetrics b = std::move(a);
        QCOMPARE(ascenderOf(b.find("Synth", false, false)), 1201);
        // A moved-from index must stay safe to call.
        QVERIFY(!a.find("Synth", false, false));
        QVERIFY(a.fileOf("Synth").isEmpty());
        QVERIFY(a.saveCache());
    }

    // ---- disk cache ---------------------------------------------------------------------

    void cacheRoundTrip() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString cache = dir.filePath("nested/glyvex/facemetrics.cache");
        const QString font = writeFile(dir, "cached.ttf", buildFont(simpleFace(1000, 810, -190)));
        const QString pfb = writeFile(dir, "cached.pfb", "\x80\x01 not sfnt");
        QVERIFY(setMtime(font, 1700000000));
        const std::vector<TFaceInfo> faces{faceInfo({"Cached"}, font), faceInfo({"Type One"}, pfb)};

        {
            const auto first = TFaceMetrics::fromFaces(faces, cache);
            QCOMPARE(ascenderOf(first.find("Cached", false, false)), 810);
            QVERIFY(!first.find("Type One", false, false));
            QCOMPARE(first.stats().parsed, 2);
            QCOMPARE(first.stats().cacheEntriesRead, 0);
            QVERIFY(first.saveCache());
            QVERIFY(QFile::exists(cache));
        }

        // Same size and mtime, different content: the cached value must be used.
        QVERIFY(!writeFile(dir, "cached.ttf", buildFont(simpleFace(1000, 820, -180))).isEmpty());
        QVERIFY(setMtime(font, 1700000000));
        {
            const auto second = TFaceMetrics::fromFaces(faces, cache);
            QCOMPARE(ascenderOf(second.find("Cached", false, false)), 810);
            QVERIFY(!second.find("Type One", false, false)); // negative results are cached too
            QCOMPARE(second.stats().parsed, 0);
            QCOMPARE(second.stats().fromCache, 2);
            QCOMPARE(second.stats().cacheEntriesRead, 2);
            // Nothing new was measured, so nothing is written.
            QVERIFY(QFile::remove(cache));
            QVERIFY(second.saveCache());
            QVERIFY(!QFile::exists(cache));
        }
    }

    void cacheInvalidation() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString cache = dir.filePath("facemetrics.cache");
        const QString font = writeFile(dir, "f.ttf", buildFont(simpleFace(1000, 810, -190)));
        QVERIFY(setMtime(font, 1700000000));
        const std::vector<TFaceInfo> faces{faceInfo({"F"}, font)};
        const auto run = [&](int expectedAscender, int expectedParsed) {
            const auto index = TFaceMetrics::fromFaces(faces, cache);
            QCOMPARE(ascenderOf(index.find("F", false, false)), expectedAscender);
            QCOMPARE(index.stats().parsed, expectedParsed);
            QVERIFY(index.saveCache());
        };
        run(810, 1);
        run(810, 0);

        QVERIFY(!writeFile(dir, "f.ttf", buildFont(simpleFace(1000, 830, -170))).isEmpty());
        QVERIFY(setMtime(font, 1700000100)); // changed mtime
        run(830, 1);
        run(830, 0);

        TFace bigger = simpleFace(1000, 840, -160);
        bigger.tables << TTable{"OS/2", os2Table(0x80, 840, -160, 0, 0)};
        QVERIFY(!writeFile(dir, "f.ttf", buildFont(bigger)).isEmpty());
        QVERIFY(setMtime(font, 1700000100)); // same mtime, changed size
        run(840, 1);
        run(840, 0);
    }

    void cacheDropsUninstalledFaces() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString cache = dir.filePath("facemetrics.cache");
        const QString a = writeFile(dir, "a.ttf", buildFont(simpleFace(1000, 700, -100)));
        const QString b = writeFile(dir, "b.ttf", buildFont(simpleFace(1000, 750, -100)));
        {
            const auto both = TFaceMetrics::fromFaces({faceInfo({"A"}, a), faceInfo({"B"}, b)}, cache);
            QVERIFY(both.find("A", false, false) && both.find("B", false, false));
            QVERIFY(both.saveCache());
        }
        {
            const auto onlyA = TFaceMetrics::fromFaces({faceInfo({"A"}, a)}, cache);
            QVERIFY(onlyA.find("A", false, false));
            QCOMPARE(onlyA.stats().cacheEntriesRead, 2);
            QCOMPARE(onlyA.stats().parsed, 0);
            QVERIFY(onlyA.saveCache()); // rewrites without b.ttf
        }
        const auto again = TFaceMetrics::fromFaces({faceInfo({"A"}, a), faceInfo({"B"}, b)}, cache);
        QVERIFY(again.find("B", false, false));
        QCOMPARE(again.stats().cacheEntriesRead, 1);
        QCOMPARE(again.stats().parsed, 1);
    }

    void corruptCacheIgnored_data() {
        QTest::addColumn<QString>("damage");
        for (const char* d : {"empty", "text", "truncated", "extended", "flipped payload byte",
                              "other version", "other magic", "huge count"})
            QTest::newRow(d) << QString::fromLatin1(d);
    }

    void corruptCacheIgnored() {
        QFETCH(QString, damage);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString cache = dir.filePath("facemetrics.cache");
        const QString font = writeFile(dir, "f.ttf", buildFont(simpleFace(1000, 810, -190)));
        const std::vector<TFaceInfo> faces{faceInfo({"F"}, font)};
        {
            const auto index = TFaceMetrics::fromFaces(faces, cache);
            QVERIFY(index.find("F", false, false));
            QVERIFY(index.saveCache());
        }
        QFile f(cache);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray bytes = f.readAll();
        f.close();
        QVERIFY(bytes.size() > 40);
        if (damage == "empty")
            bytes.clear();
        else if (damage == "text")
            bytes = "facemetrics v1\n/usr/share/fonts/x.ttf 1000 800 200\n";
        else if (damage == "truncated")
            bytes.chop(1);
        else if (damage == "extended")
            bytes.append('\0');
        else if (damage == "flipped payload byte")
            bytes[bytes.size() - 4] = char(bytes[bytes.size() - 4] ^ 0x01); // descender 190 -> 191
        else if (damage == "other version")
            bytes[8] = char(bytes[8] + 1);
        else if (damage == "other magic")
            bytes[0] = 'X';
        else if (damage == "huge count")
            putU32(bytes, 12, 0xFFFFFFFFu);
        QVERIFY(!writeFile(dir, "facemetrics.cache", bytes).isNull());

        {
            const auto index = TFaceMetrics::fromFaces(faces, cache);
            QCOMPARE(ascenderOf(index.find("F", false, false)), 810);
            QCOMPARE(index.stats().cacheEntriesRead, 0);
            QCOMPARE(index.stats().parsed, 1);
            QVERIFY(index.saveCache()); // replaces the damaged file
        }
        const auto index = TFaceMetrics::fromFaces(faces, cache);
        QCOMPARE(ascenderOf(index.find("F", false, false)), 810);
        QCOMPARE(index.stats().cacheEntriesRead, 1);
        QCOMPARE(index.stats().parsed, 0);
    }

    void cacheWriteFailureIsReported() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString blocker = writeFile(dir, "plainfile", "x");
        const QString font = writeFile(dir, "f.ttf", buildFont(simpleFace(1000, 810, -190)));
        const auto index =
            TFaceMetrics::fromFaces({faceInfo({"F"}, font)}, blocker + "/sub/facemetrics.cache");
        QVERIFY(index.find("F", false, false));
        QVERIFY(!index.saveCache());

        const auto noCache = TFaceMetrics::fromFaces({faceInfo({"F"}, font)}, {});
        QVERIFY(noCache.find("F", false, false));
        QVERIFY(noCache.saveCache());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot).size(), 2);
    }

    // ---- installed fonts ----------------------------------------------------------------

    void fromFilesQueriesFontconfig() {
        const QDir dejavu("/usr/share/fonts/truetype/dejavu");
        const QString regular = dejavu.filePath("DejaVuSans.ttf");
        const QString bold = dejavu.filePath("DejaVuSans-Bold.ttf");
        const QString condensed = dejavu.filePath("DejaVuSansCondensed.ttf");
        if (!QFile::exists(regular) || !QFile::exists(bold) || !QFile::exists(condensed))
            QSKIP("DejaVu Sans is not installed");
        const auto index =
            TFaceMetrics::fromFiles({condensed, bold, regular, m_dir.filePath("missing.ttf")}, {});
        QCOMPARE(index.fileOf("DejaVu Sans"), regular); // normal width preferred over condensed
        QCOMPARE(index.fileOf("dejavu sans condensed"), condensed);
        QCOMPARE(index.find("DejaVu Sans", true, false), TFaceMetrics::readFile(bold));
        QCOMPARE(index.find("DejaVu Sans", false, false), TFaceMetrics::readFile(regular));
        QVERIFY(index.find("DejaVu Sans", false, false));
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
            const auto m = index.find(family, false, false);
            if (m)
                ++withMetrics;
            else // only files that really have no usable sfnt metrics may come back empty
                QVERIFY2(!TFaceMetrics::readFile(file), qPrintable(family + " " + file));
        }
        qInfo("%d of %lld Qt families have metrics", withMetrics, qlonglong(families.size()));
        QVERIFY(withMetrics > 0);
    }

    void agreesWithQt_data() {
        QTest::addColumn<QString>("family");
        // DejaVu/Liberation/Noto: plain TrueType; TeX Gyre: CFF with USE_TYPO_METRICS;
        // C059 (URW, OpenType): win metrics larger than hhea; Sans Serif: fontconfig alias.
        for (const char* f :
             {"DejaVu Sans", "DejaVu Serif", "Liberation Serif", "Liberation Mono", "Noto Sans",
              "Noto Sans Math", "Noto Serif", "TeX Gyre Heros", "TeX Gyre Adventor", "C059 [UKWN]",
              "Nimbus Sans [URW ]", "Sans Serif", "Monospace"})
            QTest::newRow(f) << QString::fromLatin1(f);
    }

    void agreesWithQt() {
        QFETCH(QString, family);
        if (!QFontDatabase::families().contains(family)) QSKIP("family not installed");
        const TFaceMetrics index{QString()};
        for (int style = 0; style < 4; ++style) {
            const bool bold = style & 2, italic = style & 1;
            for (int px : {8, 13, 19, 40, 133}) {
                QFont font(family);
                font.setPixelSize(px);
                font.setBold(bold);
                font.setItalic(italic);
                const QFontMetrics qt(font);
                const auto ours = index.lineHeight(family, px, bold, italic);
                QVERIFY2(ours, qPrintable(family));
                QCOMPARE(*ours, qt.ascent() + qt.descent());
            }
        }
    }

    // A spread over the whole installed set, so families of every kind are compared.
    void agreesWithQtAcrossInstalledFamilies() {
        const QStringList families = QFontDatabase::families();
        const TFaceMetrics index{QString()};
        int compared = 0;
        QStringList mismatches;
        for (qsizetype i = 0; i < families.size(); i += 7) {
            const QString& family = families[i];
            for (int px : {8, 13, 19, 40, 133}) {
                const bool bold = (i / 7) % 2;
                const auto ours = index.lineHeight(family, px, bold, false);
                if (!ours) continue;
                QFont font(family);
                font.setPixelSize(px);
                font.setBold(bold);
                const QFontMetrics qt(font);
                ++compared;
                if (*ours != qt.ascent() + qt.descent())
                    mismatches << QStringLiteral("%1 %2px: %3 vs Qt %4")
                                      .arg(family)
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
    // The Qt comparison needs a GUI application; no display is required.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestFaceMetrics test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_facemetrics.moc"
