// Vertical font metrics for every installed family without creating font engines.
//
// The Text page needs the line height of 1,500+ families at once. Asking Qt means one
// font engine (and a fontconfig match) per family, which is far too slow, so this index
// takes one fontconfig listing of all faces, reads the few fields that decide the line
// height straight from the font files (sfnt tables, or a Type 1 font's clear-text
// dictionary) and scales them by arithmetic. Results are kept in a small disk cache keyed
// by file path, size and modification time.
//
// Use from one thread only (the UI thread); lookups build the index lazily, or a worker
// started by buildInBackground() does. prepare() fans file reading out to worker threads.
#pragma once

#include "FaceTypes.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

struct TFaceMetricsStats {
    int families = 0;         // distinct family names (case-insensitive)
    int faces = 0;            // faces in the listing
    int parsed = 0;           // faces whose tables were read from disk
    int fromCache = 0;        // faces answered by a valid cache entry
    int cacheEntriesRead = 0; // entries accepted from the cache file (0 if absent, foreign or corrupt)
    int genericMatches = 0;   // fontconfig matches made for generic names ("Sans Serif", ...)
    int substitutions = 0;    // fontconfig matches made by substituteFamily()
    int preparedPasses = 0;   // prepare() calls
};

class TFaceMetrics {
public:
    // cacheFile empty = no disk cache. Cheap: the listing is taken on first lookup.
    explicit TFaceMetrics(QString cacheFile);
    // Takes the listing and reads the disk cache on a worker thread now; the first
    // lookup waits for it. Lets start-up overlap it with Qt building its font database.
    void buildInBackground();
    // Works out, on a worker thread of its own, the substitutes of names the program
    // is about to ask substituteFamily() for, so that those matches overlap with other
    // start-up work. Names not asked for later only cost that thread's time.
    void prefetchSubstitutes(const QStringList& names);
    // Measures, on all cores, the faces of these families in this style that no lookup
    // has measured yet, so the lookups that follow only compute. Answers do not change.
    void prepare(const QStringList& families, bool bold, bool italic) const;
    ~TFaceMetrics();
    TFaceMetrics(TFaceMetrics&&) noexcept;
    TFaceMetrics& operator=(TFaceMetrics&&) noexcept;
    TFaceMetrics(const TFaceMetrics&) = delete;
    TFaceMetrics& operator=(const TFaceMetrics&) = delete;

    // Metrics of the face Qt would use for this family and style. The family name is
    // matched case-insensitively; Qt's disambiguated "Family [Foundry]" form is accepted.
    // For a family several foundries ship, the bare name stands for the face fontconfig
    // prefers (the program hands Qt that face's foundry, see preferredFoundry).
    // nullopt if the family is unknown, its file is neither sfnt nor Type 1 (PCF, ...), is
    // damaged, carries bitmap strikes (Qt then takes FreeType's strike metrics instead),
    // or is a kind of Type 1 font whose metrics are not known to match Qt's; also for a
    // family several foundries ship when fontconfig's preference among them is unknown
    // (an index not made from fontconfig's fonts).
    // Repeated calls for the same family string and style are answered from a memo.
    std::optional<TFaceVMetrics> find(const QString& family, bool bold, bool italic) const;

    // ascent + descent in pixels at the given pixel size (ppem), as QFontMetrics reports
    // them; nullopt as for find() or if pixelSize is outside 1..100000.
    std::optional<int> lineHeight(const QString& family, int pixelSize, bool bold, bool italic) const;

    // True if the family is listed but the face Qt would take for it (any of its faces
    // when the name leaves the foundry open) is not a regular, readable file. Qt must not
    // be given such a family: FreeType would block for ever opening a FIFO.
    bool unreadable(const QString& family, bool bold, bool italic) const;

    // File of the family's regular (or closest to regular) face; empty if unknown.
    QString fileOf(const QString& family) const;
    // Every file that provides a face of the family, whichever foundry: the regular
    // face's file first, the others sorted. Empty if unknown.
    QStringList filesOf(const QString& family) const;

    // For a bare family name that several foundries ship: the foundry of the face
    // fontconfig prefers for this style, which Qt needs as "Family [Foundry]" to draw that
    // face (given the bare name, Qt picks a foundry by rules of its own). Empty for every
    // other name, and where fontconfig's preference is unknown.
    QString preferredFoundry(const QString& family, bool bold, bool italic) const;

    // Adds the faces of a font file opened for this run. `fd` is an open descriptor of that
    // very file (a regular one), through which it is read, so the path cannot be swapped
    // for a FIFO meanwhile. Returns the family names of its faces in the file's order
    // (empty if fontconfig reads none). Answers given before may change.
    QStringList addFontFile(const QString& file, int fd);

    // The family fontconfig chooses for a name (its aliases turn "Arial" into a metric
    // twin, generic names into the configured default); empty if nothing matches or
    // this index does not come from fontconfig. One match per name, then memoised.
    QString substituteFamily(const QString& name) const;

    // Writes the cache if anything was measured or dropped since it was read or last
    // written; atomic (temporary file + rename), creating the directory as needed.
    // Returns false only if writing failed; true if written or nothing needed writing.
    bool saveCache() const;

    TFaceMetricsStats stats() const;

    // Build from explicit font files (queried through fontconfig) instead of the
    // installed set.
    static TFaceMetrics fromFiles(const QStringList& files, QString cacheFile);
    // Build from explicit face descriptions, bypassing fontconfig entirely.
    static TFaceMetrics fromFaces(std::vector<TFaceInfo> faces, QString cacheFile);

    // Reads one face's metrics directly from a file (no index, no cache). fcIndex as FC_INDEX.
    static std::optional<TFaceVMetrics> readFile(const QString& file, int fcIndex = 0);
    // Pixels for a design-unit distance at a pixel size, rounded the way Qt's font engine
    // rounds an sfnt face's ascent and descent (to 1/64 px first, then to whole pixels).
    // The size is taken within 0..100000; a result beyond int saturates.
    static int scaleToPixels(int designUnits, int pixelSize, int unitsPerEm);
    // ascent + descent in pixels, rounded as m.scaling says; nullopt for metrics no font
    // file can give (units per em outside 16..16384, values beyond 16 bits).
    static std::optional<int> lineHeightOf(const TFaceVMetrics& m, int pixelSize);

private:
    struct Impl;
    explicit TFaceMetrics(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> d;
};
