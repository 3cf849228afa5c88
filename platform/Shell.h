// The desktop shell: opening a target (a web address, a "mailto:" address, a
// file) in the program the desktop chooses for it.
#pragma once

#include <QString>

#include <functional>

using TShellOpen = std::function<bool(const QString& target)>;

// Asks the shell to open the target; false when it could not. The target is
// passed on as it is, blanks included.
bool ShellOpen(const QString& target);
// Replaces how targets are opened (tests record them instead of starting
// programs) and returns the previous way; an empty function restores the desktop's.
TShellOpen SetShellOpen(TShellOpen open);
