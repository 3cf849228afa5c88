// Components, string lists, events and fonts: the parts of the class library
// that everything else relies on.
#include "TestMain.h"

#include "StdCtrls.h"

#include <climits>

class Probe : public TComponent {
public:
    using TComponent::TComponent;
    QStringList* log = nullptr;
    ~Probe() override {
        if (log) *log << QStringLiteral("free ") + Name();
    }

protected:
    void Notification(TComponent* c, TOperation op) override {
        if (log && op == TOperation::opRemove)
            *log << Name() + QStringLiteral(" sees ") + c->Name() + QStringLiteral(" go");
    }
    // Reached only while the Probe level exists (a virtual call from a base destructor
    // would stop at the base).
    void BeforeDestruction() override {
        if (log)
            *log << QStringLiteral("told ") + Name() + (IsDestroying() ? QStringLiteral(" late") : QString());
    }
};

// A component whose construction fails half-way.
class Unbuildable : public Probe {
public:
    explicit Unbuildable(TComponent* owner) : Probe(owner) { throw EComponentError(QStringLiteral("no")); }
};

class Receiver : public QObject {
public:
    int calls = 0;
    void Handle(TObject*) { ++calls; }
};

class TestClasses : public QObject {
    Q_OBJECT
private slots:
    void ownerFreesOwnedComponentsLastFirst();
    void namesAreUniqueAndFoundIgnoringCase();
    void caseFoldKeyIsQtsFolding();
    void freeNotificationTellsWatchers();
    void ownershipWorkPerComponentStaysConstant();
    void destructionStartsWhileTheComponentIsWhole();
    void stringListIndexErrorsAndText();
    void sortedListIgnoresCaseAndKeepsArrivalOrderOfEquals();
    void eventIsUnassignedWhenReceiverIsGone();
    void fontPointsAndPixels();
    void fontsOutliveTheScreen();
    void guardHandsErrorsToTheReport();
};

void TestClasses::ownerFreesOwnedComponentsLastFirst() {
    QStringList log;
    auto* owner = new TComponent(nullptr);
    for (const char* n : {"A", "B", "C"}) {
        auto* p = new Probe(owner);
        p->SetName(QLatin1String(n));
        p->log = &log;
    }
    QCOMPARE(owner->ComponentCount(), 3);
    QCOMPARE(owner->Components(1)->Name(), QStringLiteral("B"));
    QCOMPARE(owner->Components(2)->ComponentIndex(), 2);
    delete owner->Components(1);
    QCOMPARE(owner->ComponentCount(), 2);
    QVERIFY(log.contains(QStringLiteral("A sees B go")));
    log.clear();
    delete owner;
    QVERIFY(log.indexOf(QStringLiteral("free C")) >= 0);
    QVERIFY(log.indexOf(QStringLiteral("free C")) < log.indexOf(QStringLiteral("free A")));
    QVERIFY_THROWS_EXCEPTION(EStringListError, TComponent(nullptr).Components(0));
}

void TestClasses::namesAreUniqueAndFoundIgnoringCase() {
    TComponent owner(nullptr);
    auto* a = new TComponent(&owner);
    a->SetName(QStringLiteral("Edit1"));
    auto* b = new TComponent(&owner);
    QCOMPARE(owner.FindComponent(QStringLiteral("EDIT1")), a);
    QVERIFY_THROWS_EXCEPTION(EComponentError, b->SetName(QStringLiteral("edit1")));
    QVERIFY_THROWS_EXCEPTION(EComponentError, b->SetName(QStringLiteral("1abc")));
    QVERIFY_THROWS_EXCEPTION(EComponentError, b->SetName(QStringLiteral("a b")));
    b->SetName(QStringLiteral("MyEdit12"));
    QCOMPARE(owner.FindComponent(QStringLiteral("myedit12")), b);
    // A rename frees the old name.
    a->SetName(QStringLiteral("Renamed"));
    QCOMPARE(owner.FindComponent(QStringLiteral("Edit1")), nullptr);
    b->SetName(QStringLiteral("Edit1"));
    QCOMPARE(owner.FindComponent(QStringLiteral("edit1")), b);
    delete b;
    QCOMPARE(owner.FindComponent(QStringLiteral("Edit1")), nullptr);
    QCOMPARE(owner.FindComponent(QString()), nullptr);
}

