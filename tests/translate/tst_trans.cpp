#include "TestMain.h"

#include "ComCtrls.h"
#include "ExtCtrls.h"
#include "Menus.h"
#include "StdCtrls.h"
#include "Trans.h"

#include <QTest>

// A form class that definitions can name, with an after-translate handler.
class TTransForm : public TForm {
    Q_OBJECT
public:
    using TForm::TForm;
    QStringList calls;
    void Translator1AfterTranslate(TObject* Sender) {
        auto* t = static_cast<TTranslator*>(Sender);
        calls << QStringLiteral("%1:%2").arg(t->Name()).arg(int(t->CurrentLanguage()));
    }
    std::span<const TMethodBinding> PublishedMethods() const override {
        static const TMethodBinding methods[] = {PUBLISHED_METHOD(TTransForm, Translator1AfterTranslate)};
        return methods;
    }
};

namespace {

template <class T> T* Make(TCustomForm* form, const QString& name, TWinControl* parent = nullptr) {
    auto* c = new T(form);
    c->SetName(name);
    if constexpr (std::is_base_of_v<TControl, T>) c->SetParent(parent ? parent : form);
    return c;
}

TTranslator* MakeTranslator(TCustomForm* form, const QString& name, const QStringList& table) {
    auto* t = new TTranslator(form);
    t->SetName(name);
    TStrings lines;
    lines.SetStrings(table);
    t->SetTranslateList(&lines);
    return t;
}

QStringList Lines(TTranslator* t) {
    return t->TranslateList()->ToStringList();
}

// Appends "name:language" to a log whenever the translator finishes translating.
void Record(TTranslator* t, QStringList& log) {
    t->SetAfterTranslate(TNotifyEvent(t, [t, &log](TObject*) {
        log << QStringLiteral("%1/%2:%3").arg(t->Owner()->Name(), t->Name()).arg(int(t->CurrentLanguage()));
    }));
}

} // namespace

class TstTrans : public QObject {
    Q_OBJECT
    std::unique_ptr<TestEnvironment> env;

private slots:
    void init() {
        env = std::make_unique<TestEnvironment>();
        TClassRegistry::Register<TTranslator>();
        TClassRegistry::Register<TTransForm>();
    }
    void cleanup() { env.reset(); }

    void lookupIgnoresCaseAndTakesTheFirstEqualLine() {
        TForm form(nullptr);
        auto* t = MakeTranslator(&form, "T1",
                                 {"_form", "a", "b", "_B", "_Label1", "x", "_label1", "de", "en", "_Ärger",
                                  "ä", "e", "_FORM_HINT", "h", "H"});
        QCOMPARE(t->IndexOfKey("_Form"), 0);
        QCOMPARE(t->IndexOfKey("_Form_Hint"), 12);
        QCOMPARE(t->IndexOfKey("_ärger"), 9);
        // A value line that equals a key, above that key's own line, wins.
        QCOMPARE(t->IndexOfKey("_b"), 3);
        QCOMPARE(t->IndexOfKey("_Label1"), 4);
        QCOMPARE(t->IndexOfKey("_Label"), -1);
        QCOMPARE(t->IndexOfKey("_Form1"), -1);
        QCOMPARE(t->IndexOfKey("Ärger"), -1);

        // Lookups follow every change to the table, also one made inside an update.
        TStrings* table = t->TranslateList();
        table->Put(0, "_x");
        QCOMPARE(t->IndexOfKey("_Form"), -1);
        QCOMPARE(t->IndexOfKey("_X"), 0);
        table->BeginUpdate();
        table->Insert(0, "_form");
        QCOMPARE(t->IndexOfKey("_Form"), 0);
        table->Delete(0);
        QCOMPARE(t->IndexOfKey("_Form"), -1);
        table->EndUpdate();
        // A line with other characters above an ASCII one still counts as first if it
        // compares equal; one below does not shadow the ASCII line.
        table->Insert(4, "_b\u00e4");
        table->Put(4, QStringLiteral("_B\u00c4"));
        QCOMPARE(t->IndexOfKey(QStringLiteral("_b\u00e4")), 4);
        QCOMPARE(t->IndexOfKey("_Label1"), 5);
        table->Clear();
        QCOMPARE(t->IndexOfKey("_Label1"), -1);
    }

