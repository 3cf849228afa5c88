// The face-metrics disk cache. The input is a cache file; its first byte chooses whether
// the header's payload size and checksum are made to match first, so that the entries
// behind the checksum get fuzzed too. Two real fonts at fixed paths with fixed times let
// cached entries match. Every answer must be plausible, and saving and reading back
// must give the same answers.
//
// GLYVEX_FUZZ_SEED=<file> writes a valid cache for the fonts to <file> and exits (how
// the seed corpus was made).
#include "FaceMetrics.h"
#include "FuzzSupport.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

// In memory where there is a tmpfs: every saved cache is synced to disk.
const QString kDir = QDir(QStringLiteral("/dev/shm")).exists()
                         ? QStringLiteral("/dev/shm/glyvex-fuzz-facecache")
                         : QStringLiteral("/tmp/glyvex-fuzz-facecache");
const char* const kNames[] = {"Alpha", "Beta", "Gamma", "Missing"};

QByteArray U16(int v) {
    QByteArray b(2, '\0');
    qToBigEndian<quint16>(quint16(v), b.data());
    return b;
}

// A minimal sfnt with head and hhea (and an OS/2 table when typo metrics are given).
QByteArray SfntFont(int upem, int asc, int desc) {
    QByteArray head(54, '\0'), hhea(36, '\0');
    head.replace(18, 2, U16(upem));
    hhea.replace(4, 2, U16(asc));
    hhea.replace(6, 2, U16(-desc));
    QByteArray out(12 + 2 * 16, '\0');
    out.replace(0, 4, QByteArray("\0\1\0\0", 4));
    out.replace(4, 2, U16(2));
    const QByteArray tags[] = {"head", "hhea"};
    const QByteArray* tables[] = {&head, &hhea};
    for (int i = 0; i < 2; ++i) {
        QByteArray rec(16, '\0');
        rec.replace(0, 4, tags[i]);
        qToBigEndian<quint32>(quint32(out.size()), rec.data() + 8);
        qToBigEndian<quint32>(quint32(tables[i]->size()), rec.data() + 12);
        out.replace(12 + 16 * i, 16, rec);
        out.append(*tables[i]);
    }
    return out;
}

bool WriteFixed(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) return false;
    f.close();
    const timespec times[2] = {{1700000000, 0}, {1700000000, 0}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

std::vector<TFaceInfo> Faces() {
    static std::vector<TFaceInfo> faces;
    if (!faces.empty()) return faces;
    QDir().mkpath(kDir);
    const QString a = kDir + "/alpha.ttf", g = kDir + "/gamma.pfa";
    if (!WriteFixed(a, SfntFont(2048, 1901, 483)) ||
        !WriteFixed(g, "%!PS-AdobeFont-1.0: Gamma\n/FontType 1 def\n/FontMatrix [0.001 0 0 0.001 0 0] def\n"
                       "/FontBBox {-100 -250 900 880} def\ncurrentfile eexec\n"))
        std::abort();
    const auto face = [](const char* family, const QString& file, int weight) {
        TFaceInfo f;
        f.families = {QString::fromLatin1(family)};
        f.file = file;
        f.weight = weight;
        return f;
    };
    faces = {face("Alpha", a, 80), face("Beta", a, 200), face("Gamma", g, 80),
             face("Missing", kDir + "/missing.ttf", 80)};
    return faces;
}

using TAnswers = std::vector<std::optional<TFaceVMetrics>>;

TAnswers Ask(const TFaceMetrics& index) {
    TAnswers answers;
    for (const char* name : kNames) {
        for (bool bold : {false, true}) {
            const auto m = index.find(QString::fromLatin1(name), bold, false);
            if (m) {
                FUZZ_CHECK(m->unitsPerEm >= 16 && m->unitsPerEm <= 16384);
                const auto h = index.lineHeight(QString::fromLatin1(name), 100000, bold, false);
                FUZZ_CHECK(h.has_value() && *h >= -2 * 65535 * 6250 && *h <= 2 * 65535 * 6250);
            }
            answers.push_back(m);
        }
    }
    return answers;
}

quint64 Fnv1a64(const char* data, qsizetype size) {
    quint64 h = 0xcbf29ce484222325ull;
    for (qsizetype i = 0; i < size; ++i)
        h = (h ^ quint8(data[i])) * 0x100000001b3ull;
    return h;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Faces();
    if (const char* seed = std::getenv("GLYVEX_FUZZ_SEED")) {
        QFile::remove(QString::fromLocal8Bit(seed));
        const auto index = TFaceMetrics::fromFaces(Faces(), QString::fromLocal8Bit(seed));
        Ask(index);
        std::exit(index.saveCache() ? 0 : 1);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return -1;
    constexpr qsizetype kHeader = 32; // magic 8, version 4, count 4, payload size 8, checksum 8
    QByteArray bytes(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    if ((data[0] & 1) && bytes.size() >= kHeader) {
        qToLittleEndian<quint64>(quint64(bytes.size() - kHeader), bytes.data() + 16);
        qToLittleEndian<quint64>(Fnv1a64(bytes.constData() + kHeader, bytes.size() - kHeader),
                                 bytes.data() + 24);
    }
    const QString cache = kDir + "/facemetrics.cache";
    QFile f(cache);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) std::abort();
    f.close();

    const auto index = TFaceMetrics::fromFaces(Faces(), cache);
    const TAnswers first = Ask(index);
    FUZZ_CHECK(index.saveCache());
    const auto again = TFaceMetrics::fromFaces(Faces(), cache);
    FUZZ_CHECK(Ask(again) == first);
    return 0;
}
