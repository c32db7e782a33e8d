#include "ConfigDuplicateCopier.h"

#include "Config.h"
#include "FileHelpers.h"

#include <QDir>
#include <QFileInfo>

ConfigDuplicateCopier::ConfigDuplicateCopier(const QString& originalDir, const QString& newFilePath)
    : m_originalDir(QDir::cleanPath(originalDir))
    , m_copier(m_originalDir, QFileInfo(newFilePath).completeBaseName())
{
}

std::optional<KafkaError> ConfigDuplicateCopier::copyOwnFiles(Config& duplicate)
{
    Config::Ssl& ssl = duplicate.cluster.ssl;
    QList<QString*> files { &ssl.clientCertificatePath, &ssl.clientKeyPath };
    for (QString& path : ssl.serverCaCertificatePaths)
        files.append(&path);
    for (QString* path : files) {
        const QString own = pathInOriginalDir(*path);
        if (own.isEmpty())
            continue;
        KafkaResult<QString> copied = m_copier.copyFile(own);
        if (copied.isError())
            return failed(std::move(copied).error());
        *path = std::move(copied).value();
    }

    for (QString& path : duplicate.protobufDeserializer.schemaPaths) {
        const QString own = pathInOriginalDir(path);
        if (own.isEmpty())
            continue;
        QList<KafkaError> errors;
        const QList<QString> copied = m_copier.copySchemaPaths({ own }, errors);
        if (!errors.isEmpty())
            return failed(errors.first());
        path = copied.value(0);
    }
    return std::nullopt;
}

void ConfigDuplicateCopier::removeCopies() const
{
    m_copier.removeExtraDir();
}

QString ConfigDuplicateCopier::pathInOriginalDir(const QString& stored) const
{
    if (stored.isEmpty() || m_originalDir.isEmpty())
        return QString();
    const QString path = QDir::cleanPath(resolveClusterPath(stored));
    if (!isSameOrInside(path, m_originalDir) || !QFileInfo::exists(path))
        return QString();
    return QDir(m_originalDir).relativeFilePath(path);
}

std::optional<KafkaError> ConfigDuplicateCopier::failed(KafkaError error) const
{
    removeCopies();
    return error;
}
