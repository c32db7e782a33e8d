#include "KafkaSaslScramFirstRequest.h"

namespace {

// saslname escaping: "=" first, so that the "=" of "=2C" is not escaped again.
QString escapedUsername(QString username)
{
    return username.replace(QLatin1String("="), QLatin1String("=3D")).replace(QLatin1String(","), QLatin1String("=2C"));
}

} // namespace

KafkaSaslScramFirstRequest::KafkaSaslScramFirstRequest(std::int32_t correlationId, QString clientId, QString user,
    QString clientNonce)
    : KafkaRequest(KafkaApiKey::SaslAuthenticate, correlationId, std::move(clientId))
    , username(std::move(user))
    , nonce(std::move(clientNonce))
    , clientFirstMessageBare(("n=" + escapedUsername(username) + ",r=" + nonce).toUtf8())
{
}

void KafkaSaslScramFirstRequest::writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t) const
{
    const QByteArray message = "n,," + clientFirstMessageBare;
    buffer.writeS32(static_cast<std::int32_t>(message.size()));
    buffer.write(message.constData(), message.size());
}
