// Measures how Glyvex scales with the number of installed font families: the
// time from the start of the process to the main window shown, making the main
// window with its per-font fields, an arrow key in the font list until the
// preview and the status bar show the next family, one Text-page refresh after a
// resize, after toggling Bold and after a new size, and peak memory.
//
//   glyvex_bench [N ...]       every figure for the installed families and for
//                              synthetic collections of N families (default
//                              1500 5000 16500), each once with an empty and once
//                              with a filled face-metrics cache
//   glyvex_bench --one         one run in this process, with the fonts that
//                              fontconfig shows it
//   glyvex_bench --hive        only the settings figures: reading and writing a
//                              registry hive of 100,000 keys (also given after the
//                              font figures)
//
// A synthetic collection is the one bench/make_fontset.py N made: its fontconfig
// configuration $GLYVEX_FONTSETS/N/fonts.conf (default /work/fontsets) becomes the
// child's FONTCONFIG_FILE, so the child sees exactly those fonts plus the system's.
// Each run happens in a fresh process, so peak memory is per run.
#include "FaceMetrics.h"
#include "Forms.h"
#include "Registry.h"
#include "Startup.h"
#include "Unit2.h"
#include "unit1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
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

// What the user leaves the program between two actions: time with an idle event loop.
void Idle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

int RunOne() {
    // The start-up of glyvex's own main procedure, step by step.
    RegisterGlyvexClasses();
    QElapsedTimer phase;
    phase.start();
    auto metrics = std::make_unique<TFaceMetrics>(FaceMetricsCacheFile());
    metrics->buildInBackground();
    metrics->prefetchSubstitutes(InterfaceFontNames());
    const QStringList families = DistinctFamilies(QFontDatabase::families());
    const double familiesMs = Ms(phase.nsecsElapsed());
    TScreen screen(families);
    screen.SetFaceMetrics(std::move(metrics));
    TApplication application;

    QElapsedTimer t;
    t.start();
    CreateGlyvexForms();
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
    const double showMs = Ms(t.nsecsElapsed()) - createMs;
    if (qEnvironmentVariableIsSet("GLYVEX_BENCH_PHASES"))
        std::fprintf(stderr, "phases: Qt family list %.1f ms, windows made %.1f ms, shown %.1f ms\n",
                     familiesMs, createMs, showMs);
    // For profiling the start alone.
    if (qEnvironmentVariableIsSet("GLYVEX_BENCH_START_ONLY")) return 0;
    Idle(300); // the program keeps the face metrics once its window is up

    // Arrow keys in the font list, a moment apart as a user presses them.
    Idle(100);
    QWidget* list = Form1->ListBox1->Widget();
    list->setFocus();
    Idle(50);
    std::vector<double> arrows;
    for (int i = 0; i < 9; ++i) {
        const int before = Form1->ListBox1->ItemIndex();
        QElapsedTimer k;
        k.start();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        QCoreApplication::sendEvent(list, &press);
        QCoreApplication::processEvents(); // paints the preview and the status bar
        arrows.push_back(Ms(k.nsecsElapsed()));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Down, Qt::NoModifier);
        QCoreApplication::sendEvent(list, &release);
        if (Form1->ListBox1->ItemIndex() != before + 1 ||
            Form1->StatusBar1->Panels()->Items(1)->Text() != Form1->SelectedFamily())
            std::fprintf(stderr, "arrow key did not select the next family\n");
        Idle(150);
    }
    std::sort(arrows.begin(), arrows.end());
    const double arrowMs = arrows[arrows.size() / 2], arrowMaxMs = arrows.back();
    // The key held down: the next step comes before the window was idle.
    const double heldMs = MedianMs(9, [list] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier, QString(), true);
        QCoreApplication::sendEvent(list, &press);
        QCoreApplication::processEvents();
    });
    Idle(100);

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
    // The user reads the page a moment before pressing Bold; the program may use that time.
    Idle(2000);
    const double boldFirstMs = MedianMs(1, toggleBold);
    const double boldMs = MedianMs(6, toggleBold);
    // One step of the slider (an arrow key on it), back and forth.
    const int from = Form1->TrackBar1->Position();
    const int to = from < Form1->TrackBar1->Max() ? from + 1 : from - 1;
    int size = from;
    auto newSize = [&] {
        size = size == from ? to : from;
        Form1->TrackBar1->MoveByUser(size);
        refreshAndPaint();
    };
    Idle(2000);
    const double sizeFirstMs = MedianMs(1, newSize);
    const double sizeMs = MedianMs(6, newSize);

    std::printf("%d\t%.1f\t%lld\t%.1f / %.1f / %.1f\t%.2f\t%.2f\t%.1f / %.1f\t%.1f / %.1f\t%.1f\n",
                Screen->Fonts()->Count(), createMs, static_cast<long long>(shownAt), arrowMs, arrowMaxMs,
                heldMs, resizeMs, textResizeMs, boldFirstMs, boldMs, sizeFirstMs, sizeMs,
                double(PeakRssKb()) / 1024.0);
    screen.FaceMetrics()->saveCache();
    return 0;
}

