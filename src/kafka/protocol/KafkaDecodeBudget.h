#pragma once

#include "Error.h"

#include <cstdint>
#include <limits>

// The memory that decoding the record sets of one Fetch response may take.
// What their batches decompress to and the records decoded from them are
// charged together, so that a few kilobytes of compressed batches cannot
// decode to gigabytes: every batch keeps within the per-batch cap of the
// decompressors, but only the budget bounds them all.
//
// Decompressed bytes stay charged once their batch has been decoded: that
// bounds the decompression work of a response as well. A record is charged
// at its key, value and header bytes (header keys as UTF-16) plus fixed
// estimates of what it and each of its headers take besides.
//
// Like KafkaBuffer's overrun, charging never fails on the spot: readers
// charge what they allocate, stop once the budget is exceeded and report it.
class KafkaDecodeBudget {
public:
    // The fetcher asks for at most 16 MB per response. Batches compress
    // text 2 to 5 times, seldom 10 times: 160 MB of decompressed bytes,
    // charged once as bytes and once as records, plus the overhead of their
    // records (80 MB at 500 bytes a record) stay well within the limit,
    // which still keeps the memory of one response at about half a GiB.
    static constexpr std::int64_t FetchResponseLimit = 512 * 1024 * 1024;
    // A record besides its bytes: the record itself (128 bytes on 64-bit
    // systems), the heap blocks of its key and value, and its share of the
    // lists it is collected in.
    static constexpr std::int64_t RecordOverhead = 256;
    // A header besides its bytes: the header itself (48 bytes) and the heap
    // blocks of its key and value.
    static constexpr std::int64_t HeaderOverhead = 128;

    explicit KafkaDecodeBudget(std::int64_t limit = FetchResponseLimit) : m_limit(limit) { }

    std::int64_t remaining() const { return m_used < m_limit ? m_limit - m_used : 0; }
    bool exceeded() const { return m_used > m_limit; }

    // Counts n more bytes (n >= 0); the count saturates instead of overflowing.
    void charge(std::int64_t n)
    {
        if (n > 0)
            m_used = n > std::numeric_limits<std::int64_t>::max() - m_used ? std::numeric_limits<std::int64_t>::max()
                                                                          : m_used + n;
    }

    // The failure of a decoding that exceeded the budget in the record batch
    // at `batchOffset`.
    KafkaError exceededError(std::int64_t batchOffset) const;

private:
    std::int64_t m_limit;
    std::int64_t m_used = 0;
};
