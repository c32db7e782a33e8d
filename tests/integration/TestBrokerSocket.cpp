#include "TestBrokerSocket.h"

#include <QtEndian>

namespace {
constexpr int WaitMs = 30000;
constexpr qint64 MaxFrameSize = 256 * 1024 * 1024;
}

TestBrokerSocket::TestBrokerSocket(const QString& address)
    : m_socket(std::make_unique<QTcpSocket>())
{
    const qsizetype colon = address.lastIndexOf(':');
    m_socket->connectToHost(address.left(colon), address.mid(colon + 1).toUShort());
    m_socket->waitForConnected(WaitMs);
}

bool TestBrokerSocket::isConnected() const
{
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

QString TestBrokerSocket::errorString() const
{
    return m_socket->errorString();
}

bool TestBrokerSocket::readExactly(char* destination, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
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
    if (!readExactly(reinterpret_cast<char*>(sizeBytes), 4))
        return KafkaError(KafkaErrorCode::RemoteHostClosedError, QStringLiteral("No response: %1").arg(m_socket->errorString()));
    const qint64 size = qFromBigEndian<std::int32_t>(sizeBytes);
    if (size < 4 || size > MaxFrameSize)
        return KafkaError(KafkaErrorCode::CorruptMessage, QStringLiteral("Bad response size %1").arg(size));
    QByteArray body(static_cast<qsizetype>(size), Qt::Uninitialized);
    if (!readExactly(body.data(), size))
        return KafkaError(KafkaErrorCode::RemoteHostClosedError, QStringLiteral("Response cut short: %1").arg(m_socket->errorString()));

    KafkaRawResponse raw;
    raw.apiKey = request.header.apiKey;
    raw.apiVersion = version;
    raw.buffer = KafkaBuffer(body);
    return raw;
}
