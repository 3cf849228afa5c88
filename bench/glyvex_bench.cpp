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
#include <chrono>
#include <cstdio>

namespace {

// Milliseconds on the monotonic clock, which all processes share.
qint64 MonotonicMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
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
    // On the monotonic clock, so the parent can count from before it started this process.
    const qint64 shownAt = MonotonicMs();

    // Alphabet page showing: every resize notification still refreshes the fields.
    const double resizeMs = MedianMs(7, [] { Form1->RefreshEditfields(); });
    // Text page showing: the refresh also gives the fields in view their widgets and paints them.
    Form1->PageControl1->SelectByUser(Form1->TabSheet2);
    QCoreApplication::processEvents();
    auto refreshAndPaint = [] {
        Form1->RefreshEditfields();
        QCoreApplication::processEvents();
    };
    const double textResizeMs = MedianMs(7, refreshAndPaint);
    auto toggleBold = [&] {
        Form1->CheckBox1->Toggle(); // as the user's click: refreshes, the Text page showing
        QCoreApplication::processEvents();
    };
    const double boldFirstMs = MedianMs(1, toggleBold);
    const double boldMs = MedianMs(6, toggleBold);
    int size = Form1->TrackBar1->Position();
    auto newSize = [&] {
        size = size == 14 ? 15 : 14;
        Form1->TrackBar1->MoveByUser(size);
        refreshAndPaint();
    };
    const double sizeFirstMs = MedianMs(1, newSize);
    const double sizeMs = MedianMs(6, newSize);

    std::printf("%d\t%d\t%.1f\t%lld\t%.2f\t%.2f\t%.1f / %.1f\t%.1f / %.1f\t%.1f\n", int(fonts.size()),
                installed, createMs, static_cast<long long>(shownAt), resizeMs, textResizeMs, boldFirstMs,
                boldMs, sizeFirstMs, sizeMs, double(PeakRssKb()) / 1024.0);
    screen.FaceMetrics()->saveCache();
    return 0;
}

// Runs one measurement in a fresh process; returns its output line.
QString Child(const QString& self, int count, const QString& cacheHome) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CACHE_HOME"), cacheHome);
    p.setProcessEnvironment(env);
    const qint64 startedAt = MonotonicMs();
    p.start(self, {QStringLiteral("--one"), QString::number(count)});
    p.waitForFinished(-1);
    // The child reports when its window was shown; turn that into time since its start.
    QStringList cols = QString::fromUtf8(p.readAllStandardOutput()).trimmed().split(u'\t');
    if (cols.size() > 3) cols[3] = QString::number(cols[3].toLongLong() - startedAt);
    return cols.join(u'\t');
}

} // namespace

int main(int argc, char* argv[]) {
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
    out << "names\tinstalled\tcreate_ms\tstart_to_shown_ms\trefresh_resize_ms\ttext_page_resize_ms"
           "\ttext_page_bold_first/median_ms\ttext_page_size_first/median_ms\tpeak_MB\tface_cache\n";
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
