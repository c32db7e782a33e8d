#include "ConfigImport.h"

#include "ConfigImportCopier.h"
#include "Settings.h"
#include "UserPrompts.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QProgressDialog>
#include <QThreadPool>
#include <QtConcurrent>

#include <optional>

namespace {

// Rewrites the client certificate, the client key and the CA certificates in
// this order; the first failure stops.
std::optional<KafkaError> copySslFiles(Config::Ssl& ssl, ConfigImportCopier& copier)
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
    ConfigImportCopier copier(QFileInfo(path).absolutePath(), QFileInfo(newPath).completeBaseName());

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
