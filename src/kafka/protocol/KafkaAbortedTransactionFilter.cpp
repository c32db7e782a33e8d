#include "KafkaAbortedTransactionFilter.h"

#include <algorithm>

namespace {

// Batches written without a producer id carry -1.
constexpr std::int64_t NoProducerId = -1;

} // namespace

KafkaAbortedTransactionFilter::KafkaAbortedTransactionFilter(QList<AbortedTransaction> abortedTransactions)
    : m_pending(std::move(abortedTransactions))
{
    std::stable_sort(m_pending.begin(), m_pending.end(),
        [](const AbortedTransaction& a, const AbortedTransaction& b) { return a.firstOffset < b.firstOffset; });
}

bool KafkaAbortedTransactionFilter::isAborted(const KafkaRecordBatch& batch)
{
    if (batch.producerId <= NoProducerId)
        return false;

    // Every aborted transaction that starts within or before this batch is now open.
    const std::int64_t lastOffset = batch.lastOffset();
    while (m_nextPending < m_pending.size() && m_pending.at(m_nextPending).firstOffset <= lastOffset)
        m_abortedProducers.insert(m_pending.at(m_nextPending++).producerId);

    if (batch.isAbortMarker()) {
        m_abortedProducers.remove(batch.producerId);
        return false;
    }
    return batch.isTransactional() && m_abortedProducers.contains(batch.producerId);
}
