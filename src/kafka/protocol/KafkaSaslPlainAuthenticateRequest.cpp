#include "KafkaSaslPlainAuthenticateRequest.h"

#include <QByteArray>

KafkaSaslPlainAuthenticateRequest::KafkaSaslPlainAuthenticateRequest(std::int32_t correlationId, QString clientId,
    QString authorization, QString user, QString secret)
    : KafkaRequest(KafkaApiKey::SaslAuthenticate, correlationId, std::move(clientId))
    , authorizationId(std::move(authorization))
    , username(std::move(user))
    , password(std::move(secret))
{
}

void KafkaSaslPlainAuthenticateRequest::writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t) const
{
    // authzid NUL authcid NUL passwd
    QByteArray message = authorizationId.toUtf8();
    message.append('\0');
    message.append(username.toUtf8());
    message.append('\0');
    message.append(password.toUtf8());
    buffer.writeS32(static_cast<std::int32_t>(message.size()));
    buffer.write(message.constData(), message.size());
}