void TestClasses::caseFoldKeyIsQtsFolding() {
    // The fast path must give exactly what Qt's folding gives, or names stored under one
    // spelling would not be found under another.
    const QStringList samples{QString(),
                              QStringLiteral("edit1"),
                              QStringLiteral("MyEdit12345"),
                              QStringLiteral("@[`{~ AZaz09_"),
                              QStringLiteral("DejaVu Sans [PfEd]"),
                              QStringLiteral("Straße"),
                              QStringLiteral("ΣΊΣΥΦΟΣ"),
                              QStringLiteral("\u212Aelvin"),
                              QStringLiteral("İstanbul"),
                              QStringLiteral("ＡＢＣ"),
                              QStringLiteral("x\u0080Y")};
    for (const QString& s : samples)
        QCOMPARE(CaseFoldKey(s), s.toCaseFolded());
    // Every ASCII character, upper and lower case, in one string.
    QString ascii;
    for (char16_t c = 1; c < 0x80; ++c)
        ascii += QChar(c);
    QCOMPARE(CaseFoldKey(ascii), ascii.toCaseFolded());
    // A name whose folded form is the same ASCII text still finds its component.
    TComponent owner(nullptr);
    auto* c = new TComponent(&owner);
    c->SetName(QStringLiteral("Kelvin"));
    QCOMPARE(owner.FindComponent(QStringLiteral("KELVIN")), c);
}

void TestClasses::freeNotificationTellsWatchers() {
    QStringList log;
    TComponent ownerA(nullptr), ownerB(nullptr);
    auto* watcher = new Probe(&ownerA);
    watcher->SetName(QStringLiteral("W"));
    watcher->log = &log;
    auto* watched = new Probe(&ownerB);
    watched->SetName(QStringLiteral("X"));
    watcher->FreeNotification(watched);
    delete watched;
    QVERIFY(log.contains(QStringLiteral("W sees X go")));
    // The link is mutual: freeing the watcher first leaves nothing dangling.
    auto* y = new Probe(&ownerB);
    y->SetName(QStringLiteral("Y"));
    watcher->log = nullptr;
    watcher->FreeNotification(y);
    delete watcher;
    delete y;
}

// However a component goes (deleted, or with its owner), it is told while every level of it
// is whole; one ended in place (a local) cannot be; one whose constructor threw was never
// built, so it is only freed and leaves its owner.
void TestClasses::destructionStartsWhileTheComponentIsWhole() {
    QStringList log;
    auto owner = std::make_unique<TComponent>(nullptr);
    const auto make = [&](const char* name) {
        auto* p = new Probe(owner.get());
        p->SetName(QLatin1String(name));
        p->log = &log;
        return p;
    };
    delete make("A");
    QCOMPARE(log, QStringList({"told A", "free A"}));
    log.clear();
    std::unique_ptr<TComponent> b(make("B"));
    b.reset();
    make("C");
    owner.reset();
    QCOMPARE(log, QStringList({"told B", "free B", "told C", "free C"}));
    log.clear();
    {
        Probe local(nullptr);
        local.SetName(QStringLiteral("L"));
        local.log = &log;
    }
    QCOMPARE(log, QStringList{"free L"});
    owner = std::make_unique<TComponent>(nullptr);
    QVERIFY_THROWS_EXCEPTION(EComponentError, new Unbuildable(owner.get()));
    QCOMPARE(owner->ComponentCount(), 0);
}

