#include "RxTimer.h"

TTimerThread::TTimerThread(TRxTimer* owner, bool createSuspended) : TThread(createSuspended), FOwner(owner) {}

void TTimerThread::Execute() {
    SetPriority(FOwner->ThreadPriority());
    // The owner is only touched while not terminated: a released worker is either
    // joined before its owner goes, or blocked in the hand-off until it returns.
    while (CheckSuspended()) {
        if (!Sleep(FOwner->Interval())) break;
        // A suspension that came during the sleep holds the tick until resumed.
        if (!CheckSuspended()) break;
        if (FStopRequested) continue;
        TRxTimer* owner = FOwner;
        Synchronize([owner] { owner->Tick(); });
    }
}

// ---------------------------------------------------------------------------

TRxTimer::TRxTimer(TComponent* AOwner) : TComponent(AOwner) {
    // Running at once, ticking with the defaults until the settings are applied.
    FWorker = NewWorker(false);
}

TRxTimer::~TRxTimer() {
    FEnabled = false;
    Guard([&] { ApplySettings(); });
    ReleaseWorker();
    FUtilityWindow.reset();
}

std::unique_ptr<TTimerThread> TRxTimer::NewWorker(bool createSuspended) {
    auto worker = std::make_unique<TTimerThread>(this, createSuspended);
    worker->SetPriority(FThreadPriority);
    worker->Start();
    return worker;
}

void TRxTimer::ReleaseWorker() {
    if (!FWorker) return;
    FWorker->RequestStop();
    TThread::Release(std::move(FWorker));
}

std::unique_ptr<TUtilityWindow> TRxTimer::AllocateUtilityWindow() {
    return std::make_unique<TUtilityWindow>();
}

void TRxTimer::SetEnabled(bool value) {
    if (value == FEnabled) return;
    FEnabled = value;
    ApplySettings();
}

void TRxTimer::SetInterval(Cardinal value) {
    if (value == FInterval) return;
    FInterval = value;
    ApplySettings();
}

void TRxTimer::SetThreaded(bool value) {
    if (value == FThreaded) return;
    FThreaded = value;
    ApplySettings();
}

void TRxTimer::SetThreadPriority(TThreadPriority value) {
    if (value == FThreadPriority) return;
    FThreadPriority = value;
    if (FThreaded) ApplySettings();
}

void TRxTimer::SetOnTimer(const TNotifyEvent& value) {
    FOnTimer = value;
    ApplySettings();
}

void TRxTimer::ApplySettings() {
    if (FWorker && !FWorker->Suspended()) FWorker->Suspend();
    if (FUtilityWindow) FUtilityWindow->KillTimer(1);
    if (FThreaded) {
        FUtilityWindow.reset();
        // A new worker waits until the settings below allow it to tick.
        if (!FWorker) FWorker = NewWorker(true);
    } else {
        ReleaseWorker();
        if (!FUtilityWindow) {
            FUtilityWindow = AllocateUtilityWindow();
            FUtilityWindow->OnTimer = [this](int id) {
                if (id == 1) Tick();
            };
        }
    }
    if (FInterval == 0 || !FEnabled || !FOnTimer.Assigned()) return;
    if (FThreaded) {
        FWorker->SetPriority(FThreadPriority);
        while (FWorker->Suspended())
            FWorker->Resume();
    } else if (!FUtilityWindow->SetTimer(1, FInterval)) {
        throw EOutOfResources(QStringLiteral("Nicht genügend Timer verfügbar"));
    }
}

void TRxTimer::Tick() {
    if (FEnabled) FOnTimer(this);
}