    void readsArePositionalAndPutEntryWritesTheCurrentLanguage() {
        TForm form(nullptr);
        auto* t = MakeTranslator(&form, "T1", {"_A", "nur deutsch", "_B", "de", "en", "_C", "de"});
        QCOMPARE(t->EntryText(t->IndexOfKey("_B"), English), QStringLiteral("en"));
        // An entry with one value line reads the next key as its English text.
        QCOMPARE(t->EntryText(t->IndexOfKey("_A"), English), QStringLiteral("_B"));
        QVERIFY_THROWS_EXCEPTION(EStringListError, t->EntryText(t->IndexOfKey("_C"), English));

        // Writing into that short entry completes it instead of overwriting the next key.
        t->SetCurrentLanguage(English);
        t->PutEntry("_a", "only English");
        QCOMPARE(Lines(t), QStringList({"_A", "nur deutsch", "only English", "_B", "de", "en", "_C", "de"}));
        // An entry cut short at the end of the table cannot be written.
        QVERIFY_THROWS_EXCEPTION(EStringListError, t->PutEntry("_C", "en"));
        t->PutEntry("_New", "new");
        t->SetCurrentLanguage(German);
        t->PutEntry("_Neu", "neu");
        QCOMPARE(Lines(t).mid(8), QStringList({"_New", "", "new", "_Neu", "neu", ""}));
        // A value that looks like a key, below that key's own line, stays a value.
        auto* u = MakeTranslator(&form, "T2", {"_D", "d", "D", "_E", "_D", "e"});
        u->SetCurrentLanguage(English);
        u->PutEntry("_E", "x");
        QCOMPARE(Lines(u), QStringList({"_D", "d", "D", "_E", "_D", "x"}));
    }

    void constructorNeedsAFormAsOwner() {
        TComponent owner(nullptr);
        QVERIFY_THROWS_EXCEPTION(EInvalidCast, new TTranslator(&owner));
        QCOMPARE(owner.ComponentCount(), 0);
        // Without any owner there is nothing to translate, but the language and the event still work.
        TTranslator lone(nullptr);
        int fired = 0;
        lone.SetAfterTranslate(TNotifyEvent(&lone, [&](TObject*) { ++fired; }));
        lone.SetCurrentLanguage(English);
        QCOMPARE(lone.CurrentLanguage(), English);
        QCOMPARE(fired, 1);
    }

    void collectTextsBuildsATemplateOnlyWhileDesigning() {
        TForm form(nullptr);
        form.SetName("Form9");
        form.SetCaption("Titel");
        form.SetHint("Tipp");
        auto* label = Make<TLabel>(&form, "Label1");
        label->SetCaption("Hallo");
        label->SetHint("LH");
        auto* group = Make<TRadioGroup>(&form, "RadioGroup1");
        group->SetCaption("Wahl");
        group->Items()->SetStrings({"a", "b", "c"});
        Make<TMemo>(&form, "Memo1");
        auto* menu = Make<TMainMenu>(&form, "MainMenu1");
        auto* file = Make<TMenuItem>(&form, "Datei1");
        file->SetCaption("&Datei");
        file->SetHint("not collected");
        menu->Items()->Add(file);
        auto* line = Make<TMenuItem>(&form, "N1");
        line->SetCaption("-");
        file->Add(line);
        auto* t = MakeTranslator(&form, "Translator1", {});

        t->CollectTexts();
        QVERIFY(Lines(t).isEmpty());

        t->SetDesigning(true);
        const QStringList expected{"_Form",
                                   "Titel",
                                   "",
                                   "_Form_Hint",
                                   "Tipp",
                                   "",
                                   "_Label1",
                                   "Hallo",
                                   "",
                                   "_Label1_Hint",
                                   "LH",
                                   "",
                                   "_RadioGroup1_Item0",
                                   "a",
                                   "",
                                   "_RadioGroup1_Item1",
                                   "b",
                                   "",
                                   "_RadioGroup1_Item2",
                                   "c",
                                   "",
                                   "_RadioGroup1",
                                   "Wahl",
                                   "",
                                   "_RadioGroup1_Hint",
                                   "",
                                   "",
                                   "_Memo1",
                                   "",
                                   "",
                                   "_Memo1_Hint",
                                   "",
                                   "",
                                   "_MainMenu1",
                                   "",
                                   "",
                                   "_Datei1",
                                   "&Datei",
                                   "",
                                   "_N1",
                                   "-",
                                   "",
                                   "_Translator1",
                                   "",
                                   ""};
        QCOMPARE(Lines(t), expected);
        // Reading again collects again and changes nothing.
        QCOMPARE(Lines(t), expected);
    }

