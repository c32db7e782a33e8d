#pragma once

#include "KafkaApiKey.h"
#include "KafkaBuffer.h"
#include "KafkaRequestHeader.h"

#include <QString>

#include <cstdint>

// A request of one API: it knows the versions it can write, the first version
// with flexible encodings, whether it may be sent while the connection
// authenticates, and how to write its body. Immutable once built.
class KafkaRequest {
public:
    KafkaRequest(KafkaApiKey apiKey, std::int32_t correlationId, QString clientId);
    virtual ~KafkaRequest();

    KafkaRequest(const KafkaRequest&) = delete;
    KafkaRequest& operator=(const KafkaRequest&) = delete;

    virtual std::int16_t minSupportedVersion() const = 0;
    virtual std::int16_t maxSupportedVersion() const = 0;
    // -1 when the API has no flexible version.
    virtual std::int16_t firstFlexibleVersion() const = 0;
    virtual bool isAuthenticationRequest() const;
    virtual void writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t version) const = 0;

    bool isFlexible(std::int16_t version) const
    {
        return firstFlexibleVersion() >= 0 && version >= firstFlexibleVersion();
    }

    // Writes one complete frame (size, header, body) at the buffer's cursor.
    // The cursor is left just after the size field.
    void writeToBuffer(KafkaBuffer& buffer, std::int16_t version) const;

    KafkaRequestHeader header;
};
