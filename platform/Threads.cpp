#include "Threads.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QTimerEvent>

#include <algorithm>
#include <chrono>
#include <climits>
#include <deque>

#ifdef __linux__
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

int ThreadPriorityLevel(TThreadPriority priority) {
    static constexpr int levels[] = {-15, -2, -1, 0, 1, 2, 15};
    return levels[std::clamp(int(priority), 0, 6)];
}

namespace ThreadsDetail {

struct Request {
    enum State { Pending, Running, Done, Cancelled };
    std::function<void()> method;
    State state = Pending;
    TThread* thread = nullptr;
};

// What the workers and the user-interface thread share. One mutex guards the
// queue, every request's state and every thread's flags, so a worker can never
// slip a hand-off in between its release and the join.
struct SyncCore {
    std::mutex m;
    std::deque<Request*> queue;
    QObject* receiver = nullptr; // the dispatcher; cleared as it goes
    // Released threads whose hand-off was running when they were released.
    std::vector<std::unique_ptr<TThread>> released;
};

static QEvent::Type SyncEventType() {
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

// The user-interface thread's call-in object: a worker queues its hand-off and
// posts an event here; the event runs the queued methods between the thread's
// other events, one at a time.
class SyncDispatcher : public QObject {
public:
    explicit SyncDispatcher(QObject* parent) : QObject(parent), Core(std::make_shared<SyncCore>()) {
        setObjectName(QStringLiteral("glyvex-sync-dispatcher"));
        Core->receiver = this;
    }
    ~SyncDispatcher() override {
        std::vector<std::unique_ptr<TThread>> released;
        {
            std::lock_guard lock(Core->m);
            Core->receiver = nullptr;
            for (Request* r : Core->queue) {
                r->state = Request::Cancelled;
                r->thread->FWake.notify_all();
            }
            Core->queue.clear();
            released.swap(Core->released);
        }
        for (auto& t : released)
            t->Join();
    }

    static SyncDispatcher* Instance() {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) return nullptr;
        for (QObject* child : app->children())
            if (auto* d = dynamic_cast<SyncDispatcher*>(child)) return d;
        return new SyncDispatcher(app);
    }

    std::shared_ptr<SyncCore> Core;

protected:
    bool event(QEvent* e) override {
        // A worker makes and posts its event holding the core's mutex; taking it here
        // first shows a thread checker the order that Qt's own queue (whose locks it
        // cannot see) already guarantees.
        { std::lock_guard lock(Core->m); }
        if (e->type() != SyncEventType()) return QObject::event(e);
        RunPending();
        return true;
    }

private:
    void RunPending() {
        for (;;) {
            Request* r = nullptr;
            {
                std::lock_guard lock(Core->m);
                if (Core->queue.empty()) break;
                r = Core->queue.front();
                Core->queue.pop_front();
                r->state = Request::Running;
            }
            // The worker stays blocked while its method runs, so the request lives.
            Guard([&] { r->method(); });
            std::lock_guard lock(Core->m);
            r->state = Request::Done;
            r->thread->FWake.notify_all();
        }
        ReapReleased();
    }

    // Joins the released threads whose hand-off has returned by now.
    void ReapReleased() {
        std::vector<std::unique_ptr<TThread>> done;
        {
            std::lock_guard lock(Core->m);
            auto& list = Core->released;
            for (auto it = list.begin(); it != list.end();) {
                Request* r = (*it)->FRequest;
                if (!r || r->state != Request::Running) {
                    done.push_back(std::move(*it));
                    it = list.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (auto& t : done)
            t->Join();
    }
};

} // namespace ThreadsDetail

using namespace ThreadsDetail;

// ---------------------------------------------------------------------------

TThread::TThread(bool createSuspended) : FSuspendCount(createSuspended ? 1 : 0) {
    if (auto* d = SyncDispatcher::Instance())
        FCore = d->Core;
    else
        FCore = std::make_shared<SyncCore>();
}

TThread::~TThread() {
    {
        std::lock_guard lock(FCore->m);
        TerminateLocked();
    }
    Join();
}

void TThread::Start() {
    if (FThread.joinable()) return;
    FThread = std::thread([this] { Run(); });
}

void TThread::Run() {
    // An exception must not escape a thread; it goes to the report like any other.
    try {
        Execute();
    } catch (...) {
        const auto error = std::current_exception();
        Synchronize([error] { std::rethrow_exception(error); });
    }
}

void TThread::Join() {
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

bool TThread::TerminateLocked() {
    FTerminated = true;
    FWake.notify_all();
    if (!FRequest) return false;
    if (FRequest->state == Request::Pending) {
        auto& q = FCore->queue;
        q.erase(std::remove(q.begin(), q.end(), FRequest), q.end());
        FRequest->state = Request::Cancelled;
        return false;
    }
    return FRequest->state == Request::Running;
}

void TThread::Release(std::unique_ptr<TThread> thread) {
    if (!thread) return;
    std::shared_ptr<SyncCore> core = thread->FCore;
    {
        std::lock_guard lock(core->m);
        if (thread->TerminateLocked()) {
            // We are inside the very hand-off the worker waits for: joining now
            // would wait for ourselves. The dispatcher joins it once this returns.
            core->released.push_back(std::move(thread));
            return;
        }
    }
    thread->Join();
}

void TThread::Suspend() {
    std::lock_guard lock(FCore->m);
    ++FSuspendCount;
}

void TThread::Resume() {
    std::lock_guard lock(FCore->m);
    if (FSuspendCount > 0 && --FSuspendCount == 0) FWake.notify_all();
}

bool TThread::Suspended() const {
    std::lock_guard lock(FCore->m);
    return FSuspendCount > 0;
}

void TThread::Terminate() {
    std::lock_guard lock(FCore->m);
    FTerminated = true;
    FWake.notify_all();
}

bool TThread::Terminated() const {
    std::lock_guard lock(FCore->m);
    return FTerminated;
}

TThreadPriority TThread::Priority() const {
    std::lock_guard lock(FCore->m);
    return FPriority;
}

void TThread::SetPriority(TThreadPriority value) {
    std::lock_guard lock(FCore->m);
    if (value == FPriority) return;
    FPriority = value;
    FPriorityDirty = true;
}

// The worker applies its priority itself. On Linux ordinary threads share one
// scheduling class, so the levels map to nice values; raising above normal
// needs a privilege the program usually lacks, and is then left as it is.
static void ApplyOwnPriority(TThreadPriority priority) {
#ifdef __linux__
    const int level = ThreadPriorityLevel(priority);
    sched_param param{};
    sched_setscheduler(0, priority == tpIdle ? SCHED_IDLE : SCHED_OTHER, &param);
    const int nice = level <= -15 ? 19 : level >= 15 ? -20 : -5 * level;
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice);
#else
    Q_UNUSED(priority);
#endif
}

bool TThread::CheckSuspended() {
    std::unique_lock lock(FCore->m);
    FWake.wait(lock, [&] { return FTerminated || FSuspendCount == 0; });
    if (FPriorityDirty) {
        FPriorityDirty = false;
        const TThreadPriority p = FPriority;
        lock.unlock();
        ApplyOwnPriority(p);
        lock.lock();
    }
    return !FTerminated;
}

bool TThread::Sleep(unsigned ms) {
    std::unique_lock lock(FCore->m);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    FWake.wait_until(lock, deadline, [&] { return FTerminated; });
    return !FTerminated;
}

bool TThread::Synchronize(std::function<void()> method) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) {
        Guard(method);
        return true;
    }
    Request request;
    request.method = std::move(method);
    request.thread = this;
    std::unique_lock lock(FCore->m);
    if (FTerminated || !FCore->receiver) return false;
    FRequest = &request;
    FCore->queue.push_back(&request);
    QCoreApplication::postEvent(FCore->receiver, new QEvent(SyncEventType()));
    FWake.wait(lock, [&] { return request.state == Request::Done || request.state == Request::Cancelled; });
    FRequest = nullptr;
    return request.state == Request::Done;
}

// ---------------------------------------------------------------------------

TUtilityWindow::~TUtilityWindow() = default;

bool TUtilityWindow::SetTimer(int id, unsigned intervalMs) {
    KillTimer(id);
    // The window system caps a timer's period at the largest signed value; a
    // precise timer never fires before its interval is over.
    const int qtId = startTimer(int(std::min<unsigned>(intervalMs, INT_MAX)), Qt::PreciseTimer);
    if (qtId == 0) return false;
    FTimers.insert(id, qtId);
    return true;
}

void TUtilityWindow::KillTimer(int id) {
    auto it = FTimers.find(id);
    if (it == FTimers.end()) return;
    killTimer(*it);
    FTimers.erase(it);
}

void TUtilityWindow::timerEvent(QTimerEvent* event) {
    for (auto it = FTimers.cbegin(); it != FTimers.cend(); ++it)
        if (it.value() == event->timerId()) {
            const int id = it.key();
            Guard([&] {
                if (OnTimer) OnTimer(id);
            });
            return;
        }
}
