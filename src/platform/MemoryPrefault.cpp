#include "MemoryPrefault.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>

#ifndef MADV_POPULATE_WRITE
// The value of the Linux UAPI, for C libraries that predate it.
#define MADV_POPULATE_WRITE 23
#endif

void MemoryPrefault::forWriting(char* begin, std::int64_t size)
{
    if (size < MinimumSize)
        return;
    static const auto pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto first = (reinterpret_cast<std::uintptr_t>(begin) + pageSize - 1) & ~(pageSize - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(begin) + static_cast<std::uintptr_t>(size)) & ~(pageSize - 1);
    if (end <= first)
        return;
    // Errors (an older kernel, memory that cannot be populated) leave the
    // pages to be faulted in as they are written.
    madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
}
