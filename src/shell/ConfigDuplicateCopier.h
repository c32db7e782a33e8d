#pragma once

#include "ConfigImportCopier.h"

#include <QCoreApplication>
#include <QString>

#include <optional>

struct Config;

// Gives a duplicated configuration its own copies of the files that lie in
// the original's own directory: that directory goes with the original when
// the original is deleted. The certificate, key and CA files and the schema
// directories found there are copied, as an import copies them, into the
// duplicate's own directory, and the duplicate names the copies. Paths
// elsewhere (shared files, absolute paths outside that directory) and paths
// to nothing are kept as they are.
//
// Threads: one object serves one duplication on one thread.
class ConfigDuplicateCopier {
    Q_DECLARE_TR_FUNCTIONS(ConfigDuplicateCopier)

public:
    // `originalDir`: the own directory of the configuration duplicated (empty:
    // none, nothing is copied); `newFilePath`: the duplicate's file, which
    // names its own directory.
    ConfigDuplicateCopier(const QString& originalDir, const QString& newFilePath);

    // Copies and rewrites the paths of `duplicate`; at the first failure
    // nothing copied stays and the failure is returned.
    std::optional<KafkaError> copyOwnFiles(Config& duplicate);

    // Removes the duplicate's own directory with every copy.
    void removeCopies() const;

private:
    // `stored` relative to the original's own directory when it lies there
    // and exists; else empty.
    QString pathInOriginalDir(const QString& stored) const;
    std::optional<KafkaError> failed(KafkaError error) const;

    QString m_originalDir;
    ConfigImportCopier m_copier;
};
