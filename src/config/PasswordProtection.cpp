#include "PasswordProtection.h"

#include "UserDataProtector.h"

#include <QByteArray>

#include <optional>

Result<QString, Error<KafkaErrorCode>> encryptWithDPApi(const QString& password)
{
    const UserDataProtector protector(UserDataProtector::defaultKeyFilePath());
    const std::optional<QByteArray> blob = protector.protect(password.toUtf8());
    if (!blob)
        return Error<KafkaErrorCode>(KafkaErrorCode::DpapiError,
            QStringLiteral("Unable to encrypt password as DPAPI returned an error"));
    return QString::fromLatin1(blob->toBase64());
}

Result<QString, Error<KafkaErrorCode>> decryptWithDPApi(const QString& stored)
{
    const UserDataProtector protector(UserDataProtector::defaultKeyFilePath());
    const std::optional<QByteArray> password = protector.unprotect(QByteArray::fromBase64(stored.toUtf8()));
    if (!password)
        return Error<KafkaErrorCode>(KafkaErrorCode::DpapiError,
            QStringLiteral("Unable to decrypt password as DPAPI returned an error"));
    return QString::fromUtf8(*password);
}
