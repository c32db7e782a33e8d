#include "PasswordProtection.h"

#include "UserDataProtector.h"

#include <QByteArray>

namespace {

Error<KafkaErrorCode> failure(const char* message, const QString& problem)
{
    QString cause = problem;
    if (!cause.isEmpty())
        cause[0] = cause.at(0).toUpper();
    return Error<KafkaErrorCode>(KafkaErrorCode::DpapiError, QString::fromUtf8(message),
        { Error<KafkaErrorCode>(KafkaErrorCode::DpapiError, cause) });
}

} // namespace

Result<QString, Error<KafkaErrorCode>> encryptWithDPApi(const QString& password)
{
    const UserDataProtector protector(UserDataProtector::defaultKeyFilePath());
    const Result<QByteArray, QString> blob = protector.protect(password.toUtf8());
    if (blob.isError())
        return failure("Unable to encrypt password as DPAPI returned an error", blob.error());
    return QString::fromLatin1(blob.value().toBase64());
}

Result<QString, Error<KafkaErrorCode>> decryptWithDPApi(const QString& stored)
{
    const UserDataProtector protector(UserDataProtector::defaultKeyFilePath());
    const Result<QByteArray, QString> password = protector.unprotect(QByteArray::fromBase64(stored.toUtf8()));
    if (password.isError())
        return failure("Unable to decrypt password as DPAPI returned an error", password.error());
    return QString::fromUtf8(password.value());
}

QString passwordProblem(const Error<KafkaErrorCode>& failure)
{
    if (failure.causes.isEmpty())
        return failure.message;
    QString problem = failure.causes.first().message;
    if (!problem.isEmpty())
        problem[0] = problem.at(0).toLower();
    return problem;
}
