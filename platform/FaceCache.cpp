#include "FaceCache.h"

#include "FontReaders.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <cstring>

using namespace FaceMetricsDetail;

namespace {

// Layout (little endian): magic, version, entry count, payload size, FNV-1a 64 of the
// payload. The payload starts with the generic-name matches: the digest of what they
// depend on, their count, then per match: key (generic * 4 + style), path length + UTF-8
// path, FC_INDEX. Then per entry: path length + UTF-8 path, face index, file size, mtime
// (ns), flag (0 = no metrics, 1 = sfnt metrics, 2 = Type 1 metrics), unitsPerEm,
// ascender, descender.
constexpr char kCacheMagic[8] = {'G', 'L', 'Y', 'V', 'F', 'M', 'C', '\n'};
constexpr quint32 kCacheVersion = 2; // bump when the format or the metric rules change
constexpr quint8 kCacheSfnt = 1;
constexpr quint8 kCacheType1 = 2;
constexpr qint64 kCacheHeaderSize = 8 + 4 + 4 + 8 + 8;
constexpr qint64 kCacheMaxBytes = 64ll * 1024 * 1024;
constexpr quint32 kCacheMaxPath = 16 * 1024;
constexpr qint64 kCacheMinEntry = 4 + 4 + 8 + 8 + 1 + 4 + 4 + 4;

quint64 fnv1a64(const char* data, qint64 size) {
    quint64 h = 0xcbf29ce484222325ull;
    for (qint64 i = 0; i < size; ++i) {
        h ^= quint8(data[i]);
        h *= 0x100000001b3ull;
    }
    return h;
}

class TCacheWriter {
public:
    template <typename T> void put(T v) {
        const T le = qToLittleEndian(v);
        m_buf.append(reinterpret_cast<const char*>(&le), sizeof le);
    }
    void putBytes(const QByteArray& b) {
        put<quint32>(quint32(b.size()));
        m_buf.append(b);
    }
    const QByteArray& bytes() const { return m_buf; }

private:
    QByteArray m_buf;
};

class TCacheReader {
public:
    TCacheReader(const char* data, qint64 size) : m_p(data), m_end(data + size) {}
    template <typename T> bool get(T& out) {
        if (m_end - m_p < qint64(sizeof(T))) return false;
        out = qFromLittleEndian<T>(m_p);
        m_p += sizeof(T);
        return true;
    }
    bool getBytes(QByteArray& out, quint32 maxLen) {
        quint32 len = 0;
        if (!get(len) || len > maxLen || m_end - m_p < qint64(len)) return false;
        out = QByteArray(m_p, qsizetype(len));
        m_p += len;
        return true;
    }
    bool atEnd() const { return m_p == m_end; }

private:
    const char* m_p;
    const char* m_end;
};

} // namespace

