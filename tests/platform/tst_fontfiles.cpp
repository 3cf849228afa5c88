// Font files opened for the run, and each family listed once: what a path may be and
// what comes of it, Qt's family list made distinct, families joining the screen's, and
// the foundry Qt is given for a family several foundries ship.
#include "FaceMetrics.h"
#include "FontFiles.h"
#include "Forms.h"
#include "Watchdog.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QTemporaryDir>
#include <QTest>

#include <fontconfig/fontconfig.h>

#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(TFontFileError)

namespace {

const QString kType1 = QStringLiteral("/usr/share/fonts/type1/urw-base35/C059-Roman.t1");

// An installed Type 1 font under a family name of its own; empty if there is none.
QByteArray RenamedType1(const QByteArray& family) {
    QFile in(kType1);
    if (!in.open(QIODevice::ReadOnly)) return {};
    QByteArray bytes = in.readAll();
    bytes.replace("/FamilyName (C059)", "/FamilyName (" + family + ")");
    return bytes;
}

bool Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// What fontconfig itself chooses for a name and style: its foundry.
QString FontconfigFoundry(const QString& family, bool bold, bool italic) {
    FcPattern* p = FcPatternCreate();
    FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.toUtf8().constData()));
    FcPatternAddInteger(p, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(p, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcConfigSubstitute(nullptr, p, FcMatchPattern);
    FcDefaultSubstitute(p);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, p, &result);
    QString foundry;
    FcChar8* s = nullptr;
    if (match && FcPatternGetString(match, FC_FOUNDRY, 0, &s) == FcResultMatch)
        foundry = QString::fromUtf8(reinterpret_cast<const char*>(s));
    if (match) FcPatternDestroy(match);
    FcPatternDestroy(p);
    return foundry;
}

} // namespace

