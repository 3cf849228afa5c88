#include "FaceMetrics.h"

#include "FaceCache.h"
#include "FaceFontconfig.h"
#include "FontReaders.h"

#include <QFile>
#include <QHash>

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <system_error>
#include <thread>
#include <tuple>
#include <utility>

#include <sys/stat.h>

using namespace FaceMetricsDetail;

// The index over the listing. What it reads from font files (FontReaders.h), keeps on
// disk (FaceCache.h) and asks fontconfig (FaceFontconfig.h) lives in units of its own.

struct TFaceMetrics::Impl {
    enum class Source { FontConfig, Files, Faces };
    enum class SlotState : quint8 { Pending, Queued, Known, Missing };

    struct Face {
        int slot = -1;
        double weightOt = 400; // OpenType scale, where Qt's requests live
        int slant = 0;
        int width = 100;
        QString foundry;
    };
    // One face of one file; several listing entries (variable named instances) share it.
    struct Slot {
        QString file;
        quint32 faceIndex = 0;
        SlotState state = SlotState::Pending;
        TMeasured measured;
    };

    QString cacheFile;
    Source source = Source::FontConfig;
    QStringList explicitFiles;
    std::vector<TFaceInfo> explicitFaces;
    bool built = false;

    std::vector<Face> faces;
    std::vector<Slot> fileFaces;
    QHash<TSlotKey, int> slotIds;
    // Faces of each family, case-insensitively: familyLists[foldedFamilies[folded name]].
    // exactFamilies maps every spelling seen in the listing to the same list, so the
    // names Qt hands back are found without case folding.
    std::vector<std::vector<int>> familyLists;
    QHash<QString, int> foldedFamilies;
    QHash<QString, int> exactFamilies;

    // Everything resolved for one requested name, so that repeated lookups (a refresh
    // asks every family again) cost one hash lookup.
    struct NameMemo {
        bool resolved = false;     // candidates below are known
        int list = -1;             // familyLists index, or -1
        std::vector<int> filtered; // the faces of one foundry, when that narrowed the list
        int generic = -1;          // fontconfig generic the name stands for, if no list
        bool ambiguous = false;    // several foundries and none asked for
        std::array<int, 4> face{kUnchosen, kUnchosen, kUnchosen, kUnchosen}; // per style; -1 none
        // Per style, for an ambiguous name: the face is the one fontconfig prefers.
        std::array<bool, 4> settled{};
    };
    QHash<QString, NameMemo> nameMemo;
    QHash<QString, QString> substitutes;

    // Full fontconfig patterns of the faces of families that several foundries ship, by
    // family list, so that fontconfig's own scoring chooses among just those faces (a match
    // over every installed font costs tens of milliseconds with thousands installed).
    TFoundryPatterns foundryPatterns;
    bool foundryPatternsIndexed = false;
    // Patterns of the faces this index queried itself: explicit files, files opened for the run.
    TFcPtr<FcFontSet> ownPatterns;
    QHash<TSlotKey, TCacheEntry> cache;
    int unsavedParses = 0;

    // Generic-name matches cost a full fontconfig match each (most of a first lookup's
    // time), so they are kept in the disk cache together with a digest of what they
    // depend on: fontconfig's version, configuration files and font directories (with
    // their sizes and times), the listing, the default languages and the program name.
    TGenericHits generic; // from the cache until checked, then current
    quint64 loadedGenericDigest = 0;
    std::optional<quint64> genericDigest; // computed when a generic name is first asked for
    bool genericDirty = false;
    TDigest listingDigest;
    TFaceMetricsStats stats;

    static constexpr int kUnchosen = -2;

    // The listing may be taken on a worker thread while the program does other start-up
    // work; nothing else touches the index until the worker has been joined.
    std::thread builder;

    // Works out substitutes ahead; substituteFamily() joins it first, and nothing else
    // touches `substitutes` or stats.substitutions.
    std::thread prefetcher;

