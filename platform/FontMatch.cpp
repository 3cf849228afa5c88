// Qt asks fontconfig for the rendering settings of every new font engine with FcFontMatch
// on a pattern naming the face's file. fontconfig scores every installed font for it: tens
// of milliseconds per face with 16,500 families, paid by every field scrolled into view.
// Yet the file is the matcher's first criterion, so a font with exactly that file beats
// every other one whatever the rest of the scores say. The program defines FcFontMatch
// itself (its own symbol comes before the library's): a pattern with one file is matched
// against the fonts of that file alone, in the configuration's order, through
// FcFontSetMatch, which gives the same pattern fontconfig's full pass would. Anything else
// goes to fontconfig's own FcFontMatch.
#include "FontMatch.h"

#include <fontconfig/fontconfig.h>

#include <dlfcn.h>

#include <atomic>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using MatchFunction = FcPattern* (*)(FcConfig*, FcPattern*, FcResult*);

MatchFunction LibraryMatch() {
    static const auto f = reinterpret_cast<MatchFunction>(dlsym(RTLD_NEXT, "FcFontMatch"));
    return f;
}

std::atomic<int> gShortcuts{0};

// The configuration's fonts by file, rebuilt when its font sets change. Worker threads
// match too (the face-metrics builder), so one mutex guards it.
struct FileIndex {
    std::mutex mutex;
    const FcConfig* config = nullptr;
    const FcFontSet* sets[2] = {nullptr, nullptr};
    int counts[2] = {-1, -1};
    std::unordered_map<std::string, std::vector<FcPattern*>> byFile;
};

FileIndex& Index() {
    static FileIndex index;
    return index;
}

FcPattern* MatchAmongFile(FcConfig* config, FcPattern* p, const char* file, FcResult* result) {
    FcConfig* c = FcConfigReference(config);
    if (!c) return nullptr;
    FcFontSet* sets[2] = {FcConfigGetFonts(c, FcSetSystem), FcConfigGetFonts(c, FcSetApplication)};
    FcPattern* match = nullptr;
    {
        FileIndex& index = Index();
        const std::lock_guard lock(index.mutex);
        bool stale = index.config != c;
        for (int i = 0; i < 2; ++i)
            stale = stale || index.sets[i] != sets[i] || index.counts[i] != (sets[i] ? sets[i]->nfont : -1);
        if (stale) {
            index.byFile.clear();
            index.config = c;
            for (int i = 0; i < 2; ++i) {
                index.sets[i] = sets[i];
                index.counts[i] = sets[i] ? sets[i]->nfont : -1;
                for (int f = 0; sets[i] && f < sets[i]->nfont; ++f) {
                    FcChar8* name = nullptr;
                    if (FcPatternGetString(sets[i]->fonts[f], FC_FILE, 0, &name) == FcResultMatch && name)
                        index.byFile[reinterpret_cast<const char*>(name)].push_back(sets[i]->fonts[f]);
                }
            }
        }
        const auto it = index.byFile.find(file);
        if (it != index.byFile.end()) {
            FcFontSet* candidates = FcFontSetCreate();
            for (FcPattern* font : it->second) {
                FcPatternReference(font); // the set releases its fonts when destroyed
                FcFontSetAdd(candidates, font);
            }
            FcFontSet* only[] = {candidates};
            match = FcFontSetMatch(c, only, 1, p, result);
            FcFontSetDestroy(candidates);
            ++gShortcuts;
        }
    }
    FcConfigDestroy(c);
    return match;
}

} // namespace

int FontFileMatchShortcuts() {
    return gShortcuts.load();
}

extern "C" FcPattern* FcFontMatch(FcConfig* config, FcPattern* p, FcResult* result) {
    FcChar8* file = nullptr;
    FcChar8* second = nullptr;
    // Several files would be weighed by their order in the pattern: fontconfig decides.
    if (p && FcPatternGetString(p, FC_FILE, 0, &file) == FcResultMatch && file &&
        FcPatternGetString(p, FC_FILE, 1, &second) != FcResultMatch)
        if (FcPattern* match = MatchAmongFile(config, p, reinterpret_cast<const char*>(file), result))
            return match;
    const MatchFunction library = LibraryMatch();
    if (!library) {
        if (result) *result = FcResultNoMatch;
        return nullptr;
    }
    return library(config, p, result);
}
