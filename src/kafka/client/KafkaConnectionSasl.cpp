// The SASL exchange of KafkaConnection: a handshake naming the mechanism, then
// one PLAIN authentication or the two SCRAM messages.

#include "KafkaConnection.h"

#include "KafkaSaslHandshakeRequest.h"
#include "KafkaSaslHandshakeResponse.h"
#include "KafkaSaslPlainAuthenticateRequest.h"
#include "KafkaSaslPlainAuthenticateResponse.h"
#include "KafkaSaslScramFinalRequest.h"
#include "KafkaSaslScramFinalResponse.h"
#include "KafkaSaslScramFirstRequest.h"
#include "KafkaSaslScramFirstResponse.h"
#include "KafkaSaslScramProof.h"

#include <QCryptographicHash>
#include <QRandomGenerator64>
#include <QStringList>

namespace {

enum SaslStep : std::int32_t {
    SendHandshake = 1,
    HandshakeSent = 2,
    PlainSent = 3,
    ScramFirstSent = 4,
    ScramFinalSent = 5,
    Authenticated = 6,
};

constexpr int ScramNonceLength = 24;

QString mechanismName(Config::SaslMechanism mechanism)
{
    switch (mechanism) {
    case Config::SaslMechanism::Plain:
        return QStringLiteral("PLAIN");
    case Config::SaslMechanism::ScramSha256:
        return QStringLiteral("SCRAM-SHA-256");
    case Config::SaslMechanism::ScramSha512:
        return QStringLiteral("SCRAM-SHA-512");
    }
    return QString();
}

bool isScram(Config::SaslMechanism mechanism)
{
    return mechanism == Config::SaslMechanism::ScramSha256 || mechanism == Config::SaslMechanism::ScramSha512;
}

QCryptographicHash::Algorithm scramDigest(Config::SaslMechanism mechanism)
{
    return mechanism == Config::SaslMechanism::ScramSha512 ? QCryptographicHash::Sha512 : QCryptographicHash::Sha256;
}

KafkaError saslError(const QString& message)
{
    return KafkaError(KafkaErrorCode::SaslAuthenticationError, message);
}

} // namespace

QString KafkaConnection::generateSaslScramNonce(int length)
{
    QString nonce;
    nonce.reserve(length);
    while (nonce.size() < length) {
        // A 32-bit draw scaled onto the 93 characters from '!' to '}'.
        const std::uint64_t random = static_cast<std::uint32_t>(QRandomGenerator64::global()->generate());
        const auto code = static_cast<char16_t>(33 + ((random * 93) >> 32));
        if (code != u',')
            nonce.append(QChar(code));
    }
    return nonce;
}

void KafkaConnection::saslAuthenticationClearState()
{
    m_saslNonce.clear();
    m_saslClientFirstMessageBare.clear();
    m_saslServerFirstMessage.clear();
    m_saslExpectedServerSignature.clear();
}

void KafkaConnection::sendSaslRequest(std::unique_ptr<KafkaRequest> request)
{
    send(std::move(request), this, [this, attempt = m_attempt](KafkaResult<KafkaRawResponse> result) {
        if (attempt == m_attempt && m_state.load() == State::Authenticating)
            doSaslAuthentication(&result);
    });
}

void KafkaConnection::doSaslAuthentication(KafkaResult<KafkaRawResponse>* response)
{
    if (!m_cluster.authenticationSasl.has_value()) {
        onConnectionError(saslError(QStringLiteral("The SASL authentication configuration was not found.")));
        return;
    }
    switch (m_saslStep) {
    case SendHandshake:
        saslAuthenticationClearState();
        m_saslStep = HandshakeSent;
        sendSaslRequest(std::make_unique<KafkaSaslHandshakeRequest>(
            nextCorrelationId(), m_clientId, mechanismName(m_cluster.authenticationSasl->mechanism)));
        break;
    case HandshakeSent:
        saslHandshakeAnswered(*response);
        break;
    case PlainSent:
        saslPlainAnswered(*response);
        break;
    case ScramFirstSent:
        saslScramFirstAnswered(*response);
        break;
    case ScramFinalSent:
        saslScramFinalAnswered(*response);
        break;
    default:
        break;
    }
}