    ~Impl() {
        if (builder.joinable()) builder.join();
        if (prefetcher.joinable()) prefetcher.join();
    }

    void prefetchSubstitutes(const QStringList& names) {
        if (source != Source::FontConfig || prefetcher.joinable() || names.isEmpty()) return;
        try {
            prefetcher = std::thread([this, names] {
                for (const QString& name : names) {
                    try {
                        (void)matchSubstitute(name);
                    } catch (...) {
                        // Asked again on the caller's thread, which reports what fails there.
                    }
                }
            });
        } catch (const std::system_error&) {
            // No thread to be had: each name is matched when asked for.
        }
    }

    void buildInBackground() {
        if (built || builder.joinable()) return;
        try {
            builder = std::thread([this] {
                try {
                    buildNow();
                    takeCachedSlots();
                    matchGenericsAhead();
                    indexFoundryPatterns();
                    preferAhead();
                } catch (...) {
                    built = false; // the first lookup tries again on its own thread
                }
            });
        } catch (const std::system_error&) {
            // No thread to be had: the first lookup builds it.
        }
    }

    void ensureBuilt() {
        if (builder.joinable()) builder.join();
        if (built) return;
        buildNow();
    }

    void buildNow() {
        faces.clear();
        fileFaces.clear();
        slotIds.clear();
        familyLists.clear();
        foldedFamilies.clear();
        exactFamilies.clear();
        listingDigest = TDigest{};
        ownPatterns.reset();
        foundryPatterns.clear();
        foundryPatternsIndexed = false;
        built = true;
        switch (source) {
        case Source::FontConfig:
            listFontconfig();
            break;
        case Source::Files:
            queryFiles();
            break;
        case Source::Faces:
            for (const TFaceInfo& f : explicitFaces)
                addFace(f);
            explicitFaces = {};
            break;
        }
        stats.faces = int(faces.size());
        stats.families = int(foldedFamilies.size());
        loadCache();
    }

    void addFontSet(FcFontSet* set) {
        if (!set) return;
        for (int i = 0; i < set->nfont; ++i)
            if (auto info = faceFromPattern(set->fonts[i])) addFace(*info);
    }

    void listFontconfig() { addFontSet(listInstalledFaces().get()); }

    void queryFiles() {
        for (const QString& f : explicitFiles)
            (void)queryFile(f, QFile::encodeName(f));
        explicitFiles.clear();
    }

    // Lists the faces of one file (read from `readPath`, recorded as `file`); returns
    // the family names they carry, in the file's order.
    QStringList queryFile(const QString& file, const QByteArray& readPath) {
        const TFcPtr<FcFontSet> set = queryFileFaces(readPath, QFile::encodeName(file));
        if (!set) return {};
        if (!ownPatterns) ownPatterns.reset(FcFontSetCreate());
        QStringList families;
        for (int i = 0; i < set->nfont; ++i) {
            FcPattern* p = set->fonts[i];
            const auto info = faceFromPattern(p);
            if (!info) continue;
            addFace(*info);
            for (const QString& name : info->families)
                if (!name.isEmpty() && !families.contains(name)) families << name;
            // Kept for choosing between foundries; the set adds its own reference.
            FcPatternReference(p);
            if (!ownPatterns || !FcFontSetAdd(ownPatterns.get(), p)) FcPatternDestroy(p);
        }
        return families;
    }

    void addFace(const TFaceInfo& info) {
        listingDigest.add(info.file);
        listingDigest.add(quint64(info.index));
        for (const QString& name : info.families)
            listingDigest.add(name);
        listingDigest.add(info.foundry);
        listingDigest.add(quint64(info.weight) << 32 | quint64(info.slant) << 16 | quint64(info.width));
        if (info.file.isEmpty() || info.index < 0 || info.families.isEmpty()) return;
        const int id = int(faces.size());
        faces.push_back(Face{slotFor(info.file, info.index), FcWeightToOpenTypeDouble(info.weight),
                             info.slant, info.width, info.foundry});
        for (const QString& name : info.families) {
            if (name.isEmpty()) continue;
            std::vector<int>& list = familyLists[size_t(familyListOf(name))];
            if (list.empty() || list.back() != id) list.push_back(id);
        }
    }

