#include "PasswordProtection.h"
#include "TestHome.h"

#include <QRegularExpression>
#include <QTest>

#include <latch>
#include <thread>
#include <vector>

#include <sys/stat.h>

namespace {

enum KeySetup { OwnKey, OtherKey, NoKey, ShortKey };

QString outcome(const Result<QString, KafkaError>& result)
{
    return result.isError() ? describe({ result.error() }).join('\n') : "ok: " + result.value();
}

QString protect(const QString& password)
{
    const Result<QString, KafkaError> stored = encryptWithDPApi(password);
    return stored.isError() ? QString() : stored.value();
}

unsigned modeOf(const QString& path)
{
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

void useDataHome(const QString& path) { qputenv("XDG_DATA_HOME", QFile::encodeName(path)); }

} // namespace

class PasswordProtectionTest : public QObject {
    Q_OBJECT

    TestHome m_home;

private slots:
    void initTestCase() { QVERIFY(m_home.setUp()); }
    void init() { useDataHome(m_home.filePath("data")); }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("empty") << QString();
        QTest::newRow("non-ascii") << QStringLiteral("Grüße, Ωμέγα, 🔑");
        QTest::newRow("long") << QString(5000, QChar(u'é'));
    }

    // Two blobs of one password differ and both unprotect, also with
    // characters outside the Base64 alphabet in between.
    void roundTrip()
    {
        QFETCH(QString, password);
        const QString first = protect(password);
        QString second = protect(password);
        static const QRegularExpression base64(QStringLiteral("^(?:[A-Za-z0-9+/]{4})+(?:[A-Za-z0-9+/]{2}==|[A-Za-z0-9+/]{3}=)?$"));
        QVERIFY2(base64.match(first).hasMatch(), qPrintable(first));
        QVERIFY(first != second && (password.isEmpty() || !first.contains(password)));
        second.insert(8, QStringLiteral(" *\r\n"));
        QCOMPARE(outcome(decryptWithDPApi(first)), "ok: " + password);
        QCOMPARE(outcome(decryptWithDPApi(second)), "ok: " + password);
    }

    void decryptFails_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("cause"); // %1: the key file
        useDataHome(m_home.filePath("data"));
        const QString stored = protect("secret");
        QByteArray flipped = QByteArray::fromBase64(stored.toLatin1());
        flipped[30] = static_cast<char>(flipped[30] ^ 0x80);
        const QByteArray windows = QByteArray::fromHex("01000000d08c9ddf0115d1118c7a00c04fc297eb0100000011223344556677889900aabbccddeeff");
        const QString otherKey = "The stored password was protected with another key than the one in '%1', or it is damaged";
        QTest::newRow("flipped byte") << QString::fromLatin1(flipped.toBase64()) << int(OwnKey) << otherKey;
        QTest::newRow("windows blob") << QString::fromLatin1(windows.toBase64()) << int(OwnKey) << otherKey;
        QTest::newRow("another key") << stored << int(OtherKey) << otherKey;
        QTest::newRow("no key") << stored << int(NoKey) << "The password key file '%1' does not exist";
        QTest::newRow("key of 31 bytes") << stored << int(ShortKey) << "The password key file '%1' holds 31 bytes instead of 32";
    }

    // Unprotecting never creates a key, and an unusable key is never replaced;
    // the cause names the key file and what is wrong.
    void decryptFails()
    {
        QFETCH(QString, stored);
        QFETCH(int, key);
        QFETCH(QString, cause);
        QTemporaryDir other;
        const QString keyFile = (key == OwnKey ? m_home.filePath("data") : other.path()) + "/skelvane/password.key";
        if (key != OwnKey)
            useDataHome(other.path());
        if (key == OtherKey)
            QVERIFY(!protect("x").isEmpty());
        if (key == ShortKey)
            QVERIFY(writeFile(keyFile, QByteArray(31, 'k')));
        const QByteArray keyBefore = readFile(keyFile);
        const QString detail = "\n <- 57 " + cause.arg(keyFile);
        QCOMPARE(outcome(decryptWithDPApi(stored)), "57 Unable to decrypt password as DPAPI returned an error" + detail);
        if (key == ShortKey)
            QCOMPARE(outcome(encryptWithDPApi("x")), "57 Unable to encrypt password as DPAPI returned an error" + detail);
        QCOMPARE(readFile(keyFile), keyBefore);
    }

    // Threads racing to create the key agree on one private key file, which no
    // later protection changes; no temporary file is left behind.
    void concurrentKeyCreation()
    {
        constexpr std::size_t threadCount = 8;
        for (int round = 0; round < 10; ++round) {
            QTemporaryDir fresh;
            useDataHome(fresh.path());
            const QString keyDir = fresh.filePath("skelvane");
            std::vector<QString> stored(threadCount);
            std::latch start(threadCount);
            {
                std::vector<std::jthread> threads;
                for (std::size_t i = 0; i < threadCount; ++i)
                    threads.emplace_back([&, i] { start.arrive_and_wait(); stored[i] = protect(QString::number(i)); });
            }
            QCOMPARE(QDir(keyDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList { "password.key" });
            QCOMPARE(modeOf(keyDir + "/password.key"), 0600u);
            QCOMPARE(modeOf(keyDir), 0700u);
            const QByteArray key = readFile(keyDir + "/password.key");
            QCOMPARE(key.size(), 32);
            for (std::size_t i = 0; i < threadCount; ++i)
                QCOMPARE(outcome(decryptWithDPApi(stored[i])), "ok: " + QString::number(i));
            QVERIFY(!protect("again").isEmpty());
            QCOMPARE(readFile(keyDir + "/password.key"), key);
        }
    }
};

QTEST_GUILESS_MAIN(PasswordProtectionTest)
#include "PasswordProtectionTest.moc"
