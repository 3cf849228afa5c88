// Published properties by name and kind, their text encoding, the bad-input
// rules, nested objects and string lists, and the stored-list operations.
#include "TestMain.h"

#include "RXProps.h"

namespace Kinds {
Q_NAMESPACE
enum TShade { shRed = 0, shGreen = 1, shBlue = 2 };
Q_ENUM_NS(TShade)
enum TBit { b0 = 1, b1 = 2, b2 = 4, b16 = 1 << 16, b20 = 1 << 20 };
Q_DECLARE_FLAGS(TBits, TBit)
Q_FLAG_NS(TBits)
} // namespace Kinds

class TInner : public TPersistent {
    Q_OBJECT
    Q_PROPERTY(int Value MEMBER Value)
    Q_PROPERTY(TStrings* Lines READ Lines WRITE SetLines)
    Q_PROPERTY(TPersistent* Back MEMBER Back)
public:
    int Value = 0;
    TPersistent* Back = nullptr;
    TStrings* Lines() { return &FLines; }
    void SetLines(TStrings* v) { FLines.Assign(v); }

private:
    TStringList FLines;
};

class TSample : public TComponent {
    Q_OBJECT
    Q_PROPERTY(int Number READ Number WRITE SetNumber)
    Q_PROPERTY(char Letter MEMBER Letter)
    Q_PROPERTY(QChar Wide MEMBER Wide)
    Q_PROPERTY(Kinds::TShade Shade MEMBER Shade)
    Q_PROPERTY(bool Flag MEMBER Flag)
    Q_PROPERTY(float Single MEMBER Single)
    Q_PROPERTY(double Real MEMBER Real)
    Q_PROPERTY(QString Text READ Text WRITE SetText)
    Q_PROPERTY(Kinds::TBits Bits MEMBER Bits)
    Q_PROPERTY(TInner* Inner READ Inner)
    Q_PROPERTY(TStrings* Items READ Items WRITE SetItems)
    Q_PROPERTY(QVariant Any MEMBER Any)
    Q_PROPERTY(TNotifyEvent OnThing MEMBER OnThing)
    Q_PROPERTY(int Refuses READ Refuses WRITE SetRefuses)
public:
    using TComponent::TComponent;
    int Number() const { return FNumber; }
    void SetNumber(int v) {
        FNumber = v;
        ++numberSets;
    }
    QString Text() const { return FText; }
    void SetText(const QString& v) {
        FText = v;
        ++textSets;
    }
    TInner* Inner() { return &FInner; }
    TStrings* Items() { return &FItems; }
    void SetItems(TStrings* v) { FItems.Assign(v); }
    int Refuses() const { return 1; }
    void SetRefuses(int) { throw EConvertError("refused"); }

    char Letter = 'a';
    QChar Wide = u'w';
    Kinds::TShade Shade = Kinds::shRed;
    bool Flag = false;
    float Single = 0;
    double Real = 0;
    Kinds::TBits Bits;
    QVariant Any;
    TNotifyEvent OnThing;
    int numberSets = 0, textSets = 0;

private:
    int FNumber = 0;
    QString FText;
    TInner FInner;
    TStringList FItems;
};

// Redeclares a property of its base, as a subclass may to change it.
class TSubSample : public TSample {
    Q_OBJECT
    Q_PROPERTY(int Number READ Number WRITE SetNumber)
public:
    using TSample::TSample;
};

// Gives up on nesting deeper than any object the tests store.
struct TBoundedStorage : TPropsStorage {
    int& nested;
    explicit TBoundedStorage(int& n) : nested(n) {}
    std::unique_ptr<TPropsStorage> NewStorage() override {
        if (++nested > 50) throw Exception("nested without end");
        return std::make_unique<TBoundedStorage>(nested);
    }
};

// A store in memory that records what is done to it, in order.
struct MemoryStore {
    QMap<QString, QString> items; // "section|item"
    QStringList log;
    void Bind(TPropsStorage& s) {
        s.OnReadString = [this](const QString& sec, const QString& item, const QString& def) {
            return items.value(sec + "|" + item, def);
        };
        s.OnWriteString = [this](const QString& sec, const QString& item, const QString& v) {
            items[sec + "|" + item] = v;
            log << sec + "|" + item + "=" + v;
        };
        s.OnEraseSection = [this](const QString& sec) {
            for (const QString& k : items.keys())
                if (k.startsWith(sec + "|")) items.remove(k);
            log << "erase " + sec;
        };
    }
};

