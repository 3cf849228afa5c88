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
//   glyvex_bench --painted     the painted timings in this process, on the X
//                              display in DISPLAY (under a window manager)
//
// Painted timings: the parent starts its own Xvfb with openbox and runs one more
// child per collection on it (platform xcb, face-metrics cache filled). That child
// makes the real windows as the program does and drives them with xdotool, so each
// input reaches the program as an X event (XTest). It counts from the moment the
// input arrives in the program (an application-wide event filter) to the first
// paint of the main window after it, taken once Qt has flushed that paint to the
// X server and a round trip has made sure the server has drawn it ("first"), and
// to the last such paint before the window has been quiet for 400 ms ("settled";
// 1 s for the key held down, whose repeats start after 660 ms).
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
#include <QPointer>
#include <QProcess>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QWindow>

#include <sys/resource.h>
#include <xcb/xcb.h>

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

// ---------------------------------------------------------------------------
// Painted timings on a real X server.

// Notes when input reaches the program and when the main window paints.
class PaintClock : public QObject {
public:
    explicit PaintClock(QWidget* window) : FWindow(window) { qApp->installEventFilter(this); }
    ~PaintClock() override { qApp->removeEventFilter(this); }

    void Arm() {
        FInputAt = -1;
        FPainted = false;
    }
    qint64 InputAt() const { return FInputAt; }
    bool TakePainted() { return std::exchange(FPainted, false); }

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        switch (e->type()) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::MouseMove: // a drag, its button already held
        case QEvent::Wheel:
            if (FInputAt < 0) FInputAt = Now();
            break;
        case QEvent::Paint:
            if (auto* w = qobject_cast<QWidget*>(o); w && w->window() == FWindow && FInputAt >= 0)
                FPainted = true;
            break;
        default:
            break;
        }
        return false;
    }

public:
    static qint64 Now() {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    }

private:
    QPointer<QWidget> FWindow;
    qint64 FInputAt = -1;
    bool FPainted = false;
};

// Waits until the X server has handled everything sent before (a round trip).
void SyncX() {
    if (auto* x = qApp->nativeInterface<QNativeInterface::QX11Application>())
        free(xcb_get_input_focus_reply(x->connection(), xcb_get_input_focus(x->connection()), nullptr));
}

// Input goes through one xdotool that reads its commands line by line: a process started
// for each input would fork this large one each time, and the copy-on-write faults that
// follow (every page written again, the more the more families) would be timed as the
// program's answer, which no user's input costs.
class XInput {
public:
    XInput() {
        FProcess.start(QStringLiteral("xdotool"), {QStringLiteral("-")});
        if (!FProcess.waitForStarted(5000)) std::fprintf(stderr, "xdotool did not start\n");
    }
    ~XInput() {
        FProcess.closeWriteChannel();
        if (!FProcess.waitForFinished(5000)) FProcess.kill();
    }
    void Send(const QStringList& args) {
        FProcess.write(args.join(u' ').toUtf8() + '\n');
        FProcess.waitForBytesWritten(1000);
    }

private:
    QProcess FProcess;
};
XInput* gInput = nullptr;

void Xdotool(const QStringList& args) {
    if (gInput) gInput->Send(args);
}

struct Answer {
    double first = -1, settled = -1; // ms from the input; -1: nothing painted
    int movedBy2s = 0;               // list entries moved on screen within 2 s of the input
};

// Sends one input and follows the main window's paints until it has been quiet.
Answer Follow(PaintClock& clock, const std::function<void()>& send, int quietMs = 400) {
    const qint64 quietUs = qint64(quietMs) * 1000;
    constexpr qint64 kLimitUs = 20'000'000; // beyond any answer seen before this work
    Idle(100);
    clock.Arm();
    const int fromIndex = Form1->ListBox1->ItemIndex();
    const qint64 sentAt = PaintClock::Now();
    send();
    Answer a;
    qint64 lastPaint = -1;
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        const qint64 now = PaintClock::Now();
        const qint64 in = clock.InputAt();
        if (clock.TakePainted()) {
            SyncX();
            lastPaint = PaintClock::Now();
            const double ms = double(lastPaint - in) / 1000.0;
            if (a.first < 0) a.first = ms;
            a.settled = ms;
            if (ms <= 2000.0) a.movedBy2s = Form1->ListBox1->ItemIndex() - fromIndex;
        }
        if (lastPaint >= 0 && now - lastPaint > quietUs) break;
        if (now - sentAt > kLimitUs) break; // the input never came, or nothing painted
        QThread::usleep(200);
    }
    if (clock.InputAt() < 0) std::fprintf(stderr, "an input never reached the program\n");
    return a;
}