    // Case folding is the costly part, so each spelling is folded only once.
    int familyListOf(const QString& name) {
        if (const auto exact = exactFamilies.constFind(name); exact != exactFamilies.cend()) return *exact;
        const QString folded = name.toCaseFolded();
        auto it = foldedFamilies.constFind(folded);
        if (it == foldedFamilies.cend()) {
            it = foldedFamilies.insert(folded, int(familyLists.size()));
            familyLists.emplace_back();
        }
        exactFamilies.insert(name, *it);
        return *it;
    }

    // Closest face to the request: slant class first (italic accepts oblique), then
    // weight (ties go to the heavier face, so a regular request prefers Medium over
    // Light), then width nearest normal. When nothing matches the style, the nearest
    // roman/regular face wins, which is what Qt synthesises bold/italic from.
    int choose(const std::vector<int>& candidates, bool bold, bool italic) const {
        const double wanted = bold ? 700 : 400;
        int best = -1;
        std::tuple<int, double, int, int> bestScore;
        for (int id : candidates) {
            const Face& f = faces[size_t(id)];
            int slantPenalty = 0;
            if (italic)
                slantPenalty = f.slant == FC_SLANT_ITALIC ? 0 : (f.slant >= FC_SLANT_ITALIC ? 1 : 2);
            else
                slantPenalty = f.slant == FC_SLANT_ROMAN ? 0 : (f.slant >= FC_SLANT_OBLIQUE ? 1 : 2);
            const std::tuple<int, double, int, int> score{slantPenalty, std::abs(f.weightOt - wanted),
                                                          f.weightOt >= wanted ? 0 : 1,
                                                          std::abs(f.width - 100)};
            if (best < 0 || score < bestScore) {
                best = id;
                bestScore = score;
            }
        }
        return best;
    }

    int findFamily(const QString& name) const {
        if (const auto exact = exactFamilies.constFind(name); exact != exactFamilies.cend()) return *exact;
        return foldedFamilies.value(name.toCaseFolded(), -1);
    }

    // Fills in which faces a name may stand for; done once per name.
    void resolveName(const QString& name, NameMemo& memo) const {
        memo.resolved = true;
        resolveCandidates(name, memo);
        // Qt lists a family shipped by several foundries only as "Family [Foundry]". Given
        // the bare name it settles between the foundries by its own scoring and their
        // order: e.g. "C059" may be the OpenType or the Type 1 copy. The program hands Qt
        // the foundry of the face fontconfig prefers (see preferredFace); where that is not
        // known the name gets no metrics rather than perhaps wrong ones.
        if (memo.list >= 0 && memo.filtered.empty()) {
            const std::vector<int>& all = familyLists[size_t(memo.list)];
            const QString& first = faces[size_t(all.front())].foundry;
            memo.ambiguous = std::any_of(all.begin(), all.end(),
                                         [&](int id) { return faces[size_t(id)].foundry != first; });
        }
    }

    void resolveCandidates(const QString& name, NameMemo& memo) const {
        if ((memo.list = findFamily(name)) >= 0) return;
        memo.generic = genericOf(name);
        // Qt disambiguates families shipped by several foundries as "Family [Foundry]".
        if (!name.endsWith(u']')) return;
        const qsizetype open = name.lastIndexOf(QStringLiteral(" ["));
        if (open <= 0) return;
        const int list = findFamily(name.left(open));
        if (list < 0) return;
        memo.list = list;
        memo.generic = -1;
        const std::vector<int>& all = familyLists[size_t(list)];
        const QString foundry = name.mid(open + 2, name.size() - open - 3);
        // Qt keeps e.g. "URW " and "urw" apart, so an exact match wins over a loose one.
        for (int id : all)
            if (faces[size_t(id)].foundry == foundry) memo.filtered.push_back(id);
        if (memo.filtered.empty()) {
            const QString loose = foundry.trimmed();
            for (int id : all)
                if (faces[size_t(id)].foundry.trimmed().compare(loose, Qt::CaseInsensitive) == 0)
                    memo.filtered.push_back(id);
        }
    }