// A form owns one field per installed family: making and freeing each must cost the
// same whether it owns a hundred or thousands, while listeners still hear of siblings.
void TestClasses::ownershipWorkPerComponentStaysConstant() {
    TestEnvironment env;
    const auto work = [](int n) {
        QStringList log;
        TComponent owner(nullptr);
        auto* listener = new Probe(&owner); // a plain component listens to its siblings
        listener->SetName(QStringLiteral("L"));
        listener->log = &log;
        std::vector<TControl*> controls;
        for (int i = 0; i < n; ++i) {
            controls.push_back(new TControl(&owner));
            controls.back()->SetName(QStringLiteral("C%1").arg(i));
        }
        for (int i = 0; i < n; ++i)
            if (owner.Components(i + 1)->ComponentIndex() != i + 1) return std::pair<double, double>{-1, -1};
        const auto made = owner.OwnershipCounters();
        // One from the middle: the rest keep their places, and the listener hears of it.
        delete controls[size_t(n / 2)];
        controls.erase(controls.begin() + n / 2);
        if (!log.contains(QStringLiteral("L sees C%1 go").arg(n / 2)))
            return std::pair<double, double>{-2, -2};
        for (int i = 0; i < owner.ComponentCount(); ++i)
            if (owner.Components(i)->ComponentIndex() != i) return std::pair<double, double>{-3, -3};
        const auto before = owner.OwnershipCounters();
        // Freed last first, as an owner frees them.
        while (!controls.empty()) {
            delete controls.back();
            controls.pop_back();
        }
        const auto freed = owner.OwnershipCounters();
        listener->log = nullptr;
        return std::pair<double, double>{
            double(made.notifications) / n,
            double(freed.notifications + freed.scanned - before.notifications - before.scanned) / (n - 1)};
    };
    const auto small = work(100), large = work(5000);
    QVERIFY(small.first >= 0 && large.first >= 0);
    // Each insertion tells the one listener; each removal tells it and the owner.
    QCOMPARE(small.first, 1.0);
    QCOMPARE(large.first, 1.0);
    QCOMPARE(small.second, large.second);
    QVERIFY2(large.second <= 4, qPrintable(QString::number(large.second)));
}

void TestClasses::stringListIndexErrorsAndText() {
    TStrings s;
    int changes = 0;
    s.OnChange = [&] { ++changes; };
    s.SetStrings({QStringLiteral("a"), QString(), QStringLiteral("c")});
    QCOMPARE(changes, 1);
    QCOMPARE(s.Count(), 3);
    QCOMPARE(s.Text(), QStringLiteral("a\n\nc\n"));
    QVERIFY_THROWS_EXCEPTION(EStringListError, s.Strings(3));
    QVERIFY_THROWS_EXCEPTION(EStringListError, s.Strings(-1));
    QVERIFY_THROWS_EXCEPTION(EStringListError, s.Insert(5, QStringLiteral("x")));
    s.SetText(QStringLiteral("x\r\ny\n"));
    QCOMPARE(s.ToStringList(), QStringList({QStringLiteral("x"), QStringLiteral("y")}));
    QCOMPARE(s.IndexOf(QStringLiteral("Y")), 1);
    QCOMPARE(s.IndexOf(QStringLiteral("z")), -1);
    TStrings copy;
    copy.Assign(&s);
    QCOMPARE(copy.ToStringList(), s.ToStringList());
    TFont font;
    QVERIFY_THROWS_EXCEPTION(EConvertError, copy.Assign(&font));
}

void TestClasses::sortedListIgnoresCaseAndKeepsArrivalOrderOfEquals() {
    TStringList s;
    s.SetSorted(true);
    s.AddSortedBatch({QStringLiteral("b"), QStringLiteral("A"), QStringLiteral("a"), QStringLiteral("C")});
    const QStringList r = s.ToStringList();
    QCOMPARE(r.mid(2), QStringList({QStringLiteral("b"), QStringLiteral("C")}));
    QCOMPARE(r.mid(0, 2), QStringList({QStringLiteral("A"), QStringLiteral("a")}));
    QCOMPARE(s.Add(QStringLiteral("B")), 3);
    QCOMPARE(s.Strings(3), QStringLiteral("B"));
    QVERIFY_THROWS_EXCEPTION(EStringListError, s.Insert(0, QStringLiteral("x")));
    QVERIFY(AnsiCompareText(QStringLiteral("abc"), QStringLiteral("ABD")) < 0);
    QCOMPARE(AnsiCompareText(QStringLiteral("Arial"), QStringLiteral("ARIAL")), 0);
}

