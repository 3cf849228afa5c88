// Window hooks: the order in which hooks hear a message, Handled, the widget's
// destruction, re-hooking a recreated widget, filters of others, deferred freeing.
#include "TestMain.h"

#include "ExtCtrls.h"
#include "RxHook.h"

#include <QWidget>

namespace {

constexpr unsigned WM_PROBE = WM_USER + 7;

QStringList* Log = nullptr;

class TRecordingPanel : public TPanel {
public:
    using TPanel::TPanel;
    void WndProc(TMessage& msg) override {
        *Log << QStringLiteral("control %1").arg(msg.Msg);
        msg.Result = 5;
    }
};

// Someone else's filter on the same widget.
class ForeignFilter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == TMessageEvent::EventType()) *Log << QStringLiteral("foreign");
        return false;
    }
};

void Flush() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::sendPostedEvents();
}

} // namespace

class TstRxHook : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnvironment> env;
    QStringList log;
    TForm* form = nullptr;
    TRecordingPanel* panel = nullptr;

    TRxWindowHook* Hook(const QString& name, std::function<bool(unsigned)> handles = {}) {
        auto* h = new TRxWindowHook(form);
        h->SetName(name);
        h->SetBeforeMessage(THookMessageEvent(h, [=, this](TObject*, TMessage& m, bool& handled) {
            log << name + " before";
            if (handles && handles(m.Msg)) handled = true;
        }));
        h->SetAfterMessage(
            THookMessageEvent(h, [=, this](TObject*, TMessage&, bool&) { log << name + " after"; }));
        h->SetWinControl(panel);
        return h;
    }

private slots:
    void init() {
        env = std::make_unique<TestEnvironment>();
        Log = &log;
        log.clear();
        form = new TForm(Application);
        panel = new TRecordingPanel(form);
        panel->SetParent(form);
        form->Show();
    }
    void cleanup() {
        env.reset();
        Flush();
        Log = nullptr;
    }

    void theLastHookHearsFirstAndHandledStopsTheMessage() {
        Hook("one");
        TRxWindowHook* two = Hook("two", [](unsigned m) { return m == WM_PROBE + 1; });
        QCOMPARE(two->WinControl(), panel);
        QCOMPARE(panel->Perform(WM_PROBE, 0, 0), LRESULT(5));
        const QString control = QStringLiteral("control %1").arg(WM_PROBE);
        QCOMPARE(log, QStringList({"two before", "one before", control, "two after", "one after"}));

        log.clear();
        QCOMPARE(panel->Perform(WM_PROBE + 1, 0, 0), LRESULT(0));
        QCOMPARE(log, QStringList({"two before"}));

        // One filter serves both hooks.
        QCOMPARE(THookList::Instance(false)->Count(), 1);
        QCOMPARE(two->ControlHook()->ClientCount(), 2);
    }

    void aFailingHookIsReportedAndTheOthersStillHear() {
        Hook("one");
        auto* bad = new TRxWindowHook(form);
        bad->SetBeforeMessage(
            THookMessageEvent(bad, [](TObject*, TMessage&, bool&) { throw Exception("hook failed"); }));
        bad->SetWinControl(panel);
        panel->Perform(WM_PROBE, 0, 0);
        QCOMPARE(env->errors, QStringList({"hook failed"}));
        QVERIFY(log.contains("one before"));
        QVERIFY(log.contains(QStringLiteral("control %1").arg(WM_PROBE)));
    }

    void destructionIsNotStoppedAndTheHookComesBackOnTheNewWidget() {
        Hook("one");
        Hook("two", [](unsigned m) { return m == WM_DESTROY; });
        QWidget* old = panel->Widget();
        panel->DestroyHandle();
        Flush();
        QVERIFY(old != panel->Widget());
        // Handled stays set: after the control, only the last hook hears it.
        QCOMPARE(log, QStringList({"two before", QStringLiteral("control %1").arg(WM_DESTROY), "two after"}));

        QVERIFY(panel->Widget()); // the posted re-hook made the new widget and hooked it
        log.clear();
        panel->Perform(WM_PROBE, 0, 0);
        QCOMPARE(log.size(), 5);
        QCOMPARE(log.front(), "two before");

        // Sent while the widget lives: handled or not, the control gets it.
        log.clear();
        panel->Perform(WM_DESTROY, 0, 0);
        QCOMPARE(log, QStringList({"two before", QStringLiteral("control %1").arg(WM_DESTROY), "two after"}));
    }

    void othersFiltersStayWhenTheHookGoes() {
        TRxWindowHook* one = Hook("one");
        ForeignFilter foreign;
        panel->Widget()->installEventFilter(&foreign); // on top of the hook
        panel->Perform(WM_PROBE, 0, 0);
        QCOMPARE(log.front(), "foreign");
        QCOMPARE(log.count("foreign"), 1); // passing the message down does not repeat it above

        log.clear();
        one->SetActive(false);
        one->SetWinControl(nullptr);
        one->SetWinControl(panel); // given a control while inactive: not hooked
        panel->Perform(WM_PROBE, 0, 0);
        QCOMPARE(log, QStringList({"foreign", QStringLiteral("control %1").arg(WM_PROBE)}));
        one->SetActive(true);
        log.clear();
        panel->Perform(WM_PROBE, 0, 0);
        QCOMPARE(log.size(), 4);
    }

    void anUnusedControlHookIsFreedLaterUnlessUsedAgain() {
        TRxWindowHook* one = Hook("one");
        QPointer<TControlHook> shared = one->ControlHook();
        one->SetWinControl(nullptr);
        QVERIFY(shared); // not inside the call that left it unused
        QVERIFY(!shared->HookedWidget());
        log.clear();
        panel->DestroyHandle(); // nor does it hear of the widget's end
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(log, QStringList());
        Flush();
        QVERIFY(!shared);
        QCOMPARE(THookList::Instance(false)->Count(), 0);

        // Taken up again before the deferred free runs: it stays, and keeps working.
        one->SetWinControl(panel);
        shared = one->ControlHook();
        one->SetActive(false);
        one->SetActive(true);
        Flush();
        QVERIFY(shared);
        QCOMPARE(one->ControlHook(), shared.data());
        log.clear();
        panel->Perform(WM_PROBE, 0, 0);
        QCOMPARE(log.front(), "one before");
    }

    void aDestroyedControlLeavesTheHookEmpty() {
        TRxWindowHook* one = Hook("one");
        delete panel;
        panel = nullptr;
        QCOMPARE(one->WinControl(), nullptr);
        Flush();
        QCOMPARE(THookList::Instance(false)->Count(), 0);
    }

    void aHookStoredWithIsFormWatchesItsForm() {
        auto* f = new TForm(Application);
        TFormReader::ReadFormText(f, "F: TForm {\n  Hook1: TRxWindowHook {\n    IsForm = True\n  }\n}\n",
                                  "test");
        auto* hook = dynamic_cast<TRxWindowHook*>(f->FindComponent("Hook1"));
        QVERIFY(hook);
        QCOMPARE(hook->WinControl(), f);
        QVERIFY(hook->IsForm());
        hook->SetWinControl(panel);
        QVERIFY(!hook->IsForm());
        try {
            hook->ReadDefinedProperty(QStringLiteral("isform"), QStringLiteral("Maybe"));
            QFAIL("an IsForm value that is neither True nor False was taken");
        } catch (const EReadError& e) {
            QCOMPARE(e.Message(), QStringLiteral("Ungültiger Wert für IsForm"));
        }
    }
};

QTEST_MAIN(TstRxHook)
#include "tst_rxhook.moc"
