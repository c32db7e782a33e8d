#include "Config.h"
#include "ConfigWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include "TestHome.h"

#include <QTest>

namespace {

Config::Deserializer rule(const QString& topic, Config::ContentType type, const QString& encoding = {})
{
    Config::Deserializer deserializer;
    deserializer.topicPattern = QRegularExpression(topic);
    deserializer.contentType = type;
    deserializer.textEncoding = encoding;
    return deserializer;
}

Config::SaslAuthentication sasl(Config::SaslMechanism mechanism, const QString& username, const QString& password)
{
    Config::SaslAuthentication settings;
    settings.mechanism = mechanism;
    if (mechanism == Config::SaslMechanism::Plain) {
        settings.plainUsername = username;
        settings.plainPassword = password;
    } else {
        settings.scramUsername = username;
        settings.scramPassword = password;
    }
    return settings;
}

// The message of a failed save; empty when it succeeded.
QString failure(const std::optional<KafkaError>& error)
{
    return error ? error->message : QString();
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class ConfigWriterTest : public QObject {
    Q_OBJECT

private:
    TestHome m_home;

    QString path(const QString& name) const { return m_home.path() + "/clusters/" + name; }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.setUp());
    }

    void roundTrip_data()
    {
        QTest::addColumn<Config>("config");
        QTest::addColumn<QByteArray>("clearPassword");

        Config full;
        full.filePath = path("full.yml");
        full.displayName = "a: b";
        full.clientId = "true";
        full.cluster.brokers = { { "kafka-1", 9092 }, { "ünïcode", 65535 }, { "%1", 1 } };
        full.cluster.protocol = Config::Protocol::Ssl;
        full.cluster.ssl = { Config::SslCertificateValidation::None, { "./ca.pem", "/etc/ssl/ca one.pem" }, "~", "- key", "#secret" };
        full.cluster.authentication = Config::Authentication::Sasl;
        full.cluster.authenticationSasl = sasl(Config::SaslMechanism::Plain, "ユーザー", "plain: pässword");
        full.deserializers = {
            rule("^text$", Config::ContentType::Text, "UTF-16LE"),
            rule("json", Config::ContentType::Json),
            rule("", Config::ContentType::Xml, "ISO-8859-1"), // an empty pattern is read, so it must be written
            rule("[bB]inary", Config::ContentType::Binary),
            rule("proto", Config::ContentType::Protobuf),
            rule("proto-header", Config::ContentType::Protobuf),
        };
        full.deserializers[1].headerName = "null";
        full.deserializers[1].headerPattern = QRegularExpression("'quoted'|\"double\"");
        full.deserializers[4].protobufMessageType = "pkg.Message";
        full.deserializers[5].protobufMessageTypeHeader = "x-type";
        full.protobufDeserializer.schemaPaths = { "schemas", "/abs/schemas", "" };
        QTest::newRow("every field") << full << QByteArray("plain: p");

        Config sparse;
        sparse.filePath = path("sparse.yml");
        sparse.cluster.brokers = { { "localhost", 9092 } };
        sparse.cluster.authenticationSasl = sasl(Config::SaslMechanism::ScramSha256, "", "");
        QTest::newRow("empty strings and lists, SASL section kept") << sparse << QByteArray();

        Config scram;
        scram.filePath = path("scram.yml");
        scram.displayName = "~";
        scram.clientId = "";
        scram.cluster.brokers = { { "b", 1 } };
        scram.cluster.authentication = Config::Authentication::Sasl;
        scram.cluster.authenticationSasl = sasl(Config::SaslMechanism::ScramSha512, "true", "scram-secret-0123456789");
        scram.protobufDeserializer.schemaPaths = { "~" };
        QTest::newRow("SCRAM") << scram << QByteArray("scram-secret");
    }

