#include "FontReaders.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FaceMetricsDetail {

bool plausibleMetrics(const TFaceVMetrics& m) {
    const auto inRange = [](int v) { return v >= -kMaxDesignUnits && v <= kMaxDesignUnits; };
    return m.unitsPerEm >= kMinUnitsPerEm && m.unitsPerEm <= kMaxUnitsPerEm && inRange(m.ascender) &&
           inRange(m.descender);
}

qint64 mtimeNsOf(const struct stat& st) {
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

TFontFile::TFontFile(const QString& path) {
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

TFontFile::~TFontFile() {
    if (m_fd >= 0) ::close(m_fd);
}

bool TFontFile::readAt(qint64 offset, unsigned char* buf, qint64 length) const {
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

} // namespace FaceMetricsDetail

using namespace FaceMetricsDetail;

namespace {

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

// ---- sfnt ------------------------------------------------------------------------

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

} // namespace

std::optional<TMeasured> FaceMetricsDetail::measureFile(const QString& path, quint32 faceIndex) {
    const TFontFile file(path);
    if (!file.isOpen()) return std::nullopt;
    return TMeasured{file.size(), file.mtimeNs(), parseFace(file, faceIndex)};
}

// ---- pixels ----------------------------------------------------------------------

// Qt scales design units to 26.6 fixed point, rounding to nearest with halves away from
// zero, and QFontMetrics then rounds that to whole pixels with halves going up. Matching
// both steps matters: plain ceil() or a single rounding of the exact ratio is off by one
// for many fonts and sizes.
int FaceMetricsDetail::scaleToPixels(int designUnits, int pixelSize, int unitsPerEm) {
    if (unitsPerEm <= 0) return 0;
    // With the size bounded, |num| < 2^31 * 2^17 * 2^6 stays far inside 64 bits.
    const qint64 num = qint64(designUnits) * std::clamp(pixelSize, 0, kMaxPixelSize) * 64;
    qint64 fixed = (std::abs(num) * 2 + unitsPerEm) / (qint64(2) * unitsPerEm);
    if (num < 0) fixed = -fixed;
    const qint64 shifted = fixed + 32;
    const qint64 px = shifted >= 0 ? shifted / 64 : -((-shifted + 63) / 64);
    return int(std::clamp<qint64>(px, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

std::optional<int> FaceMetricsDetail::lineHeightOf(const TFaceVMetrics& m, int pixelSize) {
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
