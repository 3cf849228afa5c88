// The end of a session: SIGTERM and SIGHUP run the given sequence once, from the event loop;
// the application's part of it closes the main form as the exit command does and ends the
// message loop even if the form refuses; a second signal ends the program at once.
#include "TestMain.h"

#include "Session.h"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

class TstSession : public QObject {
    Q_OBJECT
private slots:
    void aSignalRunsTheSequenceOnceFromTheEventLoop_data() {
        QTest::addColumn<int>("sig");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void aSignalRunsTheSequenceOnceFromTheEventLoop() {
        QFETCH(int, sig);
        int runs = 0;
        {
            TSessionEnd session([&] { ++runs; });
            raise(sig);
            QCOMPARE(runs, 0); // never inside the signal handler
            QTRY_COMPARE(runs, 1);
            session.End();
            QCOMPARE(runs, 1);
        }
        // Afterwards the signals are the system's again.
        struct sigaction now = {};
        sigaction(sig, nullptr, &now);
        QVERIFY(now.sa_handler == SIG_DFL);
    }

    void theEndOfTheSessionClosesTheMainFormAsTheExitCommandDoes_data() {
        QTest::addColumn<bool>("refuses");
        QTest::newRow("closes") << false;
        QTest::newRow("refuses to close") << true;
    }
    void theEndOfTheSessionClosesTheMainFormAsTheExitCommandDoes() {
        QFETCH(bool, refuses);
        TestEnvironment env;
        TForm* form = nullptr;
        env.application.CreateForm(form);
        int asked = 0, closed = 0;
        form->SetOnCloseQuery(TCloseQueryEvent(form, [&](TObject*, bool& canClose) {
            ++asked;
            canClose = !refuses;
        }));
        form->SetOnClose(TCloseEvent(form, [&](TObject*, TCloseAction&) { ++closed; }));
        form->Show();
        TSessionEnd session([] { Application->EndSession(); });
        raise(SIGTERM);
        QTRY_VERIFY(env.application.Terminated());
        QCOMPARE(asked, 1);
        QCOMPARE(closed, refuses ? 0 : 1);
        QVERIFY(env.errors.isEmpty());
    }

    void aSecondSignalEndsTheProgramAtOnce() {
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            // No event loop runs here, as in a program busy when the session ends.
            TSessionEnd session([] {});
            raise(SIGTERM);
            raise(SIGTERM);
            _exit(0);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM, qPrintable(QString::number(status)));
    }
};

QTEST_MAIN(TstSession)
#include "tst_session.moc"
