#include "FaceMetrics.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QtEndian>

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxPixelSize = 100000;

constexpr quint32 makeTag(char a, char b, char c, char d) {
    return (quint32(quint8(a)) << 24) | (quint32(quint8(b)) << 16) | (quint32(quint8(c)) << 8) |
           quint32(quint8(d));
}

constexpr quint32 kTagTtcf = makeTag('t', 't', 'c', 'f');
constexpr quint32 kTagTrue = makeTag('t', 'r', 'u', 'e');
constexpr quint32 kTagOtto = makeTag('O', 'T', 'T', 'O');
constexpr quint32 kSfntVersion1 = 0x00010000;
constexpr quint32 kTagHead = makeTag('h', 'e', 'a', 'd');
constexpr quint32 kTagHhea = makeTag('h', 'h', 'e', 'a');
constexpr quint32 kTagOs2 = makeTag('O', 'S', '/', '2');
constexpr quint32 kTagEblc = makeTag('E', 'B', 'L', 'C');
constexpr quint32 kTagCblc = makeTag('C', 'B', 'L', 'C');
constexpr quint32 kTagBdat = makeTag('b', 'd', 'a', 't');

quint16 be16(const unsigned char* p) {
    return qFromBigEndian<quint16>(p);
}
qint16 bes16(const unsigned char* p) {
    return qFromBigEndian<qint16>(p);
}
quint32 be32(const unsigned char* p) {
    return qFromBigEndian<quint32>(p);
}

