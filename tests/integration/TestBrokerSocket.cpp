#include "TestBrokerSocket.h"

#include "KafkaAbortedTransactionFilter.h"
#include "KafkaFetchRequest.h"
#include "KafkaFetchResponse.h"

#include <QtEndian>

namespace {
constexpr int WaitMs = 30000;
}

TestBrokerSocket::TestBrokerSocket(const QString& address)
    : m_socket(std::make_unique<QTcpSocket>())
{
    const qsizetype colon = address.lastIndexOf(':');
    m_socket->connectToHost(address.left(colon), address.mid(colon + 1).toUShort());
    m_socket->waitForConnected(WaitMs);
}

bool TestBrokerSocket::readExactly(char* destination, qint64 size)
{
    for (qint64 done = 0; done < size;) {
        if (m_socket->bytesAvailable() == 0 && !m_socket->waitForReadyRead(WaitMs))
            return false;
        const qint64 n = m_socket->read(destination + done, size - done);
        if (n < 0)
            return false;
        done += n;
    }
    return true;
}

KafkaResult<KafkaRawResponse> TestBrokerSocket::exchange(const KafkaRequest& request, std::int16_t version)
{
    KafkaBuffer frame;
    request.writeToBuffer(frame, version);
    if (m_socket->write(frame.data) != frame.data.size() || !m_socket->waitForBytesWritten(WaitMs))
        return KafkaError(KafkaErrorCode::SocketWriteError, m_socket->errorString());
    uchar sizeBytes[4];
    QByteArray body;
    if (readExactly(reinterpret_cast<char*>(sizeBytes), 4))
        body.resize(qFromBigEndian<std::int32_t>(sizeBytes));
    if (body.isEmpty() || !readExactly(body.data(), body.size()))
        return KafkaError(KafkaErrorCode::RemoteHostClosedError, "No response: " + m_socket->errorString());
    KafkaRawResponse raw;
    raw.apiKey = request.header.apiKey;
    raw.apiVersion = version;
    raw.buffer = KafkaBuffer(body);
    return raw;
}

TestBrokerSocket::Fetched TestBrokerSocket::fetchAll(const QString& topic, std::int32_t partition, std::int16_t version)
{
    Fetched fetched;
    for (int round = 0; round < 1000; ++round) {
        KafkaFetchRequest request(nextCorrelationId(), ClientId, -1, 500, 1, 1000000, IsolationLevel::ReadCommitted,
            -1, -1, { { topic, { { partition, -1, fetched.nextOffset, -1, 1000000 } } } }, {}, QString());
        auto response = roundTrip<KafkaFetchResponse>(request, version);
        if (response.isError()) {
            fetched.error = response.error().message;
            return fetched;
        }
        const KafkaFetchResponse::Partition answer = response.value().topics.value(0).partitions.value(0);
        if (answer.errorCode != KafkaProtocolError::None || answer.partitionIndex != partition) {
            fetched.error = QString("partition error %1").arg(int(answer.errorCode));
            return fetched;
        }
        fetched.highWatermark = answer.highWatermark;
        auto filter = KafkaAbortedTransactionFilter::fromTransactions(answer.abortedTransactions);
        KafkaBuffer recordSet(answer.records);
        while (!recordSet.atEnd()) {
            auto batch = KafkaRecordBatch::parseFromBuffer(recordSet, topic, partition);
            if (batch.isError() && batch.error().code == KafkaErrorCode::IncompleteRecordBatch)
                break;
            if (batch.isError()) {
                fetched.error = batch.error().message;
                return fetched;
            }
            if (!filter.isAborted(batch.value()))
                fetched.records.append(batch.value().records);
            fetched.nextOffset = batch.value().lastOffset() + 1;
            batch.value().records.clear();
            fetched.batches.append(batch.value());
        }
        if (fetched.nextOffset >= answer.highWatermark)
            return fetched;
    }
    fetched.error = "the partition was not read to its end";
    return fetched;
}
