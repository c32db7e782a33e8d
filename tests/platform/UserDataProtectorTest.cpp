#include "UserDataProtector.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <latch>
#include <optional>
#include <thread>
#include <vector>

#include <sys/stat.h>

namespace {

// The start of a blob written by the Windows data protection API.
const QByteArray windowsBlob = QByteArray::fromHex("01000000d08c9ddf0115d1118c7a00c04fc297eb"
                                                   "01000000a1b2c3d4e5f60718293a4b5c6d7e8f90");

unsigned modeOf(const QString& path)
{
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return 0;
    return status.st_mode & 07777;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class UserDataProtectorTest : public QObject {
    Q_OBJECT

private:
    QString keyPath(const QTemporaryDir& dir) const { return dir.filePath(QStringLiteral("keys/password.key")); }

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("nul bytes") << QByteArray("a\0b\0", 4);
        QTest::newRow("long") << QByteArray(100000, 'x');
    }

    void roundTrip()
    {
        QFETCH(QByteArray, data);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const UserDataProtector protector(keyPath(dir));

        const std::optional<QByteArray> blob = protector.protect(data);
        QVERIFY(blob.has_value());
        QVERIFY(data.size() < 4 || !blob->contains(data));
        const std::optional<QByteArray> back = protector.unprotect(*blob);
        QVERIFY(back.has_value());
        QCOMPARE(*back, data);
    }

    void unprotectRejects_data()
    {
        QTest::addColumn<int>("flippedByte"); // -1: none
        QTest::addColumn<QByteArray>("replacement"); // used when not empty
        QTest::addColumn<int>("truncateBy");
        QTest::newRow("version byte") << 0 << QByteArray() << 0;
        QTest::newRow("nonce") << 5 << QByteArray() << 0;
        QTest::newRow("ciphertext") << 26 << QByteArray() << 0;
        QTest::newRow("tag") << -2 << QByteArray() << 0;
        QTest::newRow("truncated") << -1 << QByteArray() << 1;
        QTest::newRow("header only") << -1 << QByteArray() << 22;
        QTest::newRow("windows blob") << -1 << windowsBlob << 0;
        QTest::newRow("one byte") << -1 << QByteArray(1, '\x01') << 0;
    }

    void unprotectRejects()
    {
        QFETCH(int, flippedByte);
        QFETCH(QByteArray, replacement);
        QFETCH(int, truncateBy);
        QTemporaryDir dir;
        const UserDataProtector protector(keyPath(dir));
        QByteArray blob = protector.protect("secret").value_or(QByteArray());
        QCOMPARE(blob.size(), 1 + 24 + 6 + 16);

        if (!replacement.isEmpty())
            blob = replacement;
        if (flippedByte != -1) {
            const qsizetype index = flippedByte >= 0 ? flippedByte : blob.size() + flippedByte;
            blob[index] = static_cast<char>(blob[index] ^ 0x01);
        }
        blob.chop(truncateBy);
        QVERIFY(!protector.unprotect(blob).has_value());
    }

    // The key lives in a private directory and file, is created only by
    // protect and never changes afterwards.
    void keyFileLifecycle()
    {
        QTemporaryDir dir;
        const QString path = keyPath(dir);
        const UserDataProtector protector(path);

        QVERIFY(!protector.unprotect(windowsBlob).has_value());
        QVERIFY(!QFileInfo::exists(QFileInfo(path).path()));

        const std::optional<QByteArray> blob = protector.protect("secret");
        QVERIFY(blob.has_value());
        const QByteArray key = readFile(path);
        QCOMPARE(key.size(), 32);
        QCOMPARE(modeOf(path), 0600u);
        QCOMPARE(modeOf(QFileInfo(path).path()), 0700u);
        QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden), QStringList { "password.key" });

        QVERIFY(protector.protect("again").has_value());
        QCOMPARE(readFile(path), key);
        QCOMPARE(UserDataProtector(path).unprotect(*blob).value_or("-"), QByteArray("secret"));
    }

    void unusableKeyIsNeverReplaced_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("31 bytes") << QByteArray(31, 'k');
        QTest::newRow("33 bytes") << QByteArray(33, 'k');
    }

    void unusableKeyIsNeverReplaced()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const UserDataProtector good(dir.filePath("good/password.key"));
        const QByteArray blob = good.protect("secret").value_or(QByteArray());

        const QString path = dir.filePath("password.key");
        QVERIFY(writeFile(path, content));
        const UserDataProtector protector(path);
        QVERIFY(!protector.unprotect(blob).has_value());
        QVERIFY(!protector.protect("secret").has_value());
        QCOMPARE(readFile(path), content);
    }

    void unreadableKeyOrDirectoryFails()
    {
        QTemporaryDir dir;
        // A directory in place of the key file cannot be read as a key.
        QVERIFY(QDir(dir.path()).mkdir("password.key"));
        const UserDataProtector directoryKey(dir.filePath("password.key"));
        QVERIFY(!directoryKey.protect("secret").has_value());

        // A file in place of the key's directory cannot hold it.
        QVERIFY(writeFile(dir.filePath("file"), "x"));
        QVERIFY(!UserDataProtector(dir.filePath("file/password.key")).protect("secret").has_value());
        QVERIFY(!UserDataProtector(QString()).protect("secret").has_value());
    }

    // Threads racing to create the key agree on one key, and no temporary
    // file is left behind.
    void concurrentKeyCreation()
    {
        constexpr int threadCount = 8;
        for (int round = 0; round < 10; ++round) {
            QTemporaryDir dir;
            const QString path = keyPath(dir);
            std::vector<std::optional<QByteArray>> blobs(threadCount);
            std::latch start(threadCount);
            std::vector<std::thread> threads;
            for (int i = 0; i < threadCount; ++i) {
                threads.emplace_back([&, i] {
                    start.arrive_and_wait();
                    blobs[static_cast<std::size_t>(i)]
                        = UserDataProtector(path).protect(QByteArray::number(i));
                });
            }
            for (std::thread& thread : threads)
                thread.join();

            QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                QStringList { "password.key" });
            QCOMPARE(modeOf(path), 0600u);
            const UserDataProtector protector(path);
            for (int i = 0; i < threadCount; ++i) {
                const std::optional<QByteArray>& blob = blobs[static_cast<std::size_t>(i)];
                QVERIFY(blob.has_value());
                QCOMPARE(protector.unprotect(*blob).value_or("-"), QByteArray::number(i));
            }
        }
    }
};

QTEST_GUILESS_MAIN(UserDataProtectorTest)

#include "UserDataProtectorTest.moc"
