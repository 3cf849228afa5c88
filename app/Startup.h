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
// before the main window is shown and the message loop runs.
void CreateGlyvexForms();
// The main procedure, once the Qt application, screen and application objects exist.
int RunGlyvex();
