#include "KafkaDecodeBudget.h"

KafkaError KafkaDecodeBudget::exceededError(std::int64_t batchOffset) const
{
    return KafkaError(KafkaErrorCode::RecordListTooLarge,
        QStringLiteral("The record batches of the Fetch response decode to more than the limit of %1 bytes "
                       "(reached in the batch at offset %2)")
            .arg(QString::number(m_limit), QString::number(batchOffset)));
}