void KafkaConnection::saslHandshakeAnswered(KafkaResult<KafkaRawResponse>& result)
{
    if (result.isError()) {
        onConnectionError(std::move(result).error().wrap(KafkaErrorCode::UnknownSocketError,
            QStringLiteral("An error occurred while sending the SASL handshake request")));
        return;
    }
    KafkaResult<KafkaSaslHandshakeResponse> response = KafkaSaslHandshakeResponse::parseFromRaw(result.value());
    if (response.isError()) {
        onConnectionError(std::move(response).error());
        return;
    }
    const KafkaProtocolError errorCode = response.value().errorCode;
    if (errorCode == KafkaProtocolError::UnsupportedSaslMechanism) {
        onConnectionError(KafkaError(mapProtocolError(errorCode, KafkaErrorCode::SaslAuthenticationError),
            QStringLiteral("The broker does not support the selected SASL authentication mechanism. The supported "
                           "mechanisms are: ")
                + QStringList(response.value().mechanisms).join(QStringLiteral(", "))));
        return;
    }
    if (errorCode != KafkaProtocolError::None) {
        onConnectionError(KafkaError(mapProtocolError(errorCode, KafkaErrorCode::SaslAuthenticationError),
            QStringLiteral("The broker responded with an error to the SASL handshake.")));
        return;
    }

    const Config::SaslAuthentication& sasl = *m_cluster.authenticationSasl;
    if (sasl.mechanism == Config::SaslMechanism::Plain) {
        m_saslStep = PlainSent;
        sendSaslRequest(std::make_unique<KafkaSaslPlainAuthenticateRequest>(
            nextCorrelationId(), m_clientId, QString(), sasl.plainUsername, sasl.plainPassword));
    } else if (isScram(sasl.mechanism)) {
        m_saslNonce = generateSaslScramNonce(ScramNonceLength);
        m_saslStep = ScramFirstSent;
        auto request = std::make_unique<KafkaSaslScramFirstRequest>(
            nextCorrelationId(), m_clientId, sasl.scramUsername, m_saslNonce);
        m_saslClientFirstMessageBare = request->clientFirstMessageBare;
        sendSaslRequest(std::move(request));
    }
}

void KafkaConnection::saslPlainAnswered(KafkaResult<KafkaRawResponse>& result)
{
    if (result.isError()) {
        onConnectionError(std::move(result).error().wrap(KafkaErrorCode::SaslAuthenticationError,
            QStringLiteral("An error occurred while sending the SASL authenticate request")));
        return;
    }
    KafkaResult<KafkaSaslPlainAuthenticateResponse> response
        = KafkaSaslPlainAuthenticateResponse::parseFromRaw(result.value());
    if (response.isError()) {
        onConnectionError(std::move(response).error());
        return;
    }
    if (response.value().errorCode != KafkaProtocolError::None) {
        onConnectionError(KafkaError(
            mapProtocolError(response.value().errorCode, KafkaErrorCode::SaslAuthenticationError),
            response.value().errorMessage));
        return;
    }
    m_saslStep = Authenticated;
    onConnectionReady();
}

void KafkaConnection::saslScramFirstAnswered(KafkaResult<KafkaRawResponse>& result)
{
    if (result.isError()) {
        onConnectionError(std::move(result).error().wrap(KafkaErrorCode::SaslAuthenticationError,
            QStringLiteral("An error occurred while sending the first SASL authenticate request")));
        return;
    }
    KafkaResult<KafkaSaslScramFirstResponse> response = KafkaSaslScramFirstResponse::parseFromRaw(result.value());
    if (response.isError()) {
        onConnectionError(std::move(response).error());
        return;
    }
    const KafkaSaslScramFirstResponse& first = response.value();
    if (first.iterationCount > KafkaSaslScramProof::MaxIterationCount) {
        onConnectionError(saslError(QStringLiteral("The SASL SCRAM iteration count %1 asked for by the server is "
                                                   "above the limit of %2")
                                        .arg(QString::number(first.iterationCount),
                                            QString::number(KafkaSaslScramProof::MaxIterationCount))));
        return;
    }
    if (!first.nonce.startsWith(m_saslNonce, Qt::CaseSensitive) || first.nonce == m_saslNonce) {
        onConnectionError(saslError(QStringLiteral("The SASL SCRAM nonce returned by the server in the first response "
                                                   "does net match the one sent in the first request")));
        return;
    }
    m_saslNonce = first.nonce;
    m_saslServerFirstMessage = first.authBytes;

    const QByteArray authMessage = m_saslClientFirstMessageBare + ',' + m_saslServerFirstMessage + ','
        + KafkaSaslScramFinalRequest::clientFinalMessageWithoutProof(m_saslNonce);
    const KafkaSaslScramProof proof
        = KafkaSaslScramProof::compute(scramDigest(m_cluster.authenticationSasl->mechanism),
            m_cluster.authenticationSasl->scramPassword.toUtf8(), first.salt, first.iterationCount, authMessage);
    m_saslExpectedServerSignature = proof.serverSignature;

    m_saslStep = ScramFinalSent;
    sendSaslRequest(
        std::make_unique<KafkaSaslScramFinalRequest>(nextCorrelationId(), m_clientId, m_saslNonce, proof.clientProof));
}

void KafkaConnection::saslScramFinalAnswered(KafkaResult<KafkaRawResponse>& result)
{
    if (result.isError()) {
        onConnectionError(std::move(result).error().wrap(KafkaErrorCode::SaslAuthenticationError,
            QStringLiteral("An error occurred while sending the final SASL authenticate request")));
        return;
    }
    KafkaResult<KafkaSaslScramFinalResponse> response = KafkaSaslScramFinalResponse::parseFromRaw(result.value());
    if (response.isError()) {
        onConnectionError(std::move(response).error());
        return;
    }
    if (response.value().serverSignature != m_saslExpectedServerSignature) {
        onConnectionError(saslError(QStringLiteral("The SASL SCRAM authentication server signature returned by the "
                                                   "server did not match the client side computation")));
        return;
    }
    saslAuthenticationClearState();
    m_saslStep = Authenticated;
    onConnectionReady();
}