    // Qt lists fontconfig's generic names as families of their own.
    static constexpr std::array<const char*, kGenericCount> kGenerics{"serif", "sans-serif", "monospace"};
    static int genericOf(const QString& name) {
        if (name.compare(u"Serif", Qt::CaseInsensitive) == 0) return 0;
        if (name.compare(u"Sans Serif", Qt::CaseInsensitive) == 0) return 1;
        if (name.compare(u"Monospace", Qt::CaseInsensitive) == 0) return 2;
        return -1;
    }

    quint64 currentGenericDigest() {
        if (genericDigest) return *genericDigest;
        TDigest h = listingDigest;
        addMatchConditions(h);
        genericDigest = h.value();
        if (*genericDigest != loadedGenericDigest) generic = {}; // made under other conditions
        return *genericDigest;
    }

    int slotFor(const QString& file, int fcIndex) {
        const TSlotKey key{file, quint32(fcIndex) & 0xFFFF};
        int slot = slotIds.value(key, -1);
        if (slot < 0) {
            slot = int(fileFaces.size());
            fileFaces.push_back(Slot{key.first, key.second, SlotState::Pending, {}});
            slotIds.insert(key, slot);
        }
        return slot;
    }

    // Qt resolves a generic name with a fontconfig match when a font is created; do the
    // same (once per style, and only when the cached match may be out of date).
    std::optional<TGenericHit>& genericHit(int genericId, bool bold, bool italic) {
        const size_t key = size_t(genericId) * 4 + (bold ? 2 : 0) + (italic ? 1 : 0);
        currentGenericDigest();
        std::optional<TGenericHit>& hit = generic[key];
        if (!hit) {
            if (const auto info = matchInstalled(kGenerics[size_t(genericId)], bold, italic))
                hit = TGenericHit{info->file, info->index};
            if (hit) {
                genericDirty = true;
                ++stats.genericMatches;
            }
        }
        return hit;
    }

    // With the cache empty or out of date, each generic name costs a match over every
    // installed font when its field is first measured; on the builder thread, the plain
    // style's matches overlap with Qt building its font database instead.
    void matchGenericsAhead() {
        if (source != Source::FontConfig) return;
        for (int id = 0; id < kGenericCount; ++id)
            (void)genericHit(id, false, false);
    }

    int matchGeneric(int genericId, bool bold, bool italic) {
        if (genericId < 0 || source != Source::FontConfig) return -1;
        const std::optional<TGenericHit>& hit = genericHit(genericId, bold, italic);
        if (!hit) return -1;
        faces.push_back(Face{slotFor(hit->file, hit->fcIndex), 400, 0, 100, {}});
        return int(faces.size()) - 1;
    }

    QString substituteFamily(const QString& name) {
        if (prefetcher.joinable()) prefetcher.join();
        return matchSubstitute(name);
    }

    // On the prefetcher itself, which must not look at its own std::thread object: the
    // starting thread may still be writing it.
    QString matchSubstitute(const QString& name) {
        if (source != Source::FontConfig || name.isEmpty()) return {};
        if (const auto it = substitutes.constFind(name); it != substitutes.cend()) return *it;
        const std::optional<QString> family = substituteOf(name);
        if (family) ++stats.substitutions;
        substitutes.insert(name, family.value_or(QString()));
        return family.value_or(QString());
    }

    // The face chosen for a name and style, -1 if none. *ambiguous: several foundries
    // ship the family, none was asked for, and fontconfig's preference is not known.
    int lookup(const QString& name, bool bold, bool italic, bool* ambiguous = nullptr,
               bool* settled = nullptr) {
        ensureBuilt();
        return lookupBuilt(name, bold, italic, ambiguous, settled);
    }

