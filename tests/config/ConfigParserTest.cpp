#include "Config.h"
#include "ConfigParser.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include "TestHome.h"

#include <QTest>

namespace {

// "code message", each cause on its own line after " <- ".
QStringList describe(const QList<KafkaError>& errors)
{
    QStringList lines;
    for (const KafkaError& error : errors) {
        lines.append(QString("%1 %2").arg(QString::number(static_cast<int>(error.code)), error.message));
        for (const KafkaError& cause : error.causes)
            lines.append(QString(" <- %1 %2").arg(QString::number(static_cast<int>(cause.code)), cause.message));
    }
    return lines;
}

const char* const minimalFile = "cluster:\n"
                                "  brokers: [kafka:9092]\n"
                                "  protocol: Plaintext\n"
                                "client-id: c\n"
                                "protobuf-deserializer:\n"
                                "  schema-paths: [schemas]\n";

} // namespace

class ConfigParserTest : public QObject {
    Q_OBJECT

private:
    TestHome m_home;

    QString writeFile(const QByteArray& content, const QString& name = "cluster.yml")
    {
        const QString path = m_home.path() + "/" + name;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.setUp());
    }

    // Every problem the reader records, whether the load succeeds or not.
    void recordedProblems_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("loads");
        QTest::addColumn<QStringList>("errors");

        const QByteArray minimal(minimalFile);
        const QByteArray head = "cluster:\n"
                                "  brokers: [kafka:9092]\n"
                                "  protocol: Plaintext\n";
        const QByteArray tail = "client-id: c\n"
                                "protobuf-deserializer:\n"
                                "  schema-paths: [schemas]\n";
        // The deserializers sequence starts on line 8.
        const auto withRules = [&](const QByteArray& rules) { return head + tail + "deserializers:\n" + rules; };

        QTest::newRow("minimal") << minimal << true << QStringList();
        QTest::newRow("second document ignored") << minimal + "---\ncolour: red\n" << true << QStringList();
        QTest::newRow("keys are exact") << "cluster:\n  Brokers: [kafka:9092]\n  protocol: Plaintext\n" + tail << false
                                        << QStringList { "51 Unexpected node at line 2: 'Brokers' in 'cluster' (at line 1)",
                                               "51 Missing required key 'brokers' in 'cluster' at line 1" };
        QTest::newRow("sequence key in cluster") << head + "  [a]: b\n" + tail << false
                                                 << QStringList { "46 Expected a scalar node at line 4 in 'cluster', got a sequence" };
        QTest::newRow("sequence key at root") << minimal + "[a]: b\n" << false
                                              << QStringList { "46 Expected a scalar node at line 7, got a sequence" };
        QTest::newRow("brokers not a sequence")
            << "cluster:\n  brokers: localhost:9092\n  protocol: Plaintext\n" + tail << false
            << QStringList { "46 Expected a sequence node at line 2 in 'brokers', got a scalar (localhost:9092)" };
        QTest::newRow("empty brokers") << "cluster:\n  brokers: []\n  protocol: Plaintext\n" + tail << true
                                       << QStringList { "51 Missing required key 'brokers' in 'cluster' at line 1" };
        QTest::newRow("protocol with a blank")
            << "cluster:\n  brokers: [kafka:9092]\n  protocol: ' Plaintext'\n" + tail << false
            << QStringList { "51 Unknown value ' Plaintext' found at line 3 in 'protocol'. The allowed values are: Plaintext, Ssl" };
        QTest::newRow("ssl not a mapping") << head + "  ssl: none\n" + tail << true
                                           << QStringList { "46 Expected a mapping node at line 4 in 'ssl', got a scalar (none)" };
        QTest::newRow("SASL section not a mapping")
            << head + "  authentication: SASL\n  authentication-sasl: x\n" + tail << false
            << QStringList { "46 Expected a mapping node at line 5 in 'authentication-sasl', got a scalar (x)",
                   "51 Missing required key 'mechanism' in 'authentication-sasl' at line 5" };
        QTest::newRow("PLAIN without password") << head + "  authentication-sasl: {mechanism: PLAIN, plain-username: u}\n" + tail
                                                << true
                                                << QStringList { "51 Missing required key 'plain-password' in 'authentication-sasl' at line 4" };
        QTest::newRow("wrong protected password kind")
            << head + "  authentication-sasl: {mechanism: PLAIN, plain-username: u, plain-password-dpapi: [p]}\n" + tail << true
            << QStringList { "46 Expected a scalar node at line 4 in 'plain-password-dpapi', got a sequence",
                   "51 Missing required key 'plain-password' in 'authentication-sasl' at line 4" };
        QTest::newRow("items without content type")
            << withRules("  - {topic-pattern: a, content-type: Json}\n  - topic-pattern: b\n  - topic-pattern: c\n") << false
            << QStringList { "51 Missing required key 'content-type' in array item at line 8",
                   "51 Missing required key 'content-type' in array item at line 8" };
        QTest::newRow("both message type keys given")
            << withRules("  - topic-pattern: t\n    content-type: protobuf\n    protobuf-message-type: a.B\n"
                         "    protobuf-message-type-header: type\n")
            << false
            << QStringList { "54 Cannot use both 'protobuf-message-type' and 'protobuf-message-type-header' at the same time. in array item at line 8" };
        QTest::newRow("message type header") << withRules("  - {topic-pattern: t, content-type: Protobuf, protobuf-message-type-header: h}\n")
                                             << true << QStringList();
        QTest::newRow("message type on Json")
            << withRules("  - {topic-pattern: t, content-type: Json, protobuf-message-type-header: ''}\n") << false
            << QStringList { "54 'protobuf-message-type' and 'protobuf-message-type-header' are only allowed when 'content-type' is set to "
                             "'Protobuf' in array item at line 8" };
        QTest::newRow("header pattern alone") << withRules("  - {topic-pattern: t, header-pattern: p, content-type: Text}\n") << true
                                              << QStringList();
        QTest::newRow("empty schema paths") << head + "client-id: c\nprotobuf-deserializer:\n  schema-paths: []\n" << true
                                            << QStringList { "51 Missing required key 'schema-paths' in 'protobuf-deserializer' at line 5" };
    }

    void recordedProblems()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, loads);
        QFETCH(QStringList, errors);

        ConfigParser parser(writeFile(content));
        const Result<Config, KafkaError> result = parser.parse();
        QCOMPARE(describe(parser.errors), errors);
        QCOMPARE(!result.isError(), loads);
        if (!loads) {
            QCOMPARE(result.error().code, KafkaErrorCode::InvalidYamlContent);
            QCOMPARE(result.error().message, QString("Failed to load configuration"));
            QVERIFY(result.error().causes.isEmpty());
        }
    }

    // One file with many problems reports all of them, in the order found, and
    // parseFromFile returns that list.
    void brokenFileReportsEveryProblem()
    {
        const QByteArray content = "display-name: [a]\n" // 1
                                   "cluster:\n" // 2
                                   "  brokers:\n" // 3
                                   "    - localhost\n" // 4
                                   "    - kafka:99999\n" // 5
                                   "  protocol: Tcp\n" // 6
                                   "  ssl:\n" // 7
                                   "    server-certificate-validation: full\n" // 8
                                   "    client-key-path: [x]\n" // 9
                                   "  authentication: SASL\n" // 10
                                   "  colour: red\n" // 11
                                   "deserializers:\n" // 12
                                   "  - topic-pattern: \"(\"\n" // 13
                                   "    content-type: Avro\n" // 14
                                   "  - topic-pattern: \"\"\n" // 15
                                   "    header-name: h\n" // 16
                                   "    content-type: Binary\n" // 17
                                   "    text-encoding: Klingon\n" // 18
                                   "  - content-type: Protobuf\n" // 19
                                   "    protobuf-message-type: \"\"\n" // 20
                                   "    protobuf-message-type-header: \"\"\n" // 21
                                   "protobuf-deserializer:\n" // 22
                                   "  schema-paths: none\n" // 23
                                   "theme: dark\n"; // 24

        const QString item = " in array item at line 13";
        const QStringList expected {
            "46 Expected a scalar node at line 1 in 'display-name', got a sequence",
            "51 Invalid value at line 4",
            " <- 54 Invalid host format 'localhost'. Expected host:port",
            "51 Invalid value at line 5",
            " <- 54 Invalid host format 'kafka:99999'. The port number must be between 1 and 65535",
            "51 Unknown value 'Tcp' found at line 6 in 'protocol'. The allowed values are: Plaintext, Ssl",
            "46 Expected a scalar node at line 9 in 'client-key-path', got a sequence",
            "51 Unexpected node at line 11: 'colour' in 'cluster' (at line 2)",
            "51 Missing required key 'authentication-sasl' in 'cluster' at line 2",
            QString("54 Invalid regular expression '(': %1 in 'topic-pattern' at line 13").arg(QRegularExpression("(").errorString()),
            "51 Unknown value 'Avro' found at line 14 in 'content-type'. The allowed values are: Text, Json, Xml, Binary, Protobuf",
            "54 Unknown encoding 'Klingon' in 'text-encoding' at line 18",
            "51 Missing required key 'topic-pattern'" + item,
            "54 'header-pattern' is required when 'header-name' is set" + item,
            "54 'text-encoding' cannot be used for binary content types" + item,
            "51 Missing required key 'topic-pattern'" + item,
            "51 Missing required key 'protobuf-message-type' or 'protobuf-message-type-header'" + item,
            "54 Cannot use both 'protobuf-message-type' and 'protobuf-message-type-header' at the same time." + item,
            "46 Expected a sequence node at line 23 in 'schema-paths', got a scalar (none)",
            "51 Unexpected node at line 24: 'theme' ",
            "51 Missing required key 'client-id'",
        };

        const Result<Config, QList<KafkaError>> result = Config::parseFromFile(writeFile(content));
        QVERIFY(result.isError());
        QCOMPARE(describe(result.error()), expected);
    }

    void loadFailures_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << QByteArray("") << 46 << "Empty file";
        QTest::newRow("only a comment") << QByteArray("# nothing here\n") << 46 << "Empty file";
        QTest::newRow("scanner error") << QByteArray("client-id: 'open\n") << 179
                                       << "Error at line 2: found unexpected end of stream (while scanning a quoted scalar at line 1)";
        QTest::newRow("parser error") << QByteArray("client-id: c\n- x\n") << 180
                                      << "Error at line 2: did not find expected key (while parsing a block mapping at line 1)";
    }

    void loadFailures()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, code);
        QFETCH(QString, message);

        const Result<Config, QList<KafkaError>> result = Config::parseFromFile(writeFile(content));
        QVERIFY(result.isError());
        QCOMPARE(result.error().size(), 1);
        QCOMPARE(static_cast<int>(result.error().first().code), code);
        QCOMPARE(result.error().first().message, message);
    }

    void missingFile()
    {
        const Result<Config, QList<KafkaError>> result = Config::parseFromFile(m_home.path() + "/absent.yml");
        QVERIFY(result.isError());
        QCOMPARE(describe(result.error()), QStringList { "47 Failed to open file for reading: No such file or directory" });
    }

    void minimalFileDefaults()
    {
        const QString path = writeFile(minimalFile, "eu.prod.yml");
        const Result<Config, QList<KafkaError>> result = Config::parseFromFile(path);
        QVERIFY(!result.isError());
        const Config& config = result.value();
        QCOMPARE(config.filePath, path);
        QCOMPARE(config.displayName, QString("eu"));
        QCOMPARE(config.clientId, QString("c"));
        QCOMPARE(config.cluster.brokers, (QList<Config::Broker> { { "kafka", 9092 } }));
        QCOMPARE(config.cluster.protocol, Config::Protocol::Plaintext);
        QCOMPARE(config.cluster.ssl, Config::Ssl());
        QCOMPARE(config.cluster.ssl.serverCertificateValidation, Config::SslCertificateValidation::Full);
        QCOMPARE(config.cluster.authentication, Config::Authentication::None);
        QVERIFY(!config.cluster.authenticationSasl);
        QVERIFY(config.deserializers.isEmpty());
        QCOMPARE(config.protobufDeserializer.schemaPaths, QList<QString> { "schemas" });
    }

    void valuesAreRead()
    {
        const QByteArray content = "display-name: First\n"
                                   "display-name: Östlich\n"
                                   "cluster:\n"
                                   "  brokers: [a:1, b:2]\n"
                                   "  protocol: SSL\n"
                                   "  ssl:\n"
                                   "    server-certificate-validation: none\n"
                                   "    server-ca-certificate-paths: [./ca.pem, /etc/ca.pem]\n"
                                   "    client-certificate-path: c.pem\n"
                                   "    client-key-path: k.pem\n"
                                   "    client-key-passphrase: 'true'\n"
                                   "  authentication: None\n"
                                   "  authentication-sasl:\n"
                                   "    mechanism: plain\n"
                                   "    plain-username: user\n"
                                   "    plain-password-dpapi: '!!'\n"
                                   "    plain-password: clear\n"
                                   "    scram-username: other\n"
                                   "client-id: '~'\n"
                                   "deserializers:\n"
                                   "  - topic-pattern: ^orders\\.\n"
                                   "    header-name: kind\n"
                                   "    header-pattern: v[0-9]+\n"
                                   "    content-type: JSON\n"
                                   "    text-encoding: UTF-16\n"
                                   "  - topic-pattern: .*\n"
                                   "    content-type: Protobuf\n"
                                   "    protobuf-message-type: a.b.C\n"
                                   "protobuf-deserializer:\n"
                                   "  schema-paths: [proto]\n";
        const Result<Config, QList<KafkaError>> result = Config::parseFromFile(writeFile(content));
        QVERIFY(!result.isError());
        const Config& config = result.value();

        QCOMPARE(config.displayName, QString("Östlich"));
        QCOMPARE(config.clientId, QString("~"));
        QCOMPARE(config.cluster.brokers, (QList<Config::Broker> { { "a", 1 }, { "b", 2 } }));
        QCOMPARE(config.cluster.protocol, Config::Protocol::Ssl);
        const Config::Ssl ssl { Config::SslCertificateValidation::None, { "./ca.pem", "/etc/ca.pem" }, "c.pem", "k.pem", "true" };
        QCOMPARE(config.cluster.ssl, ssl);
        // The section is kept although authentication is None; the plain password
        // wins over the protected one.
        QCOMPARE(config.cluster.authentication, Config::Authentication::None);
        const Config::SaslAuthentication sasl { Config::SaslMechanism::Plain, "user", "clear", "other", "" };
        QCOMPARE(config.cluster.authenticationSasl, std::optional(sasl));

        QCOMPARE(config.deserializers.size(), 2);
        const Config::Deserializer json { QRegularExpression("^orders\\."), "kind", QRegularExpression("v[0-9]+"), Config::ContentType::Json,
            "UTF-16", "", "" };
        QCOMPARE(config.deserializers[0], json);
        const Config::Deserializer protobuf { QRegularExpression(".*"), "", QRegularExpression(), Config::ContentType::Protobuf, "", "a.b.C",
            "" };
        QCOMPARE(config.deserializers[1], protobuf);
    }

    // A password protected on another platform or under another key cannot be
    // turned back: the configuration loads with the password absent.
    void foreignProtectedPasswordLoadsAsAbsent()
    {
        const QByteArray windowsBlob = QByteArray::fromHex("01000000d08c9ddf0115d1118c7a00c04fc297eb0100000042") + QByteArray(60, 'x');
        const QByteArray content = "cluster:\n"
                                   "  brokers: [kafka:9092]\n"
                                   "  protocol: Plaintext\n"
                                   "  authentication: SASL\n"
                                   "  authentication-sasl:\n"
                                   "    mechanism: SCRAM_SHA_512\n"
                                   "    scram-username: user\n"
                                   "    scram-password-dpapi: "
            + windowsBlob.toBase64() + "\nclient-id: c\nprotobuf-deserializer:\n  schema-paths: [s]\n";

        ConfigParser parser(writeFile(content));
        const Result<Config, KafkaError> result = parser.parse();
        QVERIFY(!result.isError());
        const Config::SaslAuthentication sasl { Config::SaslMechanism::ScramSha512, "", "", "user", "" };
        QCOMPARE(result.value().cluster.authenticationSasl, std::optional(sasl));
        QCOMPARE(describe(parser.errors), QStringList { "51 Missing required key 'scram-password' in 'authentication-sasl' at line 5" });
    }
};

QTEST_GUILESS_MAIN(ConfigParserTest)
#include "ConfigParserTest.moc"