class TstRXProps : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnvironment> env;
    std::unique_ptr<TComponent> owner;
    TSample* sample = nullptr;
    MemoryStore store;
    TPropsStorage storage;

    TPropInfo Prop(const char* name) {
        TPropInfoList list(sample, tkStorable | KindBit(pkMethod));
        const TPropInfo* p = list.Find(QString::fromLatin1(name));
        return p ? *p : TPropInfo{};
    }
    void Save(const char* name) {
        TPropInfoList list(sample, tkStorable);
        storage.SaveProperty(list.Find(name));
    }
    void Load(const char* name) {
        TPropInfoList list(sample, tkStorable);
        storage.LoadProperty(list.Find(name));
    }

private slots:
    void init() {
        env = std::make_unique<TestEnvironment>();
        QLocale::setDefault(QLocale::c());
        owner = std::make_unique<TComponent>(nullptr);
        sample = new TSample(owner.get());
        sample->SetName("S");
        store = {};
        storage.Instance = sample;
        storage.Prefix = "S_";
        storage.Section = "Sec";
        store.Bind(storage);
    }
    void cleanup() {
        owner.reset();
        env.reset();
    }

    void propertiesAreListedByKindInDeclarationOrder() {
        TPropInfoList all(sample, tkStorable);
        QStringList names;
        for (int i = 0; i < all.Count(); ++i)
            names << all.Items(i).Name;
        QCOMPARE(names, QStringList({"Name", "Tag", "Number", "Letter", "Wide", "Shade", "Flag", "Single",
                                     "Real", "Text", "Bits", "Inner", "Items", "Any", "Refuses"}));
        // A property a subclass declares again keeps its place.
        TPropInfoList sub(new TSubSample(owner.get()), tkStorable);
        QStringList subNames;
        for (int i = 0; i < sub.Count(); ++i)
            subNames << sub.Items(i).Name;
        QCOMPARE(subNames, names);
        const std::pair<const char*, TPropKind> kinds[] = {
            {"Number", pkInteger},   {"Letter", pkChar},  {"Wide", pkWChar},  {"Shade", pkEnumeration},
            {"Flag", pkEnumeration}, {"Single", pkFloat}, {"Real", pkFloat},  {"Text", pkLString},
            {"Bits", pkSet},         {"Inner", pkClass},  {"Items", pkClass}, {"Any", pkVariant},
            {"OnThing", pkMethod}};
        for (const auto& [name, kind] : kinds) {
            QCOMPARE(Prop(name).Name, QString::fromLatin1(name));
            QCOMPARE(Prop(name).Kind, kind);
        }
        QCOMPARE(all.Find("nUmBeR")->Name, "Number");
        QVERIFY(!all.Find("OnThing"));
        QVERIFY(!all.Find("objectName"));
        QCOMPARE(TPropInfoList(sample, KindBit(pkMethod)).Count(), 1);
        QCOMPARE(TPropInfoList(nullptr, tkStorable).Count(), 0);
        QCOMPARE(GetFloatType(Prop("Single")), ftSingle);
        QCOMPARE(GetFloatType(Prop("Real")), ftDouble);
        QCOMPARE(GetEnumValue(Prop("Shade"), "SHGREEN"), 1);
        QCOMPARE(GetEnumValue(Prop("Shade"), "shPurple"), -1);
        QCOMPARE(GetEnumName(Prop("Flag"), 1), "True");
        QCOMPARE(SetElementName(Prop("Bits"), 20), "b20");
        QCOMPARE(SetElementName(Prop("Bits"), 3), QString());
    }

    void everyKindIsWrittenAsText() {
        sample->SetNumber(-5);
        sample->Letter = 'x';
        sample->Wide = QChar(0x20AC); // a character beyond 8 bits is written as itself
        sample->Shade = Kinds::shBlue;
        sample->Flag = true;
        sample->Single = 1.234567f; // all seven digits a single holds
        sample->Real = 0.1;
        sample->SetText("  padded\t");
        sample->Bits = Kinds::TBits(Kinds::b0 | Kinds::b16 | Kinds::b20); // elements beyond 15 too
        sample->Any = 42;
        for (const char* p :
             {"Number", "Letter", "Wide", "Shade", "Flag", "Single", "Real", "Text", "Bits", "Any"})
            Save(p);
        QCOMPARE(store.log,
                 QStringList({"Sec|S_Number=-5", "Sec|S_Letter=x", "Sec|S_Wide=€", "Sec|S_Shade=shBlue",
                              "Sec|S_Flag=True", "Sec|S_Single=1.234567", "Sec|S_Real=0.1",
                              "Sec|S_Text=padded", "Sec|S_Bits=[b0,b16,b20]", "Sec|S_Any=42"}));
    }

    void emptyTextIsWrittenOnlyForStrings() {
        sample->SetText("");
        sample->Any = QVariant();
        sample->Bits = {};
        for (const char* p : {"Text", "Any", "Bits"})
            Save(p);
        QCOMPARE(store.log, QStringList({"Sec|S_Text=", "Sec|S_Bits=[]"}));
        storage.SaveProperty(nullptr);
        QCOMPARE(store.log.size(), 2);
    }

    void storedTextIsReadBackByKind_data() {
        QTest::addColumn<QString>("prop");
        QTest::addColumn<QString>("stored"); // absent: the item is missing
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("integer") << "Number"
                                 << "77" << QVariant(77);
        QTest::newRow("integer hex") << "Number"
                                     << "$1F" << QVariant(31);
        QTest::newRow("integer with letters") << "Number"
                                              << "12abc" << QVariant(0);
        QTest::newRow("integer absent") << "Number" << QString() << QVariant(3);
        QTest::newRow("char") << "Letter"
                              << "zebra" << QVariant::fromValue('z');
        QTest::newRow("char empty") << "Letter"
                                    << "" << QVariant::fromValue('a');
        QTest::newRow("wide char") << "Wide"
                                   << "€uro" << QVariant(QChar(0x20AC));
        QTest::newRow("wide char empty") << "Wide"
                                         << " " << QVariant(QChar(u'w'));
        QTest::newRow("enum any case") << "Shade"
                                       << "SHBLUE" << QVariant::fromValue(Kinds::shBlue);
        QTest::newRow("enum no match") << "Shade"
                                       << "shPurple" << QVariant::fromValue(Kinds::shRed);
        QTest::newRow("bool") << "Flag"
                              << "true" << QVariant(true);
        QTest::newRow("float") << "Real"
                               << "2.25" << QVariant(2.25);
        QTest::newRow("float not a number") << "Real"
                                            << "two" << QVariant(0.0);
        QTest::newRow("string trimmed") << "Text"
                                        << "  hi there \t" << QVariant("hi there");
        QTest::newRow("set reversed")
            << "Bits"
            << "[b20,b0]" << QVariant::fromValue(Kinds::TBits(Kinds::b0 | Kinds::b20));
        QTest::newRow("set blanks and case")
            << "Bits"
            << "[ B1 , b2 ]" << QVariant::fromValue(Kinds::TBits(Kinds::b1 | Kinds::b2));
        QTest::newRow("set empty") << "Bits"
                                   << "[]" << QVariant::fromValue(Kinds::TBits());
        QTest::newRow("set non-element") << "Bits"
                                         << "[b3]" << QVariant::fromValue(Kinds::TBits());
        QTest::newRow("variant") << "Any"
                                 << " 12 " << QVariant(QStringLiteral("12"));
    }
    void storedTextIsReadBackByKind() {
        QFETCH(QString, prop);
        QFETCH(QString, stored);
        QFETCH(QVariant, expected);
        sample->SetNumber(3);
        sample->Bits = Kinds::b2;
        sample->Any = 7; // an empty variant has empty text, which is never read
        if (!stored.isNull()) store.items["Sec|S_" + prop] = stored;
        Load(prop.toLatin1().constData());
        QCOMPARE(sample->property(prop.toLatin1().constData()), expected);
    }

    void aMissingItemSetsTheCurrentValueAgain() {
        sample->SetText("kept");
        sample->SetNumber(8);
        sample->textSets = sample->numberSets = 0;
        Load("Text");
        Load("Number");
        QCOMPARE(sample->Text(), "kept");
        QCOMPARE(sample->Number(), 8);
        QCOMPARE(sample->textSets, 1);
        QCOMPARE(sample->numberSets, 1);
    }

    void stringListsGetASectionOfTheirOwn() {
        sample->Items()->SetStrings({" first ", "second"});
        Save("Items");
        QCOMPARE(store.log, QStringList({"erase Sec.S_Items", "Sec.S_Items|Count=2",
                                         "Sec.S_Items|Item0= first ", "Sec.S_Items|Item1=second"}));
        sample->Items()->SetStrings({"other"});
        Load("Items");
        QCOMPARE(sample->Items()->ToStringList(), QStringList({" first ", "second"}));

        // An emptied list erases its section and does not come back empty.
        store.log.clear();
        sample->Items()->Clear();
        Save("Items");
        QCOMPARE(store.log, QStringList({"erase Sec.S_Items"}));
        sample->Items()->SetStrings({"kept"});
        Load("Items");
        QCOMPARE(sample->Items()->ToStringList(), QStringList({"kept"}));
        store.items["Sec.S_Items|Count"] = "many";
        Load("Items");
        QCOMPARE(sample->Items()->ToStringList(), QStringList({"kept"}));
    }

    void aDamagedCountReadsOnlyTheLinesThatAreThere() {
        // A count far beyond the items must not make a load read (or hold) billions of lines;
        // the reads are cut off here long before, which the load would swallow.
        int reads = 0;
        const auto read = storage.OnReadString;
        storage.OnReadString = [&](const QString& sec, const QString& item, const QString& def) {
            if (++reads > 1000) throw Exception("read on and on");
            return read(sec, item, def);
        };
        sample->Items()->SetStrings({"kept"});
        store.items["Sec.S_Items|Count"] = "2147483647";
        store.items["Sec.S_Items|Item0"] = "a";
        store.items["Sec.S_Items|Item1"] = "";
        Load("Items");
        QCOMPARE(sample->Items()->ToStringList(), QStringList({"a", ""}));
        QVERIFY(reads < 10);
        // A count with no items at all: the list keeps its lines.
        store.items.remove("Sec.S_Items|Item0");
        store.items.remove("Sec.S_Items|Item1");
        sample->Items()->SetStrings({"kept"});
        Load("Items");
        QCOMPARE(sample->Items()->ToStringList(), QStringList({"kept"}));
    }

    void nestedObjectsUseTheOwningPropertyAsPrefix() {
        sample->Inner()->Value = 9;
        sample->Inner()->Lines()->SetStrings({"x"});
        sample->Inner()->Back = sample->Inner(); // a reference back is not followed again
        Save("Inner");
        QCOMPARE(store.log, QStringList({"Sec|S_InnerValue=9", "erase Sec.S_InnerLines",
                                         "Sec.S_InnerLines|Count=1", "Sec.S_InnerLines|Item0=x"}));
        store.items["Sec|S_InnerValue"] = "4";
        store.items["Sec.S_InnerLines|Item0"] = "y";
        Load("Inner");
        QCOMPARE(sample->Inner()->Value, 4);
        QCOMPARE(sample->Inner()->Lines()->ToStringList(), QStringList({"y"}));
        QVERIFY(!store.items.contains("Sec|S_Inner"));
        // Nor is a reference back to the object around it; the bound stops what would recurse
        // without end.
        sample->Inner()->Back = sample;
        int nested = 0;
        TBoundedStorage bounded(nested);
        bounded.Instance = sample;
        bounded.Section = "Sec";
        store.Bind(bounded);
        TPropInfoList list(sample, tkStorable);
        QVERIFY_THROWS_NO_EXCEPTION(bounded.SaveProperty(list.Find("Inner")));
        bounded.LoadProperty(list.Find("Inner"));
        QVERIFY2(nested <= 4, qPrintable(QString::number(nested))); // Inner and its Lines, twice
    }

    void storedListLinesSplitJoinAndRename() {
        QString c, p;
        QVERIFY(SplitStoredItem("Edit1.Text", c, p));
        QCOMPARE(c + "|" + p, "Edit1|Text");
        QVERIFY(SplitStoredItem("  Edit1 .  Text ", c, p));
        QCOMPARE(c + "|" + p, "Edit1|Text");
        QVERIFY(SplitStoredItem("A.B.C", c, p));
        QCOMPARE(c + "|" + p, "A|B.C");
        for (const char* bad : {"", "Edit1", ".Text", "Edit1.", " . "})
            QVERIFY2(!SplitStoredItem(bad, c, p), bad);
        QCOMPARE(JoinStoredItem("A", "B"), "A.B");
        QCOMPARE(JoinStoredItem("", "B"), QString());
        QCOMPARE(RenameStoredItem("Old.Text", "New"), "New.Text");
        QCOMPARE(RenameStoredItem("NoDot", "New"), QString());
    }

    void bindingAttachesRenamesAndDrops() {
        TStringList list;
        list.SetStrings({"S.Number", "nodot", "Missing.Text", "s . Text", ".Text"});
        BindStoredList(owner.get(), &list, true);
        QCOMPARE(list.ToStringList(), QStringList({"S.Number", "s . Text"}));
        QCOMPARE(list.Objects(0), sample);
        QCOMPARE(list.Objects(1), sample);

        sample->SetName("Renamed");
        list.Add("Unbound.Text");
        BindStoredList(owner.get(), &list, false);
        QCOMPARE(list.ToStringList(), QStringList({"Renamed.Number", "Renamed.Text"}));
        BindStoredList(nullptr, &list, true);
        BindStoredList(owner.get(), nullptr, true);
        QCOMPARE(list.Count(), 2);
    }

    void aFormsListIsSavedAndLoadedInOrder() {
        auto* other = new TSample(owner.get());
        other->SetName("Other");
        other->SetText("o");
        sample->SetText("s");
        sample->SetNumber(5);
        TStringList list;
        list.SetStrings({"Other.Text", "S.Number", "S.NoSuchProperty", "S.Text"});
        BindStoredList(owner.get(), &list, true);
        const TInfoLists lists = BuildInfoLists(owner.get(), &list);
        QCOMPARE(lists.size(), size_t(2)); // one per component, however many lines name it

        TPropsStorage s;
        s.Section = "Forms";
        store.Bind(s);
        s.SaveStoredProps(owner.get(), &list);
        QCOMPARE(store.log, QStringList({"Forms|Other_Text=o", "Forms|S_Number=5", "Forms|S_Text=s"}));

        store.items["Forms|S_Text"] = "loaded";
        store.items["Forms|Other_Text"] = "too";
        s.LoadStoredProps(owner.get(), &list);
        QCOMPARE(sample->Text(), "loaded");
        QCOMPARE(other->Text(), "too");
    }

    void loadingSwallowsAPropertysFailureAndGoesOn() {
        TStringList list;
        list.SetStrings({"S.Refuses", "S.Text"});
        BindStoredList(owner.get(), &list, true);
        TPropsStorage s;
        s.Section = "Forms";
        store.Bind(s);
        store.items["Forms|S_Refuses"] = "13";
        store.items["Forms|S_Text"] = "after";
        s.LoadStoredProps(owner.get(), &list);
        QCOMPARE(sample->Text(), "after");

        // A read that fails (a value of the wrong type, say) is swallowed the same way.
        s.OnReadString = [](const QString&, const QString& item, const QString&) -> QString {
            throw Exception("Ungültiger Datentyp für '" + item + "'");
        };
        s.LoadStoredProps(owner.get(), &list);
        QCOMPARE(sample->Text(), "after");
    }

    void savingPassesFailuresOn() {
        TStringList list;
        list.SetStrings({"S.Text"});
        BindStoredList(owner.get(), &list, true);
        TPropsStorage s;
        s.OnWriteString = [](const QString&, const QString&, const QString&) {
            throw Exception("disk full");
        };
        QVERIFY_THROWS_EXCEPTION(Exception, s.SaveStoredProps(owner.get(), &list));
        TPropsStorage quiet; // no callbacks: reads give empty text, writes nothing
        quiet.Instance = sample;
        sample->SetText("x");
        TPropInfoList props(sample, tkStorable);
        quiet.LoadProperty(props.Find("Text"));
        QCOMPARE(sample->Text(), QString());
    }
};

QTEST_MAIN(TstRXProps)
#include "tst_rxprops.moc"
