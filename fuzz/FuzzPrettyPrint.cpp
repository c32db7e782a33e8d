// Feeds arbitrary text to one pretty printer (JSON or XML).
#include "TextUtils.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    auto printed = FUZZ_PRETTY_PRINT(text);
    (void)printed;
    return 0;
}