    // A configuration saves and loads back equal; passwords are stored protected.
    void roundTrip()
    {
        QFETCH(Config, config);
        QFETCH(QByteArray, clearPassword);

        QCOMPARE(failure(Config::saveToFile(config)), QString());
        const QByteArray written = readAll(config.filePath);
        QVERIFY(written.contains("-password-dpapi"));
        QVERIFY(!written.contains("-password:"));
        if (!clearPassword.isEmpty())
            QVERIFY(!written.contains(clearPassword));

        const Result<Config, QList<KafkaError>> loaded = Config::parseFromFile(config.filePath);
        QVERIFY2(!loaded.isError(), qPrintable(loaded.isError() ? loaded.error().first().message : QString()));
        QCOMPARE(loaded.value(), config);

        // Saving the loaded value again still gives the same configuration.
        QCOMPARE(failure(Config::saveToFile(loaded.value())), QString());
        QCOMPARE(Config::parseFromFile(config.filePath).value(), config);
    }

    void layoutOfTheFile()
    {
        Config config;
        config.filePath = path("layout.yml");
        config.displayName = "Layout";
        config.clientId = "client";
        config.cluster.brokers = { { "kafka", 9092 } };
        config.cluster.protocol = Config::Protocol::Ssl;
        config.cluster.ssl.clientKeyPath = "key.pem";
        config.cluster.authentication = Config::Authentication::Sasl;
        Config::SaslAuthentication settings = sasl(Config::SaslMechanism::ScramSha512, "user", "pw");
        settings.plainUsername = "dropped-user";
        settings.plainPassword = "dropped-password";
        config.cluster.authenticationSasl = settings;

        ConfigWriter writer(config);
        writer.encryptPasswords = false;
        QCOMPARE(failure(writer.write()), QString());
        const QByteArray expected = "display-name: Layout\n"
                                    "cluster:\n"
                                    "  brokers:\n"
                                    "  - kafka:9092\n"
                                    "  protocol: Ssl\n"
                                    "  ssl:\n"
                                    "    server-certificate-validation: Full\n"
                                    "    client-key-path: key.pem\n"
                                    "  authentication: SASL\n"
                                    "  authentication-sasl:\n"
                                    "    mechanism: SCRAM_SHA_512\n"
                                    "    scram-username: user\n"
                                    "    scram-password: pw\n"
                                    "client-id: client\n"
                                    "protobuf-deserializer:\n"
                                    "  schema-paths: []\n";
        QCOMPARE(readAll(config.filePath), expected);

        // Protected, the password goes under the "-dpapi" key in the same place.
        QCOMPARE(failure(Config::saveToFile(config)), QString());
        const QList<QByteArray> lines = readAll(config.filePath).split('\n');
        QCOMPARE(lines.mid(0, 12), expected.split('\n').mid(0, 12));
        QVERIFY(lines[12].startsWith("    scram-password-dpapi: "));
        QCOMPARE(lines.mid(13), expected.split('\n').mid(13));
    }

    // When the password cannot be protected it is written in plain text.
    void unprotectedPasswordFallsBackToPlainText()
    {
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        const QString blocked = m_home.path() + "/blocked";
        QVERIFY(QDir().mkpath(blocked));
        QFile blocker(blocked + "/skelvane");
        QVERIFY(blocker.open(QIODevice::WriteOnly)); // a file where the key's directory belongs
        blocker.close();
        qputenv("XDG_DATA_HOME", QFile::encodeName(blocked));

        Config config;
        config.filePath = path("fallback.yml");
        config.cluster.brokers = { { "kafka", 9092 } };
        config.cluster.authenticationSasl = sasl(Config::SaslMechanism::Plain, "user", "clear-text");
        const std::optional<KafkaError> error = Config::saveToFile(config);
        qputenv("XDG_DATA_HOME", dataHome);

        QCOMPARE(failure(error), QString());
        const QByteArray written = readAll(config.filePath);
        QVERIFY(written.contains("    plain-password: clear-text\n"));
        QVERIFY(!written.contains("dpapi"));
        QCOMPARE(Config::parseFromFile(config.filePath).value().cluster.authenticationSasl, config.cluster.authenticationSasl);
    }
};

QTEST_GUILESS_MAIN(ConfigWriterTest)
#include "ConfigWriterTest.moc"