    void collectTextsKeepsExistingLinesAndAppendsMissingKeys() {
        TForm form(nullptr);
        form.SetCaption("Titel");
        auto* label = Make<TLabel>(&form, "Label1");
        label->SetCaption("Neu");
        auto* t = MakeTranslator(&form, "T", {"_label1", "Alt", "Old", "", "_Stale", "s", "S"});
        t->SetDesigning(true);
        t->CollectTexts();
        QCOMPARE(Lines(t), QStringList({"_label1", "Neu", "Old", "", "_Stale", "s", "S", "_Form", "Titel", "",
                                        "_Form_Hint", "", "", "_Label1_Hint", "", "", "_T", "", ""}));
    }

    void designingSwitchCollectsTheOldLanguageFirst() {
        TForm form(nullptr);
        form.SetCaption("Titel");
        auto* label = Make<TLabel>(&form, "Label1");
        label->SetCaption("Hallo");
        auto* t = MakeTranslator(&form, "T", {});
        t->SetDesigning(true);
        t->SetCurrentLanguage(English);
        // The fresh template has no English texts yet.
        QCOMPARE(form.Caption(), QString());
        QCOMPARE(label->Caption(), QString());
        label->SetCaption("Hello");
        t->SetCurrentLanguage(German);
        QCOMPARE(label->Caption(), QStringLiteral("Hallo"));
        const int n = t->IndexOfKey("_Label1");
        QCOMPARE(t->EntryText(n, English), QStringLiteral("Hello"));
        QCOMPARE(t->EntryText(n, German), QStringLiteral("Hallo"));
    }

    void translateFormWritesCaptionsHintsAndItemsOfTheRightKinds() {
        TForm form(nullptr);
        auto* label = Make<TLabel>(&form, "Label1");
        auto* button = Make<TButton>(&form, "Button1");
        auto* check = Make<TCheckBox>(&form, "CheckBox1");
        auto* radio = Make<TRadioButton>(&form, "RadioButton1");
        auto* box = Make<TGroupBox>(&form, "GroupBox1");
        auto* group = Make<TRadioGroup>(&form, "RadioGroup1");
        group->Items()->SetStrings({"eins", "zwei", "drei"});
        auto* panel = Make<TPanel>(&form, "Panel1");
        auto* memo = Make<TMemo>(&form, "Memo1");
        memo->Lines()->SetStrings({"Text"});
        auto* edit = Make<TEdit>(&form, "Edit1");
        edit->SetText("bleibt");
        auto* pages = Make<TPageControl>(&form, "PageControl1");
        auto* sheet = Make<TTabSheet>(&form, "TabSheet1", pages);
        sheet->SetCaption("Reiter");
        auto* bevel = Make<TBevel>(&form, "Bevel1");
        auto* menu = Make<TMainMenu>(&form, "MainMenu1");
        auto* item = Make<TMenuItem>(&form, "Item1");
        menu->Items()->Add(item);
        item->SetHint("Menühinweis");
        auto* t = MakeTranslator(&form, "T",
                                 {"_Form",
                                  "Formular",
                                  "Form",
                                  "_Form_Hint",
                                  "fh",
                                  "",
                                  "_Label1",
                                  "L",
                                  "Le",
                                  "_Button1",
                                  "B",
                                  "Be",
                                  "_CheckBox1",
                                  "C",
                                  "Ce",
                                  "_RadioButton1",
                                  "R",
                                  "Re",
                                  "_GroupBox1",
                                  "G",
                                  "Ge",
                                  "_RadioGroup1",
                                  "RG",
                                  "RGe",
                                  "_RadioGroup1_Item0",
                                  "1",
                                  "one",
                                  "_RadioGroup1_Item2",
                                  "3",
                                  "three",
                                  "_Panel1",
                                  "P",
                                  "Pe",
                                  "_Memo1",
                                  "M",
                                  "Me",
                                  "_Memo1_Hint",
                                  "mh",
                                  "mhe",
                                  "_Edit1",
                                  "E",
                                  "Ee",
                                  "_TabSheet1",
                                  "S",
                                  "Se",
                                  "_Bevel1_Hint",
                                  "bh",
                                  "bhe",
                                  "_Item1",
                                  "&Punkt",
                                  "&Item",
                                  "_Item1_Hint",
                                  "ih",
                                  "ihe"});
        t->SetCurrentLanguage(English);
        QCOMPARE(form.Caption(), QStringLiteral("Form"));
        QCOMPARE(form.Hint(), QString()); // an empty line is a real, empty text
        QCOMPARE(label->Caption(), QStringLiteral("Le"));
        QCOMPARE(button->Caption(), QStringLiteral("Be"));
        QCOMPARE(check->Caption(), QStringLiteral("Ce"));
        QCOMPARE(radio->Caption(), QStringLiteral("Re"));
        QCOMPARE(box->Caption(), QStringLiteral("Ge"));
        QCOMPARE(group->Caption(), QStringLiteral("RGe"));
        QCOMPARE(group->Items()->ToStringList(), QStringList({"one", "zwei", "three"}));
        QCOMPARE(panel->Caption(), QStringLiteral("Pe"));
        QCOMPARE(item->Caption(), QStringLiteral("&Item"));
        // Kinds without a translated caption keep their texts; visual controls still get hints.
        QCOMPARE(memo->Lines()->ToStringList(), QStringList({"Text"}));
        QCOMPARE(memo->Hint(), QStringLiteral("mhe"));
        QCOMPARE(edit->Text(), QStringLiteral("bleibt"));
        QCOMPARE(sheet->Caption(), QStringLiteral("Reiter"));
        QCOMPARE(bevel->Hint(), QStringLiteral("bhe"));
        QCOMPARE(item->Hint(), QStringLiteral("Menühinweis"));

        t->SetCurrentLanguage(German);
        QCOMPARE(form.Hint(), QStringLiteral("fh"));
        QCOMPARE(label->Caption(), QStringLiteral("L"));
        QCOMPARE(group->Items()->ToStringList(), QStringList({"1", "zwei", "3"}));
    }

