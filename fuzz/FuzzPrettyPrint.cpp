// Feeds arbitrary text to one pretty printer (JSON or XML); with
// FUZZ_PRETTY_PRINT_BYTES, also the raw bytes, as XML values that tell their
// own encoding reach it.
#include "TextUtils.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    auto printed = FUZZ_PRETTY_PRINT(QString::fromUtf8(bytes));
    (void)printed;
#ifdef FUZZ_PRETTY_PRINT_BYTES
    auto printedFromBytes = FUZZ_PRETTY_PRINT(bytes);
    (void)printedFromBytes;
#endif
    return 0;
}
