#include "Config.h"
#include "ConfigParser.h"
#include "TestHome.h"

#include <QTest>

using QRE = QRegularExpression;

class ConfigFileTest : public QObject {
    Q_OBJECT

    TestHome m_home;

    QString write(const QByteArray& content, const QString& name = "cluster.yml")
    {
        const QString path = m_home.filePath(name);
        if (!writeFile(path, content))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void initTestCase() { QVERIFY(m_home.setUp()); }

    // Every problem the reader records, then the error of a failed load.
    void recordedProblems_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("errors");
        const QByteArray head = "cluster:\n  brokers: [kafka:9092]\n  protocol: Plaintext\n";
        const QByteArray tail = "client-id: c\nprotobuf-deserializer:\n  schema-paths: [schemas]\n";
        const QString failed = "51 Failed to load configuration";
        QTest::newRow("missing") << QByteArray() << QStringList { "47 Failed to open file for reading: No such file or directory" };
        QTest::newRow("only a comment") << QByteArray("# nothing here\n") << QStringList { "46 Empty file" };
        QTest::newRow("scanner error") << QByteArray("client-id: 'open\n")
                                       << QStringList { "179 Error at line 2: found unexpected end of stream (while scanning a quoted scalar at line 1)" };
        QTest::newRow("parser error") << QByteArray("client-id: c\n- x\n")
                                      << QStringList { "180 Error at line 2: did not find expected key (while parsing a block mapping at line 1)" };
        QTest::newRow("second document ignored") << head + tail + "---\ncolour: red\n" << QStringList();
        QTest::newRow("keys are exact") << "cluster:\n  Brokers: [kafka:9092]\n  protocol: Plaintext\n" + tail
                                        << QStringList { "51 Unexpected node at line 2: 'Brokers' in 'cluster' (at line 1)",
                                               "51 Missing required key 'brokers' in 'cluster' at line 1", failed };
        QTest::newRow("empty lists load") << QByteArray("cluster:\n  brokers: []\n  protocol: Plaintext\nclient-id: c\nprotobuf-deserializer:\n  schema-paths: []\n")
                                          << QStringList { "51 Missing required key 'brokers' in 'cluster' at line 1",
                                                 "51 Missing required key 'schema-paths' in 'protobuf-deserializer' at line 5" };
        QTest::newRow("message type on Json")
            << head + tail + "deserializers:\n  - {topic-pattern: t, content-type: Json, protobuf-message-type-header: ''}\n"
            << QStringList { "54 'protobuf-message-type' and 'protobuf-message-type-header' are only allowed when 'content-type' is set to "
                             "'Protobuf' in array item at line 8",
                   failed };
    }

