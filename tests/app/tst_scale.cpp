// Work per installed family stays constant: with ten times the families, start-up and
// a Text-page refresh ask the font configuration, measure list entries, notify
// components and make field widgets no more often per family. Counted, never timed.
#include "TestMain.h"

#include "FaceMetrics.h"
#include "Unit2.h"
#include "unit1.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QScopeGuard>

namespace {

QStringList InstalledSample() {
    QStringList r;
    for (const QString& f : QFontDatabase::families())
        if (!f.contains(u'[') && f != QLatin1String("Sans Serif") && f != QLatin1String("Serif") &&
            f != QLatin1String("Monospace") && r.size() < 6)
            r << f;
    return r;
}

// What one start-up and one refresh cost, counted.
struct Work {
    int substitutions = 0; // names the font configuration was asked about
    int parsedFaces = 0;   // font files read for metrics
    double notificationsPerField = 0;
    double translationLinesPerField = 0; // table lines the translator looked at
    int listMeasurements = 0;            // list entries the view measured
    int refreshSubstitutions = 0;        // asked during a Bold refresh with the Text page showing
    int realized = 0;                    // fields with a widget after it
};

Work Run(int n) {
    const QStringList real = InstalledSample();
    QStringList fonts;
    for (int i = 0; i < n; ++i)
        fonts << real[i % real.size()];
    TestEnvironment env(fonts);
    env.screen.SetFaceMetrics(std::make_unique<TFaceMetrics>(QString()));
    Form2 = TForm::Create<TForm2>(Application);
    Application->CreateForm(Form1);
    Form1->Show();
    QCoreApplication::processEvents();
    Work w;
    w.substitutions = Screen->FamilySubstitutions();
    w.parsedFaces = Screen->FaceMetrics()->stats().parsed;
    w.notificationsPerField = double(Form1->OwnershipCounters().notifications) / n;
    w.listMeasurements = Form1->ListBox1->ItemMeasurements();
    w.translationLinesPerField = double(Form1->Translator1->LinesExamined()) / n;
    Form1->PageControl1->SelectByUser(Form1->TabSheet2);
    QCoreApplication::processEvents();
    Form1->CheckBox1->Toggle();
    for (int i = 0; i < 20; ++i) // the half page around the view gets its widgets while idle
        QCoreApplication::processEvents();
    w.refreshSubstitutions = Screen->FamilySubstitutions() - w.substitutions;
    w.realized = Form1->ScrollBox1->RealizedCount();
    if (!env.errors.isEmpty()) w.realized = -1;
    Form1 = nullptr;
    Form2 = nullptr;
    return w;
}

} // namespace

class TestScale : public QObject {
    Q_OBJECT
private slots:
    void workPerFamilyStaysConstant();
    void qtIsHandedOnlyListedFamilies();
};

void TestScale::workPerFamilyStaysConstant() {
    if (InstalledSample().size() < 2) QSKIP("needs installed fonts");
    // The first start also hands Qt's own default font over once; compare later ones.
    (void)Run(20);
    const Work small = Run(150), large = Run(1500);
    QVERIFY(small.realized > 0 && large.realized > 0);
    // The interface fonts are looked up once each, however many families there are.
    QCOMPARE(large.substitutions, small.substitutions);
    QCOMPARE(large.refreshSubstitutions, 0);
    QCOMPARE(small.refreshSubstitutions, 0);
    // Each distinct face is read once: the long list repeats the same few families.
    QCOMPARE(large.parsedFaces, small.parsedFaces);
    // Making a field tells only the few components that listen to their siblings.
    QVERIFY2(
        large.notificationsPerField <= small.notificationsPerField,
        qPrintable(
            QStringLiteral("%1 vs %2").arg(large.notificationsPerField).arg(small.notificationsPerField)));
    QVERIFY(large.notificationsPerField < 32);
    // Translating the window looks each field up instead of going through the table's
    // hundred-odd lines (only lines with other than printable ASCII are compared).
    QVERIFY2(large.translationLinesPerField <= small.translationLinesPerField &&
                 large.translationLinesPerField < 10,
             qPrintable(QStringLiteral("%1 vs %2")
                            .arg(large.translationLinesPerField)
                            .arg(small.translationLinesPerField)));
    // Entries are one height: the view measures a handful, not every one.
    QCOMPARE(large.listMeasurements, small.listMeasurements);
    QVERIFY(large.listMeasurements < 50);
    // Only the fields in and near view have widgets, as many for a long list as a short one.
    QCOMPARE(large.realized, small.realized);
}

void TestScale::qtIsHandedOnlyListedFamilies() {
    const QStringList installed = QFontDatabase::families();
    const QString listed = InstalledSample().value(0);
    if (listed.isEmpty()) QSKIP("needs installed fonts");
    // Qt's default font is handed over first; which family that is depends on the desktop
    // and on the case before, so it is made a listed one: every count below is this case's.
    const QFont defaultFont = QGuiApplication::font();
    const auto restore = qScopeGuard([&] { QGuiApplication::setFont(defaultFont); });
    QGuiApplication::setFont(QFont(listed));
    TestEnvironment env(installed);
    env.screen.SetFaceMetrics(std::make_unique<TFaceMetrics>(QString()));
    QCOMPARE(Screen->QtFamily(listed), listed);
    // Qt's own "Family [Foundry]" names are installed families too.
    for (const QString& f : installed)
        if (f.endsWith(u']')) QCOMPARE(Screen->QtFamily(f), f);
    QCOMPARE(Screen->FamilySubstitutions(), 0);
    // A name Qt does not list, and a generic one, become the family Qt would show for them.
    for (const QString& name :
         {QStringLiteral("Arial"), QStringLiteral("MS Sans Serif"), QStringLiteral("Sans Serif")}) {
        const QString family = Screen->QtFamily(name);
        QVERIFY2(installed.contains(family) || installed.filter(family + QStringLiteral(" [")).size() > 0,
                 qPrintable(name + QStringLiteral(" -> ") + family));
        QCOMPARE(QFontInfo(QFont(family)).family(), QFontInfo(QFont(name)).family());
    }
    QCOMPARE(Screen->FamilySubstitutions(), 3);
    (void)Screen->QtFamily(QStringLiteral("Arial")); // asked once per name
    QCOMPARE(Screen->FamilySubstitutions(), 3);
    // What a control's font hands Qt.
    TFont font;
    font.SetName(QStringLiteral("Arial"));
    QCOMPARE(font.ToQFont().family(), Screen->QtFamily(QStringLiteral("Arial")));
}

QTEST_MAIN(TestScale)
#include "tst_scale.moc"
