#include "WhenShown.h"

#include "Forms.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace {

// Watches the whole application: the form's widget, and with it the window that is
// exposed, are made only when the form first shows, usually after this is armed.
class TShownWatch : public QObject {
public:
    TShownWatch(TCustomForm* form, std::function<bool()> ready, std::function<void()> action)
        : QObject(form), FForm(form), FReady(std::move(ready)), FAction(std::move(action)) {
        QCoreApplication::instance()->installEventFilter(this);
    }

    void Check() {
        bool ready = false;
        Guard([&] { ready = !FDone && FForm && FReady(); });
        if (ready) Run();
    }

    void Run() {
        if (FDone || !FForm) return;
        FDone = true;
        QCoreApplication::instance()->removeEventFilter(this);
        deleteLater();
        Guard([&] { FAction(); });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (FDone || (type != QEvent::Show && type != QEvent::Expose) || !FForm) return false;
        const QWidget* widget = FForm->Widget();
        if (widget && (watched == widget || watched == widget->windowHandle()))
            // After the event, so the paint it asks for comes first.
            QTimer::singleShot(0, this, [this] { Check(); });
        return false;
    }

private:
    QPointer<TCustomForm> FForm;
    std::function<bool()> FReady;
    std::function<void()> FAction;
    bool FDone = false;
};

} // namespace

void WhenShown(TCustomForm* form, std::function<bool()> ready, std::chrono::milliseconds limit,
               std::function<void()> action) {
    if (!form) return;
    auto* watch = new TShownWatch(form, std::move(ready), std::move(action)); // owned by the form
    QTimer::singleShot(0, watch, [watch] { watch->Check(); });
    QTimer::singleShot(limit, watch, [watch] { watch->Run(); });
}
