// Feeds arbitrary bytes to the settings file reader.
#include "FuzzHome.h"
#include "Settings.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzHome::instance().write(Settings::settingsFilePath(), data, size);
    auto settings = Settings::parseFromFile();
    if (settings.isError() && settings.error().isEmpty())
        __builtin_trap();
    return 0;
}
