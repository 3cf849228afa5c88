// The class library's thread: counted suspension, the blocking hand-off to the
// user-interface thread, and release at any moment.
#include "TestMain.h"

#include "Threads.h"

#include <QThread>

#include <atomic>
#include <climits>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Counts loop rounds; each round optionally hands `method` to the UI thread.
struct Worker : TThread {
    // Released through TThread::Release, which joins before the members go.
    explicit Worker(bool suspended) : TThread(suspended) {}
    std::atomic<int> rounds = 0;
    std::atomic<int> handedOff = 0;
    std::atomic<int> nice = INT_MIN; // the thread's own, as it last ran a round
    std::function<void()> method;

protected:
    void Execute() override {
        while (CheckSuspended()) {
            nice = getpriority(PRIO_PROCESS, id_t(gettid()));
            ++rounds;
            if (method && Synchronize(method)) ++handedOff;
            if (!Sleep(2)) break;
        }
    }
};

} // namespace

class TstThreads : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnvironment> env;

private slots:
    void init() { env = std::make_unique<TestEnvironment>(); }
    void cleanup() { env.reset(); }

    void suspensionIsCountedAndHoldsTheWorkerAtItsSafePoint() {
        auto w = std::make_unique<Worker>(true);
        w->Start();
        QThread::msleep(30);
        QCOMPARE(w->rounds.load(), 0);
        w->Suspend(); // two outstanding now
        w->Resume();
        QVERIFY(w->Suspended());
        QThread::msleep(30);
        QCOMPARE(w->rounds.load(), 0);
        w->Resume();
        QVERIFY(!w->Suspended());
        QTRY_VERIFY(w->rounds.load() > 2);
        w->Suspend();
        QThread::msleep(10);
        const int held = w->rounds.load();
        QThread::msleep(30);
        QCOMPARE(w->rounds.load(), held);
        w->Resume(); // a surplus resume does not count below zero
        w->Resume();
        w->Suspend();
        QVERIFY(w->Suspended());
        TThread::Release(std::move(w));
    }

    void aHandOffRunsOnTheUserInterfaceThreadAndWaitsForIt() {
        auto w = std::make_unique<Worker>(false);
        std::atomic<bool> onUi = true;
        int inside = 0;
        w->method = [&] {
            onUi = onUi && QThread::currentThread() == qApp->thread();
            ++inside;
            QThread::msleep(20);
        };
        w->Start();
        QTRY_VERIFY(w->handedOff.load() >= 3);
        // Blocking: the worker never runs ahead of the hand-offs that returned.
        QVERIFY(w->rounds.load() <= w->handedOff.load() + 1);
        QVERIFY(onUi);
        TThread::Release(std::move(w));
    }

    void aReleasedThreadNeverRunsItsPendingHandOff() {
        auto w = std::make_unique<Worker>(false);
        int ran = 0;
        w->method = [&] { ++ran; };
        w->Start();
        // No events are processed: the first hand-off waits.
        for (int i = 0; i < 200 && w->rounds.load() < 1; ++i)
            QThread::msleep(5);
        QCOMPARE(w->rounds.load(), 1);
        QThread::msleep(20);
        TThread::Release(std::move(w));
        QTest::qWait(20);
        QCOMPARE(ran, 0);
    }

    // Lower priorities are higher nice values; a thread may always lower its own.
    void prioritiesBelowNormalBecomeNiceValues() {
        if (getpriority(PRIO_PROCESS, 0) > 5) QSKIP("this process runs at a nice value above 5 already");
        for (const auto& [priority, nice] : {std::pair{tpLower, 5}, {tpLowest, 10}, {tpIdle, 19}}) {
            auto w = std::make_unique<Worker>(false);
            w->SetPriority(priority);
            w->Start();
            QTRY_VERIFY(w->rounds.load() > 0);
            QCOMPARE(w->nice.load(), nice);
            TThread::Release(std::move(w));
        }
    }

    // Set again, a utility window's timer runs at the new interval only.
    void aUtilityWindowTimerSetAgainReplacesTheOldOne() {
        struct Counting : TUtilityWindow {
            int events = 0;
            void timerEvent(QTimerEvent* e) override {
                ++events;
                TUtilityWindow::timerEvent(e);
            }
        } window;
        int fired = 0;
        window.OnTimer = [&](int) { ++fired; };
        QVERIFY(window.SetTimer(3, 10));
        QVERIFY(window.SetTimer(3, 60000));
        QTest::qWait(150);
        QCOMPARE(window.events, 0);
        QCOMPARE(fired, 0);
        QVERIFY(window.HasTimer(3));
        window.KillTimer(3);
        QVERIFY(!window.HasTimer(3));
    }

    void anEscapingErrorIsReportedOnTheUserInterfaceThread() {
        struct Failing : TThread {
            Failing() : TThread(false) {}
            void Execute() override { throw Exception(QStringLiteral("im Faden")); }
        };
        auto f = std::make_unique<Failing>();
        f->Start();
        QTRY_COMPARE(env->errors, QStringList{"im Faden"});
        TThread::Release(std::move(f));
    }
};

QTEST_MAIN(TstThreads)
#include "tst_threads.moc"
