// An imported TLS configuration, its certificates copied beside it, passes
// the editor's TLS check and connects to the test broker.
#include "../config/TestHome.h"
#include "ConfigImport.h"
#include "EditConfigDialog.h"
#include "KafkaClusterClient.h"
#include "KafkaTestEnvironment.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class ConfigImportBrokerTest : public QObject {
    Q_OBJECT

    KafkaTestEnvironment m_env = KafkaTestEnvironment::fromProcessEnvironment();
    TestHome m_home;

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.setUp());
        SKELVANE_REQUIRE_KAFKA_BROKER(m_env);
    }

    void importedTlsConnects_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("clientCertificate");
        QTest::newRow("TLS") << m_env.ssl() << false;
        if (m_env.available(KafkaTestEnvironment::Feature::MutualTls))
            QTest::newRow("mutual TLS, encrypted key") << m_env.mtls() << true;
    }

    void importedTlsConnects()
    {
        QFETCH(QString, address);
        QFETCH(bool, clientCertificate);

        const QString source = m_home.filePath(QTest::currentDataTag());
        QVERIFY(QDir().mkpath(source + "/certs"));
        QVERIFY(QFile::copy(m_env.caFile(), source + "/certs/ca.pem"));
        Config config;
        config.filePath = source + "/cluster.yml";
        config.displayName = "Imported";
        config.cluster.brokers = { Config::Broker::fromString(address).value() };
        config.cluster.protocol = Config::Protocol::Ssl;
        config.cluster.ssl.serverCaCertificatePaths = { "certs/ca.pem" };
        if (clientCertificate) {
            const KafkaTestEnvironment::ClientCertificate client = m_env.rsaClient();
            QVERIFY(QFile::copy(client.certificateFile, source + "/certs/client.pem"));
            QVERIFY(QFile::copy(client.keyFile, source + "/certs/client.key"));
            config.cluster.ssl.clientCertificatePath = "certs/client.pem";
            config.cluster.ssl.clientKeyPath = "./certs/client.key";
            config.cluster.ssl.clientKeyPassphrase = client.keyPassphrase;
        }
        QVERIFY(!Config::saveToFile(config));

        ImportResult imported = ConfigImport::importFile(config.filePath);
        QCOMPARE(imported.errors.size(), 0);
        QCOMPARE(imported.configs.size(), 1);

        // The editor builds the TLS settings from the copies and saves.
        EditConfigDialog dialog(imported.configs.first(), EditConfigDialog::Mode::Edit);
        dialog.show();
        QTest::mouseClick(dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
        QVERIFY2(dialog.errors.isEmpty(), qPrintable(dialog.errors.value(0).message));
        QCOMPARE(dialog.result(), int(QDialog::Accepted));

        const Result<Config, QList<KafkaError>> saved = Config::parseFromFile(dialog.config.filePath);
        QVERIFY(saved.hasValue());
        KafkaClusterClient client(QStringLiteral("skelvane-import-test"), saved.value().cluster);
        QSignalSpy failed(&client, &KafkaClusterClient::bootstrapError);
        client.bootstrap();
        QVERIFY(QTest::qWaitFor(
            [&] { return !failed.isEmpty() || client.bootstrapState() == KafkaClusterClient::BootstrapState::Complete; }, 30000));
        QVERIFY2(failed.isEmpty(), qPrintable(failed.value(0).value(0).value<KafkaError>().message));
    }
};

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    ConfigImportBrokerTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "ConfigImportBrokerTest.moc"
