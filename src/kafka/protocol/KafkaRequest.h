#pragma once

#include "KafkaApiKey.h"
#include "KafkaBuffer.h"
#include "KafkaRequestHeader.h"

#include <QString>

#include <chrono>
#include <cstdint>

// A request of one API: it knows the versions it can write, the first version
// with flexible encodings, whether it may be sent while the connection
// authenticates, how to write its body, how long the broker may hold it and
// how large its answer may be. Immutable once built.
class KafkaRequest {
public:
    // The largest response frame of most APIs (ApiVersions, SASL, ListOffsets
    // and the group APIs): their answers hold a few bytes per partition or
    // group, so even a large cluster stays well below it.
    static constexpr std::int64_t DefaultMaxResponseSize = 16 * 1024 * 1024;

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
    // How long the request asks the broker to hold it before answering; the
    // base returns 0 (answered at once).
    virtual std::chrono::milliseconds brokerWait() const;
    // The largest response frame (the bytes after the size prefix) the
    // request may be answered with; the base returns DefaultMaxResponseSize.
    virtual std::int64_t maxResponseSize() const;

    bool isFlexible(std::int16_t version) const
    {
        return firstFlexibleVersion() >= 0 && version >= firstFlexibleVersion();
    }

    // Writes one complete frame (size, header, body) at the buffer's cursor.
    // The cursor is left just after the size field.
    void writeToBuffer(KafkaBuffer& buffer, std::int16_t version) const;

    KafkaRequestHeader header;
};
