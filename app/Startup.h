// The main procedure and what it needs around it.
#pragma once

#include <QString>
#include <QStringList>

// Registers every component class that stored definitions may name.
void RegisterGlyvexClasses();
// Where face metrics are kept between runs.
QString FaceMetricsCacheFile();
// The font names the program's windows ask for first: the application's default font
// and those the window definitions name. A hint for work done ahead; never required.
QStringList InterfaceFontNames();
// Makes the program's windows, the splash showing meanwhile: what the main procedure does
// before the main window is shown and the message loop runs. The font files given are
// opened for the run; their families join the installed ones, the first family of the
// first file is selected, and paths that could not be opened are reported once the
// main window shows.
void CreateGlyvexForms(const QStringList& fontFiles = {});
// The main procedure, once the Qt application, screen and application objects exist.
int RunGlyvex(const QStringList& fontFiles = {});
// The program's arguments (after Qt's own): font files to open for the run.
QStringList FontFileArguments(int argc, char* argv[]);
