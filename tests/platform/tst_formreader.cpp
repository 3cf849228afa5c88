// Stored form definitions: values of every kind land in the right properties,
// handlers bind by name, and bad definitions fail with the line and the item.
#include "TestMain.h"

#include "ComCtrls.h"
#include "ExtCtrls.h"
#include "StdCtrls.h"

class TTestForm : public TForm {
    Q_OBJECT
public:
    using TForm::TForm;
    void Read(const QString& text) { TFormReader::ReadFormText(this, text, QStringLiteral("test.gxf")); }
    void ButtonClick(TObject* s) { clicks << static_cast<TComponent*>(s)->Name(); }
    void FormClose(TObject*, TCloseAction&) {}
    std::span<const TMethodBinding> PublishedMethods() const override {
        static const TMethodBinding m[] = {PUBLISHED_METHOD(TTestForm, ButtonClick),
                                           PUBLISHED_METHOD(TTestForm, FormClose)};
        return m;
    }
    QStringList clicks;
};

class TestFormReader : public QObject {
    Q_OBJECT
private slots:
    void readsEveryKindOfValue();
    void nestingGivesParentsAndCreationOrder();
    void handlersBindByName();
    void badDefinitionsNameLineAndItem_data();
    void badDefinitionsNameLineAndItem();
};

static const char* kForm = R"(# a comment
TestForm: TTestForm {
  Caption = "Fenster \"eins\"" + " \u00e4"
  Width = 300
  Height = 200
  Font.Name = "Arial"
  Font.Height = -12
  Font.Style = [fsBold, fsItalic]
  Color = clBtnFace
  Panel1: TPanel {
    Align = alClient
    BevelInner = bvLowered
    Caption = ""
    Memo1: TMemo {
      Lines = ("erste" "" "dritte # kein Kommentar")
      ScrollBars = ssVertical
      Visible = False
    }
    Bar: TStatusBar {
      Panels = <item { Width = 100 } item { Width = 300 Text = "x" }>
    }
  }
  Pages: TPageControl {
    ActivePage = Sheet2
    Sheet1: TTabSheet { Caption = "Eins" }
    Sheet2: TTabSheet { Caption = "Zwei" }
  }
  Image1: TImage { Picture = res(":/app/glyvex.png") }
}
)";

void TestFormReader::readsEveryKindOfValue() {
    TestEnvironment env;
    TTestForm f(nullptr);
    f.Read(QString::fromUtf8(kForm));
    QCOMPARE(f.Caption(), QStringLiteral("Fenster \"eins\" ä"));
    QCOMPARE(f.Width(), 300);
    QCOMPARE(f.Font()->Height(), -12);
    QCOMPARE(f.Font()->Style(), TFontStyles(fsBold | fsItalic));
    QCOMPARE(f.Color(), clBtnFace);
    auto* memo = dynamic_cast<TMemo*>(f.FindComponent(QStringLiteral("Memo1")));
    QVERIFY(memo);
    QCOMPARE(memo->Lines()->ToStringList(),
             QStringList({QStringLiteral("erste"), QString(), QStringLiteral("dritte # kein Kommentar")}));
    QCOMPARE(memo->ScrollBars(), ssVertical);
    QVERIFY(!memo->Visible());
    auto* bar = dynamic_cast<TStatusBar*>(f.FindComponent(QStringLiteral("Bar")));
    QCOMPARE(bar->Panels()->Count(), 2);
    QCOMPARE(bar->Panels()->Items(1)->Width(), 300);
    QCOMPARE(bar->Panels()->Items(1)->Text(), QStringLiteral("x"));
    auto* pages = dynamic_cast<TPageControl*>(f.FindComponent(QStringLiteral("Pages")));
    QCOMPARE(pages->ActivePage(), f.FindComponent(QStringLiteral("Sheet2")));
    auto* image = dynamic_cast<TImage*>(f.FindComponent(QStringLiteral("Image1")));
    QCOMPARE(image->Picture()->Width(), 200);
    QCOMPARE(image->Picture()->Height(), 85);
    QVERIFY(!f.IsLoading() && !memo->IsLoading());
    // Children without their own font take their parent's.
    QCOMPARE(memo->Font()->Name(), QStringLiteral("Arial"));
    QVERIFY(memo->ParentFont());
}