    void afterTranslateRunsLastAndOnEverySetting() {
        TForm form(nullptr);
        auto* label = Make<TLabel>(&form, "Label1");
        auto* t = MakeTranslator(&form, "T", {"_Label1", "Größe:", "Size:"});
        QStringList seen;
        t->SetAfterTranslate(TNotifyEvent(&form, [&](TObject* sender) {
            QCOMPARE(sender, t);
            seen << QStringLiteral("%1 %2").arg(int(t->CurrentLanguage())).arg(label->Caption());
        }));
        t->SetCurrentLanguage(English);
        t->SetCurrentLanguage(English);
        t->SetCurrentLanguage(German);
        QCOMPARE(seen, QStringList({"1 Size:", "1 Size:", "0 Größe:"}));

        auto* empty = MakeTranslator(&form, "T2", {});
        int fired = 0;
        empty->SetAfterTranslate(TNotifyEvent(&form, [&](TObject*) { ++fired; }));
        empty->SetCurrentLanguage(English);
        QCOMPARE(empty->CurrentLanguage(), English);
        QCOMPARE(fired, 1);
        QCOMPARE(label->Caption(), QStringLiteral("Größe:"));
    }

    void translateAllFormsWalksOneLevelInApplicationOrder() {
        QStringList log;
        auto* main = new TForm(Application);
        main->SetName("Main");
        auto* mainT = MakeTranslator(main, "All", {"_Form", "Haupt", "Main"});
        mainT->SetTranslateAllForms(true);
        auto* mainSecond = MakeTranslator(main, "Second", {});
        auto* other = new TForm(Application);
        other->SetName("Other");
        auto* otherT = MakeTranslator(other, "T", {"_Form", "Andere", "Other"});
        auto* rival = new TForm(Application);
        rival->SetName("Rival");
        auto* rivalT = MakeTranslator(rival, "All", {});
        rivalT->SetTranslateAllForms(true);
        TForm loose(nullptr); // not the application's
        loose.SetName("Loose");
        auto* looseT = MakeTranslator(&loose, "T", {});
        for (auto* t : {mainT, mainSecond, otherT, rivalT, looseT})
            Record(t, log);

        mainT->SetCurrentLanguage(English);
        QCOMPARE(log, QStringList({"Main/All:1", "Main/Second:1", "Other/T:1"}));
        QCOMPARE(other->Caption(), QStringLiteral("Other"));
        QCOMPARE(main->Caption(), QStringLiteral("Main"));
        QCOMPARE(rivalT->CurrentLanguage(), German);
        QCOMPARE(looseT->CurrentLanguage(), German);
        QCOMPARE(otherT->CurrentLanguage(), English);

        // A translator without the flag translates its own form only.
        log.clear();
        otherT->SetCurrentLanguage(German);
        QCOMPARE(log, QStringList({"Other/T:0"}));
        QCOMPARE(mainT->CurrentLanguage(), English);
    }

