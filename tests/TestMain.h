// Shared set-up for the test programs: a Qt application, the screen object with
// a font list the test chooses, and an application object whose exception
// report the test can read.
#pragma once

#include "FormReader.h"
#include "Forms.h"
#include "Registry.h"

// A test sees the headers of the layer it links and those below it, and registers the
// classes of those layers, so its definitions may name them.
#if __has_include("Startup.h")
#include "Startup.h"
#endif
#if __has_include("CustomControls.h")
#include "CustomControls.h"
#endif
#if __has_include("SettingsClasses.h")
#include "SettingsClasses.h"
#endif
#if __has_include("Trans.h")
#include "Trans.h"
#endif

#include <QApplication>
#include <QTest>

inline void RegisterTestClasses() {
#if __has_include("Startup.h")
    RegisterGlyvexClasses();
#else
    RegisterStandardClasses();
#if __has_include("CustomControls.h")
    RegisterCustomControls();
#endif
#if __has_include("SettingsClasses.h")
    RegisterSettingsClasses();
#endif
#if __has_include("Trans.h")
    TClassRegistry::Register<TTranslator>();
#endif
#endif
}

struct TestEnvironment {
    explicit TestEnvironment(const QStringList& fonts = {}, int ppi = 96) : screen(fonts, ppi) {
        // Every case starts as a first start: nothing remembered from the case before.
        QFile::remove(TRegIniFile::HivePath());
        RegisterTestClasses();
        application.OnException = [this](const QString& m) { errors << m; };
    }
    TScreen screen;
    TApplication application;
    QStringList errors;
};
