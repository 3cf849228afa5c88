#include "RxHook.h"

#include "Forms.h"

#include <QCoreApplication>

#include <algorithm>

// A watched control while it is whole. Its widget goes while ~TControl runs, and the
// hooks hear of that; by then the object is no TWinControl, so it is not treated as one.
static TWinControl* WholeControl(TComponent* c) {
    return c && !c->IsDestroying() ? dynamic_cast<TWinControl*>(c) : nullptr;
}

TRxWindowHook::TRxWindowHook(TComponent* AOwner) : TComponent(AOwner) {}

TRxWindowHook::~TRxWindowHook() {
    Destroying();
    SetActive(false);
    SetWinControl(nullptr);
}

TWinControl* TRxWindowHook::WinControl() const {
    if (FControlHook) return FControlHook->Control();
    return WholeControl(FControl.data());
}

void TRxWindowHook::SetActive(bool value) {
    if (value == FActive) return;
    if (value)
        HookControl();
    else
        UnhookControl();
}

void TRxWindowHook::HookControl() {
    if (TWinControl* control = WholeControl(FControl.data()); control && !IsDestroying())
        THookList::Instance(true)->FindOrCreateHook(control)->AddClient(this);
    FActive = true;
}

void TRxWindowHook::UnhookControl() {
    if (TControlHook* hook = FControlHook.data()) {
        hook->RemoveClient(this);
        // Freed later, never inside the call chain that left it unused.
        if (hook->ClientCount() == 0)
            if (THookList* list = THookList::Instance(false)) list->Post(CM_FREEHOOK, hook);
    }
    FActive = false;
}

void TRxWindowHook::SetWinControl(TWinControl* value) {
    if (value == FControl.data()) return;
    const bool wasActive = FActive;
    UnhookControl();
    if (FControl) FControl->RemoveFreeNotification(this);
    FControl = value;
    if (value) value->FreeNotification(this);
    if (wasActive) HookControl();
}

bool TRxWindowHook::IsForm() const {
    return WinControl() && WinControl() == Owner() && dynamic_cast<TCustomForm*>(Owner());
}

bool TRxWindowHook::ReadDefinedProperty(const QString& name, const QVariant& value) {
    if (name.compare(QLatin1String("IsForm"), Qt::CaseInsensitive) != 0) return false;
    const QString v = value.toString();
    if (v.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) {
        if (auto* form = dynamic_cast<TCustomForm*>(Owner())) SetWinControl(form);
    } else if (v.compare(QLatin1String("False"), Qt::CaseInsensitive) != 0) {
        throw EReadError(QStringLiteral("Ungültiger Wert für IsForm"));
    }
    return true;
}

void TRxWindowHook::DoAfterMessage(TMessage& Msg, bool& Handled) {
    FAfterMessage(this, Msg, Handled);
}

void TRxWindowHook::DoBeforeMessage(TMessage& Msg, bool& Handled) {
    FBeforeMessage(this, Msg, Handled);
}

void TRxWindowHook::Notification(TComponent* AComponent, TOperation operation) {
    TComponent::Notification(AComponent, operation);
    if (operation == TOperation::opRemove && AComponent && AComponent == FControl.data())
        SetWinControl(nullptr);
}

// ---------------------------------------------------------------------------

TControlHook::TControlHook(THookList* list) : FList(list) {}

TWinControl* TControlHook::Control() const {
    return WholeControl(FControl.data());
}

TControlHook::~TControlHook() {
    FDestroying = true;
    while (!FClients.empty()) {
        TRxWindowHook* client = FClients.back().data();
        if (client)
            RemoveClient(client);
        else
            FClients.pop_back();
    }
    Uninstall();
}

void TControlHook::SetControl(TWinControl* value) {
    if (value == FControl.data()) return;
    Uninstall();
    FControl = value;
    if (!FClients.empty()) Install();
}

void TControlHook::AddClient(TRxWindowHook* client) {
    if (std::find(FClients.begin(), FClients.end(), client) == FClients.end()) {
        FClients.emplace_back(client);
        client->FControlHook = this;
        SetControl(WholeControl(client->FControl.data()));
    }
    Install();
}

void TControlHook::RemoveClient(TRxWindowHook* client) {
    client->FControlHook = nullptr;
    std::erase_if(FClients,
                  [&](const QPointer<TRxWindowHook>& c) { return c.data() == client || c.isNull(); });
    if (FClients.empty()) Uninstall();
}

void TControlHook::Install() {
    TWinControl* control = Control();
    if (!control || control->IsDesigning() || FDestroying) return;
    control->HandleNeeded();
    QWidget* w = control->Widget();
    if (!w || w == FWidget.data()) return;
    Uninstall();
    w->installEventFilter(this);
    FWidget = w;
    FDestroyedConnection = connect(w, &QObject::destroyed, this, [this] { WidgetDestroyed(); });
}

