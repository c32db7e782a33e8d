#pragma once

#include "CertificateFile.h"
#include "Error.h"
#include "Result.h"

#include <QCoreApplication>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// Copies the certificate, key and schema files that one imported
// configuration names by relative path into the new configuration's own
// directory, and gives the stored paths that lead to the copies.
//
// Nothing outside the imported file's directory is read: a path is resolved,
// symbolic links included, before anything is opened, and a path that leads
// out of the directory, by ".." or through a link anywhere on the way, is
// refused. Files are opened by their resolved paths, so no link is followed
// when copying. A schema directory is walked and every entry checked before
// the first file is copied; a refused directory copies nothing. What one
// configuration brings is bounded in files and bytes.
//
// Threads: one object serves one imported file on one thread.
class ConfigImportCopier {
    Q_DECLARE_TR_FUNCTIONS(ConfigImportCopier)

public:
    // The limit of every reader of certificate and key files.
    static constexpr qint64 MaxCertificateBytes = CertificateFile::MaxSize;
    // Files and directories copied for one configuration. The schema trees of
    // Kafka topics hold tens to a few thousand small .proto files; a tree ten
    // times larger than that is a wrongly chosen directory, such as a home or
    // system directory.
    static constexpr int MaxCopiedEntries = 10000;
    // Bytes copied for one configuration: room for the file limit's worth of
    // schema files of 10 KB each.
    static constexpr qint64 MaxCopiedBytes = 100 * 1024 * 1024;

    ConfigImportCopier(const QString& sourceDir, const QString& newStem);

    // The new configuration's own directory.
    QString extraDir() const;

    // A certificate or key file. Empty and absolute paths are kept and
    // nothing is copied; one file named twice is copied once.
    KafkaResult<QString> copyFile(const QString& path);

    // The schema directories; a failure is added to `errors` and the others
    // go on. A refused path is dropped; one whose copy failed is kept.
    QList<QString> copySchemaPaths(const QList<QString>& paths, QList<KafkaError>& errors);

    void removeExtraDir() const;

private:
    struct Entry {
        QString source; // resolved
        QString target;
        qint64 size = -1; // -1: a directory
    };
    // What a schema directory would copy, or why it is refused or failed.
    struct Plan {
        QList<Entry> entries;
        qint64 bytes = 0;
        QString refusal;
        bool failed = false;
    };
    enum class Copied { Done, TooLarge, Failed };

    bool isInsideSource(const QString& resolved) const;
    QString leadsOutside(const QString& path, const QString& resolved) const;
    QString overBudget(qsizetype entries, qint64 bytes) const;
    bool planDirectory(const QString& path, const QString& target, QStringList& ancestors, Plan& plan) const;
    bool planEntry(Entry entry, Plan& plan) const;
    Copied copyRegularFile(const QString& source, const QString& target, qint64 maxSize);

    QString m_sourceDir;
    QString m_resolvedSourceDir; // empty when it cannot be resolved: nothing is inside
    QString m_newStem;
    QString m_clustersDir;
    QSet<QString> m_copiedFiles; // every file written, by its cleaned path
    qsizetype m_copiedEntries = 0;
    qint64 m_copiedBytes = 0;
};
