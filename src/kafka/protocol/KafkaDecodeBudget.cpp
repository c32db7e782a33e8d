#include "KafkaDecodeBudget.h"

#include <limits>

void KafkaDecodeBudget::charge(std::int64_t n)
{
    if (n <= 0)
        return;
    m_used = n > std::numeric_limits<std::int64_t>::max() - m_used ? std::numeric_limits<std::int64_t>::max() : m_used + n;
}

KafkaError KafkaDecodeBudget::exceededError(std::int64_t batchOffset) const
{
    return KafkaError(KafkaErrorCode::RecordListTooLarge,
        QStringLiteral("The record batches of the Fetch response decode to more than the limit of %1 bytes "
                       "(reached in the batch at offset %2)")
            .arg(QString::number(m_limit), QString::number(batchOffset)));
}
