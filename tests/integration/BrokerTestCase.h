#pragma once

#include "KafkaApiVersionsRequest.h"
#include "KafkaApiVersionsResponse.h"
#include "KafkaTestEnvironment.h"
#include "TestBrokerSocket.h"

#include <QHash>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <utility>

// What the codec tests need of a broker: a fresh socket and the version range
// the broker accepts for each API.
class BrokerTestCase {
public:
    static constexpr auto ClientId = "skelvane-codec-test";

    // Asks the broker for its API versions over a new plaintext socket.
    // Returns an error text, empty on success.
    QString readApiVersions(const QString& address)
    {
        TestBrokerSocket socket(address);
        if (!socket.isConnected())
            return socket.errorString();
        KafkaApiVersionsRequest request(socket.nextCorrelationId(), ClientId);
        auto response = socket.roundTrip<KafkaApiVersionsResponse>(request, 1);
        if (response.isError())
            return response.error().message + " / " + (response.error().causes.isEmpty() ? QString() : response.error().causes.last().message);
        for (const auto& key : response.value().apiKeys)
            m_versions.insert(key.apiKey, { key.minVersion, key.maxVersion });
        return QString();
    }

    // The lowest and highest version of [ours] the broker accepts, or -1s.
    std::pair<std::int16_t, std::int16_t> commonVersions(std::int16_t apiKey, std::int16_t ourMin, std::int16_t ourMax) const
    {
        const auto range = m_versions.value(apiKey, { std::int16_t(-1), std::int16_t(-1) });
        const std::int16_t low = std::max(range.first, ourMin);
        const std::int16_t high = std::min(range.second, ourMax);
        if (range.first < 0 || low > high)
            return { -1, -1 };
        return { low, high };
    }

    bool accepts(std::int16_t apiKey, std::int16_t version) const
    {
        const auto range = m_versions.value(apiKey, { std::int16_t(-1), std::int16_t(-1) });
        return range.first >= 0 && version >= range.first && version <= range.second;
    }

private:
    QHash<std::int16_t, std::pair<std::int16_t, std::int16_t>> m_versions;
};