    int lookupBuilt(const QString& name, bool bold, bool italic, bool* ambiguous = nullptr,
                    bool* settled = nullptr) {
        const int style = (bold ? 2 : 0) | (italic ? 1 : 0);
        auto memo = nameMemo.find(name);
        if (memo == nameMemo.end()) memo = nameMemo.insert(name, NameMemo{});
        int& chosen = memo->face[size_t(style)];
        if (chosen == kUnchosen) {
            if (!memo->resolved) resolveName(name, *memo);
            if (!memo->filtered.empty()) {
                chosen = choose(memo->filtered, bold, italic);
            } else if (memo->list >= 0) {
                const int preferred = memo->ambiguous ? preferredFace(name, memo->list, bold, italic) : -1;
                memo->settled[size_t(style)] = preferred >= 0;
                chosen = preferred >= 0 ? preferred : choose(familyLists[size_t(memo->list)], bold, italic);
            } else {
                chosen = matchGeneric(memo->generic, bold, italic);
            }
        }
        if (ambiguous) *ambiguous = memo->ambiguous && !memo->settled[size_t(style)];
        if (settled) *settled = memo->settled[size_t(style)];
        return chosen;
    }

    // Collects, in one pass over fontconfig's fonts, the full patterns of the faces of
    // every family that several foundries ship.
    void indexFoundryPatterns() {
        if (foundryPatternsIndexed) return;
        foundryPatternsIndexed = true;
        std::vector<bool> several(familyLists.size());
        bool any = false;
        for (size_t list = 0; list < familyLists.size(); ++list) {
            const std::vector<int>& all = familyLists[list];
            if (all.empty()) continue;
            const QString& first = faces[size_t(all.front())].foundry;
            several[list] = std::any_of(all.begin(), all.end(),
                                        [&](int id) { return faces[size_t(id)].foundry != first; });
            any = any || several[list];
        }
        if (!any) return;
        QHash<QByteArray, int> spellings;
        for (auto it = exactFamilies.cbegin(); it != exactFamilies.cend(); ++it)
            if (several[size_t(*it)]) spellings.insert(it.key().toUtf8(), *it);
        if (source == Source::FontConfig)
            collectPatterns(FcConfigGetFonts(nullptr, FcSetSystem), spellings, foundryPatterns);
        collectPatterns(ownPatterns.get(), spellings, foundryPatterns);
    }

    // Start-up asks for every family in the plain style; for a family several foundries
    // ship that costs a fontconfig substitution (about a millisecond), made here ahead.
    void preferAhead() {
        for (auto it = exactFamilies.cbegin(); it != exactFamilies.cend(); ++it)
            if (foundryPatterns.count(*it)) (void)lookupBuilt(it.key(), false, false);
    }

    // The face fontconfig prefers for a name and style among the faces of a family that
    // several foundries ship: its own scoring, run over just those faces. A program asking
    // fontconfig for the name gets the same face, unless the configuration puts another
    // family before it. -1 if it cannot tell.
    int preferredFace(const QString& name, int list, bool bold, bool italic) {
        indexFoundryPatterns();
        const auto patterns = foundryPatterns.find(list);
        if (patterns == foundryPatterns.end() || patterns->second.empty()) return -1;
        const TFcPtr<FcFontSet> set = setOf(patterns->second);
        const auto info = matchStyle(set.get(), name.toUtf8().constData(), bold, italic);
        if (!info) return -1;
        const int slot = slotIds.value(TSlotKey{info->file, quint32(info->index) & 0xFFFF}, -1);
        // Named instances of a variable font share the file's slot; take the nearest of them.
        std::vector<int> same;
        for (int id : familyLists[size_t(list)])
            if (faces[size_t(id)].slot == slot) same.push_back(id);
        return same.empty() ? -1 : choose(same, bold, italic);
    }

