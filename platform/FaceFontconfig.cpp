#include "FaceFontconfig.h"

#include "FontReaders.h"

#include <algorithm>
#include <cerrno>

#include <sys/stat.h>

using namespace FaceMetricsDetail;

namespace {

// Numeric pattern value; variable fonts give ranges, of which the value nearest
// `prefer` stands for the face.
double fcNumber(FcPattern* pattern, const char* object, double prefer, double fallback) {
    FcValue v;
    if (FcPatternGet(pattern, object, 0, &v) != FcResultMatch) return fallback;
    switch (v.type) {
    case FcTypeInteger:
        return v.u.i;
    case FcTypeDouble:
        return v.u.d;
    case FcTypeRange: {
        double lo = 0, hi = 0;
        if (FcRangeGetDouble(v.u.r, &lo, &hi) && lo <= hi) return std::clamp(prefer, lo, hi);
        return fallback;
    }
    default:
        return fallback;
    }
}

} // namespace

std::optional<TFaceInfo> FaceMetricsDetail::faceFromPattern(FcPattern* p) {
    FcChar8* file = nullptr;
    if (FcPatternGetString(p, FC_FILE, 0, &file) != FcResultMatch || !file) return std::nullopt;
    TFaceInfo info;
    info.file = QString::fromUtf8(reinterpret_cast<const char*>(file));
    FcChar8* s = nullptr;
    for (int k = 0; FcPatternGetString(p, FC_FAMILY, k, &s) == FcResultMatch; ++k)
        if (s) info.families << QString::fromUtf8(reinterpret_cast<const char*>(s));
    if (FcPatternGetString(p, FC_FOUNDRY, 0, &s) == FcResultMatch && s)
        info.foundry = QString::fromUtf8(reinterpret_cast<const char*>(s));
    int index = 0;
    if (FcPatternGetInteger(p, FC_INDEX, 0, &index) == FcResultMatch) info.index = index;
    info.weight = qRound(fcNumber(p, FC_WEIGHT, FC_WEIGHT_REGULAR, FC_WEIGHT_REGULAR));
    info.slant = qRound(fcNumber(p, FC_SLANT, FC_SLANT_ROMAN, FC_SLANT_ROMAN));
    info.width = qRound(fcNumber(p, FC_WIDTH, FC_WIDTH_NORMAL, FC_WIDTH_NORMAL));
    return info;
}

TFcPtr<FcFontSet> FaceMetricsDetail::listInstalledFaces() {
    const TFcPtr<FcPattern> pattern(FcPatternCreate());
    const TFcPtr<FcObjectSet> objects(FcObjectSetBuild(FC_FAMILY, FC_FOUNDRY, FC_WEIGHT, FC_SLANT, FC_WIDTH,
                                                       FC_FILE, FC_INDEX, static_cast<char*>(nullptr)));
    if (!pattern || !objects) return nullptr;
    return TFcPtr<FcFontSet>(FcFontList(nullptr, pattern.get(), objects.get()));
}

TFcPtr<FcFontSet> FaceMetricsDetail::queryFileFaces(const QByteArray& readPath, const QByteArray& fileName) {
    TFcPtr<FcFontSet> set(FcFontSetCreate());
    if (!set) return nullptr;
    int count = 0;
    // An id of all ones asks for every face (and named instance) in the file.
    FcFreeTypeQueryAll(reinterpret_cast<const FcChar8*>(readPath.constData()), ~0u, nullptr, &count,
                       set.get());
    for (int i = 0; i < set->nfont; ++i) {
        FcPattern* p = set->fonts[i];
        FcPatternDel(p, FC_FILE);
        FcPatternAddString(p, FC_FILE, reinterpret_cast<const FcChar8*>(fileName.constData()));
    }
    return set;
}

