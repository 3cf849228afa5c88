// The font-info window: the selected family, its font file, and copying that file.
#include "TestMain.h"

#include "FaceMetrics.h"
#include "Startup.h"
#include "Unit2.h"
#include "Unit4.h"
#include "unit1.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TstFontInfo : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<QTemporaryDir> dir;
    QString fontFile;
    QByteArray fontData;

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        fontFile = dir->filePath("fonts/AlphaSans-Regular.ttf");
        QDir().mkpath(dir->filePath("fonts"));
        for (int i = 0; i < 50000; ++i)
            fontData += char(i * 7);
        QFile f(fontFile);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(fontData);
        f.close();

        env = std::make_unique<TestEnvironment>(QStringList{"Gamma Mono", "Alpha Sans", "Beta Serif"});
        RegisterGlyvexClasses();
        TFaceInfo alpha;
        alpha.families = {"Alpha Sans"};
        alpha.file = fontFile;
        TFaceInfo gamma;
        gamma.families = {"Gamma Mono"};
        gamma.file = dir->filePath("fonts/missing.ttf"); // listed, but not on disk
        Screen->SetFaceMetrics(
            std::make_unique<TFaceMetrics>(TFaceMetrics::fromFaces({alpha, gamma}, QString())));
        Form2 = TForm::Create<TForm2>(Application);
        Application->CreateForm(Form1);
        Application->CreateForm(Form4);
    }
    void cleanup() {
        env.reset();
        dir.reset();
        Form1 = nullptr;
        Form2 = nullptr;
        Form4 = nullptr;
    }

    void itShowsTheSelectedFamilyWhenShownAndFollowsTheList() {
        Form1->FontInfo1Click(Form1->FontInfo1);
        QCOMPARE(Form4->Label1->Caption(), QStringLiteral("Alpha Sans"));
        QCOMPARE(Form4->Label3->Caption(), QStringLiteral("AlphaSans-Regular.ttf"));
        QCOMPARE(Form4->Label3->Hint(), fontFile);
        QVERIFY(Form4->Button1->Enabled());

        Form1->ListBox1->SelectByUser(1);
        QCOMPARE(Form4->Label1->Caption(), QStringLiteral("Beta Serif"));
        QCOMPARE(Form4->Label3->Caption(), QStringLiteral("-"));
        QVERIFY(!Form4->Button1->Enabled());

        // A file that the listing names but that is gone counts as none.
        Form1->ListBox1->SelectByUser(2);
        QCOMPARE(Form4->Label1->Caption(), QStringLiteral("Gamma Mono"));
        QCOMPARE(Form4->Label3->Caption(), QStringLiteral("-"));

        // Hidden, it is left alone; shown again, it catches up.
        Form1->FontInfo1Click(Form1->FontInfo1);
        Form1->ListBox1->SelectByUser(0);
        QCOMPARE(Form4->Label1->Caption(), QStringLiteral("Gamma Mono"));
        Form1->FontInfo1Click(Form1->FontInfo1);
        QCOMPARE(Form4->Label1->Caption(), QStringLiteral("Alpha Sans"));

        // A double click on a per-font field selects its font too.
        Form1->Edit99DblClick(Form1->FindComponent("MyEdit2"));
        QCOMPARE(Form4->Label1->Caption(), QStringLiteral("Beta Serif"));
    }

    void kopierenSavesACopyWhereTheUserChooses() {
        Form1->FontInfo1Click(Form1->FontInfo1);
        QString suggested;
        QString answer = dir->filePath("copy.ttf");
        Form4->AskSaveFileName = [&](const QString& s) {
            suggested = s;
            return answer;
        };
        auto* button = static_cast<QPushButton*>(Form4->Button1->Widget());
        button->click();
        QCOMPARE(QFileInfo(suggested).fileName(), QStringLiteral("AlphaSans-Regular.ttf"));
        QCOMPARE(ReadAll(answer), fontData);

        // An existing file is replaced.
        QFile old(answer);
        QVERIFY(old.open(QIODevice::WriteOnly | QIODevice::Truncate));
        old.write("old");
        old.close();
        button->click();
        QCOMPARE(ReadAll(answer), fontData);

        // Cancelling writes nothing.
        answer = dir->filePath("cancelled.ttf");
        Form4->AskSaveFileName = [](const QString&) { return QString(); };
        button->click();
        QVERIFY(!QFile::exists(answer));
        QVERIFY(env->errors.isEmpty());
    }

    void copyFailuresAreReported() {
        Form1->FontInfo1Click(Form1->FontInfo1);
        const QString target = dir->filePath("no/such/dir/copy.ttf");
        Form4->AskSaveFileName = [&](const QString&) { return target; };
        auto* button = static_cast<QPushButton*>(Form4->Button1->Widget());
        button->click();
        QCOMPARE(env->errors.size(), 1);
        QVERIFY(env->errors[0].contains(target));
        QVERIFY(!QFile::exists(target));

        // The font file vanished after it was shown.
        const QString second = dir->filePath("second.ttf");
        Form4->AskSaveFileName = [&](const QString&) { return second; };
        QVERIFY(QFile::remove(fontFile));
        button->click();
        QCOMPARE(env->errors.size(), 2);
        QVERIFY(env->errors[1].contains(fontFile));
        QVERIFY(!QFile::exists(second));
    }
};

QTEST_MAIN(TstFontInfo)
#include "tst_fontinfo.moc"