    void anEntryCutShortStopsTheWholeSetting() {
        auto* main = new TForm(Application);
        main->SetName("Main");
        auto* label1 = Make<TLabel>(main, "Label1");
        auto* label2 = Make<TLabel>(main, "Label2");
        auto* label3 = Make<TLabel>(main, "Label3");
        label2->SetCaption("vorher");
        label3->SetCaption("vorher");
        auto* t = MakeTranslator(main, "T",
                                 {"_Form", "Haupt", "Main", "_Label3", "drei", "three", "_Label1", "eins",
                                  "one", "_Label2", "zwei"});
        t->SetTranslateAllForms(true);
        auto* other = new TForm(Application);
        other->SetName("Other");
        auto* otherT = MakeTranslator(other, "T", {"_Form", "Andere", "Other"});
        QStringList log;
        Record(t, log);
        Record(otherT, log);

        QVERIFY_THROWS_EXCEPTION(EStringListError, t->SetCurrentLanguage(English));
        QCOMPARE(t->CurrentLanguage(), English);
        QCOMPARE(main->Caption(), QStringLiteral("Main"));
        QCOMPARE(label1->Caption(), QStringLiteral("one"));
        QCOMPARE(label2->Caption(), QStringLiteral("vorher"));
        QCOMPARE(label3->Caption(), QStringLiteral("vorher"));
        QVERIFY(log.isEmpty());
        QCOMPARE(otherT->CurrentLanguage(), German);
        QCOMPARE(other->Caption(), QString());
    }

    void loadingTranslatesAtOnceWithoutHandlerOrWalk() {
        auto* other = new TForm(Application);
        other->SetName("Other");
        auto* otherT = MakeTranslator(other, "T", {"_Form", "Andere", "Other"});
        auto* form = new TTransForm(Application);
        TFormReader::ReadFormText(form, R"(
TransForm1: TTransForm {
  Label1: TLabel { Caption = "Größe:" }
  Translator1: TTranslator {
    TranslateList = ("_Label1" "Größe:" "Size:" "" "_Label2" "danach" "after")
    CurrentLanguage = English
    TranslateAllForms = True
    AfterTranslate = Translator1AfterTranslate
  }
  Label2: TLabel { Caption = "Label2" }
})",
                                  "test");
        auto* t = dynamic_cast<TTranslator*>(form->FindComponent("Translator1"));
        QVERIFY(t);
        QCOMPARE(t->CurrentLanguage(), English);
        QVERIFY(t->TranslateAllForms());
        QCOMPARE(t->TranslateList()->Count(), 7);
        QCOMPARE(static_cast<TLabel*>(form->FindComponent("Label1"))->Caption(), QStringLiteral("Size:"));
        // Components read after the translator are not translated by loading.
        QCOMPARE(static_cast<TLabel*>(form->FindComponent("Label2"))->Caption(), QStringLiteral("Label2"));
        QVERIFY(form->calls.isEmpty());
        QCOMPARE(otherT->CurrentLanguage(), German);

        t->SetCurrentLanguage(German);
        QCOMPARE(form->calls, QStringList({"Translator1:0"}));
        QCOMPARE(static_cast<TLabel*>(form->FindComponent("Label2"))->Caption(), QStringLiteral("danach"));
        QCOMPARE(other->Caption(), QStringLiteral("Andere"));
    }
};

QTEST_MAIN(TstTrans)
#include "tst_trans.moc"
