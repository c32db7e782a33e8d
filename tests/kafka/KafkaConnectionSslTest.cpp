// The TLS settings of a cluster turned into a socket configuration.
#include "KafkaConnection.h"
#include "Settings.h"
#include "TestTlsMaterial.h"

#include <QDir>
#include <QFile>
#include <QSslKey>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class KafkaConnectionSslTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString writeFile(const QString& name, const QByteArray& content)
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            return QString();
        return file.fileName();
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
        QVERIFY(!writeFile("ec.crt", TestEcCertificate).isEmpty());
        QVERIFY(!writeFile("ec.key", TestEcKey).isEmpty());
        QVERIFY(!writeFile("rsa.crt", TestRsaCertificate).isEmpty());
        QVERIFY(!writeFile("rsa.key", TestRsaKey).isEmpty());
        QVERIFY(!writeFile("garbage.pem", "not a PEM file\n").isEmpty());
        QVERIFY(QDir(m_dir.path()).mkdir("directory"));
    }

    void failures_data()
    {
        QTest::addColumn<QStringList>("caFiles");
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("passphrase");
        QTest::addColumn<QString>("message");

        const QString dir = m_dir.path() + "/";
        const QString unreadableCa = "Unable to read PEM encoded CA certificates from '%1'";
        const QString badKey
            = "Unable to load the client SSL key. Make sure it is PEM encoded and that the passphrase (if required) is "
              "correct.";
        QTest::newRow("CA file missing") << QStringList { dir + "ec.crt", dir + "none.pem" } << "" << "" << ""
                                         << unreadableCa.arg(dir + "none.pem");
        QTest::newRow("CA file not PEM") << QStringList { dir + "garbage.pem" } << "" << "" << ""
                                         << unreadableCa.arg(dir + "garbage.pem");
        QTest::newRow("relative CA path") << QStringList { "./certs/ca.pem" } << "" << "" << ""
                                          << unreadableCa.arg(Settings::clustersDir() + "/certs/ca.pem");
        QTest::newRow("certificate missing") << QStringList() << dir + "none.crt" << dir + "ec.key" << ""
                                             << "The client SSL certificate file does not exist";
        QTest::newRow("certificate unopenable") << QStringList() << dir + "directory" << dir + "ec.key" << ""
                                                << "Unable to open the client SSL certificate file";
        QTest::newRow("certificate not PEM")
            << QStringList() << dir + "garbage.pem" << dir + "ec.key" << ""
            << "Unable to load the client SSL certificate. Make sure it is PEM encoded.";
        QTest::newRow("key missing") << QStringList() << dir + "ec.crt" << dir + "none.key" << ""
                                     << "The client SSL key file does not exist";
        QTest::newRow("key unopenable") << QStringList() << dir + "ec.crt" << dir + "directory" << ""
                                        << "Unable to open the client SSL key file";
        QTest::newRow("key not PEM") << QStringList() << dir + "ec.crt" << dir + "garbage.pem" << "" << badKey;
        QTest::newRow("encrypted key, no passphrase") << QStringList() << dir + "rsa.crt" << dir + "rsa.key" << "" << badKey;
        QTest::newRow("encrypted key, wrong passphrase")
            << QStringList() << dir + "rsa.crt" << dir + "rsa.key" << "wrong" << badKey;
    }

    void failures()
    {
        QFETCH(QStringList, caFiles);
        QFETCH(QString, certificate);
        QFETCH(QString, key);
        QFETCH(QString, passphrase);
        QFETCH(QString, message);

        Config::Ssl ssl;
        ssl.serverCaCertificatePaths = caFiles;
        ssl.clientCertificatePath = certificate;
        ssl.clientKeyPath = key;
        ssl.clientKeyPassphrase = passphrase;
        const KafkaResult<QSslConfiguration> result = KafkaConnection::makeSslConfiguration(ssl);
        QVERIFY(result.isError());
        QCOMPARE(result.error().code, KafkaErrorCode::InvalidValue);
        QCOMPARE(result.error().message, message);
        QVERIFY(result.error().causes.isEmpty());
    }

    void usableSettings_data()
    {
        QTest::addColumn<int>("validation");
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("passphrase");
        QTest::addColumn<int>("keyAlgorithm");

        const int none = int(Config::SslCertificateValidation::None);
        const int full = int(Config::SslCertificateValidation::Full);
        QTest::newRow("CA only, full validation") << full << "" << "" << "" << -1;
        QTest::newRow("no validation") << none << "" << "" << "" << -1;
        QTest::newRow("certificate without key") << full << "ec.crt" << "" << "" << -1;
        QTest::newRow("EC key") << full << "ec.crt" << "ec.key" << "" << int(QSsl::Ec);
        QTest::newRow("encrypted RSA key") << full << "rsa.crt" << "rsa.key" << TestRsaKeyPassphrase << int(QSsl::Rsa);
    }

    void usableSettings()
    {
        QFETCH(int, validation);
        QFETCH(QString, certificate);
        QFETCH(QString, key);
        QFETCH(QString, passphrase);
        QFETCH(int, keyAlgorithm);

        Config::Ssl ssl;
        ssl.serverCertificateValidation = static_cast<Config::SslCertificateValidation>(validation);
        ssl.serverCaCertificatePaths = { m_dir.filePath("ec.crt"), m_dir.filePath("rsa.crt") };
        ssl.clientCertificatePath = certificate.isEmpty() ? QString() : m_dir.filePath(certificate);
        ssl.clientKeyPath = key.isEmpty() ? QString() : m_dir.filePath(key);
        ssl.clientKeyPassphrase = passphrase;
        const KafkaResult<QSslConfiguration> result = KafkaConnection::makeSslConfiguration(ssl);
        QVERIFY2(result.hasValue(), result.isError() ? qPrintable(result.error().message) : "");
        const QSslConfiguration& configuration = result.value();

        QCOMPARE(configuration.peerVerifyMode(), validation == int(Config::SslCertificateValidation::None)
                ? QSslSocket::VerifyNone
                : QSslSocket::VerifyPeer);
        // Only the configured authorities, not the system's.
        const QList<QSslCertificate> authorities = configuration.caCertificates();
        QCOMPARE(authorities.size(), 2);
        QCOMPARE(authorities[0].subjectInfo(QSslCertificate::CommonName), QStringList { "skelvane-test-ec" });
        if (keyAlgorithm < 0) {
            QVERIFY(configuration.localCertificate().isNull());
            QVERIFY(configuration.privateKey().isNull());
            return;
        }
        QCOMPARE(configuration.localCertificate().subjectInfo(QSslCertificate::CommonName),
            QStringList { "skelvane-test-" + certificate.left(certificate.indexOf('.')) });
        QCOMPARE(int(configuration.privateKey().algorithm()), keyAlgorithm);
    }
};

QTEST_GUILESS_MAIN(KafkaConnectionSslTest)
#include "KafkaConnectionSslTest.moc"
