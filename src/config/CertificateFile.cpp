#include "CertificateFile.h"

QString CertificateFile::tooLarge()
{
    return QStringLiteral("it holds more than %1 bytes, more than any certificate or key file").arg(MaxSize);
}

Result<QByteArray, CertificateFile::Failure> CertificateFile::read(const QString& path)
{
    Result<QByteArray, RegularFile::Failure> content = RegularFile::read(path, MaxSize);
    if (content.hasValue())
        return std::move(content).value();
    const RegularFile::Failure& failure = content.error();
    switch (failure.kind) {
    case RegularFile::Failure::Kind::Open:
        return Failure { failure.kind, failure.system.text };
    case RegularFile::Failure::Kind::NotRegular:
        return Failure { failure.kind, QStringLiteral("it is not a regular file") };
    case RegularFile::Failure::Kind::TooLarge:
        return Failure { failure.kind, tooLarge() };
    case RegularFile::Failure::Kind::Read:
        break;
    }
    return Failure { failure.kind, QStringLiteral("it could not be read: %1").arg(failure.system.text) };
}
