// Internal to the face-metrics index: its disk cache file. It keeps each measured face
// (keyed by file, face, file size and modification time) and the fontconfig matches made
// for the generic names, with a digest of what those matches depended on.
#pragma once

#include "FaceTypes.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <array>
#include <optional>
#include <utility>
#include <vector>

namespace FaceMetricsDetail {

// A face within a file: path and FC_INDEX's low 16 bits.
using TSlotKey = std::pair<QString, quint32>;

struct TCacheEntry {
    qint64 size = -1;
    qint64 mtimeNs = 0;
    std::optional<TFaceVMetrics> metrics;
};

constexpr int kGenericCount = 3;
constexpr int kGenericKeys = kGenericCount * 4; // generic * 4 + style

// The face a fontconfig match gave for one generic name and style.
struct TGenericHit {
    QString file;
    int fcIndex = 0;
};
using TGenericHits = std::array<std::optional<TGenericHit>, kGenericKeys>;

struct TCacheContents {
    QHash<TSlotKey, TCacheEntry> entries;
    quint64 genericDigest = 0;
    TGenericHits generic;
};

// Parses a whole cache file; nullopt if it is foreign, from another version, or damaged.
std::optional<TCacheContents> parseCache(const QByteArray& data);
// Reads and parses the cache file, read like a font file: a FIFO or device placed at the
// cache path must neither block start-up nor feed us without end, so only a regular file
// up to 64 MiB. nullopt if there is none to be had.
std::optional<TCacheContents> readCache(const QString& path);

// The file's bytes for these contents, with the entries of the keys in `order`, in that
// order (a file's bytes then depend on nothing but the index's own order).
QByteArray encodeCache(const TCacheContents& contents, const std::vector<TSlotKey>& order);
// Writes them atomically (temporary file + rename), creating the directory as needed.
bool writeCache(const QString& path, const TCacheContents& contents, const std::vector<TSlotKey>& order);

} // namespace FaceMetricsDetail
