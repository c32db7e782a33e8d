#pragma once

#include "Result.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Protects byte strings with a secret key that belongs to the current user:
// a random 32-byte key in a file of its own, readable by the user alone.
// A protected blob is a version byte, a random nonce and the
// XChaCha20-Poly1305 ciphertext with its tag; the version byte is
// authenticated with it. The key is created on the first protect, atomically
// and safely across threads and processes, and is never overwritten.
// Unprotecting never creates it: a missing, unreadable or malformed key makes
// unprotect fail. Failures are texts that say what is wrong, naming the key
// file where it is concerned, written to follow "because" or "as" in a
// sentence (they start in lower case and have no final stop). Holds no
// mutable state; callable from any thread.
class UserDataProtector {
public:
    explicit UserDataProtector(QString keyFilePath);

    // "password.key" in the application's data directory; empty when the
    // platform names no such directory.
    static QString defaultKeyFilePath();

    const QString& keyFilePath() const { return m_keyFilePath; }

    // The protected blob; fails when no key can be read or created.
    Result<QByteArray, QString> protect(const QByteArray& data) const;

    // The original bytes; fails when the blob is damaged, was protected under
    // another key, or the key is missing or unusable.
    Result<QByteArray, QString> unprotect(const QByteArray& blob) const;

private:
    // Why nothing can be protected at all, if so.
    std::optional<QString> unusableSetup() const;

    QString m_keyFilePath;
};