// The settings store with a hive of `keys` keys of two values each, in a private
// configuration directory: opening it (reading and parsing the file), saving one
// change to a file nobody else touched, and saving one after another copy
// rewrote the file (read again, changes replayed). Medians of five runs.
void HiveFigures(QTextStream& out, int keys) {
    QTemporaryDir config;
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    const QString path = TRegIniFile::HivePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    {
        QByteArray text = "Windows Registry Editor Version 5.00\n\n";
        for (int i = 0; i < keys; ++i)
            text += "[HKEY_CURRENT_USER\\Software\\Bench\\Key" + QByteArray::number(i) +
                    "]\n\"Name\"=\"Value " + QByteArray::number(i) + "\"\n\"Flags\"=\"0\"\n\n";
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size()) {
            out << "hive\t(cannot write " << path << ")\n";
            return;
        }
    }
    const qint64 bytes = QFileInfo(path).size();
    int round = 0;
    const double readMs = MedianMs(5, [] { TRegIniFile reg(QStringLiteral("Software\\Bench")); });
    const double writeMs = MedianMs(5, [&] {
        TRegIniFile reg(QStringLiteral("Software\\Bench"));
        reg.WriteString(QStringLiteral("Key7"), QStringLiteral("Name"), QString::number(++round));
        reg.UpdateFile();
    });
    std::vector<double> merged;
    for (int i = 0; i < 5; ++i) {
        TRegIniFile reg(QStringLiteral("Software\\Bench"));
        {
            TRegIniFile other(QStringLiteral("Software\\Bench"));
            other.WriteString(QStringLiteral("Key8"), QStringLiteral("Name"), QString::number(++round));
            other.UpdateFile();
        }
        reg.WriteString(QStringLiteral("Key9"), QStringLiteral("Name"), QString::number(++round));
        QElapsedTimer t;
        t.start();
        reg.UpdateFile();
        merged.push_back(Ms(t.nsecsElapsed()));
    }
    std::sort(merged.begin(), merged.end());
    out << "hive_keys\tfile_MB\tread_ms\tsave_ms\tsave_after_another_copy_ms\n"
        << keys << '\t' << QString::number(double(bytes) / 1e6, 'f', 1) << '\t'
        << QString::number(readMs, 'f', 1) << '\t' << QString::number(writeMs, 'f', 1) << '\t'
        << QString::number(merged[merged.size() / 2], 'f', 1) << '\n';
    out.flush();
    if (saved.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", saved);
}

// Runs one measurement in a fresh process; returns its output line.
QString Child(const QString& self, const QString& fontconfigFile, const QString& cacheHome) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CACHE_HOME"), cacheHome);
    if (!fontconfigFile.isEmpty()) env.insert(QStringLiteral("FONTCONFIG_FILE"), fontconfigFile);
    p.setProcessEnvironment(env);
    const qint64 startedAt = MonotonicMs();
    p.start(self, {QStringLiteral("--one")});
    p.waitForFinished(-1);
    // Pass on what the child reports, without the offscreen platform's chatter.
    for (const QString& line : QString::fromUtf8(p.readAllStandardError()).split(u'\n'))
        if (!line.isEmpty() && !line.contains(QLatin1String("does not support raise")) &&
            !line.contains(QLatin1String("XDG_RUNTIME_DIR")))
            std::fprintf(stderr, "%s\n", qPrintable(line));
    // The child reports when its window was shown; turn that into time since its start.
    QStringList cols = QString::fromUtf8(p.readAllStandardOutput()).trimmed().split(u'\t');
    if (cols.size() < 3) return QStringLiteral("(run failed)");
    const qint64 startMs = cols[2].toLongLong() - startedAt;
    cols[2] = QString::number(startMs);
    // Time per family, so collections of different sizes compare directly.
    const int families = std::max(1, cols[0].toInt());
    cols.insert(3, QString::number(double(startMs) * 1000.0 / families, 'f', 1));
    return cols.join(u'\t');
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 2 && QByteArray(argv[1]) == "--one") {
        QApplication app(argc, argv);
        return RunOne();
    }
    QCoreApplication app(argc, argv);
    if (argc == 2 && QByteArray(argv[1]) == "--hive") {
        QTextStream out(stdout);
        HiveFigures(out, 100000);
        return 0;
    }
    const QString self = QCoreApplication::applicationFilePath();
    QStringList sets;
    for (int i = 1; i < argc; ++i)
        sets << QString::fromLocal8Bit(argv[i]);
    if (sets.isEmpty()) sets = {QStringLiteral("1500"), QStringLiteral("5000"), QStringLiteral("16500")};
    const QString root = qEnvironmentVariableIsEmpty("GLYVEX_FONTSETS")
                             ? QStringLiteral("/work/fontsets")
                             : qEnvironmentVariable("GLYVEX_FONTSETS");

    QTextStream out(stdout);
    out << "set\tfamilies\tcreate_ms\tstart_to_shown_ms\tstart_us_per_family\tarrow_key_median/max/held_ms"
           "\trefresh_resize_ms\ttext_page_resize_ms\ttext_page_bold_first/median_ms"
           "\ttext_page_size_first/median_ms\tpeak_MB\tface_cache\n";
    auto measure = [&](const QString& label, const QString& conf) {
        // The first run starts with an empty face-metrics cache; the second finds it
        // filled, as a start after an unchanged one does.
        QTemporaryDir cache;
        for (const char* state : {"first start", "cached"}) {
            out << label << '\t' << Child(self, conf, cache.path()) << '\t' << state << '\n';
            out.flush();
        }
    };
    measure(QStringLiteral("installed"), QString());
    for (const QString& n : sets) {
        const QString conf = root + u'/' + n + QStringLiteral("/fonts.conf");
        if (!QFileInfo::exists(conf)) {
            out << n << "\t(no collection: run bench/make_fontset.py " << n << ")\n";
            continue;
        }
        measure(n, conf);
    }
    HiveFigures(out, 100000);
    return 0;
}
