#include "Unit4.h"

#include "FaceMetrics.h"
#include "unit1.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

// What the window shows, for the end-to-end cases; off by default.
Q_LOGGING_CATEGORY(lcFontInfo, "glyvex.fonts.info", QtWarningMsg)

TForm4* Form4 = nullptr;

TForm4::TForm4(TComponent* AOwner) : TForm(AOwner) {
    ReadDefinition(QStringLiteral(":/app/Unit4.gxf"));
    BindComponent(PageControl1, "PageControl1");
    BindComponent(TabSheet1, "TabSheet1");
    BindComponent(Bevel1, "Bevel1");
    BindComponent(Label1, "Label1");
    BindComponent(Label2, "Label2");
    BindComponent(Label3, "Label3");
    BindComponent(Label4, "Label4");
    BindComponent(ListBox1, "ListBox1");
    BindComponent(Button1, "Button1");
    // A palette beside the main window: showing it leaves the main window active,
    // so the list (which it follows) and Ctrl+I keep working.
    HandleNeeded();
    Widget()->setAttribute(Qt::WA_ShowWithoutActivating);
    AskSaveFileName = [this](const QString& suggested) {
        const QString suffix = QFileInfo(suggested).suffix();
        const QString filter = suffix.isEmpty()
                                   ? QStringLiteral("Alle Dateien (*)")
                                   : QStringLiteral("Schriftdatei (*.%1);;Alle Dateien (*)").arg(suffix);
        return QFileDialog::getSaveFileName(Widget(), QStringLiteral("Schriftdatei kopieren"), suggested,
                                            filter);
    };
}

std::span<const TMethodBinding> TForm4::PublishedMethods() const {
    static const TMethodBinding methods[] = {
        PUBLISHED_METHOD(TForm4, FormShow),
        PUBLISHED_METHOD(TForm4, Button1Click),
    };
    return methods;
}

void TForm4::FormShow(TObject*) {
    if (Form1) ShowFamily(Form1->SelectedFamily());
}

void TForm4::ShowFamily(const QString& family) {
    FFamily = family;
    FFontFile.clear();
    FFontFiles.clear();
    if (!family.isEmpty() && Screen && Screen->FaceMetrics()) {
        const QString file = Screen->FaceMetrics()->fileOf(family);
        if (!file.isEmpty() && QFileInfo(file).isFile()) FFontFile = file;
        FFontFiles = Screen->FaceMetrics()->filesOf(family);
    }
    // File names fit the window; the whole paths are in the hint.
    QStringList names;
    for (const QString& file : FFontFiles)
        names << QFileInfo(file).fileName();
    ListBox1->Items()->SetStrings(names);
    ListBox1->SetHint(FFontFiles.join(u'\n'));
    Label1->SetCaption(family.isEmpty() ? QStringLiteral("-") : family);
    Label1->SetHint(family);
    qCDebug(lcFontInfo).noquote() << "font info:" << Label1->Caption() << "|"
                                  << ListBox1->Items()->ToStringList().join(u'|');
    // The name fits the window; the whole path is in the hint.
    Label3->SetCaption(FFontFile.isEmpty() ? QStringLiteral("-") : QFileInfo(FFontFile).fileName());
    Label3->SetHint(FFontFile);
    Button1->SetEnabled(!FFontFile.isEmpty());
}

void TForm4::Button1Click(TObject*) {
    if (FFontFile.isEmpty()) return;
    const QString suggested = QDir::home().filePath(QFileInfo(FFontFile).fileName());
    const QString target = AskSaveFileName ? AskSaveFileName(suggested) : QString();
    if (target.isEmpty()) return;
    CopyFontFile(FFontFile, target);
}

void CopyFontFile(const QString& source, const QString& target) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Die Schriftdatei %1 kann nicht gelesen werden: %2")
                            .arg(source, in.errorString()));
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        throw Exception(
            QStringLiteral("Die Datei %1 kann nicht angelegt werden: %2").arg(target, out.errorString()));
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 16);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError)
            throw Exception(QStringLiteral("Die Schriftdatei %1 kann nicht gelesen werden: %2")
                                .arg(source, in.errorString()));
        if (out.write(chunk) != chunk.size())
            throw Exception(QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2")
                                .arg(target, out.errorString()));
    }
    if (!out.commit())
        throw Exception(
            QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2").arg(target, out.errorString()));
}
