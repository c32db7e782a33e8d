#include "AtomicReplace.h"

#include <QFileInfo>

#include <cerrno>
#include <cstdio>

#include <unistd.h>

Result<QString, SystemError> AtomicReplace::resolveTarget(const QString& path)
{
    constexpr int MaxLinks = 40; // as the system's own path resolution
    QString current = path;
    for (int links = 0; links <= MaxLinks; ++links) {
        const QFileInfo info(current);
        if (!info.isSymLink())
            return current;
        current = info.symLinkTarget();
    }
    return SystemError::fromErrno(ELOOP);
}

std::optional<SystemError> AtomicReplace::finishFile(std::FILE* stream)
{
    int error = 0;
    if (std::fflush(stream) != 0)
        error = errno;
    if (error == 0 && ::fsync(::fileno(stream)) != 0)
        error = errno;
    if (std::fclose(stream) != 0 && error == 0)
        error = errno;
    if (error != 0)
        return SystemError::fromErrno(error);
    return std::nullopt;
}

std::optional<SystemError> AtomicReplace::replaceFile(const QString& temporaryPath, const QString& targetPath)
{
    // rename(2) within one directory replaces the target in one step and
    // creates it when it does not exist yet.
    if (std::rename(temporaryPath.toUtf8().constData(), targetPath.toUtf8().constData()) != 0)
        return SystemError::fromErrno(errno);
    return std::nullopt;
}
