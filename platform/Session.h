// The end of a session: SIGTERM and SIGHUP, the session manager's request to save, and the
// display going away all run one given sequence (the program's own exit), so every form
// saves as it does when the user ends the program.
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QSocketNotifier;

class TSessionEnd : public QObject {
    Q_OBJECT
public:
    // endSession runs on the user-interface thread, from the event loop, once: at the first
    // signal or request. A second signal while it runs (or before) ends the program at once.
    // displayGone runs when Qt reports that the window system went away, just before Qt ends
    // the program; no event loop runs after it.
    explicit TSessionEnd(std::function<void()> endSession, std::function<void()> displayGone = {});
    ~TSessionEnd() override;
    TSessionEnd(const TSessionEnd&) = delete;
    TSessionEnd& operator=(const TSessionEnd&) = delete;

    // Runs the end-of-session sequence (once), as a signal does.
    void End();
    // The same, then displayGone: the window system went away and Qt ends the program next.
    void DisplayGone();

private:
    void SignalArrived();
    std::function<void()> FEndSession;
    std::function<void()> FDisplayGone;
    QPointer<QSocketNotifier> FNotifier;
    bool FEnded = false;
};
