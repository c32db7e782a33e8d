// The limits of KafkaConnection: the deadlines of the set-up, of every
// written request and of a graceful close, and the checks of each response
// frame's size and correlation id before it is buffered.

#include "KafkaConnection.h"

#include "KafkaApiKey.h"

#include <QTcpSocket>

#include <algorithm>
#include <climits>

namespace {

QString apiName(std::int16_t apiKey)
{
    switch (static_cast<KafkaApiKey>(apiKey)) {
    case KafkaApiKey::Fetch:
        return QStringLiteral("Fetch");
    case KafkaApiKey::ListOffsets:
        return QStringLiteral("ListOffsets");
    case KafkaApiKey::Metadata:
        return QStringLiteral("Metadata");
    case KafkaApiKey::OffsetFetch:
        return QStringLiteral("OffsetFetch");
    case KafkaApiKey::DescribeGroups:
        return QStringLiteral("DescribeGroups");
    case KafkaApiKey::ListGroups:
        return QStringLiteral("ListGroups");
    case KafkaApiKey::SaslHandshake:
        return QStringLiteral("SaslHandshake");
    case KafkaApiKey::ApiVersions:
        return QStringLiteral("ApiVersions");
    case KafkaApiKey::SaslAuthenticate:
        return QStringLiteral("SaslAuthenticate");
    case KafkaApiKey::ConsumerGroupDescribe:
        return QStringLiteral("ConsumerGroupDescribe");
    }
    return QStringLiteral("key %1").arg(apiKey);
}

QString seconds(std::chrono::milliseconds duration)
{
    return QString::number(static_cast<double>(duration.count()) / 1000.0);
}

} // namespace

std::optional<KafkaError> KafkaConnection::checkFrameHeader(std::int32_t correlationId) const
{
    const auto entry = std::find_if(m_inFlightRequests.begin(), m_inFlightRequests.end(),
        [correlationId](const InFlightRequest& request) { return request.correlationId == correlationId; });
    if (entry == m_inFlightRequests.end()) {
        return KafkaError(KafkaErrorCode::CorruptMessage,
            QStringLiteral("Protocol violation: the kafka broker %1:%2 sent a response with correlation id %3, "
                           "which answers no request waiting on the connection")
                .arg(m_host, QString::number(m_port), QString::number(correlationId)));
    }
    if (m_frameSize > entry->maxResponseSize) {
        return KafkaError(KafkaErrorCode::MessageTooLarge,
            QStringLiteral("The kafka broker %1:%2 sent a response frame of %3 bytes to a %4 request (correlation "
                           "id %5); the limit is %6 bytes")
                .arg(m_host, QString::number(m_port), QString::number(m_frameSize), apiName(entry->apiKey),
                    QString::number(correlationId), QString::number(entry->maxResponseSize)));
    }
    return std::nullopt;
}

std::optional<KafkaError> KafkaConnection::checkPlainTextAnswer(const char* start) const
{
    // A TLS record opens with its content type (change_cipher_spec 20,
    // alert 21, handshake 22, application_data 23) and the major version 3.
    // Read as a frame size that is 335 MB or more, above every request's
    // maxResponseSize, so no answer of a broker is mistaken for it.
    const auto contentType = static_cast<unsigned char>(start[0]);
    if (m_cluster.protocol != Config::Protocol::Plaintext || contentType < 20 || contentType > 23 || start[1] != 3)
        return std::nullopt;
    return KafkaError(KafkaErrorCode::SslHandshakeFailedError,
        QStringLiteral("The TLS handshake with the kafka broker %1:%2 failed: the broker answered with TLS, so "
                       "the listener on this port expects TLS, but the cluster is set up for plain text")
            .arg(m_host, QString::number(m_port)));
}

void KafkaConnection::scheduleDeadline()
{
    QDeadlineTimer earliest = std::min(m_setUpDeadline, m_closeDeadline);
    for (const InFlightRequest& request : m_inFlightRequests)
        earliest = std::min(earliest, request.deadline);
    if (earliest.isForever()) {
        m_deadlineTimer.stop();
        return;
    }
    // A timer that fires early finds nothing due and is armed again.
    m_deadlineTimer.start(static_cast<int>(std::min<qint64>(earliest.remainingTime(), INT_MAX)));
}

void KafkaConnection::onDeadlineReached()
{
    const State state = m_state.load();
    if (state == State::Disconnecting && m_closeDeadline.hasExpired()) {
        closeAtOnce();
        return;
    }
    if (state < State::Ready && m_setUpDeadline.hasExpired()) {
        onConnectionError(setUpTimeoutError());
        return;
    }
    const auto expired = std::find_if(m_inFlightRequests.begin(), m_inFlightRequests.end(),
        [](const InFlightRequest& request) { return request.deadline.hasExpired(); });
    if (expired != m_inFlightRequests.end()) {
        onConnectionError(answerTimeoutError(*expired));
        return;
    }
    scheduleDeadline();
}

KafkaError KafkaConnection::setUpTimeoutError() const
{
    QString awaited;
    switch (m_state.load()) {
    case State::Initializing:
        awaited = QStringLiteral("the answer to ApiVersions");
        break;
    case State::Authenticating:
        awaited = QStringLiteral("the SASL authentication");
        break;
    default:
        awaited = m_socket && m_socket->state() == QAbstractSocket::ConnectedState
            ? QStringLiteral("the TLS handshake")
            : QStringLiteral("the TCP connection");
        break;
    }
    return KafkaError(KafkaErrorCode::SocketTimeoutError,
        QStringLiteral("The connection to the kafka broker %1:%2 was not set up within %3 s (waiting for %4)")
            .arg(m_host, QString::number(m_port), seconds(m_limits.setUp), awaited));
}

KafkaError KafkaConnection::answerTimeoutError(const InFlightRequest& request) const
{
    return KafkaError(KafkaErrorCode::SocketTimeoutError,
        QStringLiteral("The kafka broker %1:%2 did not answer a %3 request (correlation id %4) within %5 s")
            .arg(m_host, QString::number(m_port), apiName(request.apiKey), QString::number(request.correlationId),
                seconds(request.timeLimit)));
}
