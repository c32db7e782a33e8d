// Feeds arbitrary bytes to the settings file reader, within the reader's
// limits (nesting, nodes with aliases repeated, anchors, problems).
#include "FuzzHome.h"
#include "Settings.h"
#include "YamlParser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzHome::instance().write(Settings::settingsFilePath(), data, size);
    auto settings = Settings::parseFromFile();
    if (settings.isError() && (settings.error().isEmpty() || settings.error().size() > YamlParser::MaxProblems + 1))
        __builtin_trap();
    return 0;
}