class TstFontFiles : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void pathsAreCheckedBeforeAnythingReadsThem_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<TFontFileError>("error");
        QTest::newRow("a font") << "good.t1" << TFontFileError::None;
        QTest::newRow("missing") << "missing.ttf" << TFontFileError::Missing;
        QTest::newRow("below a file") << "good.t1/inner.ttf" << TFontFileError::Missing;
        QTest::newRow("empty name") << "" << TFontFileError::Missing;
        QTest::newRow("directory") << "." << TFontFileError::NotRegular;
        QTest::newRow("fifo") << "fifo.ttf" << TFontFileError::NotRegular;
        QTest::newRow("device") << "/dev/zero" << TFontFileError::NotRegular;
        QTest::newRow("link to a device") << "zero.ttf" << TFontFileError::NotRegular;
        QTest::newRow("unreadable") << "secret.ttf" << TFontFileError::Unreadable;
        QTest::newRow("empty") << "empty.ttf" << TFontFileError::NotAFont;
        QTest::newRow("text") << "notes.txt" << TFontFileError::NotAFont;
        QTest::newRow("truncated font") << "truncated.t1" << TFontFileError::NotAFont;
        QTest::newRow("too large") << "huge.ttf" << TFontFileError::TooLarge;
    }
    void pathsAreCheckedBeforeAnythingReadsThem() {
        QFETCH(QString, name);
        QFETCH(TFontFileError, error);
        const QByteArray font = RenamedType1("Glyvex Opened Test");
        if (font.isEmpty()) QSKIP("needs the URW Type 1 fonts (fonts-urw-base35)");
        const QDir dir(m_dir.path());
        QVERIFY(Write(dir.filePath("good.t1"), font));
        QVERIFY(Write(dir.filePath("truncated.t1"), font.left(font.size() / 3)));
        QVERIFY(Write(dir.filePath("empty.ttf"), {}));
        QVERIFY(Write(dir.filePath("notes.txt"), "Nothing but text.\n"));
        QVERIFY(Write(dir.filePath("secret.ttf"), font));
        QFile(dir.filePath("secret.ttf")).setPermissions({});
        // Sparse: the size alone must turn it away, nothing is read.
        QFile huge(dir.filePath("huge.ttf"));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(kMaxFontFileBytes + 1));
        huge.close();
        QFile::remove(dir.filePath("fifo.ttf"));
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("fifo.ttf")).constData(), 0600), 0);
        QFile::remove(dir.filePath("zero.ttf"));
        QVERIFY(QFile::link("/dev/zero", dir.filePath("zero.ttf")));
        if (error == TFontFileError::Unreadable && ::geteuid() == 0)
            QSKIP("permission bits do not stop root");

        const QString path = name.isEmpty() || name.startsWith(u'/') ? name : dir.filePath(name);
        TFifoWatchdog watchdog(dir.filePath("fifo.ttf"), std::chrono::seconds(10));
        auto metrics = TFaceMetrics::fromFaces({}, QString());
        const TOpenedFontFile opened = OpenFontFile(path, &metrics);
        QVERIFY2(!watchdog.fired(), "the FIFO was opened for reading");
        QCOMPARE(opened.error, error);
        if (!name.isEmpty()) QCOMPARE(opened.path, QFileInfo(path).absoluteFilePath());
        if (error != TFontFileError::None) {
            QVERIFY(opened.families.isEmpty());
            return;
        }
        // Qt draws it, and the face-metrics index knows its file and its line height.
        QCOMPARE(opened.families, QStringList{"Glyvex Opened Test"});
        QVERIFY(QFontDatabase::families().contains("Glyvex Opened Test"));
        QCOMPARE(metrics.fileOf("Glyvex Opened Test"), opened.path);
        QCOMPARE(metrics.filesOf("Glyvex Opened Test"), QStringList{opened.path});
        QFont qfont("Glyvex Opened Test");
        qfont.setPixelSize(40);
        const QFontMetrics qt(qfont);
        QCOMPARE(metrics.lineHeight("Glyvex Opened Test", 40, false, false), qt.ascent() + qt.descent());
    }

    void qtsFamilyListBecomesDistinct_data() {
        QTest::addColumn<QStringList>("qt");
        QTest::addColumn<QStringList>("distinct");
        QTest::newRow("plain") << QStringList{"Alpha", "Beta"} << QStringList{"Alpha", "Beta"};
        QTest::newRow("several foundries") << QStringList{"C059 [UKWN]", "C059 [urw]", "Nimbus Sans [UKWN]",
                                                          "Nimbus Sans [URW ]", "Nimbus Sans [urw]"}
                                           << QStringList{"C059", "Nimbus Sans"};
        QTest::newRow("case") << QStringList{"DejaVu Sans", "Dejavu sans"} << QStringList{"DejaVu Sans"};
        QTest::newRow("bracketed and bare")
            << QStringList{"Gamma [x]", "Gamma", "Gamma [y]"} << QStringList{"Gamma"};
        QTest::newRow("a name that ends in brackets")
            << QStringList{"Literal [x]", "Other"} << QStringList{"Literal [x]", "Other"};
        QTest::newRow("odd brackets")
            << QStringList{"[x]", " [y]", "A [", "]"} << QStringList{"[x]", " [y]", "A [", "]"};
        QTest::newRow("empty") << QStringList{""} << QStringList{};
    }
    void qtsFamilyListBecomesDistinct() {
        QFETCH(QStringList, qt);
        QFETCH(QStringList, distinct);
        QCOMPARE(DistinctFamilies(qt), distinct);
    }

    void openedFamiliesJoinTheScreensOnce() {
        TScreen screen({"Alpha", "Beta"}, 96);
        QCOMPARE(screen.AddFonts({"beta", "Gamma", "gamma", "", "Delta"}), (QStringList{"Gamma", "Delta"}));
        QCOMPARE(screen.Fonts()->ToStringList(), (QStringList{"Alpha", "Beta", "Gamma", "Delta"}));
        QCOMPARE(screen.AddFonts({"Delta"}), QStringList{});
        QCOMPARE(screen.Fonts()->Count(), 4);
    }

    void aFamilyOfSeveralFoundriesIsDrawnInFontconfigsFace() {
        // Given the bare name Qt picks a foundry of its own; the program hands it the one
        // whose face fontconfig prefers, style by style.
        const QStringList distinct = DistinctFamilies(QFontDatabase::families());
        TScreen screen(distinct, 96);
        screen.SetFaceMetrics(std::make_unique<TFaceMetrics>(QString()));
        int checked = 0;
        // Every family Qt lists with brackets.
        QStringList several;
        for (const QString& family : distinct)
            if (!QFontDatabase::families().contains(family)) several << family;
        for (const QString& family : several) {
            for (int style = 0; style < 4; ++style) {
                const bool bold = style & 2, italic = style & 1;
                const QString foundry = FontconfigFoundry(family, bold, italic);
                QVERIFY(!foundry.isEmpty());
                const QString qtName = screen.QtFamily(family, bold, italic);
                QCOMPARE(qtName, family + " [" + foundry + "]");
                // The line height measured for the bare name is that face's, as Qt draws it.
                QFont font(qtName);
                font.setPixelSize(50);
                font.setBold(bold);
                font.setItalic(italic);
                const QFontMetrics qt(font);
                QCOMPARE(screen.FaceMetrics()->lineHeight(family, 50, bold, italic),
                         qt.ascent() + qt.descent());
                ++checked;
            }
        }
        if (checked == 0) QSKIP("no family of several foundries installed (fonts-urw-base35)");
        // A family of one foundry goes to Qt as it is.
        if (distinct.contains("DejaVu Sans"))
            QCOMPARE(screen.QtFamily("DejaVu Sans", true, false), QStringLiteral("DejaVu Sans"));
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TstFontFiles test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fontfiles.moc"
