// The class library's foundation: exceptions, persistent objects, components with
// owners and names, string lists, and events bound to their receivers.
#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

using TObject = QObject;

// ---------------------------------------------------------------------------
// Exceptions carry the class library's (German) message texts.

class Exception : public std::exception {
public:
    explicit Exception(QString message);
    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FUtf8.c_str(); }
    // Errors that would recur at every use of the same thing (a settings file that
    // cannot be read, say) name it here and are shown once per run; the operation
    // they stop still stops every time.
    const QString& Subject() const noexcept { return FSubject; }
    void SetSubject(QString subject) { FSubject = std::move(subject); }

private:
    QString FMessage;
    std::string FUtf8;
    QString FSubject;
};

#define GLYVEX_EXCEPTION(Name, Base)                                                                         \
    class Name : public Base {                                                                               \
    public:                                                                                                  \
        using Base::Base;                                                                                    \
    };

GLYVEX_EXCEPTION(EInvalidOperation, Exception)
GLYVEX_EXCEPTION(EConvertError, Exception)
GLYVEX_EXCEPTION(EStringListError, Exception)
GLYVEX_EXCEPTION(EComponentError, Exception)
GLYVEX_EXCEPTION(EInvalidCast, Exception)
GLYVEX_EXCEPTION(EOutOfResources, Exception)
GLYVEX_EXCEPTION(EReadError, Exception)

// ---------------------------------------------------------------------------
// Events: a callable bound to its receiver. An event whose receiver is gone, or is a
// component whose destruction has begun, is unassigned, so a handler can never run on
// a destroyed or half-destroyed form.

// True for a component in the destroying state.
bool IsBeingDestroyed(const QObject* receiver);

template <class... Args> class TEvent {
public:
    TEvent() = default;
    template <class R, class M>
    requires std::is_member_function_pointer_v<M> TEvent(R* receiver, M method)
        : FReceiver(receiver), FCode([receiver, method](Args... a) { (receiver->*method)(a...); }) {}
    TEvent(QObject* receiver, std::function<void(Args...)> code)
        : FReceiver(receiver), FCode(std::move(code)), FFree(receiver == nullptr) {}

    bool Assigned() const {
        return FCode && (FFree || (!FReceiver.isNull() && !IsBeingDestroyed(FReceiver.data())));
    }
    explicit operator bool() const { return Assigned(); }
    QObject* Receiver() const { return FReceiver.data(); }
    void operator()(Args... a) const {
        if (!Assigned()) return;
        // Runs a copy: a handler may reassign the very event that is calling it.
        const auto code = FCode;
        code(a...);
    }
    // Events compare equal only when both are unassigned; enough for "changed" tests.
    bool operator==(const TEvent& o) const { return !Assigned() && !o.Assigned(); }

private:
    QPointer<QObject> FReceiver;
    std::function<void(Args...)> FCode;
    bool FFree = false;
};

using TNotifyEvent = TEvent<TObject*>;
Q_DECLARE_METATYPE(TNotifyEvent)

// ---------------------------------------------------------------------------

class TPersistent : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Copies the state of Source; the base refuses, so a class that cannot be
    // assigned says so instead of silently doing nothing.
    virtual void Assign(TPersistent* Source);
    // Stored definitions may hold values that are not published properties
    // (legacy names kept for old definitions); a class claims them here.
    virtual bool ReadDefinedProperty(const QString& name, const QVariant& value) {
        Q_UNUSED(name);
        Q_UNUSED(value);
        return false;
    }
};

class TComponent;

enum class TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
    Q_OBJECT
    Q_PROPERTY(QString Name READ Name WRITE SetName)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
public:
    enum StateFlag : unsigned { csLoading = 1, csReading = 2, csDesigning = 4, csDestroying = 8 };

    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;
    // Every delete of a component comes here before any of its destructors has run, so
    // its destroy sequence (BeforeDestruction, handlers such as a form's OnDestroy, the
    // destroying state) starts while every level of it is still whole.
    static void operator delete(TComponent* component, std::destroying_delete_t) noexcept;
    // The allocation that pairs with it, and the release of the memory of a component whose
    // constructor threw (never built, so there is nothing to destroy). Out of line, so the
    // compiler's check that allocation and release match sees them as the class's own.
    static void* operator new(std::size_t size);
    static void operator delete(void* memory) noexcept;
    // Construction in place (Qt's meta-types) stays as it is.
    static void* operator new(std::size_t, void* where) noexcept { return where; }
    static void operator delete(void*, void*) noexcept {}

    TComponent* Owner() const { return FOwner; }
    int ComponentCount() const { return int(FComponents.size()); }
    TComponent* Components(int index) const;
    int ComponentIndex() const;
    // Case-insensitive, as names are identifiers.
    TComponent* FindComponent(const QString& name) const;

    QString Name() const { return FName; }
    virtual void SetName(const QString& value);
    int Tag() const { return FTag; }
    void SetTag(int value) { FTag = value; }

    bool IsLoading() const { return FState & csLoading; }
    bool IsReading() const { return FState & csReading; }
    bool IsDesigning() const { return FState & csDesigning; }
    bool IsDestroying() const { return FState & csDestroying; }
    unsigned ComponentState() const { return FState; }
    // The program never runs designing; tests and the form designer set it.
    void SetDesigning(bool value, bool includeOwned = true);
    void SetLoadingState(bool loading);

    // Called once the definition that created this component has been read.
    virtual void Loaded();
    // A stored definition nests this component inside `parent` (a control in its
    // container, a menu item in its menu). Components that do not nest ignore it.
    virtual void SetParentComponent(TComponent* parent) { Q_UNUSED(parent); }
    void FreeNotification(TComponent* other);
    void RemoveFreeNotification(TComponent* other);

    template <class T> bool InheritsFrom() const { return dynamic_cast<const T*>(this) != nullptr; }

    // Work this component did as an owner, for tests that guard against the cost of an
    // insertion or removal growing with the number of components owned.
    struct TOwnershipCounters {
        long long notifications = 0; // Notification calls made by insertions and removals
        long long scanned = 0;       // list slots looked at to find a component being removed
    };
    const TOwnershipCounters& OwnershipCounters() const { return FCounters; }

