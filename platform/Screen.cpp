#include "Screen.h"

#include "FaceMetrics.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

TScreen* Screen = nullptr;

TScreen::TScreen(const QStringList& fonts, int pixelsPerInch)
    : TComponent(nullptr), FFonts(std::make_unique<TStrings>()) {
    Screen = this;
    SetCurrent(this);
    FFonts->SetStrings(fonts);
    if (pixelsPerInch > 0)
        FPixelsPerInch = pixelsPerInch;
    else if (auto* s = QGuiApplication::primaryScreen())
        FPixelsPerInch = qRound(s->logicalDotsPerInchY());
}

TScreen::~TScreen() {
    if (FCursor != crDefault) QGuiApplication::restoreOverrideCursor();
    if (Screen == this) Screen = nullptr;
    if (Current() == this) SetCurrent(nullptr);
}

void TScreen::SetFaceMetrics(std::unique_ptr<TFaceMetrics> m) {
    FFaceMetrics = std::move(m);
    FLineHeights.clear();
    FQtFamilies.clear();
    if (!FFaceMetrics) return;
    QFont font = QGuiApplication::font();
    const QString family = QtFamily(font.family());
    if (family != font.family()) {
        font.setFamilies({family});
        QGuiApplication::setFont(font);
    }
}

// A family name without Qt's " [Foundry]" suffix, case-folded: how Qt compares them.
static QString FamilyKey(QString family) {
    if (family.endsWith(u']'))
        if (const qsizetype open = family.lastIndexOf(QStringLiteral(" [")); open > 0) family.truncate(open);
    return CaseFoldKey(family);
}

QString TScreen::QtFamily(const QString& name) {
    if (const auto it = FQtFamilies.constFind(name); it != FQtFamilies.cend()) return *it;
    if (FInstalledFolded.isEmpty()) {
        // Qt lists a family several foundries ship as "Family [Foundry]" and finds it by either.
        for (int i = 0; i < FFonts->Count(); ++i)
            FInstalledFolded.insert(FamilyKey(FFonts->Strings(i)));
        // Qt lists the generic names as families but looks them up like unknown names.
        for (const char* generic : {"serif", "sans serif", "monospace"})
            FInstalledFolded.remove(QString::fromLatin1(generic));
    }
    QString family = name;
    if (!FInstalledFolded.contains(FamilyKey(name)) && FFaceMetrics) {
        ++FFamilySubstitutions;
        const QString substitute = FFaceMetrics->substituteFamily(name);
        if (!substitute.isEmpty() && FInstalledFolded.contains(FamilyKey(substitute))) family = substitute;
    }
    FQtFamilies.insert(name, family);
    return family;
}

QString TScreen::QtFamily(const QString& name, bool bold, bool italic) {
    const QString family = QtFamily(name);
    if (!FFaceMetrics || family.endsWith(u']')) return family;
    const QString foundry = FFaceMetrics->preferredFoundry(family, bold, italic);
    return foundry.isEmpty() ? family : family + QStringLiteral(" [") + foundry + u']';
}

QStringList TScreen::AddFonts(const QStringList& families) {
    QSet<QString> known;
    known.reserve(FFonts->Count());
    for (int i = 0; i < FFonts->Count(); ++i)
        known.insert(FamilyKey(FFonts->Strings(i)));
    QStringList added;
    for (const QString& family : families) {
        const QString key = FamilyKey(family);
        if (family.isEmpty() || known.contains(key)) continue;
        known.insert(key);
        added << family;
        FFonts->Add(family);
        if (!FInstalledFolded.isEmpty()) FInstalledFolded.insert(key);
    }
    // A name substituted before may be installed now.
    if (!added.isEmpty()) FQtFamilies.clear();
    return added;
}

QStringList DistinctFamilies(const QStringList& qtFamilies) {
    // Qt adds the bracket only where a name stands more than once; a family whose own
    // name ends in brackets keeps them.
    const auto base = [](const QString& family) -> QStringView {
        if (!family.endsWith(u']')) return {};
        const qsizetype open = family.lastIndexOf(QStringLiteral(" ["));
        return open > 0 ? QStringView(family).left(open) : QStringView();
    };
    QHash<QString, int> bracketed;
    for (const QString& family : qtFamilies)
        if (const QStringView b = base(family); !b.isEmpty()) ++bracketed[CaseFoldKey(b.toString())];
    QStringList result;
    result.reserve(qtFamilies.size());
    QSet<QString> seen;
    seen.reserve(qtFamilies.size());
    for (const QString& family : qtFamilies) {
        const QStringView b = base(family);
        const QString name =
            !b.isEmpty() && bracketed.value(CaseFoldKey(b.toString())) > 1 ? b.toString() : family;
        if (name.isEmpty()) continue;
        if (const QString key = CaseFoldKey(name); !seen.contains(key)) {
            seen.insert(key);
            result << name;
        }
    }
    return result;
}

void TScreen::SetCursor(TCursor value) {
    if (value == FCursor) return;
    if (FCursor != crDefault) QGuiApplication::restoreOverrideCursor();
    FCursor = value;
    if (FCursor != crDefault) QGuiApplication::setOverrideCursor(CursorShape(FCursor));
}

QCursor TScreen::CursorShape(TCursor id) const {
    if (auto it = FCursors.find(id); it != FCursors.end()) return it->second;
    switch (id) {
    case crNone:
        return QCursor(Qt::BlankCursor);
    case crCross:
        return QCursor(Qt::CrossCursor);
    case crIBeam:
        return QCursor(Qt::IBeamCursor);
    case crSizeNS:
        return QCursor(Qt::SizeVerCursor);
    case crSizeWE:
        return QCursor(Qt::SizeHorCursor);
    case crHourGlass:
        return QCursor(Qt::WaitCursor);
    case crNoDrop:
        return QCursor(Qt::ForbiddenCursor);
    case crHSplit:
        return QCursor(Qt::SplitHCursor);
    case crVSplit:
        return QCursor(Qt::SplitVCursor);
    case crHandPoint:
        return QCursor(Qt::PointingHandCursor);
    default:
        return QCursor(Qt::ArrowCursor);
    }
}

void TScreen::PrepareFontLineHeights(const QStringList& families, TFontStyles style) {
    if (FFaceMetrics) FFaceMetrics->prepare(families, style.testFlag(fsBold), style.testFlag(fsItalic));
}

int TScreen::FontLineHeight(const TFont& font) {
    const bool bold = font.Style().testFlag(fsBold), italic = font.Style().testFlag(fsItalic);
    const int px = std::max(1, font.PixelSize());
    if (FFaceMetrics)
        if (auto h = FFaceMetrics->lineHeight(font.Name(), px, bold, italic)) return *h;
    // A face the metrics index does not know: ask Qt once per font and remember.
    const QString key = font.Name() + u'|' + QString::number(px) + u'|' + QChar(bold ? u'b' : u'-') +
                        QChar(italic ? u'i' : u'-');
    auto it = FLineHeights.constFind(key);
    if (it != FLineHeights.constEnd()) return *it;
    const QFontMetrics fm(font.ToQFont());
    const int h = fm.ascent() + fm.descent();
    FLineHeights.insert(key, h);
    return h;
}
