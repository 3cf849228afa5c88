// The thread timer in both modes: periods, setting changes while ticking,
// errors from handlers, and destruction at any moment.
#include "TestMain.h"

#include "RxTimer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

namespace {

int ThreadCount() {
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// Counts ticks, remembers when each began and whether it ran on the UI thread.
struct Ticks : QObject {
    QList<qint64> at;
    QElapsedTimer clock;
    bool offThread = false;
    std::function<void()> body;
    Ticks() { clock.start(); }
    TNotifyEvent Handler() {
        return TNotifyEvent(this, [this](TObject*) {
            if (QThread::currentThread() != qApp->thread()) offThread = true;
            at << clock.elapsed();
            if (body) body();
        });
    }
    int Count() const { return int(at.size()); }
};

// A window whose system has no timer left.
struct NoTimers : TUtilityWindow {
    bool SetTimer(int, unsigned) override { return false; }
};
struct StarvedTimer : TRxTimer {
    using TRxTimer::TRxTimer;
    std::unique_ptr<TUtilityWindow> AllocateUtilityWindow() override { return std::make_unique<NoTimers>(); }
};

std::unique_ptr<TRxTimer> NewTimer(bool threaded, Cardinal interval, Ticks& ticks) {
    auto t = std::make_unique<TRxTimer>(nullptr);
    t->SetThreaded(threaded);
    t->SetInterval(interval);
    t->SetOnTimer(ticks.Handler());
    return t;
}

} // namespace

class TstRxTimer : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnvironment> env;
    int baseThreads = 0;

private slots:
    void init() {
        env = std::make_unique<TestEnvironment>();
        baseThreads = ThreadCount();
    }
    void cleanup() { env.reset(); }

    void itStartsWithItsDefaultsAndARunningWorker() {
        TRxTimer t(nullptr);
        QVERIFY(t.Enabled());
        QCOMPARE(t.Interval(), 1000u);
        QVERIFY(t.Threaded());
        QCOMPARE(t.ThreadPriority(), tpNormal);
        QVERIFY(t.Worker());
        QVERIFY(!t.Worker()->Suspended());
        QVERIFY(!t.UtilityWindow());
        // No handler: ticking is not wanted, so applying the settings parks the worker.
        t.SetInterval(500);
        QVERIFY(t.Worker()->Suspended());
    }

    void bothModesTickOnTheUserInterfaceThread() {
        for (bool threaded : {true, false}) {
            Ticks ticks;
            auto t = NewTimer(threaded, 20, ticks);
            QTRY_VERIFY(ticks.Count() >= 3);
            QVERIFY(!ticks.offThread);
            QCOMPARE(bool(t->Worker()), threaded);
            QCOMPARE(bool(t->UtilityWindow()), !threaded);
        }
    }