    void recordedProblems()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, errors);
        ConfigParser parser(content.isNull() ? m_home.filePath("absent.yml") : write(content));
        const Result<Config, KafkaError> result = parser.parse();
        QCOMPARE(describe(parser.errors) + (result.isError() ? describe({ result.error() }) : QStringList()), errors);
    }

    // One file with many problems reports all of them, in the order found.
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
        const Result<Config, QList<KafkaError>> result = Config::parseFromFile(write(content));
        QVERIFY(result.isError());
        QCOMPARE(describe(result.error()), expected);
    }

    // The display name defaults to the file name up to its first dot; the last
    // of repeated keys wins; enumerations ignore case; a clear password wins
    // over a protected one, and one that cannot be unprotected counts as absent.
    void passwordsAndDefaults()
    {
        const Config plain = Config::parseFromFile(write("cluster:\n  brokers: [a:1]\n  protocol: SSL\n  authentication-sasl:\n"
                                                         "    mechanism: plain\n    plain-username: user\n    plain-password-dpapi: '!!'\n"
                                                         "    plain-password: clear\nclient-id: x\nclient-id: '~'\n"
                                                         "protobuf-deserializer:\n  schema-paths: [proto]\n",
                                                 "eu.prod.yml"))
                                 .value();
        QCOMPARE(plain.displayName, QString("eu"));
        QCOMPARE(plain.clientId, QString("~"));
        QCOMPARE(plain.cluster.protocol, Config::Protocol::Ssl);
        QCOMPARE(plain.cluster.authenticationSasl, (Config::SaslAuthentication { Config::SaslMechanism::Plain, "user", "clear", "", "" }));
        const QByteArray windowsBlob = QByteArray::fromHex("01000000d08c9ddf0115d1118c7a00c04fc297eb0100000042") + QByteArray(60, 'x');
        ConfigParser parser(write("cluster:\n  brokers: [kafka:9092]\n  protocol: Plaintext\n  authentication: SASL\n"
                                  "  authentication-sasl:\n    mechanism: SCRAM_SHA_512\n    scram-username: user\n"
                                  "    scram-password-dpapi: "
            + windowsBlob.toBase64() + "\nclient-id: c\nprotobuf-deserializer:\n  schema-paths: [s]\n"));
        const Result<Config, KafkaError> result = parser.parse();
        QVERIFY(!result.isError());
        QCOMPARE(result.value().cluster.authenticationSasl, (Config::SaslAuthentication { Config::SaslMechanism::ScramSha512, "", "", "user", "" }));
        QCOMPARE(describe(parser.errors), QStringList { "51 Missing required key 'scram-password' in 'authentication-sasl' at line 5" });
    }

    void roundTrip_data()
    {
        QTest::addColumn<Config>("config");
        QTest::addColumn<QByteArray>("clearPassword");
        using D = Config::Deserializer;
        const auto Protobuf = Config::ContentType::Protobuf;
        const Config full { m_home.filePath("full.yml"), "a: b",
            { { { "kafka-1", 9092 }, { "ünïcode", 65535 }, { "%1", 1 } }, Config::Protocol::Ssl,
                { Config::SslCertificateValidation::None, { "./ca.pem", "/etc/ssl/ca one.pem" }, "~", "- key", "#secret" },
                Config::Authentication::Sasl, Config::SaslAuthentication { Config::SaslMechanism::Plain, "ユーザー", "plain: pässword", "", "" } },
            "true",
            { D { QRE("^text$"), "", QRE(), Config::ContentType::Text, "UTF-16LE", "", "" },
                D { QRE("json"), "null", QRE("'quoted'|\"double\""), Config::ContentType::Json, "", "", "" },
                D { QRE(""), "", QRE(), Config::ContentType::Xml, "ISO-8859-1", "", "" }, // an empty pattern is read, so it is written
                D { QRE("[bB]inary"), "", QRE(), Config::ContentType::Binary, "", "", "" },
                D { QRE("proto"), "", QRE(), Protobuf, "", "pkg.Message", "" },
                D { QRE("proto-header"), "", QRE(), Protobuf, "", "", "x-type" } },
            { { "schemas", "/abs/schemas", "" } } };
        QTest::newRow("every field") << full << QByteArray("plain: p");
        const Config sparse { m_home.filePath("sparse.yml"), "",
            { { { "localhost", 9092 } }, Config::Protocol::Plaintext, {}, Config::Authentication::None,
                Config::SaslAuthentication { Config::SaslMechanism::ScramSha256, "", "", "", "" } },
            "", {}, {} };
        QTest::newRow("empty strings and lists, SASL section kept") << sparse << QByteArray();
        const Config scram { m_home.filePath("scram.yml"), "~",
            { { { "b", 1 } }, Config::Protocol::Plaintext, {}, Config::Authentication::Sasl,
                Config::SaslAuthentication { Config::SaslMechanism::ScramSha512, "", "", "true", "scram-secret-0123" } },
            "", {}, { { "~" } } };
        QTest::newRow("SCRAM") << scram << QByteArray("scram-secret");
    }

    // A configuration saves and loads back equal; passwords are stored protected.
    void roundTrip()
    {
        QFETCH(Config, config);
        QFETCH(QByteArray, clearPassword);
        QVERIFY(!Config::saveToFile(config));
        const QByteArray written = readFile(config.filePath);
        QVERIFY(written.contains("-password-dpapi") && !written.contains("-password:"));
        QVERIFY(clearPassword.isEmpty() || !written.contains(clearPassword));
        const Result<Config, QList<KafkaError>> loaded = Config::parseFromFile(config.filePath);
        QVERIFY2(!loaded.isError(), qPrintable(loaded.isError() ? loaded.error().first().message : QString()));
        QCOMPARE(loaded.value(), config);
        QVERIFY(!Config::saveToFile(loaded.value()));
        QCOMPARE(Config::parseFromFile(config.filePath).value(), config);
    }
};

QTEST_GUILESS_MAIN(ConfigFileTest)
#include "ConfigFileTest.moc"
