// The font-file readers behind the face-metrics index: sfnt files and collections
// (fuzz_sfnt) and Type 1 fonts in PFA, PFB and .t1 form (fuzz_type1). Whatever they
// accept must be metrics a font can have, with a line height at every size.
#include "FaceMetrics.h"
#include "FuzzSupport.h"

namespace {

void Check(const std::optional<TFaceVMetrics>& m) {
    if (!m) return;
    FUZZ_CHECK(m->unitsPerEm >= 16 && m->unitsPerEm <= 16384);
    FUZZ_CHECK(m->ascender >= -65535 && m->ascender <= 65535);
    FUZZ_CHECK(m->descender >= -65535 && m->descender <= 65535);
    for (int px : {1, 13, 100000})
        FUZZ_CHECK(TFaceMetrics::lineHeightOf(*m, px).has_value());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
#ifdef GLYVEX_FUZZ_TYPE1
    // Keep this target's corpus on the Type 1 reader.
    if (size < 2 || !((data[0] == 0x80 && data[1] == 0x01) || (data[0] == '%' && data[1] == '!'))) return -1;
#endif
    const TMemoryFile file(data, size);
    const QString path = file.path();
    const auto first = TFaceMetrics::readFile(path, 0);
    Check(first);
    // Reading again gives the same answer.
    FUZZ_CHECK(TFaceMetrics::readFile(path, 0) == first);
#ifndef GLYVEX_FUZZ_TYPE1
    // Later faces of a collection, and a named instance of face 1 (index bits above 16).
    for (int index : {1, 2, 0x10001})
        Check(TFaceMetrics::readFile(path, index));
#endif
    return 0;
}
