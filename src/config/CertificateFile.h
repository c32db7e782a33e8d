#pragma once

#include "RegularFile.h"
#include "Result.h"

#include <QByteArray>
#include <QString>

// The certificate and key files that a cluster configuration names. Whoever
// wrote the configuration chose the paths, so a read never waits (a FIFO or
// device in a file's place is refused at once, as is a directory) and never
// holds more than a certificate or key can need. The connection, the
// editor's check and the copies made for an imported configuration all read
// them within this limit.
class CertificateFile {
public:
    // Certificates and keys are a few kilobytes; a bundle of every public CA
    // is about 200 KB. A larger file is not a certificate or key.
    static constexpr qint64 MaxSize = 1024 * 1024;

    struct Failure {
        RegularFile::Failure::Kind kind = RegularFile::Failure::Kind::Open;
        QString reason; // why, in words; the caller names the file
    };

    // Why a file larger than MaxSize is refused, in words.
    static QString tooLarge();

    // The whole content of the regular file at `path`.
    static Result<QByteArray, Failure> read(const QString& path);
};
