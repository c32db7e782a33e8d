#pragma once

#include "Result.h"
#include "SystemError.h"

#include <QByteArray>
#include <QString>

// Reads small files that the user hands over (configuration and settings
// files) without ever blocking: the file is opened without waiting and checked
// on the open descriptor, so that a FIFO, device or directory in its place is
// refused instead of waited on, and no more than a limit is read.
class RegularFile {
public:
    struct Failure {
        enum class Kind { Open, NotRegular, TooLarge, Read };
        Kind kind = Kind::Open;
        SystemError system; // for Open and Read
    };

    // The whole content of the regular file at `path`, at most `maxSize` bytes;
    // TooLarge when it holds more (also when it grows while being read).
    static Result<QByteArray, Failure> read(const QString& path, qint64 maxSize);
};
