#include "KafkaSaslScramFinalResponse.h"

#include <QList>

KafkaResult<KafkaSaslScramFinalResponse> KafkaSaslScramFinalResponse::parseFromRaw(KafkaRawResponse& raw)
{
    return parseWithAttributes(
        raw, QStringLiteral("Invalid SaslScramFinal response"), &KafkaSaslScramFinalResponse::parseAttributes);
}

std::optional<KafkaError> KafkaSaslScramFinalResponse::parseAttributes()
{
    QString serverError;
    const QList<QByteArray> attributes = authBytes.split(',');
    for (const QByteArray& attribute : attributes) {
        const QByteArray value = attribute.mid(2);
        if (attribute.startsWith("e=")) {
            serverError = QString::fromUtf8(value);
        } else if (attribute.startsWith("v=")) {
            serverSignature = QByteArray::fromBase64(value);
        } else {
            return KafkaError(KafkaErrorCode::CorruptMessage,
                QStringLiteral("Unhandled SASL SCRAM attribute in the final server response: %1")
                    .arg(QString::fromUtf8(attribute)));
        }
    }

    if (!serverError.isEmpty())
        return KafkaError(KafkaErrorCode::SaslAuthenticationError,
            QStringLiteral("The server returned a SASL SCRAM authentication error: %1").arg(serverError));
    if (serverSignature.isEmpty())
        return KafkaError(KafkaErrorCode::CorruptMessage,
            QStringLiteral("SASL SCRAM server signature missing in the first server response"));
    return std::nullopt;
}