qint64 mtimeNsOf(const struct stat& st) {
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// Read-only view of a font file with bounds-checked positional reads. Only the few
// bytes needed are read: some CJK collections are tens of megabytes.
class TFontFile {
public:
    explicit TFontFile(const QString& path) {
        // O_NONBLOCK keeps a FIFO or device node placed in a font directory from hanging us.
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (m_fd < 0) return;
        struct stat st {};
        if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        m_size = st.st_size;
        m_mtimeNs = mtimeNsOf(st);
    }
    ~TFontFile() {
        if (m_fd >= 0) ::close(m_fd);
    }
    TFontFile(const TFontFile&) = delete;
    TFontFile& operator=(const TFontFile&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    qint64 size() const { return m_size; }
    qint64 mtimeNs() const { return m_mtimeNs; }
    bool contains(qint64 offset, qint64 length) const {
        return offset >= 0 && length >= 0 && offset <= m_size && length <= m_size - offset;
    }

    bool readAt(qint64 offset, unsigned char* buf, qint64 length) const {
        if (m_fd < 0 || !contains(offset, length)) return false;
        while (length > 0) {
            const ssize_t n = ::pread(m_fd, buf, size_t(length), off_t(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false; // error, or the file shrank under us
            buf += n;
            offset += n;
            length -= n;
        }
        return true;
    }

private:
    int m_fd = -1;
    qint64 m_size = 0;
    qint64 m_mtimeNs = 0;
};

struct TTableRef {
    qint64 offset = 0;
    qint64 length = 0;
    bool present = false;
};

// Picks ascender/descender the way Qt 6's font engine does for scalable sfnt faces:
// hhea first, then OS/2 overrides it (typo values when USE_TYPO_METRICS is set, else
// usWin*). A table that is missing, too short or all zero is skipped. When neither
// gives anything Qt keeps FreeType's face values, which fall back from hhea to the
// typo, then the win values.
std::optional<TFaceVMetrics> resolveMetrics(int upem, const unsigned char* hhea, const unsigned char* os2) {
    std::optional<std::pair<int, int>> chosen;
    int hheaAsc = 0;
    int hheaDesc = 0;
    if (hhea) {
        hheaAsc = bes16(hhea + 4);
        hheaDesc = -bes16(hhea + 6);
        if (hheaAsc != 0 || hheaDesc != 0) chosen = {hheaAsc, hheaDesc};
    }
    int typoAsc = 0, typoDesc = 0, winAsc = 0, winDesc = 0;
    if (os2) {
        constexpr quint16 kUseTypoMetrics = 1u << 7;
        const bool useTypo = be16(os2 + 62) & kUseTypoMetrics;
        typoAsc = bes16(os2 + 68);
        typoDesc = -bes16(os2 + 70);
        winAsc = be16(os2 + 74);
        winDesc = be16(os2 + 76);
        if (useTypo) {
            if (typoAsc != 0 || typoDesc != 0) chosen = {typoAsc, typoDesc};
        } else if (winAsc != 0 || winDesc != 0) {
            chosen = {winAsc, winDesc};
        }
    }
    if (!chosen && os2) {
        if (typoAsc != 0 || typoDesc != 0)
            chosen = {typoAsc, typoDesc};
        else if (winAsc != 0 || winDesc != 0)
            chosen = {winAsc, winDesc};
    }
    if (!chosen) return std::nullopt; // no usable line height in the file
    return TFaceVMetrics{upem, chosen->first, chosen->second};
}

std::optional<TFaceVMetrics> parseSfnt(const TFontFile& file, const unsigned char* first, quint32 faceIndex) {
    unsigned char hdr[12];
    std::memcpy(hdr, first, sizeof hdr);
    quint32 version = be32(hdr);
    qint64 base = 0;
    if (version == kTagTtcf) {
        const quint32 numFonts = be32(hdr + 8);
        if (faceIndex >= numFonts) return std::nullopt;
        unsigned char off[4];
        if (!file.readAt(12 + 4 * qint64(faceIndex), off, sizeof off)) return std::nullopt;
        base = be32(off);
        if (!file.readAt(base, hdr, sizeof hdr)) return std::nullopt;
        version = be32(hdr);
    } else if (faceIndex != 0) {
        return std::nullopt; // a single-face file has no face 1
    }
    if (version != kSfntVersion1 && version != kTagTrue && version != kTagOtto) return std::nullopt;

    const int numTables = be16(hdr + 4);
    if (numTables == 0) return std::nullopt;
    std::vector<unsigned char> dir(size_t(numTables) * 16);
    if (!file.readAt(base + 12, dir.data(), qint64(dir.size()))) return std::nullopt;

    TTableRef head, hhea, os2;
    for (int i = 0; i < numTables; ++i) {
        const unsigned char* rec = dir.data() + size_t(i) * 16;
        const quint32 tag = be32(rec);
        const TTableRef ref{be32(rec + 8), be32(rec + 12), true};
        switch (tag) {
        case kTagHead:
            head = ref;
            break;
        case kTagHhea:
            hhea = ref;
            break;
        case kTagOs2:
            os2 = ref;
            break;
        case kTagEblc:
        case kTagCblc:
        case kTagBdat:
            // Qt sizes faces with bitmap strikes from FreeType's strike metrics, which
            // cannot be derived from these tables; let the caller ask Qt instead.
            return std::nullopt;
        default:
            break;
        }
    }
    // A table that does not lie inside the file means a damaged font: trust none of it.
    for (const TTableRef* t : {&head, &hhea, &os2})
        if (t->present && !file.contains(t->offset, t->length)) return std::nullopt;

    constexpr qint64 kHeadNeeded = 20; // through unitsPerEm
    unsigned char headBuf[kHeadNeeded];
    if (!head.present || head.length < 54 || !file.readAt(head.offset, headBuf, kHeadNeeded))
        return std::nullopt;
    const int upem = be16(headBuf + 18);
    if (upem < 16 || upem > 16384) return std::nullopt;

    // Minimum lengths are the ones Qt insists on before it looks at these tables.
    unsigned char hheaBuf[10];
    const bool haveHhea = hhea.present && hhea.length >= qint64(sizeof hheaBuf);
    if (haveHhea && !file.readAt(hhea.offset, hheaBuf, sizeof hheaBuf)) return std::nullopt;
    unsigned char os2Buf[78];
    const bool haveOs2 = os2.present && os2.length >= qint64(sizeof os2Buf);
    if (haveOs2 && !file.readAt(os2.offset, os2Buf, sizeof os2Buf)) return std::nullopt;

    return resolveMetrics(upem, haveHhea ? hheaBuf : nullptr, haveOs2 ? os2Buf : nullptr);
}

// ---- Type 1 -----------------------------------------------------------------------
//
// FreeType gives a Type 1 face ascender = FontBBox yMax and descender = FontBBox yMin
// (each rounded to an integer, halves away from zero), in units of an em of
// 1000 / (|FontMatrix yy| * 1000) units; an .afm beside the file is not consulted by Qt.
// Qt then takes FreeType's grid-fitted size metrics. All of this was checked against
// QFontMetrics, including fractional boxes, other matrices and a misleading .afm.

constexpr qint64 kType1MaxClearText = 64 * 1024; // real fonts need a few KiB

// A PostScript number as an exact decimal: mantissa / 10^scale.
struct TPsNumber {
    qint64 mantissa = 0;
    int scale = 0;
};

// Integers and reals, with an optional exponent, as FreeType reads them; radix numbers
// (16#FF) and anything too long to keep exact are refused.
std::optional<TPsNumber> parsePsNumber(std::string_view s) {
    constexpr qint64 kMaxMantissa = 1'000'000'000'000'000; // 15 digits stay exact below
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    TPsNumber n;
    int digits = 0;
    bool point = false;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9') break;
        ++digits;
        if (n.mantissa == 0 && c == '0') {
            if (point) ++n.scale;
            continue;
        }
        if (n.mantissa >= kMaxMantissa / 10) return std::nullopt;
        n.mantissa = n.mantissa * 10 + (c - '0');
        if (point) ++n.scale;
    }
    if (digits == 0) return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negExp = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) negExp = s[i++] == '-';
        int exp = 0, expDigits = 0;
        for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++expDigits)
            if ((exp = exp * 10 + (s[i] - '0')) > 40) return std::nullopt;
        if (expDigits == 0) return std::nullopt;
        n.scale += negExp ? exp : -exp;
    }
    if (i != s.size()) return std::nullopt;
    if (n.mantissa == 0) return TPsNumber{};
    for (; n.scale < 0; ++n.scale) {
        if (n.mantissa >= kMaxMantissa / 10) return std::nullopt;
        n.mantissa *= 10;
    }
    while (n.scale > 0 && n.mantissa % 10 == 0) {
        n.mantissa /= 10;
        --n.scale;
    }
    if (n.scale > 18) return std::nullopt;
    if (negative) n.mantissa = -n.mantissa;
    return n;
}

