#pragma once

#include "Config.h"
#include "Error.h"

#include <QCoreApplication>
#include <QList>
#include <QStringList>

class QWidget;

// What an import produced: the configurations written to the clusters
// directory, in the order of the files, and every failure in the order met.
struct ImportResult {
    QList<Config> configs;
    QList<KafkaError> errors;
};

// Import of cluster configuration files written elsewhere. Each file is read,
// saved under a free name in the clusters directory, and the certificate, key
// and schema files it names by relative path are copied into the new
// configuration's own directory, the stored paths rewritten to the copies.
// Relative paths must stay inside the imported file's directory: one that
// leads out of it, by ".." or through a symbolic link, is refused, so that an
// imported file can neither read files elsewhere nor have them written
// outside its new directory; what one file brings is bounded in size
// (ConfigImportCopier).
//
// Threads: chooseFiles and importFiles run on the GUI thread; importFiles
// runs the per-file step on a private pool of one thread, so the files are
// imported one after another, each name chosen after the previous file was
// saved. importFile and mergeResult use only their arguments and the file
// system and may run on any thread.
class ConfigImport {
    Q_DECLARE_TR_FUNCTIONS(ConfigImport)

public:
    // Asks for the files to import; empty when the user cancelled.
    static QStringList chooseFiles(QWidget* parent);
    // Imports the files behind a modal progress dialog; returns when done.
    static ImportResult importFiles(QWidget* parent, const QStringList& paths);

    // The per-file step: at most one configuration.
    static ImportResult importFile(const QString& path);
    // The reduce step: appends the configurations and errors of one file.
    static void mergeResult(ImportResult& accumulated, const ImportResult& result);
};
