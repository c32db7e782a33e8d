#include "KafkaResponse.h"

std::int32_t KafkaResponse::readHeader(KafkaVersionedBuffer& buffer)
{
    const std::int32_t correlationId = buffer.buffer.readS32();
    buffer.readTaggedFields();
    return correlationId;
}

KafkaVersionedBuffer KafkaResponse::versionedBuffer(KafkaRawResponse& raw, std::int16_t firstFlexibleVersion)
{
    const bool flexible = firstFlexibleVersion >= 0 && raw.apiVersion >= firstFlexibleVersion;
    return KafkaVersionedBuffer(raw.buffer, raw.apiVersion, flexible);
}

std::optional<KafkaError> KafkaResponse::checkParsed(const KafkaBuffer& buffer, const QString& failureMessage)
{
    std::optional<KafkaError> error = buffer.checkBufferReadEntirely();
    if (!error)
        return std::nullopt;
    return error->wrap(KafkaErrorCode::CorruptMessage, failureMessage);
}
