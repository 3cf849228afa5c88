#include "HelpViewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QUrl>

THelpViewer::THelpViewer() : FSearchPath(DefaultSearchPath()) {}

THelpViewer::~THelpViewer() = default;

// Where the installed help lies relative to the installed program; the build
// computes it from its install directories, so any prefix works.
#ifndef GLYVEX_RELATIVE_DATADIR
#define GLYVEX_RELATIVE_DATADIR "../share/glyvex"
#endif

QStringList THelpViewer::DefaultSearchPath() {
    return SearchPathFor(QCoreApplication::applicationDirPath(), QStringLiteral(GLYVEX_RELATIVE_DATADIR),
                         QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation));
}

QStringList THelpViewer::SearchPathFor(const QString& programDir, const QString& relativeDataDir,
                                       const QStringList& dataDirs) {
    QStringList path{QDir::cleanPath(programDir)};
    if (!relativeDataDir.isEmpty())
        path << QDir::cleanPath(QDir::isAbsolutePath(relativeDataDir) ? relativeDataDir
                                                                      : programDir + u'/' + relativeDataDir);
    for (const QString& dir : dataDirs)
        if (!dir.isEmpty()) path << QDir::cleanPath(dir + QStringLiteral("/glyvex"));
    path.removeDuplicates();
    return path;
}

QString THelpViewer::FindFile(const QString& name) const {
    if (name.isEmpty()) return {};
    const QFileInfo direct(name);
    if (name.contains(u'/') || direct.isAbsolute())
        return direct.isFile() ? direct.absoluteFilePath() : QString();
    for (const QString& dir : FSearchPath) {
        const QFileInfo candidate(QDir(dir), name);
        if (candidate.isFile()) return candidate.absoluteFilePath();
    }
    return {};
}

QTextBrowser& THelpViewer::EnsureWindow() {
    if (!FWindow) {
        FWindow = std::make_unique<QTextBrowser>();
        FWindow->setWindowFlag(Qt::Window);
        FWindow->setOpenExternalLinks(false);
        FWindow->setOpenLinks(true);
        FWindow->resize(640, 520);
    }
    return *FWindow;
}

bool THelpViewer::ShowContents(const QString& name) {
    QTextBrowser& w = EnsureWindow();
    const QString path = FindFile(name);
    bool shown = false;
    if (path.isEmpty()) {
        ShowMessage(name, QStringLiteral("Die Hilfedatei „%1“ wurde nicht gefunden.<br>"
                                         "The help file \"%1\" could not be found.")
                              .arg(name.toHtmlEscaped()));
    } else if (QFile f(path); !f.open(QIODevice::ReadOnly)) {
        ShowMessage(name, QStringLiteral("Die Hilfedatei „%1“ kann nicht gelesen werden.<br>"
                                         "The help file \"%1\" cannot be read.")
                              .arg(path.toHtmlEscaped()));
    } else {
        f.close();
        const QUrl url = QUrl::fromLocalFile(path);
        // The same file again is read afresh and starts over at its contents.
        if (w.source() == url)
            w.reload();
        else
            w.setSource(url, QTextDocument::HtmlResource);
        w.verticalScrollBar()->setValue(0);
        const QString title = w.documentTitle();
        w.setWindowTitle(title.isEmpty() ? QFileInfo(path).fileName() : title);
        shown = true;
    }
    w.show();
    w.raise();
    w.activateWindow();
    return shown;
}

void THelpViewer::ShowMessage(const QString& name, const QString& reason) {
    QTextBrowser& w = EnsureWindow();
    QString dirs;
    for (const QString& d : FSearchPath)
        dirs += QStringLiteral("<li>%1</li>").arg(d.toHtmlEscaped());
    w.setSource(QUrl());
    w.setHtml(QStringLiteral("<h2>Hilfe nicht verfügbar / Help not available</h2><p>%1</p>"
                             "<p>Gesucht in / Searched in:</p><ul>%2</ul>")
                  .arg(reason, dirs));
    w.setWindowTitle(QStringLiteral("Hilfe – %1").arg(name));
}

void THelpViewer::Quit() {
    if (FWindow) FWindow->close();
}
