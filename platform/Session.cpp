#include "Session.h"

#include "Classes.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The handler may only touch these: a pipe whose reading end the event loop watches, and
// whether a signal came already.
int gPipe[2] = {-1, -1};
volatile sig_atomic_t gSignalled = 0;
TSessionEnd* gSession = nullptr;
QtMessageHandler gPreviousHandler = nullptr;

constexpr int kSignals[] = {SIGTERM, SIGHUP};

extern "C" void OnSignal(int sig) {
    if (gSignalled) {
        // A second signal: the user (or the session) will not wait; end now, as the
        // signal would have without us. The stores never leave half a file behind.
        std::signal(sig, SIG_DFL);
        raise(sig);
        return;
    }
    gSignalled = 1;
    const int saved = errno;
    const char byte = char(sig);
    [[maybe_unused]] const ssize_t n = write(gPipe[1], &byte, 1);
    errno = saved;
}

void SetHandler(void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : kSignals)
        sigaction(sig, &action, nullptr);
}

// Qt's X11 connection reports a broken connection with this warning and then ends the
// program; it is the only word a program gets that its display is gone.
void OnMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (gPreviousHandler)
        gPreviousHandler(type, context, message);
    else
        qt_message_output(type, context, message); // never reached: Qt's default is the previous
    if (type == QtWarningMsg && gSession && message.startsWith(QLatin1String("The X11 connection broke")) &&
        QThread::currentThread() == qApp->thread()) {
        TSessionEnd* session = gSession;
        gSession = nullptr;
        session->DisplayGone();
    }
}

} // namespace

TSessionEnd::TSessionEnd(std::function<void()> endSession, std::function<void()> displayGone)
    : FEndSession(std::move(endSession)), FDisplayGone(std::move(displayGone)) {
    if (gPipe[0] < 0 && pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        gPipe[0] = gPipe[1] = -1;
        qWarning("no pipe for the end of the session: %s", strerror(errno));
    }
    gSignalled = 0;
    // Drop a byte of an earlier instance's signal.
    char byte;
    while (gPipe[0] >= 0 && read(gPipe[0], &byte, 1) > 0) {
    }
    if (gPipe[0] >= 0) {
        FNotifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
        connect(FNotifier.data(), &QSocketNotifier::activated, this, [this] { SignalArrived(); });
        SetHandler(OnSignal);
    }
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { End(); });
    gSession = this;
    gPreviousHandler = qInstallMessageHandler(OnMessage);
}

TSessionEnd::~TSessionEnd() {
    SetHandler(SIG_DFL);
    if (gSession == this) gSession = nullptr;
    qInstallMessageHandler(gPreviousHandler);
    gPreviousHandler = nullptr;
}

void TSessionEnd::SignalArrived() {
    char byte;
    while (read(gPipe[0], &byte, 1) > 0) {
    }
    End();
}

void TSessionEnd::End() {
    if (FEnded) return;
    FEnded = true;
    // From now on a signal ends the program at once.
    gSignalled = 1;
    Guard([&] {
        if (FEndSession) FEndSession();
    });
}

void TSessionEnd::DisplayGone() {
    End();
    Guard([&] {
        if (FDisplayGone) FDisplayGone();
    });
}
