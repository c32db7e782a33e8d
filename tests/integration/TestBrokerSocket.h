#pragma once

#include "KafkaRawResponse.h"
#include "KafkaRequest.h"
#include "Result.h"

#include <QString>
#include <QTcpSocket>

#include <cstdint>
#include <memory>

// A blocking plain-TCP connection to one broker for codec tests: writes a
// request framed by the codec and reads back its response frame. Nothing of
// the program's connection logic is involved.
class TestBrokerSocket {
public:
    // address is "host:port".
    explicit TestBrokerSocket(const QString& address);

    bool isConnected() const;
    QString errorString() const;

    // Sends the request at the given version and waits for the answer.
    KafkaResult<KafkaRawResponse> exchange(const KafkaRequest& request, std::int16_t version);

    // Sends a request and parses its answer with Response::parseFromRaw.
    template <typename Response>
    KafkaResult<Response> roundTrip(const KafkaRequest& request, std::int16_t version)
    {
        KafkaResult<KafkaRawResponse> raw = exchange(request, version);
        if (raw.isError())
            return raw.error();
        return Response::parseFromRaw(raw.value());
    }

    std::int32_t nextCorrelationId() { return ++m_correlationId; }

private:
    bool readExactly(char* destination, qint64 size);

    std::unique_ptr<QTcpSocket> m_socket;
    std::int32_t m_correlationId = 0;
};
