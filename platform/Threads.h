// Threads of the class library: a worker that runs an overridable loop, with a
// terminate request, counted suspend and resume, a priority, and a blocking call
// into the user-interface thread; and a hidden utility window that carries
// window-system timers for components that want timer messages.
#pragma once

#include "Classes.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace Threads {
Q_NAMESPACE
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
Q_ENUM_NS(TThreadPriority)
} // namespace Threads

using Threads::TThreadPriority;
using enum Threads::TThreadPriority;

// The window system's thread priority level of each value (-15 idle ... 15 time-critical).
int ThreadPriorityLevel(TThreadPriority priority);

namespace ThreadsDetail {
struct SyncCore;
struct Request;
class SyncDispatcher;
} // namespace ThreadsDetail

// Suspension is cooperative: Suspend() asks, and the worker stops at its next
// safe point (CheckSuspended, or before a hand-off). A suspended worker never
// runs Execute's work between safe points, which is all that callers rely on.
class TThread {
public:
    explicit TThread(bool createSuspended);
    // Terminates and joins as a last resort; a started thread is meant to go
    // through Release, which joins before the derived class's members are gone.
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts the operating-system thread; the creator calls it once the object is
    // fully constructed (a suspended thread starts blocked at its first safe point).
    void Start();

    // Counted: every Suspend needs one Resume.
    void Suspend();
    void Resume();
    bool Suspended() const;
    void Terminate();
    bool Terminated() const;
    TThreadPriority Priority() const;
    // Takes effect on the worker at its next safe point.
    void SetPriority(TThreadPriority value);
    // Whether the operating-system thread has been started and not yet joined.
    bool Running() const { return FThread.joinable(); }

    // Stops a thread for good without waiting on the user-interface thread: a
    // pending hand-off is dropped, the worker is woken and joined. When the
    // caller is the very hand-off the worker waits for, the join (and deletion)
    // happens on the user-interface thread right after that hand-off returns.
    static void Release(std::unique_ptr<TThread> thread);

protected:
    virtual void Execute() = 0;
    // Runs `method` on the user-interface thread and blocks until it has returned
    // there. An exception from it goes to the application's report. False when
    // the thread was terminated or released before the method could run.
    bool Synchronize(std::function<void()> method);
    // Sleeps `ms` milliseconds unless terminated first; false when terminated.
    bool Sleep(unsigned ms);
    // Blocks while suspended; false when terminated.
    bool CheckSuspended();

private:
    friend class ThreadsDetail::SyncDispatcher;
    void Run();
    // Marks the thread terminated and drops a hand-off that has not begun to run;
    // true when the hand-off this thread waits for is running right now.
    bool TerminateLocked();
    void Join();

    std::shared_ptr<ThreadsDetail::SyncCore> FCore;
    std::condition_variable FWake;
    int FSuspendCount = 0;
    bool FTerminated = false;
    TThreadPriority FPriority = tpNormal;
    bool FPriorityDirty = true;
    // The hand-off this thread waits for, if any (guarded by the core's mutex).
    ThreadsDetail::Request* FRequest = nullptr;
    std::thread FThread;
};

// A hidden object of the user-interface thread that carries timers, as a
// window-system utility window does. Timer expiry calls OnTimer with the id.
class TUtilityWindow : public QObject {
    Q_OBJECT
public:
    TUtilityWindow() = default;
    ~TUtilityWindow() override;
    // False when the window system has no timer to give.
    virtual bool SetTimer(int id, unsigned intervalMs);
    virtual void KillTimer(int id);
    bool HasTimer(int id) const { return FTimers.contains(id); }
    std::function<void(int id)> OnTimer;

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    QHash<int, int> FTimers; // id -> Qt timer id
};
