// Watching a windowed control's messages without subclassing its class.
//
// A control's window procedure is the event-filter chain of its widget (see
// Messages.h). One TControlHook per watched control puts one filter on the
// widget; every TRxWindowHook that watches the control registers with it and is
// told of each message before the rest of the chain handles it and after.
// Repairs that cannot happen inside the message that needs them (installing the
// filter on a recreated widget, freeing a hook nobody uses) are posted to the
// process-wide THookList and done on a later turn of the event loop.
#pragma once

#include "Controls.h"
#include "Messages.h"

#include <QPointer>

#include <memory>
#include <vector>

using THookMessageEvent = TEvent<TObject*, TMessage&, bool&>;
Q_DECLARE_METATYPE(THookMessageEvent)

// Private messages to the hook list, the control hook in LParam.
inline constexpr unsigned CM_REHOOK = 0xB03E;
inline constexpr unsigned CM_FREEHOOK = 0xB03F;

class TControlHook;
class THookList;

class TRxWindowHook : public TComponent {
    Q_OBJECT
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
    Q_PROPERTY(TWinControl* WinControl READ WinControl WRITE SetWinControl)
    Q_PROPERTY(THookMessageEvent BeforeMessage READ BeforeMessage WRITE SetBeforeMessage)
    Q_PROPERTY(THookMessageEvent AfterMessage READ AfterMessage WRITE SetAfterMessage)
public:
    explicit TRxWindowHook(TComponent* AOwner);
    ~TRxWindowHook() override;

    bool Active() const { return FActive; }
    void SetActive(bool value);
    TWinControl* WinControl() const;
    void SetWinControl(TWinControl* value);
    THookMessageEvent BeforeMessage() const { return FBeforeMessage; }
    void SetBeforeMessage(const THookMessageEvent& e) { FBeforeMessage = e; }
    THookMessageEvent AfterMessage() const { return FAfterMessage; }
    void SetAfterMessage(const THookMessageEvent& e) { FAfterMessage = e; }

    // Stored as "IsForm = True" when the hook watches the form that owns it, so a
    // definition needs no reference to the form.
    bool IsForm() const;
    bool ReadDefinedProperty(const QString& name, const QVariant& value) override;

    TControlHook* ControlHook() const { return FControlHook.data(); }

protected:
    virtual void DoAfterMessage(TMessage& Msg, bool& Handled);
    virtual void DoBeforeMessage(TMessage& Msg, bool& Handled);
    void Notification(TComponent* AComponent, TOperation operation) override;

private:
    friend class TControlHook;
    void HookControl();
    void UnhookControl();

    bool FActive = true;
    // As a component: while the control is destroyed it is no longer a TWinControl.
    QPointer<TComponent> FControl;
    QPointer<TControlHook> FControlHook;
    THookMessageEvent FBeforeMessage, FAfterMessage;
};

// The one filter on a watched control's widget, shared by its hook components.
class TControlHook : public QObject {
    Q_OBJECT
public:
    explicit TControlHook(THookList* list);
    ~TControlHook() override;

    // The control, unless its destruction has begun: then nothing may reach it.
    TWinControl* Control() const;
    // Moves the filter to another control.
    void SetControl(TWinControl* value);
    void AddClient(TRxWindowHook* client);
    void RemoveClient(TRxWindowHook* client);
    int ClientCount() const { return int(FClients.size()); }
    // Puts the filter on the control's widget (making the widget if needed).
    void Install();
    // Takes the filter off; filters installed on top of it stay where they are.
    void Uninstall();
    // The widget the filter is on, or nullptr.
    QWidget* HookedWidget() const { return FWidget.data(); }
    // A message that does not travel the filter chain (the widget's destruction):
    // before-notification, then `previous` (the control's own handling) and the
    // after-notification unless a client handled it. Chain messages take the same
    // steps in the filter.
    void HookedWindowProc(TMessage& msg, const std::function<void()>& previous);
    void NotifyClients(TMessage& msg, bool& handled, bool after);
    bool Destroying() const { return FDestroying; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void WidgetDestroyed();
    THookList* FList;
    QPointer<TComponent> FControl; // as a component, for the same reason as the client's
    QPointer<QWidget> FWidget;
    QMetaObject::Connection FDestroyedConnection;
    std::vector<QPointer<TRxWindowHook>> FClients;
    bool FDestroying = false;
};

// Every control hook of the process, and the receiver of the posted repairs. It
// lives as long as the Qt application.
class THookList : public QObject {
    Q_OBJECT
public:
    // The list, made on first use when `create` is set.
    static THookList* Instance(bool create);
    ~THookList() override;

    // The control's hook (first in list order), or a new one bound to it.
    TControlHook* FindOrCreateHook(TWinControl* control);
    bool Contains(const TControlHook* hook) const;
    int Count() const { return int(FHooks.size()); }
    void Post(unsigned msg, TControlHook* hook);
    // Takes a control hook out of the list; the caller now owns it.
    std::unique_ptr<TControlHook> Extract(TControlHook* hook);

protected:
    bool event(QEvent* event) override;

private:
    THookList();
    std::vector<std::unique_ptr<TControlHook>> FHooks;
};
