#pragma once

#include "KafkaRawResponse.h"
#include "KafkaRecord.h"
#include "KafkaRecordBatch.h"
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
    static constexpr auto ClientId = "skelvane-codec-test";

    // A partition read from offset 0 to its high watermark.
    struct Fetched {
        QList<KafkaRecord> records; // without those of aborted transactions
        QList<KafkaRecordBatch> batches; // without their records
        std::int64_t nextOffset = 0;
        std::int64_t highWatermark = -1;
        QString error;
    };

    explicit TestBrokerSocket(const QString& address); // "host:port"

    bool isConnected() const { return m_socket->state() == QAbstractSocket::ConnectedState; }
    std::int32_t nextCorrelationId() { return ++m_correlationId; }

    // Sends the request at the version and waits for the answer.
    KafkaResult<KafkaRawResponse> exchange(const KafkaRequest& request, std::int16_t version);

    template <typename Response>
    KafkaResult<Response> roundTrip(const KafkaRequest& request, std::int16_t version)
    {
        KafkaResult<KafkaRawResponse> raw = exchange(request, version);
        if (raw.isError())
            return raw.error();
        return Response::parseFromRaw(raw.value());
    }

    // Reads the partition with Fetch requests at the version, read committed.
    Fetched fetchAll(const QString& topic, std::int32_t partition, std::int16_t version = 11);

private:
    bool readExactly(char* destination, qint64 size);

    std::unique_ptr<QTcpSocket> m_socket;
    std::int32_t m_correlationId = 0;
};
