#include "UserDataProtector.h"

#include "FileDescriptor.h"

#include "SystemError.h"

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

QString keyFileText(const QByteArray& path)
{
    return QStringLiteral("the password key file '%1'").arg(QFile::decodeName(path));
}

QString withSystemText(const QString& text, int errorNumber)
{
    return QStringLiteral("%1 (%2)").arg(text, SystemError::fromErrno(errorNumber).text);
}

enum class KeyState { Read, Missing, Unusable };

// Reads the key; for a key that is missing or unusable, `problem` says why.
// The descriptor is opened without waiting, so that a FIFO in the key's place
// is refused instead of waited on.
KeyState readKey(const QByteArray& path, SecretKey& key, QString& problem)
{
    FileDescriptor file(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!file.valid()) {
        const int error = errno;
        // Not a directory: a file stands where a directory of the path
        // should be, so there is no key (and creating one will say why).
        if (error == ENOENT || error == ENOTDIR) {
            problem = keyFileText(path) + QStringLiteral(" does not exist");
            return KeyState::Missing;
        }
        problem = withSystemText(keyFileText(path) + QStringLiteral(" cannot be read"), error);
        return KeyState::Unusable;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        problem = withSystemText(keyFileText(path) + QStringLiteral(" cannot be read"), errno);
        return KeyState::Unusable;
    }
    if (S_ISDIR(status.st_mode)) {
        problem = keyFileText(path) + QStringLiteral(" is a directory");
        return KeyState::Unusable;
    }
    if (!S_ISREG(status.st_mode)) {
        problem = keyFileText(path) + QStringLiteral(" is not a regular file");
        return KeyState::Unusable;
    }
    if (status.st_size != static_cast<off_t>(KeySize)) {
        problem = keyFileText(path) + QStringLiteral(" holds %1 bytes instead of %2").arg(QString::number(status.st_size), QString::number(KeySize));
        return KeyState::Unusable;
    }
    if (!readFully(file.get(), key.bytes.data(), key.bytes.size())) {
        problem = withSystemText(keyFileText(path) + QStringLiteral(" cannot be read"), errno);
        return KeyState::Unusable;
    }
    return KeyState::Read;
}

bool isDirectory(const QByteArray& path)
{
    struct stat status {};
    return ::stat(path.constData(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Creates a directory with its missing parents (those with the usual mode,
// the directory itself with `mode`). On failure errno says why.
bool makeDirectory(const QByteArray& path, mode_t mode)
{
    if (::mkdir(path.constData(), mode) == 0)
        return true;
    if (errno == ENOENT) {
        const qsizetype slash = path.lastIndexOf('/');
        if (slash <= 0 || !makeDirectory(path.left(slash), 0777))
            return false;
        if (::mkdir(path.constData(), mode) == 0)
            return true;
    }
    if (errno != EEXIST)
        return false;
    if (isDirectory(path))
        return true;
    errno = ENOTDIR;
    return false;
}

// Makes a new directory entry durable; a failure leaves the key usable.
void syncDirectory(const QString& directory)
{
    FileDescriptor handle(::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (handle.valid())
        ::fsync(handle.get());
}

// Writes a fresh key to a private temporary file and links it to its final
// name, so that no reader ever sees a partial key. When another thread or
// process linked its key first, that key is used. On failure `problem` says why.
bool createKey(const QString& keyFilePath, SecretKey& key, QString& problem)
{
    const QByteArray finalPath = QFile::encodeName(keyFilePath);
    const auto fail = [&](int error) {
        problem = withSystemText(keyFileText(finalPath) + QStringLiteral(" cannot be created"), error);
        return false;
    };

    // The key's directory is private to the user.
    const QString directory = QFileInfo(keyFilePath).absolutePath();
    if (!makeDirectory(QFile::encodeName(directory), 0700))
        return fail(errno);

    QByteArray temporaryPath = finalPath + ".XXXXXX";
    FileDescriptor file(::mkostemp(temporaryPath.data(), O_CLOEXEC));
    if (!file.valid())
        return fail(errno);
    const RemoveOnExit temporary(temporaryPath);

    randombytes_buf(key.bytes.data(), key.bytes.size());
    if (::fchmod(file.get(), 0600) != 0 || !writeFully(file.get(), key.bytes.data(), key.bytes.size())
        || ::fsync(file.get()) != 0 || !file.close())
        return fail(errno);

    if (::link(temporaryPath.constData(), finalPath.constData()) == 0) {
        syncDirectory(directory);
        return true;
    }
    if (errno == EEXIST)
        return readKey(finalPath, key, problem) == KeyState::Read;
    return fail(errno);
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

Result<QByteArray, QString> UserDataProtector::protect(const QByteArray& data) const
{
    if (const std::optional<QString> problem = unusableSetup())
        return *problem;

    SecretKey key;
    QString problem;
    switch (readKey(QFile::encodeName(m_keyFilePath), key, problem)) {
    case KeyState::Read:
        break;
    case KeyState::Missing:
        if (!createKey(m_keyFilePath, key, problem))
            return problem;
        break;
    case KeyState::Unusable:
        return problem;
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

Result<QByteArray, QString> UserDataProtector::unprotect(const QByteArray& blob) const
{
    if (const std::optional<QString> problem = unusableSetup())
        return *problem;

    SecretKey key;
    QString problem;
    if (readKey(QFile::encodeName(m_keyFilePath), key, problem) != KeyState::Read)
        return problem;

    const QString mismatch = QStringLiteral("the stored password was protected with another key than the one in '%1', or it is damaged")
                                 .arg(m_keyFilePath);
    if (blob.size() < HeaderSize + static_cast<qsizetype>(TagSize) || static_cast<unsigned char>(blob.at(0)) != BlobVersion)
        return mismatch;
    const auto* bytes = reinterpret_cast<const unsigned char*>(blob.constData());
    QByteArray data(blob.size() - HeaderSize - static_cast<qsizetype>(TagSize), Qt::Uninitialized);
    unsigned long long dataSize = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(reinterpret_cast<unsigned char*>(data.data()), &dataSize,
            nullptr, bytes + HeaderSize, static_cast<unsigned long long>(blob.size() - HeaderSize), bytes, 1,
            bytes + 1, key.bytes.data())
        != 0)
        return mismatch;
    return data;
}

std::optional<QString> UserDataProtector::unusableSetup() const
{
    if (!sodiumReady())
        return QStringLiteral("the cryptography library cannot be initialised");
    if (m_keyFilePath.isEmpty())
        return QStringLiteral("the system names no data directory for the password key file");
    return std::nullopt;
}
