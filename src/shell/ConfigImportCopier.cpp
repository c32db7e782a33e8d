#include "ConfigImportCopier.h"

#include "FileHelpers.h"
#include "RegularFile.h"
#include "Settings.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
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

} // namespace

ConfigImportCopier::ConfigImportCopier(const QString& sourceDir, const QString& newStem)
    : m_sourceDir(sourceDir)
    , m_resolvedSourceDir(QFileInfo(sourceDir).canonicalFilePath())
    , m_newStem(newStem)
    , m_clustersDir(Settings::clustersDir())
{
}

QString ConfigImportCopier::extraDir() const
{
    return QStringLiteral("%1/%2").arg(m_clustersDir, m_newStem);
}

KafkaResult<QString> ConfigImportCopier::copyFile(const QString& path)
{
    if (path.isEmpty() || !QDir::isRelativePath(path))
        return path;
    const auto refused = [&path](const QString& reason) {
        return KafkaError(KafkaErrorCode::FileCopyError, tr("Failed to copy file '%1': %2").arg(path, reason));
    };
    const std::optional<QString> inside = pathInside(path);
    if (!inside)
        return refused(tr("the path leads outside the directory '%1' of the configuration file").arg(m_sourceDir));
    const QString source = QStringLiteral("%1/%2").arg(m_sourceDir, path);
    const QString target = QStringLiteral("%1/%2").arg(extraDir(), path);
    if (m_copiedFiles.contains(QDir::cleanPath(target)))
        return QStringLiteral("%1/%2").arg(m_newStem, path);
    const QString resolved = QFileInfo(source).canonicalFilePath();
    if (!resolved.isEmpty() && !isInsideSource(resolved))
        return refused(tr("the path leads through a symbolic link to '%1', outside the directory '%2' of the configuration file")
                           .arg(resolved, m_sourceDir));
    const QString tooLarge = CertificateFile::tooLarge();
    const QFileInfo info(resolved);
    if (info.isFile() && info.size() > MaxCertificateBytes)
        return refused(tooLarge);
    if (const QString budget = overBudget(1, info.size()); !budget.isEmpty())
        return refused(budget);

    const Copied copied = resolved.isEmpty()
        ? Copied::Failed
        : copyRegularFile(resolved, target, std::min(MaxCertificateBytes, MaxCopiedBytes - m_copiedBytes));
    if (copied == Copied::TooLarge)
        return refused(tooLarge);
    if (copied == Copied::Failed)
        return KafkaError(KafkaErrorCode::FileCopyError, tr("Failed to copy file from '%1' to '%2'").arg(source, target));
    return QStringLiteral("%1/%2").arg(m_newStem, path);
}

QList<QString> ConfigImportCopier::copySchemaPaths(const QList<QString>& paths, QList<KafkaError>& errors)
{
    QList<QString> rewritten;
    for (const QString& path : paths) {
        if (!QDir::isRelativePath(path)) {
            rewritten.append(path);
            continue;
        }
        const auto refused = [&path](const QString& reason) {
            return KafkaError(KafkaErrorCode::FileCopyError,
                tr("Failed to copy Protocol Buffers schemas from '%1': %2").arg(path, reason));
        };
        if (!pathInside(path)) {
            errors.append(refused(tr("the path leads outside the directory '%1' of the configuration file").arg(m_sourceDir)));
            continue;
        }
        const QString cleaned = cleanupRelativePath(path);
        const QString source = QStringLiteral("%1/%2").arg(m_sourceDir, cleaned);
        const QString target = QStringLiteral("%1/%2").arg(extraDir(), cleaned);

        Plan plan;
        QStringList ancestors;
        planDirectory(source, target, ancestors, plan);
        if (!plan.refusal.isEmpty()) {
            errors.append(refused(plan.refusal));
            continue;
        }
        bool copied = !plan.failed;
        for (qsizetype i = 0; copied && i < plan.entries.size(); ++i) {
            const Entry& entry = plan.entries.at(i);
            if (entry.size >= 0) {
                copied = copyRegularFile(entry.source, entry.target, MaxCopiedBytes - m_copiedBytes) == Copied::Done;
            } else {
                copied = QDir().mkpath(entry.target);
                m_copiedEntries += copied ? 1 : 0;
            }
        }
        if (!copied)
            errors.append(KafkaError(KafkaErrorCode::FileCopyError,
                tr("Failed to copy Protocol Buffers schemas from '%1' to '%2'").arg(source, target)));
        rewritten.append(QStringLiteral("%1/%2").arg(m_newStem, cleaned));
    }
    return rewritten;
}

