#include "ConfigImport.h"

#include "FileHelpers.h"
#include "Settings.h"
#include "UserPrompts.h"

#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QProgressDialog>
#include <QSet>
#include <QThreadPool>
#include <QtConcurrent>

#include <optional>

namespace {

// A relative path once cleaned, or nothing when it leads out of the directory
// it is relative to ("../x", or absolute once a leading "./" is gone).
std::optional<QString> pathInside(const QString& relativePath)
{
    const QString cleaned = QDir::cleanPath(cleanupRelativePath(relativePath));
    if (cleaned == QLatin1String("..") || cleaned.startsWith(QLatin1String("../")) || QDir::isAbsolutePath(cleaned))
        return std::nullopt;
    return cleaned;
}

// Copies the files that one imported configuration names into its new
// directory and gives the stored paths that lead to the copies.
class ImportCopier {
public:
    ImportCopier(const QString& sourceDir, const QString& newStem)
        : m_sourceDir(sourceDir)
        , m_newStem(newStem)
        , m_clustersDir(Settings::clustersDir())
    {
    }

    QString extraDir() const { return QStringLiteral("%1/%2").arg(m_clustersDir, m_newStem); }

    // A certificate or key file. Empty and absolute paths are kept and
    // nothing is copied; one file named twice is copied once.
    KafkaResult<QString> copyFile(const QString& path)
    {
        if (path.isEmpty() || !QDir::isRelativePath(path))
            return path;
        const std::optional<QString> inside = pathInside(path);
        if (!inside)
            return KafkaError(KafkaErrorCode::FileCopyError,
                ConfigImport::tr("Failed to copy file '%1': the path leads outside the directory '%2' of the configuration file")
                    .arg(path, m_sourceDir));
        if (!m_copied.contains(*inside)) {
            const QString source = QStringLiteral("%1/%2").arg(m_sourceDir, path);
            const QString target = QStringLiteral("%1/%2").arg(extraDir(), path);
            if (!::copyFile(source, target))
                return KafkaError(
                    KafkaErrorCode::FileCopyError, ConfigImport::tr("Failed to copy file from '%1' to '%2'").arg(source, target));
            m_copied.insert(*inside);
        }
        return QStringLiteral("%1/%2").arg(m_newStem, path);
    }

    // The schema directories; a failure is added to `errors` and the others
    // go on. A path that leads outside is dropped.
    QList<QString> copySchemaPaths(const QList<QString>& paths, QList<KafkaError>& errors)
    {
        QList<QString> rewritten;
        for (const QString& path : paths) {
            if (!QDir::isRelativePath(path)) {
                rewritten.append(path);
                continue;
            }
            if (!pathInside(path)) {
                errors.append(KafkaError(KafkaErrorCode::FileCopyError,
                    ConfigImport::tr("Failed to copy Protocol Buffers schemas from '%1': the path leads outside the "
                                     "directory '%2' of the configuration file")
                        .arg(path, m_sourceDir)));
                continue;
            }
            const QString cleaned = cleanupRelativePath(path);
            const QString source = QStringLiteral("%1/%2").arg(m_sourceDir, cleaned);
            const QString target = QStringLiteral("%1/%2").arg(extraDir(), cleaned);
            if (!copyPath(source, target))
                errors.append(KafkaError(KafkaErrorCode::FileCopyError,
                    ConfigImport::tr("Failed to copy Protocol Buffers schemas from '%1' to '%2'").arg(source, target)));
            rewritten.append(QStringLiteral("%1/%2").arg(m_newStem, cleaned));
        }
        return rewritten;
    }

    void removeExtraDir() const { QDir(extraDir()).removeRecursively(); }

private:
    QString m_sourceDir;
    QString m_newStem;
    QString m_clustersDir;
    QSet<QString> m_copied; // cleaned relative paths
};

// Rewrites the client certificate, the client key and the CA certificates in
// this order; the first failure stops.
std::optional<KafkaError> copySslFiles(Config::Ssl& ssl, ImportCopier& copier)
{
    for (QString* path : { &ssl.clientCertificatePath, &ssl.clientKeyPath }) {
        KafkaResult<QString> copied = copier.copyFile(*path);
        if (copied.isError())
            return std::move(copied).error();
        *path = std::move(copied).value();
    }
    for (QString& path : ssl.serverCaCertificatePaths) {
        KafkaResult<QString> copied = copier.copyFile(path);
        if (copied.isError())
            return std::move(copied).error();
        path = std::move(copied).value();
    }
    return std::nullopt;
}

} // namespace

QStringList ConfigImport::chooseFiles(QWidget* parent)
{
    return UserPrompts::current().openFileNames(parent, tr("Select configuration files to import"), QString(),
        QStringLiteral("*.yml"));
}

ImportResult ConfigImport::importFiles(QWidget* parent, const QStringList& paths)
{
    // Declared so that the pool goes first (waiting for its thread), then the
    // watcher, then the dialog.
    QProgressDialog progress(paths.size() == 1 ? tr("Importing configuration...") : tr("Importing configurations..."),
        QString(), 0, 0, parent);
    QFutureWatcher<ImportResult> watcher(parent);
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &progress, &QProgressDialog::reset);
    QObject::connect(&watcher, &QFutureWatcherBase::progressRangeChanged, &progress, &QProgressDialog::setRange);
    QObject::connect(&watcher, &QFutureWatcherBase::progressValueChanged, &progress, &QProgressDialog::setValue);
    QThreadPool pool;
    pool.setMaxThreadCount(1);

    QFuture<ImportResult> future = QtConcurrent::mappedReduced<ImportResult>(&pool, paths, &ConfigImport::importFile,
        &ConfigImport::mergeResult, QtConcurrent::OrderedReduce | QtConcurrent::SequentialReduce);
    watcher.setFuture(future);
    if (!future.isFinished())
        progress.exec();
    future.waitForFinished();
    return future.result();
}

ImportResult ConfigImport::importFile(const QString& path)
{
    ImportResult result;
    Result<Config, QList<KafkaError>> parsed = Config::parseFromFile(path);
    if (parsed.isError()) {
        for (KafkaError& error : parsed.error())
            result.errors.append(
                error.wrap(KafkaErrorCode::InvalidYamlDocument, tr("Unable to load configuration file '%1'").arg(path)));
        return result;
    }
    Config config = std::move(parsed).value();
    const QString newPath = Config::findAvailableFilePath(config.displayName);
    ImportCopier copier(QFileInfo(path).absolutePath(), QFileInfo(newPath).completeBaseName());

    if (std::optional<KafkaError> failure = copySslFiles(config.cluster.ssl, copier)) {
        result.errors.append(*failure);
        copier.removeExtraDir();
        return result;
    }
    config.protobufDeserializer.schemaPaths = copier.copySchemaPaths(config.protobufDeserializer.schemaPaths, result.errors);

    config.filePath = newPath;
    if (std::optional<KafkaError> failure = Config::saveToFile(config)) {
        result.errors.append(*failure);
        copier.removeExtraDir();
        return result;
    }
    result.configs.append(std::move(config));
    return result;
}

void ConfigImport::mergeResult(ImportResult& accumulated, const ImportResult& result)
{
    accumulated.configs.append(result.configs);
    accumulated.errors.append(result.errors);
}