qint64 pow10(int e) { // e <= 18
    qint64 r = 1;
    while (e-- > 0)
        r *= 10;
    return r;
}

// The number times 10^shift in 16.16 fixed point. FreeType's own decimal conversion may
// land one unit either side of the nearest value unless that value is exact, so the
// candidates it could produce are returned: a result counts only if all of them agree.
std::optional<std::array<qint64, 3>> fixedCandidates(const TPsNumber& n, int shift) {
    const int scale = n.scale - shift;
    __int128 num = __int128(n.mantissa < 0 ? -n.mantissa : n.mantissa) * 65536;
    __int128 den = 1;
    if (scale >= 0)
        den = pow10(scale);
    else
        num *= pow10(-scale);
    const __int128 rounded = (2 * num + den) / (2 * den);
    if (rounded > 0x7FFFFFFF) return std::nullopt; // FreeType's 16.16 would saturate
    const qint64 sign = n.mantissa < 0 ? -1 : 1;
    const qint64 fixed = sign * qint64(rounded);
    if (num % den == 0) return std::array<qint64, 3>{fixed, fixed, fixed};
    return std::array<qint64, 3>{fixed - 1, fixed, fixed + 1};
}

// FT_RoundFix: to a whole number, halves away from zero.
qint64 roundFixToInt(qint64 fixed) {
    return fixed >= 0 ? (fixed + 0x8000) >> 16 : -((-fixed + 0x8000) >> 16);
}

// Splits clear-text PostScript into the tokens the font dictionary needs. Strings,
// hex strings and comments are skipped so that text inside them cannot pose as a key.
class TPsScanner {
public:
    enum class Kind { End, Name, Open, Close, Word, Other, Bad };
    struct Token {
        Kind kind = Kind::End;
        std::string_view text;
    };

    explicit TPsScanner(std::string_view text) : m_s(text) {}