    QStringList addFontFile(const QString& file, int fd) {
        ensureBuilt();
        if (prefetcher.joinable()) prefetcher.join();
        const QStringList families = queryFile(file, "/proc/self/fd/" + QByteArray::number(fd));
        // Names may now stand for other faces, and families gain foundries.
        nameMemo.clear();
        foundryPatterns.clear();
        foundryPatternsIndexed = false;
        stats.faces = int(faces.size());
        stats.families = int(foldedFamilies.size());
        return families;
    }

    struct TMeasureCounts {
        int fromCache = 0;
        int parsed = 0;
    };

    // Reads one face's metrics from the cache (if its file is unchanged) or the file.
    // Touches only this slot and reads the cache, so slots can be measured in parallel.
    // Takes the slot's metrics from the cache if its file is unchanged.
    bool takeFromCache(Slot& slot, TMeasureCounts& counts) const {
        const auto cached = cache.constFind(TSlotKey{slot.file, slot.faceIndex});
        if (cached == cache.cend()) return false;
        struct stat st {};
        if (::stat(QFile::encodeName(slot.file).constData(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_size != cached->size || mtimeNsOf(st) != cached->mtimeNs)
            return false;
        slot.measured = TMeasured{cached->size, cached->mtimeNs, cached->metrics};
        slot.state = SlotState::Known;
        ++counts.fromCache;
        return true;
    }

    // With the cache filled, checking each cached face's file costs a stat per file:
    // tens of milliseconds for thousands. The builder thread does it while Qt builds
    // its font database, rather than the first pass that asks for the faces.
    void takeCachedSlots() {
        TMeasureCounts counts;
        for (Slot& slot : fileFaces)
            if (slot.state == SlotState::Pending) (void)takeFromCache(slot, counts);
        addCounts(counts);
    }

    void measureSlot(Slot& slot, TMeasureCounts& counts) const {
        slot.state = SlotState::Missing;
        if (takeFromCache(slot, counts)) return;
        if (auto m = measureFile(slot.file, slot.faceIndex)) {
            slot.measured = *m;
            slot.state = SlotState::Known;
            ++counts.parsed;
        }
    }

    void addCounts(const TMeasureCounts& counts) {
        stats.fromCache += counts.fromCache;
        stats.parsed += counts.parsed;
        unsavedParses += counts.parsed;
    }

    bool unreadable(const QString& name, bool bold, bool italic) {
        bool ambiguous = false;
        const int face = lookup(name, bold, italic, &ambiguous);
        if (face < 0) return false;
        const auto missing = [this](int id) {
            const int slot = faces[size_t(id)].slot;
            metricsOf(slot);
            return fileFaces[size_t(slot)].state == SlotState::Missing;
        };
        if (!ambiguous) return missing(face);
        const NameMemo& memo = *nameMemo.constFind(name);
        const std::vector<int>& all = familyLists[size_t(memo.list)];
        return std::any_of(all.begin(), all.end(), missing);
    }

    const std::optional<TFaceVMetrics>& metricsOf(int slotId) {
        Slot& slot = fileFaces[size_t(slotId)];
        if (slot.state == SlotState::Pending) {
            TMeasureCounts counts;
            measureSlot(slot, counts);
            addCounts(counts);
        }
        return slot.measured.metrics; // empty for Missing
    }

    // Measures every face these names stand for in this style that is not known yet,
    // on all cores: the first pass over thousands of families is mostly file reading.
    void prepare(const QStringList& names, bool bold, bool italic) {
        ensureBuilt();
        std::vector<int> queued;
        for (const QString& name : names) {
            bool ambiguous = false;
            const int face = lookup(name, bold, italic, &ambiguous);
            if (face < 0 || ambiguous) continue;
            const int slot = faces[size_t(face)].slot;
            if (fileFaces[size_t(slot)].state != SlotState::Pending) continue;
            fileFaces[size_t(slot)].state = SlotState::Queued;
            queued.push_back(slot);
        }
        constexpr size_t kWorthAThread = 64;
        const size_t workers =
            queued.size() < kWorthAThread ? 1 : std::clamp<size_t>(std::thread::hardware_concurrency(), 1, 8);
        std::vector<TMeasureCounts> counts(workers);
        std::atomic<size_t> next{0};
        const auto work = [&](size_t w) noexcept {
            for (size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < queued.size();)
                measureSlot(fileFaces[size_t(queued[i])], counts[w]);
        };
        std::vector<std::thread> threads;
        for (size_t w = 1; w < workers; ++w) {
            try {
                threads.emplace_back(work, w);
            } catch (const std::system_error&) {
                break; // fewer helpers; this thread does the rest
            }
        }
        work(0);
        for (auto& t : threads)
            t.join();
        ++stats.preparedPasses;
        for (const TMeasureCounts& c : counts)
            addCounts(c);
    }

    void loadCache() {
        if (cacheFile.isEmpty()) return;
        if (auto contents = readCache(cacheFile)) {
            cache = std::move(contents->entries);
            stats.cacheEntriesRead = int(cache.size());
            generic = std::move(contents->generic);
            loadedGenericDigest = contents->genericDigest;
        }
    }

    bool saveCache() {
        if (cacheFile.isEmpty() || !built) return true;
        // Entries for faces no longer installed are dropped; untouched ones carried over.
        TCacheContents next;
        std::vector<TSlotKey> order;
        next.entries.reserve(qsizetype(fileFaces.size()));
        for (const Slot& s : fileFaces) {
            const TSlotKey key{s.file, s.faceIndex};
            if (s.state == SlotState::Known) {
                next.entries.insert(key,
                                    TCacheEntry{s.measured.size, s.measured.mtimeNs, s.measured.metrics});
                order.push_back(key);
            } else if (s.state == SlotState::Pending) {
                if (auto it = cache.constFind(key); it != cache.cend()) {
                    next.entries.insert(key, *it);
                    order.push_back(key);
                }
            }
        }
        const bool dropped = std::any_of(cache.keyBegin(), cache.keyEnd(),
                                         [&](const TSlotKey& k) { return !next.entries.contains(k); });
        if (unsavedParses == 0 && !dropped && !genericDirty) return true;

        next.genericDigest = genericDigest.value_or(loadedGenericDigest);
        next.generic = generic;
        if (!writeCache(cacheFile, next, order)) return false;
        cache = std::move(next.entries);
        unsavedParses = 0;
        genericDirty = false;
        loadedGenericDigest = next.genericDigest;
        return true;
    }
};

TFaceMetrics::TFaceMetrics(QString cacheFile) : d(std::make_unique<Impl>()) {
    d->cacheFile = std::move(cacheFile);
}
TFaceMetrics::TFaceMetrics(std::unique_ptr<Impl> impl) : d(std::move(impl)) {}
TFaceMetrics::~TFaceMetrics() = default;
TFaceMetrics::TFaceMetrics(TFaceMetrics&&) noexcept = default;
TFaceMetrics& TFaceMetrics::operator=(TFaceMetrics&&) noexcept = default;

std::optional<TFaceVMetrics> TFaceMetrics::find(const QString& family, bool bold, bool italic) const {
    if (!d) return std::nullopt;
    bool ambiguous = false;
    const int face = d->lookup(family, bold, italic, &ambiguous);
    if (face < 0 || ambiguous) return std::nullopt;
    return d->metricsOf(d->faces[size_t(face)].slot);
}

std::optional<int> TFaceMetrics::lineHeight(const QString& family, int pixelSize, bool bold,
                                            bool italic) const {
    if (pixelSize < 1 || pixelSize > kMaxPixelSize) return std::nullopt;
    const auto m = find(family, bold, italic);
    return m ? FaceMetricsDetail::lineHeightOf(*m, pixelSize) : std::nullopt;
}

bool TFaceMetrics::unreadable(const QString& family, bool bold, bool italic) const {
    return d && d->unreadable(family, bold, italic);
}

QString TFaceMetrics::fileOf(const QString& family) const {
    if (!d) return {};
    const int face = d->lookup(family, false, false);
    return face < 0 ? QString() : d->fileFaces[size_t(d->faces[size_t(face)].slot)].file;
}

QStringList TFaceMetrics::filesOf(const QString& family) const {
    if (!d) return {};
    const QString first = fileOf(family);
    if (first.isEmpty()) return {};
    const Impl::NameMemo& memo = *d->nameMemo.constFind(family); // made by fileOf
    if (memo.filtered.empty() && memo.list < 0) return {first};  // a generic name
    const std::vector<int>& ids = !memo.filtered.empty() ? memo.filtered : d->familyLists[size_t(memo.list)];
    QStringList others;
    for (int id : ids) {
        const QString& file = d->fileFaces[size_t(d->faces[size_t(id)].slot)].file;
        if (file != first) others << file;
    }
    others.sort();
    others.removeDuplicates();
    return QStringList{first} + others;
}

QString TFaceMetrics::preferredFoundry(const QString& family, bool bold, bool italic) const {
    if (!d) return {};
    bool settled = false;
    const int face = d->lookup(family, bold, italic, nullptr, &settled);
    return face >= 0 && settled ? d->faces[size_t(face)].foundry : QString();
}

QStringList TFaceMetrics::addFontFile(const QString& file, int fd) {
    return d && fd >= 0 ? d->addFontFile(file, fd) : QStringList();
}

void TFaceMetrics::buildInBackground() {
    if (d) d->buildInBackground();
}

void TFaceMetrics::prepare(const QStringList& families, bool bold, bool italic) const {
    if (d) d->prepare(families, bold, italic);
}

QString TFaceMetrics::substituteFamily(const QString& name) const {
    return d ? d->substituteFamily(name) : QString();
}

bool TFaceMetrics::saveCache() const {
    if (!d) return true;
    if (d->builder.joinable()) d->builder.join();
    return d->saveCache();
}

void TFaceMetrics::prefetchSubstitutes(const QStringList& names) {
    if (d) d->prefetchSubstitutes(names);
}

TFaceMetricsStats TFaceMetrics::stats() const {
    if (!d) return {};
    if (d->builder.joinable()) d->builder.join();
    if (d->prefetcher.joinable()) d->prefetcher.join();
    return d->stats;
}

TFaceMetrics TFaceMetrics::fromFiles(const QStringList& files, QString cacheFile) {
    auto impl = std::make_unique<Impl>();
    impl->cacheFile = std::move(cacheFile);
    impl->source = Impl::Source::Files;
    impl->explicitFiles = files;
    return TFaceMetrics(std::move(impl));
}

TFaceMetrics TFaceMetrics::fromFaces(std::vector<TFaceInfo> faces, QString cacheFile) {
    auto impl = std::make_unique<Impl>();
    impl->cacheFile = std::move(cacheFile);
    impl->source = Impl::Source::Faces;
    impl->explicitFaces = std::move(faces);
    return TFaceMetrics(std::move(impl));
}

std::optional<TFaceVMetrics> TFaceMetrics::readFile(const QString& file, int fcIndex) {
    if (fcIndex < 0) return std::nullopt;
    const auto m = measureFile(file, quint32(fcIndex) & 0xFFFF);
    return m ? m->metrics : std::nullopt;
}

int TFaceMetrics::scaleToPixels(int designUnits, int pixelSize, int unitsPerEm) {
    return FaceMetricsDetail::scaleToPixels(designUnits, pixelSize, unitsPerEm);
}

std::optional<int> TFaceMetrics::lineHeightOf(const TFaceVMetrics& m, int pixelSize) {
    return FaceMetricsDetail::lineHeightOf(m, pixelSize);
}