    void aSlowHandlerGetsItsTicksAnIntervalAfterItReturns() {
        Ticks ticks;
        ticks.body = [] { QThread::msleep(300); };
        auto t = NewTimer(true, 100, ticks);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.Count() >= 4, 5000);
        t.reset();
        for (int i = 1; i < ticks.Count(); ++i) {
            const qint64 gap = ticks.at[i] - ticks.at[i - 1];
            // 300 ms in the handler, then a whole 100 ms sleep: never two without one.
            QVERIFY2(gap >= 395, qPrintable(QString::number(gap)));
            QVERIFY2(gap < 1500, qPrintable(QString::number(gap)));
        }
    }

    void intervalZeroOrDisabledGivesNoTicks() {
        for (bool threaded : {true, false}) {
            Ticks ticks;
            auto t = NewTimer(threaded, 0, ticks);
            auto u = NewTimer(threaded, 10, ticks);
            u->SetEnabled(false);
            QTest::qWait(150);
            QCOMPARE(ticks.Count(), 0);
            if (threaded) {
                QVERIFY(t->Worker()->Suspended());
                QVERIFY(u->Worker()->Suspended());
            } else {
                QVERIFY(!t->UtilityWindow()->HasTimer(1));
                QVERIFY(!u->UtilityWindow()->HasTimer(1));
            }
        }
    }

    void windowModeRestartsAFullIntervalOnEveryChange() {
        Ticks ticks;
        auto t = NewTimer(false, 400, ticks);
        QTest::qWait(250);
        // The same handler again kills and sets the window timer anew.
        t->SetOnTimer(t->OnTimer());
        const qint64 restarted = ticks.clock.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(ticks.Count() >= 1, 3000);
        QVERIFY(ticks.at[0] - restarted >= 390);

        t->SetEnabled(false);
        const int before = ticks.Count();
        t->SetEnabled(true);
        const qint64 enabled = ticks.clock.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(ticks.Count() > before, 3000);
        QVERIFY(ticks.at[before] - enabled >= 390);

        // A thread priority is no setting of the window's timer: its period runs on.
        QTest::qWait(250);
        t->SetThreadPriority(tpLower);
        const qint64 changed = ticks.clock.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(ticks.Count() > before + 1, 3000);
        QVERIFY2(ticks.at[before + 1] - changed < 390,
                 qPrintable(QString::number(ticks.at[before + 1] - changed)));
    }

    void aSuspensionDuringTheSleepHoldsTheNextTick() {
        Ticks ticks;
        auto t = NewTimer(true, 1000, ticks);
        // Just after a tick the worker sleeps a whole interval; it is suspended early in it.
        ticks.body = [&] {
            if (ticks.Count() == 1) QTimer::singleShot(50, &ticks, [&] { t->Worker()->Suspend(); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(ticks.Count() == 1, 5000);
        QTest::qWait(1500);
        QCOMPARE(ticks.Count(), 1);
        t->Worker()->Resume();
        QTRY_COMPARE(ticks.Count(), 2);
    }

    void switchingModesWhileTickingMovesTheTicksToTheOtherSource() {
        Ticks ticks;
        auto t = NewTimer(true, 15, ticks);
        QTRY_VERIFY(ticks.Count() >= 2);
        t->SetThreaded(false);
        QVERIFY(!t->Worker());
        QVERIFY(t->UtilityWindow());
        QVERIFY(t->UtilityWindow()->HasTimer(1));
        QCOMPARE(ThreadCount(), baseThreads);
        int n = ticks.Count();
        QTRY_VERIFY(ticks.Count() >= n + 2);

        t->SetThreaded(true);
        QVERIFY(!t->UtilityWindow());
        QVERIFY(t->Worker());
        QVERIFY(!t->Worker()->Suspended());
        n = ticks.Count();
        QTRY_VERIFY(ticks.Count() >= n + 2);
        QVERIFY(!ticks.offThread);
    }

    void aWorkerMadeBySwitchingWaitsUntilItMayTick() {
        Ticks ticks;
        auto t = NewTimer(false, 0, ticks);
        t->SetThreaded(true);
        // Interval 0 would be a busy hand-off without a sleep; the new worker stays parked.
        QVERIFY(t->Worker());
        QVERIFY(t->Worker()->Suspended());
        QTest::qWait(100);
        QCOMPARE(ticks.Count(), 0);
        t->SetInterval(10);
        QVERIFY(!t->Worker()->Suspended());
        QTRY_VERIFY(ticks.Count() >= 1);
    }

    void thePriorityReachesTheWorkerOnlyInThreadMode() {
        Ticks ticks;
        auto t = NewTimer(true, 50, ticks);
        t->SetThreadPriority(tpLowest);
        QCOMPARE(t->Worker()->Priority(), tpLowest);
        t->SetThreaded(false);
        t->SetThreadPriority(tpIdle);
        QCOMPARE(t->ThreadPriority(), tpIdle);
        QVERIFY(!t->Worker());
        t->SetThreaded(true);
        QCOMPARE(t->Worker()->Priority(), tpIdle);
        QCOMPARE(ThreadPriorityLevel(tpIdle), -15);
        QCOMPARE(ThreadPriorityLevel(tpNormal), 0);
        QCOMPARE(ThreadPriorityLevel(tpTimeCritical), 15);
    }

    void windowModeWithoutASystemTimerRaisesOutOfResources() {
        Ticks ticks;
        StarvedTimer t(nullptr);
        t.SetInterval(10);
        t.SetThreaded(false); // no handler yet: nothing to set
        try {
            t.SetOnTimer(ticks.Handler());
            QFAIL("no error");
        } catch (const EOutOfResources& e) {
            QCOMPARE(e.Message(), QStringLiteral("Nicht genügend Timer verfügbar"));
        }
        QTest::qWait(60);
        QCOMPARE(ticks.Count(), 0);
    }

    void aFailingHandlerIsReportedAndTheTimerGoesOn() {
        for (bool threaded : {true, false}) {
            env->errors.clear();
            Ticks ticks;
            ticks.body = [] { throw Exception(QStringLiteral("kaputt")); };
            auto t = NewTimer(threaded, 10, ticks);
            QTRY_VERIFY(ticks.Count() >= 3);
            QVERIFY(env->errors.size() >= 2);
            QCOMPARE(env->errors.first(), QStringLiteral("kaputt"));
            QVERIFY(!ticks.offThread);
        }
    }

    void destroyingNeverWaitsForAPendingTickOrASleep() {
        // A short interval with no events processed leaves a tick handed over and
        // the worker blocked on it; a long one leaves the worker asleep.
        for (Cardinal interval : {5u, 60000u}) {
            Ticks ticks;
            auto t = NewTimer(true, interval, ticks);
            QThread::msleep(60);
            QElapsedTimer clock;
            clock.start();
            t.reset();
            QVERIFY(clock.elapsed() < 1000);
            QTest::qWait(50);
            QCOMPARE(ticks.Count(), 0);
            QCOMPARE(ThreadCount(), baseThreads);
        }
    }

    void destroyingTheTimerFromItsOwnTickNeitherDeadlocksNorLeaks() {
        Ticks ticks;
        std::unique_ptr<TRxTimer> t = NewTimer(true, 5, ticks);
        ticks.body = [&] { t.reset(); };
        QTRY_VERIFY(!t);
        QCOMPARE(ticks.Count(), 1);
        // The worker is joined once the tick it waited for has returned.
        QTRY_COMPARE(ThreadCount(), baseThreads);
        QTest::qWait(30);
        QCOMPARE(ticks.Count(), 1);
    }

    void destroyingTheOwnerTakesTheTimerAndItsWorker() {
        Ticks ticks;
        auto owner = std::make_unique<TComponent>(nullptr);
        auto* t = new TRxTimer(owner.get());
        t->SetInterval(5);
        t->SetOnTimer(ticks.Handler());
        QTRY_VERIFY(ticks.Count() >= 1);
        QThread::msleep(30); // leave a tick pending
        owner.reset();
        const int n = ticks.Count();
        QTest::qWait(50);
        QCOMPARE(ticks.Count(), n);
        QCOMPARE(ThreadCount(), baseThreads);
    }

    void settingsChangedInsideTheHandlerTakeEffect() {
        Ticks ticks;
        auto t = NewTimer(true, 5, ticks);
        ticks.body = [&] {
            if (ticks.Count() == 2) t->SetThreaded(false);
            if (ticks.Count() == 4) t->SetInterval(0);
        };
        QTRY_VERIFY(ticks.Count() >= 4);
        QTest::qWait(60);
        QCOMPARE(ticks.Count(), 4);
        QVERIFY(!t->Worker());
        QCOMPARE(ThreadCount(), baseThreads);
    }
};

QTEST_MAIN(TstRxTimer)
#include "tst_rxtimer.moc"