// "first median/max settled median/max" over several answers.
QString Figures(std::vector<Answer> v) {
    auto column = [&](double Answer::*field) {
        std::vector<double> x;
        for (const Answer& a : v)
            x.push_back(a.*field);
        std::sort(x.begin(), x.end());
        return QStringLiteral("%1/%2").arg(x[x.size() / 2], 0, 'f', 0).arg(x.back(), 0, 'f', 0);
    };
    return column(&Answer::first) + u' ' + column(&Answer::settled);
}

// A point of the scroll bar's part, in screen coordinates.
QPoint ScrollBarPoint(QScrollBar* bar, QStyle::SubControl part, double along = 0.5) {
    QStyleOptionSlider opt;
    opt.initFrom(bar);
    opt.subControls = QStyle::SC_All;
    opt.orientation = bar->orientation();
    opt.minimum = bar->minimum();
    opt.maximum = bar->maximum();
    opt.sliderPosition = bar->sliderPosition();
    opt.sliderValue = bar->value();
    opt.singleStep = bar->singleStep();
    opt.pageStep = bar->pageStep();
    const QRect r = bar->style()->subControlRect(QStyle::CC_ScrollBar, &opt, part, bar);
    return bar->mapToGlobal(QPoint(r.center().x(), r.top() + int(r.height() * along)));
}

QStringList At(QPoint p) {
    return {QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y())};
}

int RunPainted() {
    QWidget* window = Form1->Widget();
    QWidget* list = Form1->ListBox1->Widget();
    PaintClock clock(window);
    XInput input;
    gInput = &input;
    const auto done = qScopeGuard([] { gInput = nullptr; });
    // Keys go where the window system puts the focus: the main window, its list focused.
    Xdotool({QStringLiteral("search"), QStringLiteral("--name"), QStringLiteral("^Glyvex$"),
             QStringLiteral("windowactivate")});
    QElapsedTimer wait;
    wait.start();
    while (QApplication::activeWindow() != window && wait.elapsed() < 5000)
        Idle(20);
    list->setFocus();
    Idle(500);
    const auto key = [](const char* name) {
        return [name] { Xdotool({QStringLiteral("key"), QString::fromLatin1(name)}); };
    };
    constexpr int kRuns = 9;
    // A moment apart, as a user presses them: the entries beside the selection may be ready.
    std::vector<Answer> down, pageDown, end;
    for (int i = 0; i < kRuns; ++i)
        down.push_back(Follow(clock, key("Down")));
    for (int i = 0; i < kRuns; ++i)
        pageDown.push_back(Follow(clock, key("Next")));
    for (int i = 0; i < kRuns; ++i) {
        end.push_back(Follow(clock, key("End")));
        Follow(clock, key("Home"));
    }
    // A key held for 2 s, repeated as X does by default (after 660 ms, 25 a second); the
    // presses queue up at the program whether it keeps up or not.
    Follow(clock, key("Home"));
    const Answer held = Follow(
        clock,
        [] {
            Xdotool({QStringLiteral("key"), QStringLiteral("Down"), QStringLiteral("sleep"),
                     QStringLiteral("0.66"), QStringLiteral("key"), QStringLiteral("--repeat"),
                     QStringLiteral("33"), QStringLiteral("--delay"), QStringLiteral("40"),
                     QStringLiteral("Down")});
        },
        1000);

    // The Text page, scrolled with the mouse.
    Form1->PageControl1->SelectByUser(Form1->TabSheet2);
    Idle(1500);
    QScrollBar* bar = Form1->ScrollBox1->Widget()->findChild<QScrollBar*>();
    std::vector<Answer> pageClick, arrowClick, wheel, drag;
    // Each scroll starts at least two pages above the end, so it has somewhere to go.
    const auto roomBelow = [] {
        TScrollBox* box = Form1->ScrollBox1;
        if (box->MaxScrollPosition() - box->ScrollPosition() < 2 * box->ClientHeight()) {
            box->ScrollTo(0);
            Idle(1000);
        }
    };
    if (bar && bar->isVisible()) {
        auto click = [&](QStyle::SubControl part, double along) {
            QStringList args = At(ScrollBarPoint(bar, part, along));
            args << QStringLiteral("click") << QStringLiteral("1");
            return [args] { Xdotool(args); };
        };
        Form1->ScrollBox1->ScrollTo(0);
        for (int i = 0; i < kRuns; ++i) {
            roomBelow();
            Xdotool(At(ScrollBarPoint(bar, QStyle::SC_ScrollBarAddPage, 0.9)));
            Idle(300);
            pageClick.push_back(Follow(clock, click(QStyle::SC_ScrollBarAddPage, 0.9)));
        }
        for (int i = 0; i < kRuns; ++i) {
            roomBelow();
            Xdotool(At(ScrollBarPoint(bar, QStyle::SC_ScrollBarAddLine)));
            Idle(300);
            arrowClick.push_back(Follow(clock, click(QStyle::SC_ScrollBarAddLine, 0.5)));
        }
        const QPoint middle =
            Form1->ScrollBox1->Widget()->mapToGlobal(Form1->ScrollBox1->Widget()->rect().center());
        for (int i = 0; i < kRuns; ++i) {
            roomBelow();
            Xdotool(At(middle));
            Idle(300);
            QStringList args = {QStringLiteral("click"),   QStringLiteral("--repeat"), QStringLiteral("10"),
                                QStringLiteral("--delay"), QStringLiteral("1"),        QStringLiteral("5")};
            wheel.push_back(Follow(clock, [args] { Xdotool(args); }));
        }
        for (int i = 0; i < kRuns; ++i) {
            Form1->ScrollBox1->ScrollTo(0);
            Idle(1000);
            const QPoint thumb = ScrollBarPoint(bar, QStyle::SC_ScrollBarSlider);
            const QPoint bottom = bar->mapToGlobal(QPoint(bar->width() / 2, bar->height() + 40));
            Xdotool(At(thumb));
            Idle(300);
            // The thumb is taken first, so the time counts from the drag's first motion,
            // not from the pressed thumb's repaint.
            Xdotool({QStringLiteral("mousedown"), QStringLiteral("1")});
            Idle(300);
            QStringList args = At(QPoint(thumb.x(), (thumb.y() + bottom.y()) / 2));
            args << At(bottom) << QStringLiteral("mouseup") << QStringLiteral("1");
            drag.push_back(Follow(clock, [args] { Xdotool(args); }));
            if (Form1->ScrollBox1->ScrollPosition() != Form1->ScrollBox1->MaxScrollPosition())
                std::fprintf(stderr, "dragging the thumb did not reach the end\n");
        }
    } else {
        std::fprintf(stderr, "the Text page shows no scroll bar\n");
        return 1;
    }
    std::printf("%d\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%d (%.0f/%.0f)\n", Screen->Fonts()->Count(),
                qPrintable(Figures(down)), qPrintable(Figures(pageDown)), qPrintable(Figures(end)),
                qPrintable(Figures(pageClick)), qPrintable(Figures(arrowClick)), qPrintable(Figures(wheel)),
                qPrintable(Figures(drag)), held.movedBy2s, held.first, held.settled);
    return 0;
}

