#pragma once

#include "DeserializedRecord.h"
#include "Error.h"
#include "KafkaRecord.h"
#include "Result.h"

// Reads a record's value for display and for body filters.
//
// Implementations keep no mutable state: deserializeRecord may be called from
// several threads at once on the same object.
class RecordDeserializer {
public:
    virtual ~RecordDeserializer() = default;

    // Failures carry KafkaErrorCode::RecordDeserializationError, or the
    // errors of the Protocol Buffers deserializer unchanged.
    virtual Result<DeserializedRecord, KafkaError> deserializeRecord(const KafkaRecord& record) const = 0;

protected:
    RecordDeserializer() = default;
    RecordDeserializer(const RecordDeserializer&) = default;
    RecordDeserializer& operator=(const RecordDeserializer&) = default;
    RecordDeserializer(RecordDeserializer&&) = default;
    RecordDeserializer& operator=(RecordDeserializer&&) = default;
};
