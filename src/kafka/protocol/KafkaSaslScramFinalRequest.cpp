#include "KafkaSaslScramFinalRequest.h"

KafkaSaslScramFinalRequest::KafkaSaslScramFinalRequest(std::int32_t correlationId, QString clientId,
    QString combinedNonce, QByteArray clientProof)
    : KafkaRequest(KafkaApiKey::SaslAuthenticate, correlationId, std::move(clientId))
    , nonce(std::move(combinedNonce))
    , proof(std::move(clientProof))
{
}

QByteArray KafkaSaslScramFinalRequest::clientFinalMessageWithoutProof(const QString& nonce)
{
    return "c=" + QByteArray("n,,").toBase64() + ",r=" + nonce.toUtf8();
}

void KafkaSaslScramFinalRequest::writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t) const
{
    const QByteArray message = clientFinalMessageWithoutProof(nonce) + ",p=" + proof.toBase64();
    buffer.writeS32(static_cast<std::int32_t>(message.size()));
    buffer.write(message.constData(), message.size());
}