    Token next() {
        for (;;) {
            while (m_pos < m_s.size() && isSpace(m_s[m_pos]))
                ++m_pos;
            if (m_pos >= m_s.size()) return {};
            const char c = m_s[m_pos];
            if (c == '%') {
                while (m_pos < m_s.size() && m_s[m_pos] != '\n' && m_s[m_pos] != '\r')
                    ++m_pos;
                continue;
            }
            if (c == '(') return skipString() ? Token{Kind::Other, {}} : Token{Kind::Bad, {}};
            if (c == '<') {
                if (m_pos + 1 < m_s.size() && m_s[m_pos + 1] == '<') {
                    m_pos += 2;
                    return {Kind::Other, {}};
                }
                const size_t end = m_s.find('>', m_pos);
                if (end == std::string_view::npos) return {Kind::Bad, {}};
                m_pos = end + 1;
                return {Kind::Other, {}};
            }
            if (c == '>') {
                m_pos += m_pos + 1 < m_s.size() && m_s[m_pos + 1] == '>' ? 2 : 1;
                return {Kind::Other, {}};
            }
            if (c == '[' || c == '{') {
                ++m_pos;
                return {Kind::Open, m_s.substr(m_pos - 1, 1)};
            }
            if (c == ']' || c == '}') {
                ++m_pos;
                return {Kind::Close, m_s.substr(m_pos - 1, 1)};
            }
            if (c == ')') return {Kind::Bad, {}};
            const bool name = c == '/';
            const size_t start = name ? ++m_pos : m_pos;
            while (m_pos < m_s.size() && !isSpace(m_s[m_pos]) && !isDelimiter(m_s[m_pos]))
                ++m_pos;
            return {name ? Kind::Name : Kind::Word, m_s.substr(start, m_pos - start)};
        }
    }

private:
    static bool isSpace(char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\0';
    }
    static bool isDelimiter(char c) { return std::strchr("()<>[]{}/%", c) != nullptr; }

    bool skipString() {
        int depth = 0;
        for (; m_pos < m_s.size(); ++m_pos) {
            const char c = m_s[m_pos];
            if (c == '\\') {
                ++m_pos;
            } else if (c == '(') {
                ++depth;
            } else if (c == ')' && --depth == 0) {
                ++m_pos;
                return true;
            }
        }
        return false;
    }

    std::string_view m_s;
    size_t m_pos = 0;
};

// Reads "[n1 ... nN]" or "{n1 ... nN}" into out; false unless exactly N numbers.
template <size_t N> bool readPsArray(TPsScanner& scan, std::array<TPsNumber, N>& out) {
    const auto open = scan.next();
    if (open.kind != TPsScanner::Kind::Open) return false;
    for (TPsNumber& n : out) {
        const auto t = scan.next();
        const auto v = t.kind == TPsScanner::Kind::Word ? parsePsNumber(t.text) : std::nullopt;
        if (!v) return false;
        n = *v;
    }
    const auto close = scan.next();
    return close.kind == TPsScanner::Kind::Close && (close.text == "]") == (open.text == "[");
}

bool samePsNumbers(const auto& a, const auto& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const TPsNumber& x, const TPsNumber& y) {
        return x.mantissa == y.mantissa && x.scale == y.scale;
    });
}

// The clear-text part of a PFB (first segment) or PFA/.t1 file, up to "eexec".
std::optional<std::string> type1ClearText(const TFontFile& file, const unsigned char* hdr) {
    qint64 offset = 0, length = 0;
    if (hdr[0] == 0x80 && hdr[1] == 0x01) {
        offset = 6;
        length = qFromLittleEndian<quint32>(hdr + 2);
        if (length > kType1MaxClearText || !file.contains(offset, length)) return std::nullopt;
    } else if (hdr[0] == '%' && hdr[1] == '!') {
        length = std::min(file.size(), kType1MaxClearText);
    } else {
        return std::nullopt;
    }
    std::string text(size_t(length), '\0');
    if (!file.readAt(offset, reinterpret_cast<unsigned char*>(text.data()), length)) return std::nullopt;
    // The headers FreeType's Type 1 driver accepts; CID-keyed and other PostScript
    // fonts go to other drivers with other metrics.
    if (!text.starts_with("%!PS-AdobeFont") && !text.starts_with("%!FontType1")) return std::nullopt;
    return text;
}

