// Feeds arbitrary bytes to the cluster configuration file reader, within the
// reader's limits (nesting, nodes with aliases repeated, anchors, problems).
#include "Config.h"
#include "FuzzHome.h"
#include "YamlParser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const FuzzHome& home = FuzzHome::instance();
    const QString path = home.configDir() + "/clusters/fuzz.yml";
    home.write(path, data, size);
    auto config = Config::parseFromFile(path);
    // A failed load always says why, with at most the capped number of
    // problems; a loaded one keeps at most one password problem.
    if (config.isError() && (config.error().isEmpty() || config.error().size() > YamlParser::MaxProblems + 1))
        __builtin_trap();
    if (config.hasValue() && config.value().loadErrors.size() > 1)
        __builtin_trap();
    return 0;
}
