// Shared set-up for the test programs: a Qt application, the screen object with
// a font list the test chooses, and an application object whose exception
// report the test can read.
#pragma once

#include "FormReader.h"
#include "Forms.h"
#include "Registry.h"
#include "Startup.h"

#include <QApplication>
#include <QTest>

struct TestEnvironment {
    explicit TestEnvironment(const QStringList& fonts = {}, int ppi = 96) : screen(fonts, ppi) {
        // Every case starts as a first start: nothing remembered from the case before.
        QFile::remove(TRegIniFile::HivePath());
        RegisterGlyvexClasses();
        application.OnException = [this](const QString& m) { errors << m; };
    }
    TScreen screen;
    TApplication application;
    QStringList errors;
};
