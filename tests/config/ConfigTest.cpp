#include "Config.h"
#include "Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include "TestHome.h"

#include <QTest>

class ConfigTest : public QObject {
    Q_OBJECT

private:
    TestHome m_home;
    QString m_clustersDir;

    void touch(const QString& name)
    {
        QFile file(m_clustersDir + "/" + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.setUp());
        m_clustersDir = Settings::clustersDir();
        QCOMPARE(m_clustersDir, m_home.path() + "/config/skelvane/clusters");
    }

    void init()
    {
        QDir(m_clustersDir).removeRecursively();
        QVERIFY(QDir().mkpath(m_clustersDir));
    }

    void brokerFromString_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("message");

        const QString expected = "Invalid host format '%1'. Expected host:port";
        const QString notNumber = "Invalid host format '%1'. The port number is not a valid number";
        const QString range = "Invalid host format '%1'. The port number must be between 1 and 65535";

        QTest::newRow("host and port") << "kafka:9092" << "kafka" << 9092 << "";
        QTest::newRow("highest port") << "kafka:65535" << "kafka" << 65535 << "";
        QTest::newRow("host kept as written") << " kafka :1" << " kafka " << 1 << "";
        QTest::newRow("no port") << "kafka" << "" << 0 << expected.arg("kafka");
        QTest::newRow("no host") << ":9092" << "" << 0 << expected.arg(":9092");
        QTest::newRow("bracketed IPv6") << "[::1]:9092" << "" << 0 << expected.arg("[::1]:9092");
        QTest::newRow("empty") << "" << "" << 0 << expected.arg("");
        QTest::newRow("empty port") << "kafka:" << "" << 0 << notNumber.arg("kafka:");
        QTest::newRow("letters") << "kafka:x" << "" << 0 << notNumber.arg("kafka:x");
        QTest::newRow("beyond 32 bits") << "kafka:4294967297" << "" << 0 << notNumber.arg("kafka:4294967297");
        QTest::newRow("zero") << "kafka:0" << "" << 0 << range.arg("kafka:0");
        QTest::newRow("negative") << "kafka:-1" << "" << 0 << range.arg("kafka:-1");
        QTest::newRow("above range") << "kafka:65536" << "" << 0 << range.arg("kafka:65536");
        QTest::newRow("placeholder in text") << "%1%2" << "" << 0 << expected.arg("%1%2");
    }

    void brokerFromString()
    {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QString, message);

        const Result<Config::Broker, KafkaError> result = Config::Broker::fromString(text);
        if (message.isEmpty()) {
            QVERIFY(!result.isError());
            QCOMPARE(result.value().host, host);
            QCOMPARE(result.value().port, port);
        } else {
            QVERIFY(result.isError());
            QCOMPARE(result.error().code, KafkaErrorCode::InvalidValue);
            QCOMPARE(result.error().message, message);
            QVERIFY(result.error().causes.isEmpty());
        }
    }

    void findAvailableFilePath_data()
    {
        QTest::addColumn<QString>("displayName");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("fileName");

        QTest::newRow("white space runs") << "  My   Test  Cluster " << QStringList() << "my-test-cluster.yml";
        QTest::newRow("dash runs collapse") << "a - b" << QStringList() << "a-b.yml";
        QTest::newRow("case folded, dots kept") << "EU.Prod" << QStringList() << "eu.prod.yml";
        QTest::newRow("other characters kept") << "a:b%1" << QStringList() << "a:b%1.yml";
        QTest::newRow("file taken") << "Prod" << QStringList { "prod.yml" } << "prod-1.yml";
        QTest::newRow("directory taken") << "Prod" << QStringList { "prod/" } << "prod-1.yml";
        QTest::newRow("numbered taken") << "Prod" << QStringList { "prod.yml", "prod-1.yml" } << "prod-2.yml";
        QTest::newRow("numbered directory taken") << "Prod" << QStringList { "prod.yml", "prod-1/" } << "prod-2.yml";
        QTest::newRow("separators") << "a/b\\c" << QStringList() << "a-b-c.yml";
        QTest::newRow("parent directory") << "../../etc/x" << QStringList() << "-..-etc-x.yml";
        QTest::newRow("hidden") << ".hidden" << QStringList() << "hidden.yml";
        QTest::newRow("control characters") << QString("a") + QChar(0) + "b" + QChar(7) + "c" << QStringList() << "a-b-c.yml";
        QTest::newRow("empty") << "" << QStringList() << "cluster.yml";
        QTest::newRow("only dots") << ".." << QStringList() << "cluster.yml";
        QTest::newRow("only blanks") << "   " << QStringList { "cluster.yml" } << "cluster-1.yml";
    }

    void findAvailableFilePath()
    {
        QFETCH(QString, displayName);
        QFETCH(QStringList, existing);
        QFETCH(QString, fileName);

        for (const QString& name : existing) {
            if (name.endsWith('/'))
                QVERIFY(QDir(m_clustersDir).mkdir(name.chopped(1)));
            else
                touch(name);
        }
        const QString path = Config::findAvailableFilePath(displayName);
        QCOMPARE(path, m_clustersDir + "/" + fileName);
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(Config::findAvailableFilePath(displayName), path);
    }

    void extraPathIsTheFileStem()
    {
        Config prod;
        prod.filePath = m_clustersDir + "/eu.prod.yml";
        Config test;
        test.filePath = m_clustersDir + "/eu.test.yml";
        QCOMPARE(prod.extraPath(), m_clustersDir + "/eu.prod");
        QCOMPARE(test.extraPath(), m_clustersDir + "/eu.test");

        // The stem kept free by findAvailableFilePath is the one extraPath uses.
        touch("eu.prod.yml");
        Config next;
        next.filePath = Config::findAvailableFilePath("eu.prod");
        QVERIFY(QDir().mkpath(next.extraPath()));
        QCOMPARE(Config::findAvailableFilePath("eu.prod-1"), m_clustersDir + "/eu.prod-1-1.yml");
    }

    void contentTypeNames()
    {
        QCOMPARE(Config::contentTypeName(Config::ContentType::Text), "Text");
        QCOMPARE(Config::contentTypeName(Config::ContentType::Json), "Json");
        QCOMPARE(Config::contentTypeName(Config::ContentType::Xml), "Xml");
        QCOMPARE(Config::contentTypeName(Config::ContentType::Binary), "Binary");
        QCOMPARE(Config::contentTypeName(Config::ContentType::Protobuf), "Protocol Buffers");
        QCOMPARE(Config::contentTypeName(static_cast<Config::ContentType>(5)), "");
        QCOMPARE(Config::contentTypeName(static_cast<Config::ContentType>(-1)), "");
    }

    void defaultsAndIndependentCopies()
    {
        const Config source;
        QCOMPARE(source.cluster.protocol, Config::Protocol::Plaintext);
        QCOMPARE(source.cluster.authentication, Config::Authentication::None);
        QCOMPARE(source.cluster.ssl.serverCertificateValidation, Config::SslCertificateValidation::Full);
        QVERIFY(!source.cluster.authenticationSasl.has_value());
        QCOMPARE(Config::Broker().port, 0);
        QCOMPARE(Config::Deserializer().contentType, Config::ContentType::Text);
        QCOMPARE(Config::SaslAuthentication().mechanism, Config::SaslMechanism::Plain);

        Config copy = source;
        copy.deserializers.append(Config::Deserializer { QRegularExpression("t"), {}, {}, Config::ContentType::Json, {}, {}, {} });
        copy.cluster.brokers.append(Config::Broker { "kafka", 9092 });
        QVERIFY(source.deserializers.isEmpty());
        QVERIFY(source.cluster.brokers.isEmpty());
        QVERIFY(!(copy == source));
    }
};

QTEST_GUILESS_MAIN(ConfigTest)
#include "ConfigTest.moc"
