#include "KafkaSaslScramFirstResponse.h"

#include <QList>

namespace {

KafkaError corrupt(const QString& message)
{
    return KafkaError(KafkaErrorCode::CorruptMessage, message);
}

} // namespace

KafkaResult<KafkaSaslScramFirstResponse> KafkaSaslScramFirstResponse::parseFromRaw(KafkaRawResponse& raw)
{
    return parseWithAttributes(
        raw, QStringLiteral("Invalid SaslScramFirst response"), &KafkaSaslScramFirstResponse::parseAttributes);
}

std::optional<KafkaError> KafkaSaslScramFirstResponse::parseAttributes()
{
    if (authBytes.isEmpty())
        return corrupt(QStringLiteral("Empty SASL SCRAM first server response payload"));

    const QList<QByteArray> attributes = authBytes.split(',');
    for (const QByteArray& attribute : attributes) {
        const QByteArray value = attribute.mid(2);
        if (attribute.startsWith("r=")) {
            nonce = QString::fromUtf8(value);
        } else if (attribute.startsWith("s=")) {
            salt = QByteArray::fromBase64(value);
        } else if (attribute.startsWith("i=")) {
            bool ok = false;
            iterationCount = value.toInt(&ok, 10);
            if (!ok)
                return corrupt(QStringLiteral("Invalid SASL SCRAM iteration count: %1").arg(QString::fromUtf8(attribute)));
        } else {
            return corrupt(QStringLiteral("Unhandled SASL SCRAM attribute in the first server response: %1")
                               .arg(QString::fromUtf8(attribute)));
        }
    }

    if (nonce.isEmpty())
        return corrupt(QStringLiteral("SASL SCRAM nonce missing in the first server response"));
    if (salt.isEmpty())
        return corrupt(QStringLiteral("SASL SCRAM salt missing in the first server response"));
    // A count below 1 cannot derive a key; a negative one is as unusable as none.
    if (iterationCount <= 0)
        return corrupt(QStringLiteral("SASL SCRAM iteration count missing in the first server response"));
    return std::nullopt;
}
