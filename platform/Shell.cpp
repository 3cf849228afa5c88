#include "Shell.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

namespace {

bool DesktopOpen(const QString& target) {
    // Addresses with a scheme go as they are; anything else may be a file or a
    // bare web address, which the desktop's own guess resolves.
    const QUrl url = QUrl(target, QUrl::StrictMode).scheme().size() > 1
                         ? QUrl(target)
                         : QUrl::fromUserInput(target, QDir::currentPath(), QUrl::AssumeLocalFile);
    return url.isValid() && QDesktopServices::openUrl(url);
}

// The one hook of the shell; the default is the desktop's own.
TShellOpen& Hook() {
    static TShellOpen hook;
    return hook;
}

} // namespace

bool ShellOpen(const QString& target) {
    const TShellOpen& hook = Hook();
    return hook ? hook(target) : DesktopOpen(target);
}

TShellOpen SetShellOpen(TShellOpen open) {
    TShellOpen previous = std::move(Hook());
    Hook() = std::move(open);
    return previous;
}
