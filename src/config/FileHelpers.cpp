#include "FileHelpers.h"

#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace {

// The canonical form of a path that need not exist yet: its longest existing
// ancestor resolved (symbolic links included), the rest appended.
QString resolvedPath(const QString& path)
{
    QString existing = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QStringList rest;
    while (!QFileInfo::exists(existing)) {
        const QString parent = QFileInfo(existing).path();
        if (parent == existing)
            break;
        rest.prepend(QFileInfo(existing).fileName());
        existing = parent;
    }
    const QString canonical = QFileInfo(existing).canonicalFilePath();
    QString resolved = canonical.isEmpty() ? existing : canonical;
    for (const QString& name : rest)
        resolved = resolved.endsWith('/') ? resolved + name : resolved + '/' + name;
    return resolved;
}

// The path with "." and ".." applied where the system applies them when it
// opens the path: ".." after a symbolic link leads to the parent of the link's
// target, not back to the directory holding the link. Every other part, links
// included, stays as written. A relative path is taken from the current
// directory. A part that does not resolve (missing, or a link loop) is stepped
// back over as written: the system refuses such a path, and a tail that does
// not exist yet is most likely meant that way.
QString withParentsApplied(const QString& path)
{
    if (path.isEmpty())
        return path;
    QString walked = QDir::isRelativePath(path) ? QDir::currentPath() : QStringLiteral("/");
    for (const QString& part : path.split('/', Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            const QFileInfo last(walked);
            const QString target = last.isSymLink() ? last.canonicalFilePath() : QString();
            walked = QFileInfo(target.isEmpty() ? walked : target).path();
            continue;
        }
        walked = walked.endsWith('/') ? walked + part : walked + '/' + part;
    }
    return walked;
}

// `ancestors` holds the canonical paths of the source directories being copied
// on the way down; a subdirectory that resolves to one of them is a link back
// into the tree and is skipped.
bool copyTree(const QString& source, const QString& destination, QStringList& ancestors)
{
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.isDir())
        return false;
    const QString canonicalSource = sourceInfo.canonicalFilePath();
    if (isSameOrInside(resolvedPath(destination), canonicalSource))
        return false;
    if (!QDir().mkpath(destination))
        return false;

    ancestors.append(canonicalSource);
    const QString separator = QDir::separator();
    const QDir sourceDir(source);
    bool copied = true;
    for (const QString& name : sourceDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted)) {
        const QString path = source + separator + name;
        if (ancestors.contains(QFileInfo(path).canonicalFilePath()))
            continue;
        if (!copyTree(path, destination + separator + name, ancestors)) {
            copied = false;
            break;
        }
    }
    if (copied) {
        for (const QString& name : sourceDir.entryList(QDir::Files, QDir::Unsorted)) {
            if (!QFile::copy(source + separator + name, destination + separator + name)) {
                copied = false;
                break;
            }
        }
    }
    ancestors.removeLast();
    return copied;
}

} // namespace

QString cleanupRelativePath(const QString& path)
{
    return path.startsWith("./") ? path.mid(2) : path;
}

QString resolveClusterPath(const QString& stored)
{
    if (QDir::isRelativePath(stored))
        return QStringLiteral("%1/%2").arg(Settings::clustersDir(), cleanupRelativePath(stored));
    return stored;
}

bool isSameOrInside(const QString& path, const QString& directory)
{
    return path == directory || path.startsWith(directory.endsWith('/') ? directory : directory + '/');
}

std::optional<QString> pathWithin(const QString& path, const QString& directory)
{
    const QString cleanedDirectory = withParentsApplied(directory);
    const QString cleanedPath = withParentsApplied(path);
    if (isSameOrInside(cleanedPath, cleanedDirectory))
        return QDir(cleanedDirectory).relativeFilePath(cleanedPath);
    const QString resolvedDirectory = QFileInfo(cleanedDirectory).canonicalFilePath();
    if (resolvedDirectory.isEmpty())
        return std::nullopt;

    // One step per part of the path, from the whole path back to the root.
    QString rest;
    for (QString part = cleanedPath;;) {
        const QString resolved = QFileInfo(part).canonicalFilePath();
        if (!resolved.isEmpty() && isSameOrInside(resolved, resolvedDirectory))
            return QDir::cleanPath(QDir(resolvedDirectory).relativeFilePath(resolved) + rest);
        const QString parent = QFileInfo(part).path();
        if (parent == part)
            return std::nullopt;
        rest.prepend('/' + QFileInfo(part).fileName());
        part = parent;
    }
}

bool copyFile(const QString& source, const QString& destination)
{
    if (!QFileInfo(source).isFile())
        return false;
    if (!QFileInfo(destination).dir().mkpath("."))
        return false;
    return QFile::copy(source, destination);
}

bool copyPath(const QString& source, const QString& destination)
{
    QStringList ancestors;
    return copyTree(source, destination, ancestors);
}
