#include "ConfigDuplicateCopier.h"

#include "Config.h"
#include "FileHelpers.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

// Whether the relative path `path` is `directory` or lies below it; "." is the
// original's own directory and holds every path.
bool isSameOrInsideRelative(const QString& path, const QString& directory)
{
    return directory == QLatin1String(".") || isSameOrInside(path, directory);
}

} // namespace

ConfigDuplicateCopier::ConfigDuplicateCopier(const QString& originalDir, const QString& newFilePath)
    : m_originalDir(QDir::cleanPath(originalDir))
    , m_newStem(QFileInfo(newFilePath).completeBaseName())
    , m_copier(m_originalDir, m_newStem)
{
}

std::optional<KafkaError> ConfigDuplicateCopier::copyOwnFiles(Config& duplicate)
{
    // Schema directories first, each tree once: a directory named twice or
    // inside another one, and a file inside one, come with the copy of the
    // outermost.
    QStringList ownSchemas;
    for (const QString& path : duplicate.protobufDeserializer.schemaPaths)
        ownSchemas.append(pathInOriginalDir(path));
    QStringList trees;
    for (const QString& own : ownSchemas) {
        const bool inAnother = std::any_of(ownSchemas.cbegin(), ownSchemas.cend(), [&own](const QString& other) {
            return !other.isEmpty() && other != own && isSameOrInsideRelative(own, other);
        });
        if (!own.isEmpty() && !inAnother && !trees.contains(own))
            trees.append(own);
    }
    for (const QString& tree : trees) {
        QList<KafkaError> errors;
        m_copier.copySchemaPaths({ tree }, errors);
        if (!errors.isEmpty())
            return failed(errors.first());
    }
    for (qsizetype i = 0; i < ownSchemas.size(); ++i) {
        if (!ownSchemas.at(i).isEmpty())
            duplicate.protobufDeserializer.schemaPaths[i] = nameOfCopy(ownSchemas.at(i));
    }

    Config::Ssl& ssl = duplicate.cluster.ssl;
    QList<QString*> files { &ssl.clientCertificatePath, &ssl.clientKeyPath };
    for (QString& path : ssl.serverCaCertificatePaths)
        files.append(&path);
    for (QString* path : files) {
        const QString own = pathInOriginalDir(*path);
        if (own.isEmpty())
            continue;
        // A file that came with a schema directory is not copied again.
        KafkaResult<QString> copied = m_copier.copyFile(own);
        if (copied.isError())
            return failed(std::move(copied).error());
        *path = std::move(copied).value();
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
    // Not cleaned: ".." after a symbolic link leads to the parent of its target.
    const QString path = resolveClusterPath(stored);
    if (!QFileInfo::exists(path))
        return QString();
    return pathWithin(path, m_originalDir).value_or(QString());
}

QString ConfigDuplicateCopier::nameOfCopy(const QString& own) const
{
    return QDir::cleanPath(QStringLiteral("%1/%2").arg(m_newStem, own));
}

std::optional<KafkaError> ConfigDuplicateCopier::failed(KafkaError error) const
{
    removeCopies();
    return error;
}
