// Glyvex: a font viewer.
#include "FaceMetrics.h"
#include "Forms.h"
#include "Session.h"
#include "Startup.h"

#include <QApplication>
#include <QFontDatabase>
#include <QStringList>

int main(int argc, char* argv[]) {
    QApplication qapp(argc, argv);
    RegisterGlyvexClasses();
    // The face-metrics listing overlaps with Qt building its font database.
    auto metrics = std::make_unique<TFaceMetrics>(FaceMetricsCacheFile());
    metrics->buildInBackground();
    metrics->prefetchSubstitutes(InterfaceFontNames());
    // Qt has taken its own options out of argv; the rest are font files to open.
    const QStringList fontFiles = FontFileArguments(argc, argv);
    TScreen screen(DistinctFamilies(QFontDatabase::families()));
    screen.SetFaceMetrics(std::move(metrics));
    int result = 0;
    {
        TApplication application;
        // The end of the session (a signal, the session manager, the display gone) ends the
        // program as "Beenden" does; without a display no message loop runs again, so the
        // forms are destroyed (and save) at once.
        TSessionEnd sessionEnd([] { Application->EndSession(); }, [] { Application->DestroyComponents(); });
        Guard([&] { result = RunGlyvex(fontFiles); });
    }
    screen.FaceMetrics()->saveCache();
    return result;
}