std::optional<TCacheContents> FaceMetricsDetail::parseCache(const QByteArray& data) {
    if (data.size() < kCacheHeaderSize || std::memcmp(data.constData(), kCacheMagic, sizeof kCacheMagic) != 0)
        return std::nullopt;
    TCacheReader hdr(data.constData() + sizeof kCacheMagic, kCacheHeaderSize - qint64(sizeof kCacheMagic));
    quint32 version = 0, count = 0;
    quint64 payloadSize = 0, hash = 0;
    if (!hdr.get(version) || !hdr.get(count) || !hdr.get(payloadSize) || !hdr.get(hash)) return std::nullopt;
    const qint64 available = data.size() - kCacheHeaderSize;
    if (version != kCacheVersion || payloadSize != quint64(available)) return std::nullopt;
    const char* payload = data.constData() + kCacheHeaderSize;
    if (fnv1a64(payload, available) != hash || qint64(count) > available / kCacheMinEntry)
        return std::nullopt;

    TCacheContents contents;
    TCacheReader r(payload, available);
    quint32 genericCount = 0;
    if (!r.get(contents.genericDigest) || !r.get(genericCount) || genericCount > quint32(kGenericKeys))
        return std::nullopt;
    for (quint32 i = 0; i < genericCount; ++i) {
        quint8 key = 0;
        QByteArray path;
        quint32 fcIndex = 0;
        if (!r.get(key) || !r.getBytes(path, kCacheMaxPath) || !r.get(fcIndex)) return std::nullopt;
        if (key >= kGenericKeys || path.isEmpty() || fcIndex > 0x7FFFFFFF || contents.generic[key])
            return std::nullopt;
        contents.generic[key] = TGenericHit{QString::fromUtf8(path), int(fcIndex)};
    }
    QHash<TSlotKey, TCacheEntry>& entries = contents.entries;
    entries.reserve(qsizetype(count));
    for (quint32 i = 0; i < count; ++i) {
        QByteArray path;
        quint32 face = 0;
        qint64 size = 0, mtime = 0;
        quint8 flag = 0;
        qint32 upem = 0, asc = 0, desc = 0;
        if (!r.getBytes(path, kCacheMaxPath) || !r.get(face) || !r.get(size) || !r.get(mtime) ||
            !r.get(flag) || !r.get(upem) || !r.get(asc) || !r.get(desc))
            return std::nullopt;
        if (path.isEmpty() || face > 0xFFFF || size < 0 || flag > kCacheType1) return std::nullopt;
        TCacheEntry e{size, mtime, std::nullopt};
        if (flag != 0) {
            e.metrics = TFaceVMetrics{upem, asc, desc,
                                      flag == kCacheType1 ? TFaceVMetrics::Scaling::Type1
                                                          : TFaceVMetrics::Scaling::Sfnt};
            if (!plausibleMetrics(*e.metrics)) return std::nullopt;
        }
        entries.insert({QString::fromUtf8(path), face}, e);
    }
    if (!r.atEnd()) return std::nullopt;
    return contents;
}

std::optional<TCacheContents> FaceMetricsDetail::readCache(const QString& path) {
    const TFontFile f(path);
    if (!f.isOpen() || f.size() > kCacheMaxBytes) return std::nullopt;
    QByteArray data(qsizetype(f.size()), Qt::Uninitialized);
    if (!f.readAt(0, reinterpret_cast<unsigned char*>(data.data()), data.size())) return std::nullopt;
    return parseCache(data);
}

QByteArray FaceMetricsDetail::encodeCache(const TCacheContents& contents,
                                          const std::vector<TSlotKey>& order) {
    TCacheWriter payload;
    payload.put<quint64>(contents.genericDigest);
    const TGenericHits& generic = contents.generic;
    payload.put<quint32>(
        quint32(std::count_if(generic.begin(), generic.end(), [](const auto& h) { return h.has_value(); })));
    for (size_t key = 0; key < generic.size(); ++key) {
        if (!generic[key]) continue;
        payload.put<quint8>(quint8(key));
        payload.putBytes(generic[key]->file.toUtf8());
        payload.put<quint32>(quint32(generic[key]->fcIndex));
    }
    quint32 written = 0;
    for (const TSlotKey& key : order) {
        const auto it = contents.entries.constFind(key);
        if (it == contents.entries.cend()) continue;
        ++written;
        const TFaceVMetrics m = it->metrics.value_or(TFaceVMetrics{});
        payload.putBytes(key.first.toUtf8());
        payload.put<quint32>(key.second);
        payload.put<qint64>(it->size);
        payload.put<qint64>(it->mtimeNs);
        payload.put<quint8>(!it->metrics                                 ? 0
                            : m.scaling == TFaceVMetrics::Scaling::Type1 ? kCacheType1
                                                                         : kCacheSfnt);
        payload.put<qint32>(m.unitsPerEm);
        payload.put<qint32>(m.ascender);
        payload.put<qint32>(m.descender);
    }
    TCacheWriter header;
    header.put<quint32>(kCacheVersion);
    header.put<quint32>(written);
    header.put<quint64>(quint64(payload.bytes().size()));
    header.put<quint64>(fnv1a64(payload.bytes().constData(), payload.bytes().size()));
    return QByteArray(kCacheMagic, sizeof kCacheMagic) + header.bytes() + payload.bytes();
}

bool FaceMetricsDetail::writeCache(const QString& path, const TCacheContents& contents,
                                   const std::vector<TSlotKey>& order) {
    const QByteArray bytes = encodeCache(contents, order);
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) return false;
    out.write(bytes);
    return out.commit();
}