int RunOne(bool painted) {
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
    if (painted) return RunPainted();

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
    if (qEnvironmentVariableIsSet("GLYVEX_BENCH_PHASES")) {
        // One step of the Text page's scroll bar, without painting, and the same with the
        // new fields' widgets made and painted.
        TScrollBox* box = Form1->ScrollBox1;
        Idle(1000);
        const double stepMs = MedianMs(9, [box] { box->ScrollTo(box->ScrollPosition() + 16); });
        const double paintedMs = MedianMs(9, [box] {
            box->ScrollTo(box->ScrollPosition() + 16);
            QCoreApplication::processEvents();
        });
        std::fprintf(stderr, "phases: scroll step %.2f ms, with its paint %.2f ms\n", stepMs, paintedMs);
    }

    std::printf("%d\t%.1f\t%lld\t%.1f / %.1f / %.1f\t%.2f\t%.2f\t%.1f / %.1f\t%.1f / %.1f\t%.1f\n",
                Screen->Fonts()->Count(), createMs, static_cast<long long>(shownAt), arrowMs, arrowMaxMs,
                heldMs, resizeMs, textResizeMs, boldFirstMs, boldMs, sizeFirstMs, sizeMs,
                double(PeakRssKb()) / 1024.0);
    screen.FaceMetrics()->saveCache();
    return 0;
}