std::optional<TFaceVMetrics> parseType1(const TFontFile& file, const unsigned char* hdr) {
    const auto text = type1ClearText(file, hdr);
    if (!text) return std::nullopt;

    std::optional<std::array<TPsNumber, 4>> bbox;
    std::optional<std::array<TPsNumber, 6>> matrix;
    bool fontType1 = false, sawEexec = false;
    TPsScanner scan(*text);
    for (auto t = scan.next(); t.kind != TPsScanner::Kind::End && !sawEexec; t = scan.next()) {
        if (t.kind == TPsScanner::Kind::Bad) return std::nullopt;
        if (t.kind == TPsScanner::Kind::Word) {
            sawEexec = t.text == "eexec";
            continue;
        }
        if (t.kind != TPsScanner::Kind::Name) continue;
        if (t.text == "FontBBox") {
            std::array<TPsNumber, 4> v;
            // A second, different definition leaves it unclear which one wins.
            if (!readPsArray(scan, v) || (bbox && !samePsNumbers(*bbox, v))) return std::nullopt;
            bbox = v;
        } else if (t.text == "FontMatrix") {
            std::array<TPsNumber, 6> v;
            if (!readPsArray(scan, v) || (matrix && !samePsNumbers(*matrix, v))) return std::nullopt;
            matrix = v;
        } else if (t.text == "FontType") {
            const auto v = scan.next();
            if (v.text != "1") return std::nullopt;
            fontType1 = true;
        } else if (t.text.starts_with("Blend")) {
            return std::nullopt; // multiple master: the box depends on the instance
        }
    }
    // Without "eexec" the text was cut short (or is not a font): a later definition could
    // still override what was read.
    if (!sawEexec || !fontType1 || !bbox || !matrix) return std::nullopt;

    // The em: FreeType reads the matrix scaled by 1000, so the usual 0.001 becomes 1.0
    // and 1000 units per em; any other yy gives 1000 / yy units.
    const auto& m = *matrix;
    if (m[3].mantissa == 0) return std::nullopt;
    const auto real = [](const TPsNumber& n) { return double(n.mantissa) * std::pow(10.0, -n.scale); };
    if (real(m[0]) * real(m[3]) - real(m[1]) * real(m[2]) == 0)
        return std::nullopt; // FreeType refuses a singular matrix
    const auto yy = fixedCandidates(TPsNumber{std::abs(m[3].mantissa), m[3].scale}, 3);
    if (!yy) return std::nullopt;
    std::optional<qint64> upem;
    for (qint64 scale : *yy) {
        if (scale <= 0) return std::nullopt;
        const qint64 u = (qint64(1000) * 65536 + scale / 2) / scale; // FT_DivFix(1000, scale)
        if (upem && *upem != u) return std::nullopt;
        upem = u;
    }
    if (*upem < 16 || *upem > 16384) return std::nullopt;

    const auto whole = [](const TPsNumber& n) -> std::optional<qint64> {
        const auto fixed = fixedCandidates(n, 0);
        if (!fixed) return std::nullopt;
        const qint64 v = roundFixToInt((*fixed)[1]);
        if (roundFixToInt((*fixed)[0]) != v || roundFixToInt((*fixed)[2]) != v) return std::nullopt;
        return v;
    };
    const auto yMin = whole((*bbox)[1]), yMax = whole((*bbox)[3]);
    if (!whole((*bbox)[0]) || !whole((*bbox)[2]) || !yMin || !yMax) return std::nullopt;
    // FreeType keeps these as 16-bit values. A flat box means a broken font: leave it to Qt.
    if (*yMax <= *yMin || *yMax > 32767 || *yMin < -32768) return std::nullopt;
    return TFaceVMetrics{int(*upem), int(*yMax), int(-*yMin), TFaceVMetrics::Scaling::Type1};
}

std::optional<TFaceVMetrics> parseFace(const TFontFile& file, quint32 faceIndex) {
    unsigned char hdr[12];
    if (!file.readAt(0, hdr, sizeof hdr)) return std::nullopt;
    if ((hdr[0] == 0x80 && hdr[1] == 0x01) || (hdr[0] == '%' && hdr[1] == '!'))
        return faceIndex == 0 ? parseType1(file, hdr) : std::nullopt;
    return parseSfnt(file, hdr, faceIndex);
}

// ---- cache file -------------------------------------------------------------------

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

// What the font readers can produce: 16-bit design values (the usWin* ones unsigned,
// descenders negated) and the em sizes they accept. Anything else in a cache file is
// damage, and keeping to these ranges keeps every pixel computation inside 64 bits.
constexpr int kMinUnitsPerEm = 16;
constexpr int kMaxUnitsPerEm = 16384;
constexpr int kMaxDesignUnits = 0xFFFF;

