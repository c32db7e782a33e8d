#pragma once

#include <cstdint>

// Bytes about to be written for the first time cost a page fault each 4 KiB
// as they are touched; asking the kernel for the pages of a whole range in
// one call (Linux 5.14 and later) costs about two thirds of that. A hint
// only: where the kernel cannot, the pages come on first touch as ever.
class MemoryPrefault {
public:
    // Backs the whole pages within [begin, begin + size) with memory before
    // they are written. The contents stay as they are.
    static void forWriting(char* begin, std::int64_t size);

    // Ranges smaller than this are left to their first touch: the call would
    // cost more than it saves.
    static constexpr std::int64_t MinimumSize = 64 * 1024;
};
