#include "UserDataProtector.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sodium.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <utility>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr unsigned char BlobVersion = 1;
constexpr std::size_t KeySize = crypto_aead_xchacha20poly1305_ietf_KEYBYTES;
constexpr std::size_t NonceSize = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr std::size_t TagSize = crypto_aead_xchacha20poly1305_ietf_ABYTES;
constexpr qsizetype HeaderSize = 1 + NonceSize;

static_assert(KeySize == 32);

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

// Key bytes that are wiped when they go out of scope.
struct SecretKey {
    std::array<unsigned char, KeySize> bytes {};

    SecretKey() = default;
    SecretKey(const SecretKey&) = delete;
    SecretKey& operator=(const SecretKey&) = delete;
    ~SecretKey() { sodium_memzero(bytes.data(), bytes.size()); }
};

// An owned file descriptor; close() reports whether closing succeeded.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) { }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

    bool close()
    {
        const int result = ::close(std::exchange(m_fd, -1));
        return result == 0;
    }

private:
    int m_fd;
};

// Removes a file when it goes out of scope.
class RemoveOnExit {
public:
    explicit RemoveOnExit(QByteArray path) : m_path(std::move(path)) { }
    RemoveOnExit(const RemoveOnExit&) = delete;
    RemoveOnExit& operator=(const RemoveOnExit&) = delete;
    ~RemoveOnExit() { ::unlink(m_path.constData()); }

private:
    QByteArray m_path;
};

bool readFully(int fd, unsigned char* destination, std::size_t size)
{
    while (size > 0) {
        const ssize_t count = ::read(fd, destination, size);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        destination += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

bool writeFully(int fd, const unsigned char* source, std::size_t size)
{
    while (size > 0) {
        const ssize_t count = ::write(fd, source, size);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        source += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

enum class KeyState { Read, Missing, Unusable };

KeyState readKey(const QByteArray& path, SecretKey& key)
{
    Descriptor file(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!file.valid())
        return errno == ENOENT ? KeyState::Missing : KeyState::Unusable;
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)
        || status.st_size != static_cast<off_t>(KeySize))
        return KeyState::Unusable;
    return readFully(file.get(), key.bytes.data(), key.bytes.size()) ? KeyState::Read : KeyState::Unusable;
}

// Creates the key's directory, private to the user, when it does not exist.
bool ensureDirectory(const QString& directory)
{
    if (QFileInfo(directory).isDir())
        return true;
    if (!QDir().mkpath(QFileInfo(directory).path()))
        return false;
    if (::mkdir(QFile::encodeName(directory).constData(), 0700) == 0)
        return true;
    return errno == EEXIST && QFileInfo(directory).isDir();
}

// Makes a new directory entry durable; a failure leaves the key usable.
void syncDirectory(const QString& directory)
{
    Descriptor handle(::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (handle.valid())
        ::fsync(handle.get());
}

// Writes a fresh key to a private temporary file and links it to its final
// name, so that no reader ever sees a partial key. When another thread or
// process linked its key first, that key is used.
bool createKey(const QString& keyFilePath, SecretKey& key)
{
    const QString directory = QFileInfo(keyFilePath).absolutePath();
    if (!ensureDirectory(directory))
        return false;

    const QByteArray finalPath = QFile::encodeName(keyFilePath);
    QByteArray temporaryPath = finalPath + ".XXXXXX";
    Descriptor file(::mkostemp(temporaryPath.data(), O_CLOEXEC));
    if (!file.valid())
        return false;
    const RemoveOnExit temporary(temporaryPath);

    randombytes_buf(key.bytes.data(), key.bytes.size());
    if (::fchmod(file.get(), 0600) != 0 || !writeFully(file.get(), key.bytes.data(), key.bytes.size())
        || ::fsync(file.get()) != 0 || !file.close())
        return false;

    if (::link(temporaryPath.constData(), finalPath.constData()) == 0) {
        syncDirectory(directory);
        return true;
    }
    if (errno == EEXIST)
        return readKey(finalPath, key) == KeyState::Read;
    return false;
}

} // namespace

UserDataProtector::UserDataProtector(QString keyFilePath) : m_keyFilePath(std::move(keyFilePath)) { }

QString UserDataProtector::defaultKeyFilePath()
{
    const QString directory = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (directory.isEmpty())
        return QString();
    return QDir(directory).absoluteFilePath(QStringLiteral("password.key"));
}

std::optional<QByteArray> UserDataProtector::protect(const QByteArray& data) const
{
    if (!sodiumReady() || m_keyFilePath.isEmpty())
        return std::nullopt;

    SecretKey key;
    switch (readKey(QFile::encodeName(m_keyFilePath), key)) {
    case KeyState::Read:
        break;
    case KeyState::Missing:
        if (!createKey(m_keyFilePath, key))
            return std::nullopt;
        break;
    case KeyState::Unusable:
        return std::nullopt;
    }

    QByteArray blob(HeaderSize + data.size() + static_cast<qsizetype>(TagSize), Qt::Uninitialized);
    auto* bytes = reinterpret_cast<unsigned char*>(blob.data());
    bytes[0] = BlobVersion;
    randombytes_buf(bytes + 1, NonceSize);
    unsigned long long cipherSize = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(bytes + HeaderSize, &cipherSize,
        reinterpret_cast<const unsigned char*>(data.constData()), static_cast<unsigned long long>(data.size()),
        bytes, 1, nullptr, bytes + 1, key.bytes.data());
    return blob;
}

std::optional<QByteArray> UserDataProtector::unprotect(const QByteArray& blob) const
{
    if (!sodiumReady() || m_keyFilePath.isEmpty())
        return std::nullopt;
    if (blob.size() < HeaderSize + static_cast<qsizetype>(TagSize)
        || static_cast<unsigned char>(blob.at(0)) != BlobVersion)
        return std::nullopt;

    SecretKey key;
    if (readKey(QFile::encodeName(m_keyFilePath), key) != KeyState::Read)
        return std::nullopt;

    const auto* bytes = reinterpret_cast<const unsigned char*>(blob.constData());
    QByteArray data(blob.size() - HeaderSize - static_cast<qsizetype>(TagSize), Qt::Uninitialized);
    unsigned long long dataSize = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(reinterpret_cast<unsigned char*>(data.data()), &dataSize,
            nullptr, bytes + HeaderSize, static_cast<unsigned long long>(blob.size() - HeaderSize), bytes, 1,
            bytes + 1, key.bytes.data())
        != 0)
        return std::nullopt;
    return data;
}
