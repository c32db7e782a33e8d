#include "Config.h"
#include "ConfigParser.h"
#include "PasswordProtection.h"
#include "TestHome.h"

#include <QTest>

#include <sys/stat.h>

using QRE = QRegularExpression;

namespace {

enum KeySetup { DeleteKey, ReplaceKey, WindowsBlob, KeyIsDirectory, KeyTruncated, DataHomeIsFile };

} // namespace

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
    void cleanup() { qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.filePath("data"))); }

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
    // over a protected one.
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
    }

    // Files the reader refuses before building the document, and the cap on
    // the problems reported: aliases multiply neither the work nor the messages.
    void refusedInput_data()
    {
        QTest::addColumn<QByteArray>("content"); // "fifo" and "directory" make such a file
        QTest::addColumn<int>("errorCount");
        QTest::addColumn<QString>("lastError");
        const QString notRegular = "47 Failed to open file for reading: Not a regular file";
        QTest::newRow("fifo") << QByteArray("fifo") << 1 << notRegular;
        QTest::newRow("directory") << QByteArray("directory") << 1 << notRegular;
        QTest::newRow("above 1 MiB") << "#" + QByteArray(1024 * 1024, 'x') << 1 << "46 File too large: more than 1 MiB (1048576 bytes)";
        QTest::newRow("65 levels") << QByteArray(65, '[') + QByteArray(65, ']') << 1 << "46 Nesting too deep at line 1: more than 64 levels";
        QTest::newRow("64 levels read") << "client-id: " + QByteArray(63, '[') + QByteArray(63, ']') << 3
                                        << "51 Missing required key 'protobuf-deserializer'";
        QByteArray tenfold = "a0: &a0 [x, x, x, x, x, x, x, x, x, x]\n";
        for (int level = 1; level <= 5; ++level)
            tenfold += QString("a%1: &a%1 [%2]\n").arg(level).arg(QStringList(10, QString("*a%1").arg(level - 1)).join(", ")).toUtf8();
        QTest::newRow("aliases past 100000 nodes") << tenfold << 1
                                                   << "46 Too many nodes at line 5: more than 100000, counting each alias as the nodes it repeats";
        QTest::newRow("1001 anchors") << "x:\n" + QByteArray("- &a v\n").repeated(1001) << 1 << "46 Too many anchors at line 1002: more than 1000";
        const QByteArray unknownKeys = "x: &bad {" + QByteArray("k: 1, ").repeated(60) + "}\n" + QByteArray("cluster: *bad\n").repeated(50);
        QTest::newRow("problems past 100") << unknownKeys << 101 << "51 Too many problems: only the first 100 are listed";
    }

    void refusedInput()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, errorCount);
        QFETCH(QString, lastError);
        QString path = m_home.filePath(QString("refused-%1.yml").arg(QTest::currentDataTag()));
        if (content == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (content == "directory")
            QVERIFY(QDir().mkpath(path));
        else
            path = write(content, QFileInfo(path).fileName());
        const Result<Config, QList<KafkaError>> result = Config::parseFromFile(path);
        QVERIFY(result.isError());
        QCOMPARE(result.error().size(), errorCount);
        QCOMPARE(describe({ result.error().last() }).first(), lastError);
    }

    // A protected password that cannot be decrypted loads as empty with its
    // error among the configuration's errors, and saves write the stored form
    // back unchanged. A new password is protected; when the key is unusable
    // the save fails, naming the key file and its problem, and writes nothing.
    void passwordKeyProblems_data()
    {
        QTest::addColumn<int>("keySetup");
        QTest::addColumn<QString>("loadProblem"); // %1: the key file
        QTest::addColumn<QString>("saveProblem"); // empty: the new password is saved
        const QString otherKey = "the stored password was protected with another key than the one in '%1', or it is damaged";
        const QString missing = "the password key file '%1' does not exist";
        const QString directory = "the password key file '%1' is a directory";
        const QString truncated = "the password key file '%1' holds 31 bytes instead of 32";
        QTest::newRow("key file deleted") << int(DeleteKey) << missing << QString();
        QTest::newRow("key file replaced") << int(ReplaceKey) << otherKey << QString();
        QTest::newRow("protected on Windows") << int(WindowsBlob) << otherKey << QString();
        QTest::newRow("directory in the key's place") << int(KeyIsDirectory) << directory << directory;
        QTest::newRow("truncated key") << int(KeyTruncated) << truncated << truncated;
        QTest::newRow("data directory unusable") << int(DataHomeIsFile) << missing << "the password key file '%1' cannot be created (Not a directory)";
    }

    void passwordKeyProblems()
    {
        QFETCH(int, keySetup);
        QFETCH(QString, loadProblem);
        QFETCH(QString, saveProblem);
        const QString home = m_home.filePath(QString("data-%1").arg(keySetup));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home));
        const QString keyFile = home + "/skelvane/password.key";
        QString stored = encryptWithDPApi("secret").value();
        if (keySetup == WindowsBlob)
            stored = (QByteArray::fromHex("01000000d08c9ddf0115d1118c7a00c04fc297eb0100000042") + QByteArray(60, 'x')).toBase64();
        if (keySetup == DeleteKey || keySetup == KeyIsDirectory)
            QVERIFY(QFile::remove(keyFile) && (keySetup == DeleteKey || QDir().mkpath(keyFile)));
        if (keySetup == ReplaceKey || keySetup == KeyTruncated)
            QVERIFY(writeFile(keyFile, QByteArray(keySetup == ReplaceKey ? 32 : 31, 'k')));
        if (keySetup == DataHomeIsFile)
            QVERIFY(QDir(home).removeRecursively() && writeFile(home, "x"));
        const QString path = write("cluster:\n  brokers: [kafka:9092]\n  protocol: Plaintext\n  authentication: SASL\n"
                                   "  authentication-sasl:\n    mechanism: SCRAM_SHA_512\n    scram-username: user\n"
                                   "    scram-password-dpapi: "
            + stored.toLatin1() + "\nclient-id: c\nprotobuf-deserializer:\n  schema-paths: [s]\n");

        Config config = Config::parseFromFile(path).value();
        QCOMPARE(config.cluster.authenticationSasl->scramPassword, QString());
        QCOMPARE(describe(config.loadErrors).first(), "57 The SASL password at line 8 cannot be decrypted, as " + loadProblem.arg(keyFile)
                + "; it is kept as stored until a new password is set");
        QVERIFY(!Config::saveToFile(config));
        const QByteArray written = readFile(path);
        QVERIFY(written.contains("scram-password-dpapi: " + stored.toLatin1() + "\n"));

        config.cluster.authenticationSasl->scramPassword = "new secret";
        const std::optional<KafkaError> error = Config::saveToFile(config);
        if (saveProblem.isEmpty()) {
            QVERIFY(!error);
            QCOMPARE(Config::parseFromFile(path).value().cluster.authenticationSasl->scramPassword, QString("new secret"));
        } else {
            QCOMPARE(describe({ error.value_or(KafkaError()) }).first(),
                "57 Failed to save configuration: the SASL password cannot be protected, as " + saveProblem.arg(keyFile));
            QCOMPARE(readFile(path), written);
        }
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
            { { "schemas", "/abs/schemas", "" } }, {}, {}, {} };
        QTest::newRow("every field") << full << QByteArray("plain: p");
        const Config sparse { m_home.filePath("sparse.yml"), "",
            { { { "localhost", 9092 } }, Config::Protocol::Plaintext, {}, Config::Authentication::None,
                Config::SaslAuthentication { Config::SaslMechanism::ScramSha256, "", "", "", "" } },
            "", {}, {}, {}, {}, {} };
        QTest::newRow("empty strings and lists, SASL section kept") << sparse << QByteArray();
        const Config scram { m_home.filePath("scram.yml"), "~",
            { { { "b", 1 } }, Config::Protocol::Plaintext, {}, Config::Authentication::Sasl,
                Config::SaslAuthentication { Config::SaslMechanism::ScramSha512, "", "", "true", "scram-secret-0123" } },
            "", {}, { { "~" } }, {}, {}, {} };
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
