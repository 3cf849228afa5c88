// Glyvex: a font viewer.
#include "FaceMetrics.h"
#include "Forms.h"
#include "Startup.h"

#include <QApplication>
#include <QFontDatabase>

int main(int argc, char* argv[]) {
    QApplication qapp(argc, argv);
    RegisterGlyvexClasses();
    TScreen screen(QFontDatabase::families());
    screen.SetFaceMetrics(std::make_unique<TFaceMetrics>(FaceMetricsCacheFile()));
    int result = 0;
    {
        TApplication application;
        Guard([&] { result = RunGlyvex(); });
    }
    screen.FaceMetrics()->saveCache();
    return result;
}
