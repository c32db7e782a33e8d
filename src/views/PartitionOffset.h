#pragma once

#include <QString>

#include <cstdint>

// An offset of one topic partition: a group's committed offset or the
// partition's latest offset; -1 when not known.
struct PartitionOffset {
    QString topic;
    std::int32_t partition = 0;
    std::int64_t offset = -1;
};
