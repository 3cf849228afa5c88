// The form-definition reader: any text is read into a fresh form, which is then torn
// down. A bad definition must end in the reader's error, never in a crash, a hang or a
// form that cannot be destroyed.
#include "FormReader.h"
#include "FuzzForm.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 64 * 1024) return -1; // real definitions are a few KiB
    FuzzEnvironment();
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    auto form = std::make_unique<TFuzzForm>(nullptr);
    try {
        TFormReader::ReadFormText(form.get(), text, QStringLiteral("fuzz"));
    } catch (const Exception&) {
    }
    form.reset();
    return 0;
}
