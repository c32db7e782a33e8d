// Feeds arbitrary bytes to the cluster configuration file reader.
#include "Config.h"
#include "FuzzHome.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const FuzzHome& home = FuzzHome::instance();
    const QString path = home.configDir() + "/clusters/fuzz.yml";
    home.write(path, data, size);
    auto config = Config::parseFromFile(path);
    // A failed load always says why.
    if (config.isError() && config.error().isEmpty())
        __builtin_trap();
    return 0;
}
