// Internal to the face-metrics index: what it asks fontconfig. The listing of faces, the
// faces of one file, the matches that stand for what Qt would do with a name, and a
// digest of the configuration those matches depend on.
#pragma once

#include "FaceTypes.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <fontconfig/fontconfig.h>

#include <cstring>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace FaceMetricsDetail {

struct TFcDeleter {
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
    void operator()(FcObjectSet* o) const { FcObjectSetDestroy(o); }
    void operator()(FcFontSet* s) const { FcFontSetDestroy(s); }
};
template <typename T> using TFcPtr = std::unique_ptr<T, TFcDeleter>;

// Full patterns of faces, by the index's family list they belong to.
using TFoundryPatterns = std::unordered_map<int, std::vector<TFcPtr<FcPattern>>>;

// A 64-bit running digest (FNV-1a over whole words) for noticing that anything a
// fontconfig match depends on has changed.
class TDigest {
public:
    void add(quint64 v) { m_h = (m_h ^ v) * 0x100000001b3ull; }
    void add(const QString& s) {
        add(quint64(s.size()));
        for (const QChar c : s)
            add(c.unicode());
    }
    void add(const char* s) {
        const size_t n = s ? std::strlen(s) : 0;
        add(quint64(n));
        for (size_t i = 0; i < n; ++i)
            add(quint8(s[i]));
    }
    quint64 value() const { return m_h; }

private:
    quint64 m_h = 0xcbf29ce484222325ull;
};

// The face a pattern describes; nullopt without a file.
std::optional<TFaceInfo> faceFromPattern(FcPattern* p);

// Every installed face, with the objects faceFromPattern reads; null if fontconfig fails.
TFcPtr<FcFontSet> listInstalledFaces();
// Every face (and named instance) of one file, read from `readPath` and recorded as
// `fileName`; null if fontconfig fails.
TFcPtr<FcFontSet> queryFileFaces(const QByteArray& readPath, const QByteArray& fileName);
// A set holding references to these patterns; null if fontconfig fails.
TFcPtr<FcFontSet> setOf(const std::vector<TFcPtr<FcPattern>>& patterns);
// Adds to `out` a reference to each pattern of `set` whose family is one of `spellings`
// (UTF-8 name -> family list), once per list.
void collectPatterns(FcFontSet* set, const QHash<QByteArray, int>& spellings, TFoundryPatterns& out);

// Fontconfig's choice among `set` for a family name and style, with the configuration's
// substitutions applied as for any request; nullopt if nothing matches.
std::optional<TFaceInfo> matchStyle(FcFontSet* set, const char* family, bool bold, bool italic);
// The same among the installed fonts only.
std::optional<TFaceInfo> matchInstalled(const char* family, bool bold, bool italic);
// The family fontconfig chooses for a name over all its fonts; empty if none, nullopt if
// fontconfig could not be asked.
std::optional<QString> substituteOf(const QString& name);

// Adds what fontconfig's matches depend on beyond the listing: its version, configuration
// files and font directories (with their sizes and times), the default languages and the
// program name.
void addMatchConditions(TDigest& digest);

} // namespace FaceMetricsDetail
