#include "TestMain.h"

#include "HelpViewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

namespace {

void Write(const QString& path, const QByteArray& content) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

} // namespace

class TstHelpViewer : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnvironment> env;

private slots:
    void init() { env = std::make_unique<TestEnvironment>(); }
    void cleanup() { env.reset(); }

    void findsBareNamesAlongTheSearchPathInOrder() {
        QTemporaryDir first, second;
        Write(second.filePath("a.hlp"), "<p>second</p>");
        Write(first.filePath("b.hlp"), "<p>first</p>");
        Write(second.filePath("b.hlp"), "<p>second</p>");
        QDir(first.path()).mkdir("a.hlp"); // a directory is no help file
        THelpViewer viewer;
        viewer.SetSearchPath({first.path(), second.path()});
        QCOMPARE(viewer.FindFile("a.hlp"), second.filePath("a.hlp"));
        QCOMPARE(viewer.FindFile("b.hlp"), first.filePath("b.hlp"));
        QCOMPARE(viewer.FindFile("c.hlp"), QString());
        QCOMPARE(viewer.FindFile(""), QString());
        // A name with a directory is taken as it is.
        QCOMPARE(viewer.FindFile(second.filePath("b.hlp")), second.filePath("b.hlp"));
        QCOMPARE(viewer.FindFile(first.filePath("a.hlp")), QString());
    }

    void searchesBesideTheProgramThenItsDataDirectoryThenTheDesktops() {
        const QStringList path = THelpViewer::SearchPathFor(
            "/opt/gx/bin/", "../share/glyvex",
            {"/home/u/.local/share", "", "/usr/local/share/", "/opt/gx/share", "/usr/share"});
        QCOMPARE(path, QStringList({"/opt/gx/bin", "/opt/gx/share/glyvex", "/home/u/.local/share/glyvex",
                                    "/usr/local/share/glyvex", "/usr/share/glyvex"}));
        // A data directory configured as an absolute path is taken as it is.
        QCOMPARE(THelpViewer::SearchPathFor("/usr/bin", "/srv/gx", {"/usr/share"}),
                 QStringList({"/usr/bin", "/srv/gx", "/usr/share/glyvex"}));
    }

    void theDefaultPathFollowsTheProgramAndTheDesktopsDataDirectories() {
        QTemporaryDir home, shared1, shared2;
        qputenv("XDG_DATA_HOME", home.path().toUtf8());
        qputenv("XDG_DATA_DIRS", (shared1.path() + ':' + shared2.path()).toUtf8());
        const QStringList path = THelpViewer::DefaultSearchPath();
        const QString programDir = QCoreApplication::applicationDirPath();
        QCOMPARE(path.size(), 5);
        QCOMPARE(path[0], programDir);
        QVERIFY2(path[1].endsWith("/glyvex") && QDir::isAbsolutePath(path[1]), qPrintable(path[1]));
        QCOMPARE(path.mid(2), QStringList({home.filePath("glyvex"), shared1.filePath("glyvex"),
                                           shared2.filePath("glyvex")}));

        // The build puts the help beside the program, and that copy wins over any other.
        QDir(home.path()).mkdir("glyvex");
        QDir(shared2.path()).mkdir("glyvex");
        Write(home.filePath("glyvex/glyvex.hlp"), "<p>home</p>");
        Write(shared2.filePath("glyvex/only.hlp"), "<p>shared</p>");
        Write(home.filePath("glyvex/both.hlp"), "<p>home</p>");
        Write(shared2.filePath("glyvex/both.hlp"), "<p>shared</p>");
        THelpViewer viewer;
        QCOMPARE(viewer.FindFile("glyvex.hlp"), QDir(programDir).filePath("glyvex.hlp"));
        QCOMPARE(viewer.FindFile("only.hlp"), shared2.filePath("glyvex/only.hlp"));
        QCOMPARE(viewer.FindFile("both.hlp"), home.filePath("glyvex/both.hlp"));
        qunsetenv("XDG_DATA_HOME");
        qunsetenv("XDG_DATA_DIRS");
    }

    void contentsOpenAtTheTopOfTheNamedFile() {
        QTemporaryDir dir;
        QByteArray body = "<html><head><title>Handbuch</title></head><body><h1 id=\"contents\">Inhalt</h1>";
        for (int i = 0; i < 200; ++i)
            body += "<p id=\"p" + QByteArray::number(i) + "\">Absatz</p>";
        Write(dir.filePath("de.hlp"), body + "</body></html>");
        Write(dir.filePath("en.hlp"), "<html><head><title>Manual</title></head><body>Contents</body></html>");
        Application->HelpViewer()->SetSearchPath({dir.path()});

        QVERIFY(!Application->HelpContents()); // no help file chosen yet
        QVERIFY(!Application->HelpViewer()->Window());

        Application->SetHelpFile("de.hlp");
        QVERIFY(Application->HelpContents());
        QTextBrowser* w = Application->HelpViewer()->Window();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->windowTitle(), QStringLiteral("Handbuch"));
        QVERIFY(w->toPlainText().startsWith("Inhalt"));

        // Opening the contents again starts over at the top.
        w->scrollToAnchor("p150");
        QVERIFY(w->verticalScrollBar()->value() > 0);
        QVERIFY(Application->HelpCommand(HELP_CONTENTS, 0));
        QCOMPARE(w->verticalScrollBar()->value(), 0);
        QVERIFY(w->toPlainText().startsWith("Inhalt"));

        Application->SetHelpFile("en.hlp");
        QVERIFY(Application->HelpContents());
        QCOMPARE(Application->HelpViewer()->Window(), w);
        QCOMPARE(w->windowTitle(), QStringLiteral("Manual"));
        QCOMPARE(w->toPlainText(), QStringLiteral("Contents"));

        QVERIFY(Application->HelpCommand(HELP_QUIT, 0));
        QVERIFY(!w->isVisible());
        QVERIFY(!Application->HelpCommand(99, 0));
    }

    void aMissingFileIsExplainedInTheWindow() {
        QTemporaryDir dir;
        Application->HelpViewer()->SetSearchPath({dir.path()});
        Application->SetHelpFile("glyvexe.hlp");
        QVERIFY(!Application->HelpContents());
        QTextBrowser* w = Application->HelpViewer()->Window();
        QVERIFY(w && w->isVisible());
        QVERIFY(w->windowTitle().contains("glyvexe.hlp"));
        QVERIFY(w->toPlainText().contains("„glyvexe.hlp“ wurde nicht gefunden"));
        QVERIFY(w->toPlainText().contains(dir.path()));
        QVERIFY(env->errors.isEmpty());
    }

    void theShippedDocumentsCoverTheWholeProgram() {
        // Both languages have the same topics, found where the program looks for them.
        const QStringList topics{"contents",  "mainwindow", "fontlist", "alphabet",  "text",
                                 "sizebar",   "statusbar",  "menus",    "menu-file", "menu-view",
                                 "menu-help", "keys",       "language", "fontinfo",  "about",
                                 "splash",    "settings",   "openfile"};
        THelpViewer viewer;
        for (const char* name : {"glyvex.hlp", "glyvexe.hlp"}) {
            const QString path = viewer.FindFile(name);
            QVERIFY2(!path.isEmpty(), name);
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QString html = QString::fromUtf8(f.readAll());
            for (const QString& t : topics)
                QVERIFY2(html.contains(QStringLiteral("id=\"%1\"").arg(t)),
                         qPrintable(name + (" lacks " + t)));
            for (const char* key : {"F1", "+I"})
                QVERIFY2(html.contains(key), name);
        }
    }

    void theProgressWindowIsDescribedAsItBehaves() {
        // The bar shows the share of fonts done; it is never full long before the end.
        THelpViewer viewer;
        const std::pair<const char*, QStringList> files[] = {
            {"glyvex.hlp", {"Anteil", "erst am Ende"}},
            {"glyvexe.hlp", {"share", "only at the end"}},
        };
        for (const auto& [name, says] : files) {
            QFile f(viewer.FindFile(name));
            QVERIFY2(f.open(QIODevice::ReadOnly), name);
            const QString html = QString::fromUtf8(f.readAll());
            const qsizetype from = html.indexOf(QStringLiteral("id=\"splash\""));
            QVERIFY(from >= 0);
            const QString topic = html.mid(from, html.indexOf(QStringLiteral("<h2"), from + 1) - from);
            for (const QString& s : says)
                QVERIFY2(topic.contains(s), qPrintable(name + (" lacks " + s)));
            QVERIFY2(!topic.contains(QStringLiteral("vor dem Ende")) &&
                         !topic.contains(QStringLiteral("before the end")),
                     name);
        }
    }
};

QTEST_MAIN(TstHelpViewer)
#include "tst_helpviewer.moc"
