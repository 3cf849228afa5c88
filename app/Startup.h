// The main procedure and what it needs around it.
#pragma once

#include <QString>

// Registers every component class that stored definitions may name.
void RegisterGlyvexClasses();
// Where face metrics are kept between runs.
QString FaceMetricsCacheFile();
// The main procedure, once the Qt application, screen and application objects exist.
int RunGlyvex();