void TestClasses::eventIsUnassignedWhenReceiverIsGone() {
    auto* r = new Receiver;
    TNotifyEvent e(r, &Receiver::Handle);
    QVERIFY(e.Assigned());
    e(nullptr);
    QCOMPARE(r->calls, 1);
    delete r;
    QVERIFY(!e.Assigned());
    e(nullptr); // must not call into the freed receiver
    QVERIFY(!TNotifyEvent().Assigned());
}

void TestClasses::fontPointsAndPixels() {
    TestEnvironment env({}, 96);
    QCOMPARE(MulDiv(19, 72, 96), 14);
    QCOMPARE(MulDiv(19, 72, 120), 11);
    QCOMPARE(MulDiv(-19, 72, 96), -14);
    QCOMPARE(MulDiv(1, 1, 2), 1);
    QCOMPARE(MulDiv(3, 1, 0), -1);
    // Beyond the integers (or at the lowest, which has no negation): -1, as the window system says.
    QCOMPARE(MulDiv(INT_MAX, 96, 72), -1);
    QCOMPARE(MulDiv(-1610612736, 96, 72), -1);
    QCOMPARE(MulDiv(INT_MIN, 72, 96), -1610612736);
    TFont f;
    int changes = 0;
    f.OnChange = [&] { ++changes; };
    f.SetHeight(-19);
    QCOMPARE(f.Size(), 14);
    f.SetSize(100);
    QCOMPARE(f.Height(), -133);
    QCOMPARE(f.PixelSize(), 133);
    f.SetSize(100); // unchanged: no notification
    QCOMPARE(changes, 2);
    f.SetStyle(TFontStyles(fsBold | fsItalic));
    const QFont q = f.ToQFont();
    QVERIFY(q.bold() && q.italic() && !q.underline());
    QCOMPARE(q.pixelSize(), 133);
    env.screen.SetPixelsPerInch(120);
    f.SetHeight(-19);
    QCOMPARE(f.Size(), 11);
    // Whatever height is stored, it is drawn at a size Qt's text metrics can hold.
    f.SetHeight(INT_MIN);
    QCOMPARE(f.PixelSize(), TFont::MaxPixelSize);
    QCOMPARE(f.ToQFont().pixelSize(), TFont::MaxPixelSize);
    f.SetSize(INT_MAX); // no pixel size for that: MulDiv's -1
    QCOMPARE(f.Height(), 1);
}

void TestClasses::fontsOutliveTheScreen() {
    TFont f;
    f.SetHeight(-20);
    {
        TestEnvironment env({}, 120);
        QCOMPARE(f.Size(), 12);
    }
    // With the screen gone a font neither asks it (it is freed) nor keeps its resolution:
    // 96 pixels per inch, and Qt gets the name as it stands.
    QCOMPARE(f.Size(), 15);
    f.SetName(QStringLiteral("No Such Family Here"));
    QCOMPARE(f.ToQFont().family(), QStringLiteral("No Such Family Here"));
}

void TestClasses::guardHandsErrorsToTheReport() {
    TestEnvironment env;
    QVERIFY(!Guard([] { throw EInvalidOperation(QStringLiteral("Nicht erlaubt")); }));
    QVERIFY(Guard([] {}));
    QVERIFY(!Guard([] { throw std::runtime_error("plain"); }));
    QCOMPARE(env.errors, QStringList({QStringLiteral("Nicht erlaubt"), QStringLiteral("plain")}));
}

QTEST_MAIN(TestClasses)
#include "tst_classes.moc"
