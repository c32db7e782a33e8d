#pragma once

#include <cstdint>

// Which records a fetch or an offset lookup may see: everything written, or
// only records of committed transactions. Written as one byte.
enum class IsolationLevel : std::int8_t {
    ReadUncommitted = 0,
    ReadCommitted = 1,
};