TFcPtr<FcFontSet> FaceMetricsDetail::setOf(const std::vector<TFcPtr<FcPattern>>& patterns) {
    TFcPtr<FcFontSet> set(FcFontSetCreate());
    if (!set) return nullptr;
    for (const TFcPtr<FcPattern>& p : patterns) {
        FcPatternReference(p.get());
        if (!FcFontSetAdd(set.get(), p.get())) {
            FcPatternDestroy(p.get());
            return nullptr;
        }
    }
    return set;
}

void FaceMetricsDetail::collectPatterns(FcFontSet* set, const QHash<QByteArray, int>& spellings,
                                        TFoundryPatterns& out) {
    if (!set) return;
    for (int i = 0; i < set->nfont; ++i) {
        FcPattern* p = set->fonts[i];
        int last = -1;
        FcChar8* s = nullptr;
        for (int k = 0; FcPatternGetString(p, FC_FAMILY, k, &s) == FcResultMatch; ++k) {
            if (!s) continue;
            const char* name = reinterpret_cast<const char*>(s);
            const auto it = spellings.constFind(QByteArray::fromRawData(name, qsizetype(std::strlen(name))));
            if (it == spellings.cend() || *it == last) continue;
            last = *it;
            FcPatternReference(p);
            out[*it].emplace_back(p);
        }
    }
}

std::optional<TFaceInfo> FaceMetricsDetail::matchStyle(FcFontSet* set, const char* family, bool bold,
                                                       bool italic) {
    const TFcPtr<FcPattern> request(FcPatternCreate());
    if (!set || !request) return std::nullopt;
    FcPatternAddString(request.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    FcPatternAddInteger(request.get(), FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(request.get(), FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcConfigSubstitute(nullptr, request.get(), FcMatchPattern);
    FcDefaultSubstitute(request.get());
    FcFontSet* sets[] = {set};
    FcResult result = FcResultNoMatch;
    const TFcPtr<FcPattern> match(FcFontSetMatch(nullptr, sets, 1, request.get(), &result));
    if (!match) return std::nullopt;
    auto info = faceFromPattern(match.get());
    if (!info || info->index < 0) return std::nullopt;
    return info;
}

std::optional<TFaceInfo> FaceMetricsDetail::matchInstalled(const char* family, bool bold, bool italic) {
    // Installed fonts only: a font opened for one run (which Qt adds to fontconfig's
    // application fonts, from memory) must not become a generic name's face, least of
    // all in the cache kept for later runs.
    return matchStyle(FcConfigGetFonts(nullptr, FcSetSystem), family, bold, italic);
}

std::optional<QString> FaceMetricsDetail::substituteOf(const QString& name) {
    const TFcPtr<FcPattern> pattern(FcPatternCreate());
    if (!pattern) return std::nullopt;
    const QByteArray utf8 = name.toUtf8();
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(utf8.constData()));
    FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    const TFcPtr<FcPattern> match(FcFontMatch(nullptr, pattern.get(), &result));
    FcChar8* s = nullptr;
    if (match && FcPatternGetString(match.get(), FC_FAMILY, 0, &s) == FcResultMatch && s)
        return QString::fromUtf8(reinterpret_cast<const char*>(s));
    return QString();
}

void FaceMetricsDetail::addMatchConditions(TDigest& digest) {
    digest.add(quint64(FcGetVersion()));
    const auto addList = [&digest](FcStrList* list, bool withStat) {
        if (!list) return;
        while (const FcChar8* s = FcStrListNext(list)) {
            const char* path = reinterpret_cast<const char*>(s);
            digest.add(path);
            struct stat st {};
            if (withStat && ::stat(path, &st) == 0) {
                digest.add(quint64(st.st_size));
                digest.add(quint64(mtimeNsOf(st)));
            }
        }
        FcStrListDone(list);
    };
    addList(FcConfigGetConfigFiles(nullptr), true);
    addList(FcConfigGetFontDirs(nullptr), true);
    if (FcStrSet* langs = FcGetDefaultLangs()) {
        addList(FcStrListCreate(langs), false);
        FcStrSetDestroy(langs);
    }
    digest.add(program_invocation_short_name); // configuration rules may test the program name
}
