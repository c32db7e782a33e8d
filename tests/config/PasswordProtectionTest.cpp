#include "PasswordProtection.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString decryptFailure = QStringLiteral("Unable to decrypt password as DPAPI returned an error");
const QString encryptFailure = QStringLiteral("Unable to encrypt password as DPAPI returned an error");

// Arbitrary bytes in the shape of a Windows data protection blob.
const QString windowsStored = QString::fromLatin1(
    QByteArray::fromHex("01000000d08c9ddf0115d1118c7a00c04fc297eb0100000011223344556677889900aabbccddeeff")
        .toBase64());

QString protect(const QString& password)
{
    Result<QString, Error<KafkaErrorCode>> stored = encryptWithDPApi(password);
    return stored.isError() ? QString() : stored.value();
}

} // namespace

class PasswordProtectionTest : public QObject {
    Q_OBJECT

    TestHome m_home;

    void useDataHome(const QString& path) { qputenv("XDG_DATA_HOME", QFile::encodeName(path)); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.setUp());
    }

    void init() { useDataHome(m_home.filePath("data")); }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("empty") << QString();
        QTest::newRow("ascii") << QStringLiteral("hunter2");
        QTest::newRow("non-ascii") << QStringLiteral("Grüße, Ωμέγα, 🔑");
        QTest::newRow("long") << QString(5000, QChar(u'é'));
    }

    void roundTrip()
    {
        QFETCH(QString, password);
        const Result<QString, Error<KafkaErrorCode>> stored = encryptWithDPApi(password);
        QVERIFY(!stored.isError());
        static const QRegularExpression base64(QStringLiteral("^(?:[A-Za-z0-9+/]{4})+(?:[A-Za-z0-9+/]{2}==|[A-Za-z0-9+/]{3}=)?$"));
        QVERIFY2(base64.match(stored.value()).hasMatch(), qPrintable(stored.value()));
        if (!password.isEmpty())
            QVERIFY(!stored.value().contains(password));

        const Result<QString, Error<KafkaErrorCode>> back = decryptWithDPApi(stored.value());
        QVERIFY(!back.isError());
        QCOMPARE(back.value(), password);
        QVERIFY(QFileInfo(m_home.filePath("data/skelvane/password.key")).isFile());
    }

    void storedTextsDiffer()
    {
        const QString first = protect("secret");
        const QString second = protect("secret");
        QVERIFY(!first.isEmpty() && first != second);
        QCOMPARE(decryptWithDPApi(first).value(), QStringLiteral("secret"));
        QCOMPARE(decryptWithDPApi(second).value(), QStringLiteral("secret"));
    }

    void charactersOutsideBase64AreSkipped()
    {
        const QString stored = protect("secret");
        QString noisy = stored;
        noisy.insert(8, QStringLiteral("\n"));
        noisy.insert(3, QStringLiteral(" *\r\n"));
        const Result<QString, Error<KafkaErrorCode>> back = decryptWithDPApi(noisy);
        QVERIFY(!back.isError());
        QCOMPARE(back.value(), QStringLiteral("secret"));
    }

    void decryptFails_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("otherKey");
        useDataHome(m_home.filePath("data"));
        const QString stored = protect("secret");
        QByteArray flipped = QByteArray::fromBase64(stored.toLatin1());
        flipped[30] = static_cast<char>(flipped[30] ^ 0x80);

        QTest::newRow("another key") << stored << true;
        QTest::newRow("flipped byte") << QString::fromLatin1(flipped.toBase64()) << false;
        QTest::newRow("windows blob") << windowsStored << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("not base64") << QStringLiteral("!!!") << false;
    }

    void decryptFails()
    {
        QFETCH(QString, stored);
        QFETCH(bool, otherKey);
        QTemporaryDir other;
        if (otherKey) {
            useDataHome(other.path());
            QVERIFY(!protect("x").isEmpty());
        }
        const Result<QString, Error<KafkaErrorCode>> result = decryptWithDPApi(stored);
        QVERIFY(result.isError());
        QCOMPARE(result.error().code, KafkaErrorCode::DpapiError);
        QCOMPARE(result.error().message, decryptFailure);
        QVERIFY(result.error().causes.isEmpty());
    }

    // Without a key nothing can be unprotected, and unprotecting never
    // creates one.
    void decryptWithoutKeyFails()
    {
        const QString stored = protect("secret");
        QTemporaryDir fresh;
        useDataHome(fresh.path());
        const Result<QString, Error<KafkaErrorCode>> result = decryptWithDPApi(stored);
        QVERIFY(result.isError());
        QCOMPARE(result.error().message, decryptFailure);
        QVERIFY(QDir(fresh.path()).isEmpty());
    }

    void encryptFailsWithoutKeyLocation()
    {
        QTemporaryDir other;
        QFile blocker(other.filePath("file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        useDataHome(blocker.fileName());
        const Result<QString, Error<KafkaErrorCode>> result = encryptWithDPApi("secret");
        QVERIFY(result.isError());
        QCOMPARE(result.error().code, KafkaErrorCode::DpapiError);
        QCOMPARE(result.error().message, encryptFailure);
        QVERIFY(result.error().causes.isEmpty());
    }
};

QTEST_GUILESS_MAIN(PasswordProtectionTest)

#include "PasswordProtectionTest.moc"
