// The help viewer: shows a named help document in a help window, opened at its
// contents. Help files are HTML documents found by their bare file name next to
// the program (the build tree), in its data directory relative to the program
// (an installed tree, wherever its prefix), or in the desktop's data directories.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class QTextBrowser;

// Help commands the application understands (the values of the window system's help calls).
inline constexpr int HELP_QUIT = 2;
inline constexpr int HELP_CONTENTS = 3;

class THelpViewer {
public:
    THelpViewer();
    ~THelpViewer();
    THelpViewer(const THelpViewer&) = delete;
    THelpViewer& operator=(const THelpViewer&) = delete;

    // Directories searched for a bare file name, in order.
    QStringList SearchPath() const { return FSearchPath; }
    void SetSearchPath(const QStringList& dirs) { FSearchPath = dirs; }
    // SearchPathFor() for this program, its compiled-in data directory and the
    // desktop's data directories (XDG_DATA_HOME, then XDG_DATA_DIRS).
    static QStringList DefaultSearchPath();
    // The program's directory, then the data directory relative to it, then
    // "glyvex" below each data directory; without duplicates, in that order.
    static QStringList SearchPathFor(const QString& programDir, const QString& relativeDataDir,
                                     const QStringList& dataDirs);
    // Full path of a help file; a path with a directory is taken as it is.
    // Empty if the file is not there.
    QString FindFile(const QString& name) const;

    // Shows the file's contents in the help window. A file that cannot be found
    // or read shows a message in the window instead; returns whether it was shown.
    bool ShowContents(const QString& name);
    // Closes the help window, if it is open.
    void Quit();
    // The help window, once it has been opened.
    QTextBrowser* Window() const { return FWindow.get(); }

private:
    QTextBrowser& EnsureWindow();
    void ShowMessage(const QString& name, const QString& reason);

    QStringList FSearchPath;
    std::unique_ptr<QTextBrowser> FWindow;
};
