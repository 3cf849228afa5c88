// The screen: installed fonts, resolution, cursors, and the line heights and family names
// fonts are measured and drawn with.
#pragma once

#include "Graphics.h"

#include <QCursor>
#include <QHash>
#include <QSet>

#include <map>
#include <memory>

class TScreen : public TComponent, public TFontScreen {
    Q_OBJECT
public:
    // fonts: the installed families as the font enumeration reports them.
    explicit TScreen(const QStringList& fonts, int pixelsPerInch = 0);
    ~TScreen() override;

    TStrings* Fonts() const { return FFonts.get(); }
    int PixelsPerInch() const override { return FPixelsPerInch; }
    void SetPixelsPerInch(int v) { FPixelsPerInch = v; }
    TCursor Cursor() const { return FCursor; }
    void SetCursor(TCursor value);
    QCursor CursorShape(TCursor id) const;
    void SetCursors(TCursor id, const QCursor& cursor) { FCursors[id] = cursor; }
    bool HasCursor(TCursor id) const { return FCursors.contains(id) || id <= 0; }

    // Line height (ascent plus descent, pixels) of a font, from face metrics
    // without making a font engine; falls back to Qt's metrics once per font.
    int FontLineHeight(const TFont& font);
    // Reads ahead, on all cores, what FontLineHeight will need for these families in
    // this style (bold and italic count); a hint that changes no answer.
    void PrepareFontLineHeights(const QStringList& families, TFontStyles style);
    TFaceMetrics* FaceMetrics() const override { return FFaceMetrics.get(); }
    // Also hands Qt's default font to QtFamily (menus and dialogs use it).
    void SetFaceMetrics(std::unique_ptr<TFaceMetrics> m);

    // The family name to give Qt for a font name: the name itself when it is an
    // installed family, otherwise the installed family the font configuration
    // substitutes for it (what Qt would end up showing too). Qt resolves a name it
    // does not list by filtering a fallback list of every installed family against
    // its own family list, which costs seconds with thousands of families; a generic
    // name ("Sans Serif") it lists but resolves the same way. Memoised per name.
    QString QtFamily(const QString& name);
    // The same for a style: a bare name of a family several foundries ship becomes
    // "Family [Foundry]" with the foundry of the face the font configuration prefers for
    // that style, which Qt then draws (given the bare name it picks one by its own rules).
    QString QtFamily(const QString& name, bool bold, bool italic) override;
    // Names QtFamily had to ask the font configuration about (for tests).
    int FamilySubstitutions() const { return FFamilySubstitutions; }

    // Adds families made available while the program runs (font files opened for the run);
    // returns those that were not installed yet, in the given order, each once.
    QStringList AddFonts(const QStringList& families);

private:
    std::unique_ptr<TStrings> FFonts;
    int FPixelsPerInch = 96;
    TCursor FCursor = crDefault;
    std::map<TCursor, QCursor> FCursors;
    std::unique_ptr<TFaceMetrics> FFaceMetrics;
    QHash<QString, int> FLineHeights;
    QSet<QString> FInstalledFolded; // case-folded family names, "[foundry]" dropped
    QHash<QString, QString> FQtFamilies;
    int FFamilySubstitutions = 0;
};

// Qt's family list with each family once: Qt lists a family several foundries ship once
// per foundry as "Family [Foundry]"; such entries become the bare name, and names that
// differ only in case count as one (the first spelling is kept). Linear in the list.
QStringList DistinctFamilies(const QStringList& qtFamilies);

// The program-wide screen; the main procedure (or a test) creates it.
extern TScreen* Screen;
