#pragma once

#include "KafkaRecordBatch.h"

#include <QList>
#include <QSet>

#include <cstdint>

// Drops the batches of aborted transactions from a record set read with the
// read-committed isolation level. Built from the aborted transactions the
// broker listed for the partition, then asked about each batch of the record
// set in order.
class KafkaAbortedTransactionFilter {
public:
    struct AbortedTransaction {
        std::int64_t producerId = 0;
        std::int64_t firstOffset = 0;
    };

    KafkaAbortedTransactionFilter() = default;
    explicit KafkaAbortedTransactionFilter(QList<AbortedTransaction> abortedTransactions);

    // From any list whose entries carry producerId and firstOffset, such as a
    // Fetch partition's aborted transactions.
    template <typename Transactions>
    static KafkaAbortedTransactionFilter fromTransactions(const Transactions& transactions)
    {
        QList<AbortedTransaction> list;
        list.reserve(transactions.size());
        for (const auto& transaction : transactions)
            list.append({ transaction.producerId, transaction.firstOffset });
        return KafkaAbortedTransactionFilter(std::move(list));
    }

    // Whether the batch's records belong to an aborted transaction and must be
    // dropped. Call once per batch, in record set order: abort markers end the
    // aborted transaction of their producer.
    bool isAborted(const KafkaRecordBatch& batch);

private:
    // Ordered by first offset; those before `m_nextPending` have been taken.
    QList<AbortedTransaction> m_pending;
    qsizetype m_nextPending = 0;
    // Producers whose current transaction is aborted.
    QSet<std::int64_t> m_abortedProducers;
};
