// A listed font whose file turned into a FIFO: FreeType would wait for ever opening it,
// so the face must never reach a Qt font engine, neither for its line height nor for
// drawing. The font is registered with fontconfig while it is still a real file (as a
// stale fontconfig cache would list it), then replaced.
#include "FaceMetrics.h"
#include "Forms.h"
#include "Graphics.h"
#include "Watchdog.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>

#include <fontconfig/fontconfig.h>

#include <sys/stat.h>

namespace {

const QString kFamily = QStringLiteral("Glyvex Fifo Test");

} // namespace

class TstHostileFonts : public QObject {
    Q_OBJECT
public:
    explicit TstHostileFonts(QString fontFile) : m_fontFile(std::move(fontFile)) {}

private slots:
    void fifoFaceGetsNoFontEngine() {
        if (!QFontDatabase::families().contains(kFamily)) QSKIP("the test font could not be registered");
        // Swap the listed file for a FIFO.
        const QString fifo = m_fontFile + ".fifo";
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QCOMPARE(::rename(QFile::encodeName(fifo).constData(), QFile::encodeName(m_fontFile).constData()), 0);

        TScreen screen(QFontDatabase::families(), 96);
        screen.SetFaceMetrics(std::make_unique<TFaceMetrics>(QString()));
        QVERIFY(screen.FaceMetrics()->unreadable(kFamily, false, false));

        TFont font;
        font.SetName(kFamily);
        font.SetHeight(-20);
        TFifoWatchdog watchdog(m_fontFile, std::chrono::seconds(10));
        const int lineHeight = screen.FontLineHeight(font);
        const QFont qfont = font.ToQFont();
        QImage image(200, 50, QImage::Format_ARGB32);
        image.fill(Qt::white);
        {
            QPainter p(&image);
            p.setFont(qfont);
            p.drawText(5, 40, QStringLiteral("Abc"));
        }
        QVERIFY2(!watchdog.fired(), "a font engine was made for a FIFO");
        QVERIFY(qfont.family() != kFamily);
        QCOMPARE(qfont.pixelSize(), 20);
        const QFontMetrics fm(qfont);
        QCOMPARE(lineHeight, fm.ascent() + fm.descent());
    }

private:
    QString m_fontFile;
};

int main(int argc, char** argv) {
    // A copy of an installed Type 1 font under a family name of its own.
    const QString source = QStringLiteral("/usr/share/fonts/type1/urw-base35/C059-Roman.t1");
    QTemporaryDir dir;
    QFile in(source);
    QString fontFile;
    if (dir.isValid() && in.open(QIODevice::ReadOnly)) {
        QByteArray bytes = in.readAll();
        bytes.replace("/FamilyName (C059)", "/FamilyName (" + kFamily.toLatin1() + ")");
        fontFile = dir.filePath("fifo-test.t1");
        QFile out(fontFile);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()) fontFile.clear();
    }
    if (!fontFile.isEmpty())
        FcConfigAppFontAddFile(nullptr,
                               reinterpret_cast<const FcChar8*>(QFile::encodeName(fontFile).constData()));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TstHostileFonts test(fontFile);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hostilefonts.moc"