void TControlHook::Uninstall() {
    if (!FWidget) return;
    disconnect(FDestroyedConnection);
    FWidget->removeEventFilter(this);
    FWidget = nullptr;
}

void TControlHook::HookedWindowProc(TMessage& msg, const std::function<void()>& previous) {
    bool handled = false;
    if (!FControl) {
        msg.Result = 0;
        return;
    }
    if (msg.Msg != WM_QUIT) NotifyClients(msg, handled, false);
    if (!handled || msg.Msg == WM_DESTROY) {
        previous();
        NotifyClients(msg, handled, true);
    }
}

void TControlHook::NotifyClients(TMessage& msg, bool& handled, bool after) {
    if (!Control() || FDestroying) return;
    // A client may leave while it is told; the walk goes over the clients as they were.
    const auto clients = FClients;
    for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
        TRxWindowHook* client = it->data();
        if (!client) continue;
        Guard([&] {
            if (after)
                client->DoAfterMessage(msg, handled);
            else
                client->DoBeforeMessage(msg, handled);
        });
        if (handled) break;
    }
}

bool TControlHook::eventFilter(QObject* watched, QEvent* event) {
    if (watched != FWidget.data() || event->type() != TMessageEvent::EventType()) return false;
    auto* e = static_cast<TMessageEvent*>(event);
    // The rest of the chain below this filter is the previous procedure: the
    // message goes on to it, and the after-notification runs when it is done.
    bool handled = false;
    bool swallowed = false;
    Guard([&] {
        if (!FControl) {
            e->Msg.Result = 0;
            swallowed = true;
            return;
        }
        if (e->Msg.Msg != WM_QUIT) NotifyClients(e->Msg, handled, false);
        if (handled && e->Msg.Msg != WM_DESTROY) {
            swallowed = true;
            return;
        }
        e->After.push_back([self = QPointer<TControlHook>(this), e, handled]() mutable {
            if (self) Guard([&] { self->NotifyClients(e->Msg, handled, true); });
        });
    });
    return swallowed;
}

void TControlHook::WidgetDestroyed() {
    FWidget = nullptr;
    TMessage msg{WM_DESTROY, 0, 0, 0};
    TWinControl* control = Control();
    // The widget is gone: the control's own procedure handles the message directly.
    Guard([&] {
        HookedWindowProc(msg, [&] {
            if (control) control->WndProc(msg);
        });
    });
    // The control will get a new widget; the filter goes back on it then.
    if (THookList::Instance(false) == FList && FList && !FDestroying && control) FList->Post(CM_REHOOK, this);
}

// ---------------------------------------------------------------------------

THookList::THookList() : QObject(QCoreApplication::instance()) {}

THookList* THookList::Instance(bool create) {
    // One per process, a child of the Qt application so it goes with it.
    static QPointer<THookList> instance;
    if (!instance && create && QCoreApplication::instance()) instance = new THookList();
    return instance.data();
}

THookList::~THookList() {
    while (!FHooks.empty()) {
        std::unique_ptr<TControlHook> last = std::move(FHooks.back());
        FHooks.pop_back();
    }
}

TControlHook* THookList::FindOrCreateHook(TWinControl* control) {
    for (const auto& h : FHooks)
        if (h->Control() == control) return h.get();
    auto hook = std::make_unique<TControlHook>(this);
    hook->SetControl(control);
    FHooks.push_back(std::move(hook));
    return FHooks.back().get();
}

bool THookList::Contains(const TControlHook* hook) const {
    return std::any_of(FHooks.begin(), FHooks.end(), [&](const auto& h) { return h.get() == hook; });
}

std::unique_ptr<TControlHook> THookList::Extract(TControlHook* hook) {
    auto it = std::find_if(FHooks.begin(), FHooks.end(), [&](const auto& h) { return h.get() == hook; });
    if (it == FHooks.end()) return nullptr;
    std::unique_ptr<TControlHook> h = std::move(*it);
    FHooks.erase(it);
    return h;
}

void THookList::Post(unsigned msg, TControlHook* hook) {
    QCoreApplication::postEvent(this, new TMessageEvent(TMessage{msg, 0, reinterpret_cast<LPARAM>(hook), 0}));
}

bool THookList::event(QEvent* event) {
    if (event->type() != TMessageEvent::EventType()) return QObject::event(event);
    const TMessage& msg = static_cast<TMessageEvent*>(event)->Msg;
    auto* hook = reinterpret_cast<TControlHook*>(msg.LParam);
    Guard([&] {
        if (!Contains(hook)) return; // freed meanwhile
        if (msg.Msg == CM_REHOOK) {
            hook->Install();
        } else if (msg.Msg == CM_FREEHOOK && hook->ClientCount() == 0) {
            // A hook that found a client again since the request stays.
            Extract(hook).reset();
        }
    });
    return true;
}