protected:
    // Told when a component joins or leaves this component's owner (and, for an owner,
    // its own list), and by FreeNotification. Only components that listen to their
    // siblings hear about siblings: every component does by default, controls do not
    // (a form may own thousands of them), and a control that keeps references to its
    // siblings turns it on again with SetSiblingNotifications(true).
    virtual void Notification(TComponent* AComponent, TOperation operation);
    void SetSiblingNotifications(bool value);
    // Enters the destroying state, with everything owned. Each owned component is
    // told first (BeforeDestruction), while it is still whole.
    void Destroying();
    // Runs once on a whole component just before the destroying state: its owner is
    // being destroyed, or it is being deleted. A component ended without delete (on the
    // stack, or a member of another object) gets no call, as its destructor has begun.
    // Nothing may reach it afterwards.
    virtual void BeforeDestruction() {}

private:
    void InsertComponent(TComponent* c);
    void RemoveComponent(TComponent* c);

    TComponent* FOwner = nullptr;
    // Creation order. FOwnerIndex is this component's position in its owner's list, so
    // finding it again costs nothing; it stays exact because removals renumber the rest.
    std::vector<TComponent*> FComponents;
    int FOwnerIndex = -1;
    bool FSiblingNotifications = true;
    // The owned components that listen to their siblings, in creation order.
    std::vector<TComponent*> FListeners;
    TOwnershipCounters FCounters;
    // Owned components by case-folded name: forms with thousands of fields stay fast.
    QHash<QString, TComponent*> FNameIndex;
    std::vector<TComponent*> FFreeNotifies;
    QString FName;
    int FTag = 0;
    unsigned FState = 0;
};

// ---------------------------------------------------------------------------
// String lists: lines with optional attached objects.

class TStrings : public TPersistent {
    Q_OBJECT
public:
    using TPersistent::TPersistent;

    int Count() const { return int(FItems.size()); }
    QString Strings(int index) const;
    void Put(int index, const QString& s);
    QObject* Objects(int index) const;
    void PutObject(int index, QObject* o);
    virtual int Add(const QString& s);
    int AddObject(const QString& s, QObject* o);
    void AddStrings(const QStringList& lines);
    virtual void Insert(int index, const QString& s);
    void Delete(int index);
    void Clear();
    // Case-insensitive by the user's locale, like the identifiers it usually holds.
    int IndexOf(const QString& s) const;

    QString Text() const;
    void SetText(const QString& text);
    QStringList ToStringList() const;
    void SetStrings(const QStringList& lines);

    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    void Assign(TPersistent* Source) override;

    std::function<void()> OnChange;
    // Counts every change to the lines, also inside BeginUpdate/EndUpdate, so that an
    // index built over them can tell that it is stale.
    quint64 Generation() const { return FGeneration; }

protected:
    void Changed();
    void CheckIndex(int index, int limit) const;
    struct Item {
        QString text;
        QPointer<QObject> object;
    };
    std::vector<Item> FItems;
    int FUpdateCount = 0;
    bool FChangedWhileUpdating = false;
    quint64 FGeneration = 0;
};

class TStringList : public TStrings {
    Q_OBJECT
public:
    using TStrings::TStrings;
    bool Sorted() const { return FSorted; }
    void SetSorted(bool value);
    int Add(const QString& s) override;
    void Insert(int index, const QString& s) override;
    // Adds many lines and sorts once, which keeps filling a sorted list linear-logarithmic.
    void AddSortedBatch(const QStringList& lines);

private:
    void Sort();
    bool FSorted = false;
};

// Locale-aware, case-insensitive comparison used by sorted lists.
int AnsiCompareText(const QString& a, const QString& b);

// Exactly text.toCaseFolded(), for keys of case-insensitive lookups; plain ASCII, which
// component and most family names are, takes a fast path (Qt's folding costs about a
// hundred instructions a character, which adds up over thousands of names).
QString CaseFoldKey(const QString& text);

// ---------------------------------------------------------------------------
// Every place where Qt calls into the system runs through Guard, so that no
// exception crosses into Qt's event loop: it goes to the application's report.

void ReportException(std::exception_ptr error);

template <class F> bool Guard(F&& f) noexcept {
    try {
        f();
        return true;
    } catch (...) {
        ReportException(std::current_exception());
        return false;
    }
}

// ---------------------------------------------------------------------------
// Collections: ordered lists of owned items that stored definitions fill with
// "Name = <item { ... } item { ... }>".

class TCollectionItem : public TPersistent {
    Q_OBJECT
public:
    using TPersistent::TPersistent;
};

class TCollection : public TPersistent {
    Q_OBJECT
public:
    using TPersistent::TPersistent;
    int Count() const { return int(FItems.size()); }
    TCollectionItem* Item(int index) const;
    TCollectionItem* Add();
    void Clear();
    std::function<void()> OnChange;
    void Changed() {
        if (OnChange) OnChange();
    }

protected:
    virtual std::unique_ptr<TCollectionItem> NewItem() = 0;
    std::vector<std::unique_ptr<TCollectionItem>> FItems;
};