// An Xvfb display of our own with openbox on it, for the painted timings; gone with the object.
class XDisplay {
public:
    XDisplay() {
        for (int n = 300; n < 400 && FName.isEmpty(); ++n) {
            if (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) ||
                QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
                continue;
            FServer.start(QStringLiteral("Xvfb"),
                          {QStringLiteral(":%1").arg(n), QStringLiteral("-screen"), QStringLiteral("0"),
                           QStringLiteral("1280x1024x24"), QStringLiteral("-dpi"), QStringLiteral("96"),
                           QStringLiteral("-nolisten"), QStringLiteral("tcp")});
            if (!FServer.waitForStarted()) break;
            QElapsedTimer t;
            t.start();
            while (!QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) && t.elapsed() < 10000 &&
                   FServer.state() == QProcess::Running)
                QThread::msleep(20);
            if (FServer.state() == QProcess::Running) FName = QStringLiteral(":%1").arg(n);
        }
        if (FName.isEmpty()) return;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), FName);
        FWm.setProcessEnvironment(env);
        FWm.start(QStringLiteral("openbox"), {});
        FWm.waitForStarted();
        // Ready once it has announced itself on the root window.
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            QProcess probe;
            probe.setProcessEnvironment(env);
            probe.start(QStringLiteral("xprop"),
                        {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
            probe.waitForFinished();
            if (probe.readAllStandardOutput().contains("window id")) break;
            QThread::msleep(50);
        }
    }
    ~XDisplay() {
        for (QProcess* p : {&FWm, &FServer}) {
            p->terminate();
            p->waitForFinished(3000);
        }
    }
    QString Name() const { return FName; }

private:
    QProcess FServer, FWm;
    QString FName;
};

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

// Runs one measurement in a fresh process; returns its output line. With a display,
// the painted timings on it.
QString Child(const QString& self, const QString& fontconfigFile, const QString& cacheHome,
              const QString& display = QString()) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CACHE_HOME"), cacheHome);
    if (!fontconfigFile.isEmpty()) env.insert(QStringLiteral("FONTCONFIG_FILE"), fontconfigFile);
    if (!display.isEmpty()) {
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    }
    p.setProcessEnvironment(env);
    const qint64 startedAt = MonotonicMs();
    p.start(self, {display.isEmpty() ? QStringLiteral("--one") : QStringLiteral("--painted")});
    p.waitForFinished(-1);
    // Pass on what the child reports, without the offscreen platform's chatter.
    for (const QString& line : QString::fromUtf8(p.readAllStandardError()).split(u'\n'))
        if (!line.isEmpty() && !line.contains(QLatin1String("does not support raise")) &&
            !line.contains(QLatin1String("XDG_RUNTIME_DIR")))
            std::fprintf(stderr, "%s\n", qPrintable(line));
    // The child reports when its window was shown; turn that into time since its start.
    QStringList cols = QString::fromUtf8(p.readAllStandardOutput()).trimmed().split(u'\t');
    if (cols.size() < 3) return QStringLiteral("(run failed)");
    if (!display.isEmpty()) return cols.mid(1).join(u'\t');
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
    if (argc == 2 && (QByteArray(argv[1]) == "--one" || QByteArray(argv[1]) == "--painted")) {
        QApplication app(argc, argv);
        return RunOne(QByteArray(argv[1]) == "--painted");
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
           "\ttext_page_size_first/median_ms\tpeak_MB\tface_cache"
           // Painted, each "first median/max settled median/max" in ms.
           "\tpainted: list_down\tlist_page_down\tlist_end\ttext_page_click\ttext_arrow_click"
           "\ttext_wheel_10\ttext_thumb_to_end\tlist_key_held_2s_entries (first/settled ms)\n";
    // The painted timings need a display of their own with a window manager, and xdotool.
    std::unique_ptr<XDisplay> display;
    if (!QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() &&
        !QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty() &&
        !QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty() &&
        !QStandardPaths::findExecutable(QStringLiteral("xprop")).isEmpty())
        display = std::make_unique<XDisplay>();
    auto measure = [&](const QString& label, const QString& conf) {
        // The first run starts with an empty face-metrics cache; the second finds it
        // filled, as a start after an unchanged one does; the painted run too.
        QTemporaryDir cache;
        // A start with an empty cache reads every font file; one thrown away first brings
        // them into the page cache, so the figure does not depend on what ran before (from
        // a cold page cache 16,500 families take about 2 s longer).
        {
            QTemporaryDir warmUp;
            Child(self, conf, warmUp.path());
        }
        for (const char* state : {"first start", "cached"}) {
            out << label << '\t' << Child(self, conf, cache.path()) << '\t' << state;
            if (QByteArray(state) == "cached")
                out << '\t'
                    << (display && !display->Name().isEmpty()
                            ? Child(self, conf, cache.path(), display->Name())
                            : QStringLiteral("(painted timings need Xvfb, openbox, xdotool, xprop)"));
            out << '\n';
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
