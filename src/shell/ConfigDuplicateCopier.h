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
// duplicate's own directory, and the duplicate names the copies. A path
// reaches that directory under any spelling: relative or absolute, with "./"
// or a trailing "/", through a linked directory or parent, or as a link to a
// file in it. Each file is copied once: a schema directory named twice or
// inside another one, and a file inside a copied schema directory, come with
// the copy of the outermost directory. Paths elsewhere (shared files,
// absolute paths outside that directory) and paths to nothing are kept as
// they are.
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
    // `stored` relative to the original's own directory ("." for that
    // directory) when it leads there and exists; else empty.
    QString pathInOriginalDir(const QString& stored) const;
    // The stored path of the copy of `own`, a path relative to the original's
    // own directory.
    QString nameOfCopy(const QString& own) const;
    std::optional<KafkaError> failed(KafkaError error) const;

    QString m_originalDir;
    QString m_newStem;
    ConfigImportCopier m_copier;
};
