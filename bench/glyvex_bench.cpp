// Measures how Glyvex scales with the number of installed font families: the
// time to make the main window with its per-font fields, one Text-page refresh
// after a resize, after toggling Bold and after a new size, the time from the
// start of the process to the main window shown, and peak memory.
//
//   glyvex_bench              every figure for the installed families and for
//                             lists of 250, 500, 1000 and 2000 names
//   glyvex_bench --one N      one run in this process (N = 0: the installed families)
//
// Lists of N names cycle through the installed families, so every name is a
// real font. Each run happens in a fresh process, so peak memory is per run.
#include "FaceMetrics.h"
#include "Forms.h"
#include "Startup.h"
#include "Unit2.h"
#include "unit1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QWindow>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

namespace {

QElapsedTimer& Clock() {
    static QElapsedTimer t;
    return t;
}

double Ms(qint64 ns) {
    return double(ns) / 1e6;
}

// Median of several runs of f, in milliseconds.
template <class F> double MedianMs(int runs, F&& f) {
    std::vector<double> v;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        v.push_back(Ms(t.nsecsElapsed()));
    }
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long PeakRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

int RunOne(int count) {
    const qint64 atMain = Clock().nsecsElapsed();
    QStringList fonts = QFontDatabase::families();
    const int installed = int(fonts.size());
    if (count > 0 && !fonts.isEmpty()) {
        QStringList cycled;
        for (int i = 0; i < count; ++i)
            cycled << fonts[i % fonts.size()];
        fonts = cycled;
    }
    RegisterGlyvexClasses();
    TScreen screen(fonts);
    screen.SetFaceMetrics(std::make_unique<TFaceMetrics>(FaceMetricsCacheFile()));
    TApplication application;
    Application->SetTitle(QStringLiteral("Glyvex"));

    QElapsedTimer t;
    t.start();
    Form2 = TForm::Create<TForm2>(Application);
    Form2->Label1->SetCaption(QStringLiteral("Reading..."));
    Form2->Show();
    Form2->Update();
    Application->CreateForm(Form1);
    const double createMs = Ms(t.nsecsElapsed());

    Form1->Show();
    QWindow* win = Form1->Widget()->windowHandle();
    QElapsedTimer wait;
    wait.start();
    while (win && !win->isExposed() && wait.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::processEvents();
    const double shownMs = Ms(Clock().nsecsElapsed() - atMain);

    // Resize: same size, style and text, as every resize notification refreshes.
    const double resizeMs = MedianMs(7, [] { Form1->RefreshEditfields(); });
    const double boldMs = MedianMs(6, [] {
        Form1->CheckBox1->SetChecked(!Form1->CheckBox1->Checked());
        Form1->RefreshEditfields();
    });
    int size = Form1->TrackBar1->Position();
    const double sizeMs = MedianMs(6, [&] {
        size = size == 14 ? 15 : 14;
        Form1->TrackBar1->SetPosition(size);
        Form1->RefreshEditfields();
    });
    // With the Text page showing, the refresh also realises the fields in view.
    Form1->PageControl1->SetActivePage(Form1->TabSheet2);
    QCoreApplication::processEvents();
    const double textPageMs = MedianMs(5, [] {
        Form1->RefreshEditfields();
        QCoreApplication::processEvents();
    });
    QCoreApplication::processEvents();

    std::printf("%d\t%d\t%.1f\t%.1f\t%.2f\t%.1f\t%.1f\t%.1f\t%.1f\n", int(fonts.size()), installed, createMs,
                shownMs, resizeMs, boldMs, sizeMs, textPageMs, double(PeakRssKb()) / 1024.0);
    screen.FaceMetrics()->saveCache();
    return 0;
}

// Runs one measurement in a fresh process; returns its output line.
QString Child(const QString& self, int count, const QString& cacheHome) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CACHE_HOME"), cacheHome);
    p.setProcessEnvironment(env);
    p.start(self, {QStringLiteral("--one"), QString::number(count)});
    p.waitForFinished(-1);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

} // namespace

int main(int argc, char* argv[]) {
    Clock().start();
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 3 && QByteArray(argv[1]) == "--one") {
        QApplication app(argc, argv);
        return RunOne(QByteArray(argv[2]).toInt());
    }
    QCoreApplication app(argc, argv);
    const QString self = QCoreApplication::applicationFilePath();
    QTemporaryDir cache;
    QTextStream out(stdout);
    out << "names\tinstalled\tcreate_ms\tstart_to_shown_ms\trefresh_resize_ms\trefresh_bold_ms\trefresh_size_"
           "ms"
           "\trefresh_textpage_ms\tpeak_MB\tface_cache\n";
    // The first run of the installed list starts with an empty face-metrics cache;
    // the second finds it filled, as a start after an unchanged one does.
    out << Child(self, 0, cache.path()) << "\tfirst start\n";
    out.flush();
    out << Child(self, 0, cache.path()) << "\tcached\n";
    out.flush();
    for (int n : {250, 500, 1000, 2000}) {
        out << Child(self, n, cache.path()) << "\tcached\n";
        out.flush();
    }
    return 0;
}
