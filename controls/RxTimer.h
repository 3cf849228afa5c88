// A non-visual timer that calls OnTimer on the user-interface thread every
// Interval milliseconds, from a worker thread (Threaded) or from a timer of a
// hidden utility window.
#pragma once

#include "Classes.h"
#include "Threads.h"

#include <atomic>

using Cardinal = unsigned int;

class TRxTimer;

// Sleeps for the owner's interval and hands each tick to the user-interface
// thread, waiting until it has run there.
class TTimerThread : public TThread {
public:
    TTimerThread(TRxTimer* owner, bool createSuspended);
    TRxTimer* Owner() const { return FOwner; }
    void RequestStop() { FStopRequested = true; }
    bool StopRequested() const { return FStopRequested; }

protected:
    void Execute() override;

private:
    TRxTimer* FOwner;
    std::atomic<bool> FStopRequested = false;
};

class TRxTimer : public TComponent {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(uint Interval READ Interval WRITE SetInterval)
    Q_PROPERTY(bool Threaded READ Threaded WRITE SetThreaded)
    Q_PROPERTY(Threads::TThreadPriority ThreadPriority READ ThreadPriority WRITE SetThreadPriority)
    Q_PROPERTY(TNotifyEvent OnTimer READ OnTimer WRITE SetOnTimer)
public:
    explicit TRxTimer(TComponent* AOwner);
    ~TRxTimer() override;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value);
    // Read by the worker too, hence atomic; written only on the user-interface thread.
    Cardinal Interval() const { return FInterval; }
    void SetInterval(Cardinal value);
    bool Threaded() const { return FThreaded; }
    void SetThreaded(bool value);
    TThreadPriority ThreadPriority() const { return FThreadPriority; }
    void SetThreadPriority(TThreadPriority value);
    TNotifyEvent OnTimer() const { return FOnTimer; }
    // Always re-applies the settings, also for the same handler.
    void SetOnTimer(const TNotifyEvent& value);

    // One tick: calls OnTimer with this timer as sender when enabled and assigned.
    virtual void Tick();

    // Inspection for tests and diagnostics.
    TTimerThread* Worker() const { return FWorker.get(); }
    TUtilityWindow* UtilityWindow() const { return FUtilityWindow.get(); }

protected:
    // Makes the hidden window that carries the window-mode timer.
    virtual std::unique_ptr<TUtilityWindow> AllocateUtilityWindow();

private:
    void ApplySettings();
    void ReleaseWorker();
    std::unique_ptr<TTimerThread> NewWorker(bool createSuspended);

    bool FEnabled = true;
    std::atomic<Cardinal> FInterval = 1000;
    TNotifyEvent FOnTimer;
    std::unique_ptr<TUtilityWindow> FUtilityWindow;
    bool FThreaded = true;
    std::unique_ptr<TTimerThread> FWorker;
    std::atomic<TThreadPriority> FThreadPriority = tpNormal;
};
