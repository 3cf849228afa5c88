// Internal to the face-metrics index: the readers that take a face's vertical metrics
// straight from its font file (an sfnt file or collection, or a Type 1 font's clear-text
// dictionary). Font files are hostile: every read is bounds-checked, and only the few
// bytes needed are read.
#pragma once

#include "FaceTypes.h"

#include <QString>

#include <optional>

struct stat;

namespace FaceMetricsDetail {

constexpr int kMaxPixelSize = 100000;

// What the font readers can produce: 16-bit design values (the usWin* ones unsigned,
// descenders negated) and the em sizes they accept. Anything else in a cache file is
// damage, and keeping to these ranges keeps every pixel computation inside 64 bits.
constexpr int kMinUnitsPerEm = 16;
constexpr int kMaxUnitsPerEm = 16384;
constexpr int kMaxDesignUnits = 0xFFFF;

bool plausibleMetrics(const TFaceVMetrics& m);

qint64 mtimeNsOf(const struct stat& st);

// Read-only view of a file with bounds-checked positional reads. Only regular files are
// opened, without blocking: a FIFO or device node placed where a font or the cache
// should be must not hang us. Some CJK collections are tens of megabytes, so nothing is
// read until asked for.
class TFontFile {
public:
    explicit TFontFile(const QString& path);
    ~TFontFile();
    TFontFile(const TFontFile&) = delete;
    TFontFile& operator=(const TFontFile&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    qint64 size() const { return m_size; }
    qint64 mtimeNs() const { return m_mtimeNs; }
    bool contains(qint64 offset, qint64 length) const {
        return offset >= 0 && length >= 0 && offset <= m_size && length <= m_size - offset;
    }
    bool readAt(qint64 offset, unsigned char* buf, qint64 length) const;

private:
    int m_fd = -1;
    qint64 m_size = 0;
    qint64 m_mtimeNs = 0;
};

// One face as measured: the file's size and time (what the cache is keyed by) and its
// metrics, empty if the file has none that can be trusted to match Qt's.
struct TMeasured {
    qint64 size = -1;
    qint64 mtimeNs = 0;
    std::optional<TFaceVMetrics> metrics;
};

// Pixels for a design-unit distance at a pixel size (taken within 0..100000), rounded as
// Qt's font engine rounds an sfnt face's ascent and descent; a result beyond int saturates.
// A face's ascent + descent in pixels, rounded as m.scaling says; nullopt for a size
// outside 1..100000 or metrics no font file can give.
int scaleToPixels(int designUnits, int pixelSize, int unitsPerEm);
std::optional<int> lineHeightOf(const TFaceVMetrics& m, int pixelSize);

// nullopt if the file cannot be opened as a regular file at all. faceIndex is the face
// within a collection (FC_INDEX's low 16 bits).
std::optional<TMeasured> measureFile(const QString& path, quint32 faceIndex);

} // namespace FaceMetricsDetail