void TestFormReader::nestingGivesParentsAndCreationOrder() {
    TestEnvironment env;
    TTestForm f(nullptr);
    f.Read(QString::fromUtf8(kForm));
    QStringList order;
    for (int i = 0; i < f.ComponentCount(); ++i)
        order << f.Components(i)->Name();
    QCOMPARE(order, QStringList({QStringLiteral("Panel1"), QStringLiteral("Memo1"), QStringLiteral("Bar"),
                                 QStringLiteral("Pages"), QStringLiteral("Sheet1"), QStringLiteral("Sheet2"),
                                 QStringLiteral("Image1")}));
    auto* memo = dynamic_cast<TControl*>(f.FindComponent(QStringLiteral("Memo1")));
    QCOMPARE(memo->Parent(), f.FindComponent(QStringLiteral("Panel1")));
    auto* panel = dynamic_cast<TControl*>(f.FindComponent(QStringLiteral("Panel1")));
    QCOMPARE(panel->Parent(), &f);
    // The client-aligned panel fills the form's client area after loading.
    QCOMPARE(panel->Width(), f.ClientWidth());
    QCOMPARE(panel->Height(), f.ClientHeight());
}

void TestFormReader::handlersBindByName() {
    TestEnvironment env;
    TTestForm f(nullptr);
    f.Read(QStringLiteral("TestForm: TTestForm { OnClose = formclose\n"
                          "  B1: TButton { OnClick = ButtonClick }\n"
                          "  B2: TButton { OnClick = ButtonClick } }"));
    dynamic_cast<TButton*>(f.FindComponent(QStringLiteral("B2")))->Click();
    dynamic_cast<TButton*>(f.FindComponent(QStringLiteral("B1")))->Click();
    QCOMPARE(f.clicks, QStringList({QStringLiteral("B2"), QStringLiteral("B1")}));
    QVERIFY(f.OnClose().Assigned());
}

void TestFormReader::badDefinitionsNameLineAndItem_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("unknown class") << "TestForm: TTestForm {\n  X: TNoSuchThing {}\n}"
                                   << "Zeile 2: Klasse TNoSuchThing";
    QTest::newRow("unknown property") << "TestForm: TTestForm {\n\n  Colour = 5\n}"
                                      << "Zeile 3: Eigenschaft Colour";
    QTest::newRow("unknown handler") << "TestForm: TTestForm {\n  OnShow = Nowhere\n}"
                                     << "Zeile 2: Methode Nowhere";
    QTest::newRow("wrong signature") << "TestForm: TTestForm {\n  OnShow = FormClose\n}"
                                     << "falsche Signatur";
    QTest::newRow("wrong value kind") << "TestForm: TTestForm {\n  Width = \"wide\"\n}"
                                      << "Zeile 2: Ungültiger Wert für Width";
    QTest::newRow("bad enum") << "TestForm: TTestForm {\n  Position = poNowhere\n}"
                              << "Ungültiger Wert für Position";
    QTest::newRow("bad set element") << "TestForm: TTestForm {\n  Font.Style = [fsHeavy]\n}"
                                     << "Font.Style";
    QTest::newRow("unterminated string") << "TestForm: TTestForm {\n  Caption = \"abc\n}"
                                         << "Zeile 2: Zeichenkette";
    QTest::newRow("missing brace") << "TestForm: TTestForm {\n  Width = 3\n"
                                   << "'}' erwartet";
    QTest::newRow("wrong root class") << "TestForm: TOther {\n}"
                                      << "Klasse TTestForm erwartet";
    QTest::newRow("missing reference")
        << "TestForm: TTestForm {\n  P: TPageControl {\n    ActivePage = Nope\n  }\n}"
        << "Zeile 3: Komponente Nope";
    QTest::newRow("duplicate name") << "TestForm: TTestForm {\n  A: TPanel {}\n  A: TPanel {}\n}"
                                    << "Zeile 3";
    QTest::newRow("control outside a window")
        << "TestForm: TTestForm {\n  L: TLabel {\n    M: TLabel {}\n  }\n}"
        << "Fenster als Vorfahr";
    QTest::newRow("trailing text") << "TestForm: TTestForm {}\nmore"
                                   << "nach dem Ende";
}

void TestFormReader::badDefinitionsNameLineAndItem() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    TestEnvironment env;
    TTestForm f(nullptr);
    try {
        f.Read(text);
        QFAIL("no error");
    } catch (const EReadError& e) {
        QVERIFY2(e.Message().contains(QStringLiteral("test.gxf")), qPrintable(e.Message()));
        QVERIFY2(e.Message().contains(expected), qPrintable(e.Message()));
    }
}

QTEST_MAIN(TestFormReader)
#include "tst_formreader.moc"
