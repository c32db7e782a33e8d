#include "RegularFile.h"

#include "FileDescriptor.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

RegularFile::Failure failure(RegularFile::Failure::Kind kind, int errorNumber = 0)
{
    return RegularFile::Failure { kind, errorNumber != 0 ? SystemError::fromErrno(errorNumber) : SystemError() };
}

} // namespace

Result<QByteArray, RegularFile::Failure> RegularFile::read(const QString& path, qint64 maxSize)
{
    // O_NONBLOCK: opening a FIFO without a writer returns at once; the kind of
    // file is then checked on this very descriptor.
    const FileDescriptor file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0)
        return failure(Failure::Kind::Open, errno);
    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        return failure(Failure::Kind::Open, errno);
    if (!S_ISREG(status.st_mode))
        return failure(Failure::Kind::NotRegular);
    if (status.st_size > maxSize)
        return failure(Failure::Kind::TooLarge);

    // Room for one byte more than the file's size tells whether it grew while
    // being read; it may grow up to one byte past the limit, which tells a file
    // that grew too large.
    QByteArray content(static_cast<qsizetype>(status.st_size) + 1, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        if (total == content.size()) {
            if (content.size() > maxSize)
                break;
            content.resize(maxSize + 1);
        }
        const ssize_t count = ::read(file.get(), content.data() + total, static_cast<size_t>(content.size() - total));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return failure(Failure::Kind::Read, errno);
        if (count == 0)
            break;
        total += count;
    }
    if (total > maxSize)
        return failure(Failure::Kind::TooLarge);
    content.truncate(total);
    return content;
}