bool plausibleMetrics(const TFaceVMetrics& m) {
    const auto inRange = [](int v) { return v >= -kMaxDesignUnits && v <= kMaxDesignUnits; };
    return m.unitsPerEm >= kMinUnitsPerEm && m.unitsPerEm <= kMaxUnitsPerEm && inRange(m.ascender) &&
           inRange(m.descender);
}

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
std::optional<TCacheContents> parseCache(const QByteArray& data) {
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

// ---- listing ----------------------------------------------------------------------

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

std::optional<TFaceInfo> faceFromPattern(FcPattern* p) {
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

struct TFcDeleter {
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
    void operator()(FcObjectSet* o) const { FcObjectSetDestroy(o); }
    void operator()(FcFontSet* s) const { FcFontSetDestroy(s); }
};
template <typename T> using TFcPtr = std::unique_ptr<T, TFcDeleter>;

struct TMeasured {
    qint64 size = -1;
    qint64 mtimeNs = 0;
    std::optional<TFaceVMetrics> metrics;
};

// nullopt if the file cannot be opened as a regular file at all.
std::optional<TMeasured> measureFile(const QString& path, quint32 faceIndex) {
    const TFontFile file(path);
    if (!file.isOpen()) return std::nullopt;
    return TMeasured{file.size(), file.mtimeNs(), parseFace(file, faceIndex)};
}

} // namespace

// ---- index ------------------------------------------------------------------------

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
    std::unordered_map<int, std::vector<TFcPtr<FcPattern>>> foundryPatterns;
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

    void listFontconfig() {
        const TFcPtr<FcPattern> pattern(FcPatternCreate());
        const TFcPtr<FcObjectSet> objects(FcObjectSetBuild(FC_FAMILY, FC_FOUNDRY, FC_WEIGHT, FC_SLANT,
                                                           FC_WIDTH, FC_FILE, FC_INDEX,
                                                           static_cast<char*>(nullptr)));
        if (!pattern || !objects) return;
        const TFcPtr<FcFontSet> set(FcFontList(nullptr, pattern.get(), objects.get()));
        addFontSet(set.get());
    }

    void queryFiles() {
        for (const QString& f : explicitFiles)
            (void)queryFile(f, QFile::encodeName(f));
        explicitFiles.clear();
    }

    // Lists the faces of one file (read from `readPath`, recorded as `file`); returns
    // the family names they carry, in the file's order.
    QStringList queryFile(const QString& file, const QByteArray& readPath) {
        const TFcPtr<FcFontSet> set(FcFontSetCreate());
        if (!set) return {};
        int count = 0;
        // An id of all ones asks for every face (and named instance) in the file.
        FcFreeTypeQueryAll(reinterpret_cast<const FcChar8*>(readPath.constData()), ~0u, nullptr, &count,
                           set.get());
        if (!ownPatterns) ownPatterns.reset(FcFontSetCreate());
        const QByteArray fileName = QFile::encodeName(file);
        QStringList families;
        for (int i = 0; i < set->nfont; ++i) {
            FcPattern* p = set->fonts[i];
            FcPatternDel(p, FC_FILE);
            FcPatternAddString(p, FC_FILE, reinterpret_cast<const FcChar8*>(fileName.constData()));
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
        h.add(quint64(FcGetVersion()));
        const auto addList = [&h](FcStrList* list, bool withStat) {
            if (!list) return;
            while (const FcChar8* s = FcStrListNext(list)) {
                const char* path = reinterpret_cast<const char*>(s);
                h.add(path);
                struct stat st {};
                if (withStat && ::stat(path, &st) == 0) {
                    h.add(quint64(st.st_size));
                    h.add(quint64(mtimeNsOf(st)));
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
        h.add(program_invocation_short_name); // configuration rules may test the program name
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
            hit = fontconfigMatch(kGenerics[size_t(genericId)], bold, italic);
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

    static std::optional<TGenericHit> fontconfigMatch(const char* generic, bool bold, bool italic) {
        const TFcPtr<FcPattern> pattern(FcPatternCreate());
        if (!pattern) return std::nullopt;
        FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(generic));
        FcPatternAddInteger(pattern.get(), FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddInteger(pattern.get(), FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
        FcDefaultSubstitute(pattern.get());
        // Installed fonts only: a font opened for one run (which Qt adds to fontconfig's
        // application fonts, from memory) must not become a generic name's face, least of
        // all in the cache kept for later runs.
        FcFontSet* installed = FcConfigGetFonts(nullptr, FcSetSystem);
        if (!installed) return std::nullopt;
        FcFontSet* sets[] = {installed};
        FcResult result = FcResultNoMatch;
        const TFcPtr<FcPattern> match(FcFontSetMatch(nullptr, sets, 1, pattern.get(), &result));
        if (!match) return std::nullopt;
        const auto info = faceFromPattern(match.get());
        if (!info || info->index < 0) return std::nullopt;
        return TGenericHit{info->file, info->index};
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
        QString family;
        const TFcPtr<FcPattern> pattern(FcPatternCreate());
        if (pattern) {
            const QByteArray utf8 = name.toUtf8();
            FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(utf8.constData()));
            FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
            FcDefaultSubstitute(pattern.get());
            FcResult result = FcResultNoMatch;
            const TFcPtr<FcPattern> match(FcFontMatch(nullptr, pattern.get(), &result));
            FcChar8* s = nullptr;
            if (match && FcPatternGetString(match.get(), FC_FAMILY, 0, &s) == FcResultMatch && s)
                family = QString::fromUtf8(reinterpret_cast<const char*>(s));
            ++stats.substitutions;
        }
        substitutes.insert(name, family);
        return family;
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
        const auto take = [&](FcFontSet* set) {
            if (!set) return;
            for (int i = 0; i < set->nfont; ++i) {
                FcPattern* p = set->fonts[i];
                int last = -1;
                FcChar8* s = nullptr;
                for (int k = 0; FcPatternGetString(p, FC_FAMILY, k, &s) == FcResultMatch; ++k) {
                    if (!s) continue;
                    const char* name = reinterpret_cast<const char*>(s);
                    const auto it =
                        spellings.constFind(QByteArray::fromRawData(name, qsizetype(std::strlen(name))));
                    if (it == spellings.cend() || *it == last) continue;
                    last = *it;
                    FcPatternReference(p);
                    foundryPatterns[*it].emplace_back(p);
                }
            }
        };
        if (source == Source::FontConfig) take(FcConfigGetFonts(nullptr, FcSetSystem));
        take(ownPatterns.get());
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
        const TFcPtr<FcFontSet> set(FcFontSetCreate());
        const TFcPtr<FcPattern> request(FcPatternCreate());
        if (!set || !request) return -1;
        for (const TFcPtr<FcPattern>& p : patterns->second) {
            FcPatternReference(p.get());
            if (!FcFontSetAdd(set.get(), p.get())) {
                FcPatternDestroy(p.get());
                return -1;
            }
        }
        const QByteArray utf8 = name.toUtf8();
        FcPatternAddString(request.get(), FC_FAMILY, reinterpret_cast<const FcChar8*>(utf8.constData()));
        FcPatternAddInteger(request.get(), FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddInteger(request.get(), FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        FcConfigSubstitute(nullptr, request.get(), FcMatchPattern);
        FcDefaultSubstitute(request.get());
        FcFontSet* sets[] = {set.get()};
        FcResult result = FcResultNoMatch;
        const TFcPtr<FcPattern> match(FcFontSetMatch(nullptr, sets, 1, request.get(), &result));
        if (!match) return -1;
        const auto info = faceFromPattern(match.get());
        if (!info || info->index < 0) return -1;
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
        // Read like a font file: a FIFO or device placed at the cache path must neither
        // block start-up nor feed us without end, so only a regular file up to the cap.
        const TFontFile f(cacheFile);
        if (!f.isOpen() || f.size() > kCacheMaxBytes) return;
        QByteArray data(qsizetype(f.size()), Qt::Uninitialized);
        if (!f.readAt(0, reinterpret_cast<unsigned char*>(data.data()), data.size())) return;
        if (auto contents = parseCache(data)) {
            cache = std::move(contents->entries);
            stats.cacheEntriesRead = int(cache.size());
            generic = std::move(contents->generic);
            loadedGenericDigest = contents->genericDigest;
        }
    }

    bool saveCache() {
        if (cacheFile.isEmpty() || !built) return true;
        // Entries for faces no longer installed are dropped; untouched ones carried over.
        QHash<TSlotKey, TCacheEntry> next;
        next.reserve(qsizetype(fileFaces.size()));
        for (const Slot& s : fileFaces) {
            const TSlotKey key{s.file, s.faceIndex};
            if (s.state == SlotState::Known) {
                next.insert(key, TCacheEntry{s.measured.size, s.measured.mtimeNs, s.measured.metrics});
            } else if (s.state == SlotState::Pending) {
                if (auto it = cache.constFind(key); it != cache.cend()) next.insert(key, *it);
            }
        }
        const bool dropped = std::any_of(cache.keyBegin(), cache.keyEnd(),
                                         [&](const TSlotKey& k) { return !next.contains(k); });
        if (unsavedParses == 0 && !dropped && !genericDirty) return true;

        TCacheWriter payload;
        const quint64 digest = genericDigest.value_or(loadedGenericDigest);
        payload.put<quint64>(digest);
        payload.put<quint32>(quint32(
            std::count_if(generic.begin(), generic.end(), [](const auto& h) { return h.has_value(); })));
        for (size_t key = 0; key < generic.size(); ++key) {
            if (!generic[key]) continue;
            payload.put<quint8>(quint8(key));
            payload.putBytes(generic[key]->file.toUtf8());
            payload.put<quint32>(quint32(generic[key]->fcIndex));
        }
        for (const Slot& s : fileFaces) {
            const auto it = next.constFind({s.file, s.faceIndex});
            if (it == next.cend()) continue;
            const TFaceVMetrics m = it->metrics.value_or(TFaceVMetrics{});
            payload.putBytes(s.file.toUtf8());
            payload.put<quint32>(s.faceIndex);
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
        header.put<quint32>(quint32(next.size()));
        header.put<quint64>(quint64(payload.bytes().size()));
        header.put<quint64>(fnv1a64(payload.bytes().constData(), payload.bytes().size()));

        if (!QDir().mkpath(QFileInfo(cacheFile).absolutePath())) return false;
        QSaveFile out(cacheFile);
        if (!out.open(QIODevice::WriteOnly)) return false;
        out.write(kCacheMagic, sizeof kCacheMagic);
        out.write(header.bytes());
        out.write(payload.bytes());
        if (!out.commit()) return false;
        cache = std::move(next);
        unsavedParses = 0;
        genericDirty = false;
        loadedGenericDigest = digest;
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
    return m ? lineHeightOf(*m, pixelSize) : std::nullopt;
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

// Qt scales design units to 26.6 fixed point, rounding to nearest with halves away from
// zero, and QFontMetrics then rounds that to whole pixels with halves going up. Matching
// both steps matters: plain ceil() or a single rounding of the exact ratio is off by one
// for many fonts and sizes.
int TFaceMetrics::scaleToPixels(int designUnits, int pixelSize, int unitsPerEm) {
    if (unitsPerEm <= 0) return 0;
    // With the size bounded, |num| < 2^31 * 2^17 * 2^6 stays far inside 64 bits.
    const qint64 num = qint64(designUnits) * std::clamp(pixelSize, 0, kMaxPixelSize) * 64;
    qint64 fixed = (std::abs(num) * 2 + unitsPerEm) / (qint64(2) * unitsPerEm);
    if (num < 0) fixed = -fixed;
    const qint64 shifted = fixed + 32;
    const qint64 px = shifted >= 0 ? shifted / 64 : -((-shifted + 63) / 64);
    return int(std::clamp<qint64>(px, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

std::optional<int> TFaceMetrics::lineHeightOf(const TFaceVMetrics& m, int pixelSize) {
    if (pixelSize < 1 || pixelSize > kMaxPixelSize || !plausibleMetrics(m)) return std::nullopt;
    if (m.scaling == TFaceVMetrics::Scaling::Type1) {
        // FreeType's size metrics: y_scale = FT_DivFix(ppem in 26.6, units per em), each
        // value scaled with FT_MulFix, then the ascender rounded up and the descender down
        // to whole pixels (Qt keeps those as they are).
        const qint64 yScale = (qint64(pixelSize) * 64 * 65536 + m.unitsPerEm / 2) / m.unitsPerEm;
        const auto mulFix = [yScale](qint64 v) {
            const qint64 mag = (std::abs(v) * yScale + 0x8000) >> 16;
            return v < 0 ? -mag : mag;
        };
        const auto ceil64 = [](qint64 v) { return v >= 0 ? (v + 63) / 64 : -(-v / 64); };
        const auto floor64 = [](qint64 v) { return v >= 0 ? v / 64 : -((-v + 63) / 64); };
        return int(ceil64(mulFix(m.ascender)) - floor64(mulFix(-qint64(m.descender))));
    }
    return scaleToPixels(m.ascender, pixelSize, m.unitsPerEm) +
           scaleToPixels(m.descender, pixelSize, m.unitsPerEm);
}