void ConfigImportCopier::removeExtraDir() const
{
    QDir(extraDir()).removeRecursively();
}

bool ConfigImportCopier::isInsideSource(const QString& resolved) const
{
    return !m_resolvedSourceDir.isEmpty() && isSameOrInside(resolved, m_resolvedSourceDir);
}

QString ConfigImportCopier::leadsOutside(const QString& path, const QString& resolved) const
{
    return tr("'%1' leads through a symbolic link to '%2', outside the directory '%3' of the configuration file")
        .arg(path, resolved, m_sourceDir);
}

QString ConfigImportCopier::overBudget(qsizetype entries, qint64 bytes) const
{
    if (m_copiedEntries + entries > MaxCopiedEntries)
        return tr("one imported configuration copies at most %1 files and directories").arg(MaxCopiedEntries);
    if (m_copiedBytes + bytes > MaxCopiedBytes)
        return tr("one imported configuration copies at most %1 bytes").arg(MaxCopiedBytes);
    return QString();
}

// Walks the tree at `path` (as joined from the source directory, for messages)
// by resolved paths: subdirectories of each level before its files, hidden
// entries left out, links back into the tree being walked skipped. The walk
// stops at the first entry that leads outside or goes over the budget; its
// depth is bounded by the longest path the system resolves.
bool ConfigImportCopier::planDirectory(const QString& path, const QString& target, QStringList& ancestors, Plan& plan) const
{
    const QString resolved = QFileInfo(path).canonicalFilePath();
    if (resolved.isEmpty() || !QFileInfo(resolved).isDir()) {
        plan.failed = true;
        return false;
    }
    if (!isInsideSource(resolved)) {
        plan.refusal = leadsOutside(path, resolved);
        return false;
    }
    if (!planEntry(Entry { resolved, target, -1 }, plan))
        return false;

    ancestors.append(resolved);
    bool planned = true;
    for (QDirIterator it(resolved, QDir::Dirs | QDir::NoDotAndDotDot); planned && it.hasNext();) {
        it.next();
        if (ancestors.contains(it.fileInfo().canonicalFilePath()))
            continue;
        planned = planDirectory(path + '/' + it.fileName(), target + '/' + it.fileName(), ancestors, plan);
    }
    for (QDirIterator it(resolved, QDir::Files); planned && it.hasNext();) {
        it.next();
        const QString resolvedFile = it.fileInfo().canonicalFilePath();
        if (resolvedFile.isEmpty()) {
            plan.failed = true;
            planned = false;
        } else if (!isInsideSource(resolvedFile)) {
            plan.refusal = leadsOutside(path + '/' + it.fileName(), resolvedFile);
            planned = false;
        } else {
            planned = planEntry(Entry { resolvedFile, target + '/' + it.fileName(), QFileInfo(resolvedFile).size() }, plan);
        }
    }
    ancestors.removeLast();
    return planned;
}

bool ConfigImportCopier::planEntry(Entry entry, Plan& plan) const
{
    plan.bytes += std::max<qint64>(entry.size, 0);
    plan.entries.append(std::move(entry));
    plan.refusal = overBudget(plan.entries.size(), plan.bytes);
    return plan.refusal.isEmpty();
}

// Reads at most `maxSize` bytes without ever blocking and writes them to a new
// file with the source's permissions (a key stays private); an existing target
// is not overwritten and a partly written one is removed.
ConfigImportCopier::Copied ConfigImportCopier::copyRegularFile(const QString& source, const QString& target, qint64 maxSize)
{
    // Schema directories named twice or one inside another, and a certificate
    // inside a schema directory, lead to the same file: it is copied once.
    const QString copy = QDir::cleanPath(target);
    if (m_copiedFiles.contains(copy))
        return Copied::Done;
    const Result<QByteArray, RegularFile::Failure> content = RegularFile::read(source, maxSize);
    if (content.isError())
        return content.error().kind == RegularFile::Failure::Kind::TooLarge ? Copied::TooLarge : Copied::Failed;
    if (!QFileInfo(target).dir().mkpath(QStringLiteral(".")))
        return Copied::Failed;
    QFile file(target);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFile::permissions(source)))
        return Copied::Failed;
    const bool written = file.write(content.value()) == content.value().size() && file.flush();
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        file.remove();
        return Copied::Failed;
    }
    m_copiedFiles.insert(copy);
    m_copiedEntries += 1;
    m_copiedBytes += content.value().size();
    return Copied::Done;
}
