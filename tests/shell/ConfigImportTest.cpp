#include "AnsweringPrompts.h"
#include "ConfigImport.h"
#include "Settings.h"
#include "ShellTestMain.h"

#include <QDirIterator>

class ConfigImportTest : public QObject {
    Q_OBJECT

    TestHome m_home; // only for its directory

    QString source() const { return m_home.filePath("source"); }

    QString writeSource(const QString& name, const Config::Ssl& ssl, const QList<QString>& schemas)
    {
        Config config;
        config.filePath = source() + "/" + name;
        config.displayName = "Imported";
        config.cluster.brokers = { { "localhost", 9093 } };
        config.cluster.ssl = ssl;
        config.protobufDeserializer.schemaPaths = schemas;
        return Config::saveToFile(config) ? QString() : config.filePath;
    }

    static QStringList filesBelow(const QString& directory)
    {
        QStringList files;
        for (QDirIterator it(directory, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            files.append(QDir(directory).relativeFilePath(it.next()));
        files.sort();
        return files;
    }

    QStringList expand(QStringList texts) const
    {
        for (QString& text : texts)
            text.replace("%src%", source()).replace("%clusters%", Settings::clustersDir());
        return texts;
    }

private slots:
    void init()
    {
        QDir(Settings::clustersDir()).removeRecursively();
        QDir(source()).removeRecursively();
        for (const char* file : { "certs/client.pem", "keys/client.key", "ca.pem", "protos/a.proto", "tls/both.pem", "client.key" })
            QVERIFY(writeFile(source() + "/" + QLatin1String(file), "-----BEGIN-----\n"));
        QVERIFY(writeFile(m_home.filePath("outside.pem"), "-----BEGIN-----\n"));
    }

    // The per-file step: which paths are copied and how they are stored.
    void importFile_data()
    {
        QTest::addColumn<Config::Ssl>("ssl");
        QTest::addColumn<QStringList>("schemas");
        QTest::addColumn<QStringList>("errors");
        QTest::addColumn<QStringList>("stored"); // certificate, key, CAs, schemas; empty: file skipped
        QTest::addColumn<QStringList>("copied"); // below the new configuration's directory

        const auto ssl = [](const QString& certificate, const QString& key, const QStringList& cas) {
            return Config::Ssl { Config::SslCertificateValidation::Full, cas, certificate, key, {} };
        };
        QTest::newRow("relative copied, absolute kept")
            << ssl("certs/client.pem", "%src%/keys/client.key", { "./ca.pem" }) << QStringList { "./protos" } << QStringList()
            << QStringList { "imported/certs/client.pem", "%src%/keys/client.key", "imported/./ca.pem", "imported/protos" }
            << QStringList { "ca.pem", "certs/client.pem", "protos/a.proto" };
        QTest::newRow("one file named twice")
            << ssl("tls/both.pem", "./tls/both.pem", { "tls/both.pem" }) << QStringList() << QStringList()
            << QStringList { "imported/tls/both.pem", "imported/./tls/both.pem", "imported/tls/both.pem" }
            << QStringList { "tls/both.pem" };
        QTest::newRow("missing CA")
            << ssl("certs/client.pem", "client.key", { "missing.pem" }) << QStringList()
            << QStringList { "50 Failed to copy file from '%src%/missing.pem' to '%clusters%/imported/missing.pem'" } << QStringList()
            << QStringList();
        QTest::newRow("certificate outside")
            << ssl("../outside.pem", "client.key", {}) << QStringList()
            << QStringList { "50 Failed to copy file '../outside.pem': the path leads outside the directory '%src%' of the configuration file" }
            << QStringList() << QStringList();
        QTest::newRow("key absolute once cleaned")
            << ssl("certs/client.pem", ".//client.key", {}) << QStringList()
            << QStringList { "50 Failed to copy file './/client.key': the path leads outside the directory '%src%' of the configuration file" }
            << QStringList() << QStringList();
        QTest::newRow("schemas outside, import goes on")
            << ssl("", "", {}) << QStringList { "protos/../../source", "protos" }
            << QStringList { "50 Failed to copy Protocol Buffers schemas from 'protos/../../source': the path leads outside the "
                             "directory '%src%' of the configuration file" }
            << QStringList { "imported/protos" } << QStringList { "protos/a.proto" };
    }

    void importFile()
    {
        QFETCH(Config::Ssl, ssl);
        QFETCH(QStringList, schemas);
        QFETCH(QStringList, errors);
        QFETCH(QStringList, stored);
        QFETCH(QStringList, copied);

        ssl.clientKeyPath = expand({ ssl.clientKeyPath }).first();
        const QString path = writeSource("cluster.yml", ssl, schemas);
        QVERIFY(!path.isEmpty());
        const ImportResult result = ConfigImport::importFile(path);

        QCOMPARE(describe(result.errors), expand(errors));
        QCOMPARE(result.configs.size(), stored.isEmpty() ? 0 : 1);
        QCOMPARE(filesBelow(Settings::clustersDir() + "/imported"), copied);
        if (stored.isEmpty()) {
            QCOMPARE(QDir(Settings::clustersDir()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
            return;
        }
        const Result<Config, QList<KafkaError>> saved = Config::parseFromFile(Settings::clustersDir() + "/imported.yml");
        QVERIFY(saved.hasValue());
        QVERIFY(saved.value() == result.configs.first());
        const Config::Ssl& savedSsl = saved.value().cluster.ssl;
        QStringList paths { savedSsl.clientCertificatePath, savedSsl.clientKeyPath };
        paths.removeAll(QString());
        QCOMPARE(paths + savedSsl.serverCaCertificatePaths + saved.value().protobufDeserializer.schemaPaths, expand(stored));
    }

    // The whole flow: files chosen in the file dialog, imported behind the progress dialog.
    void importThroughDialog()
    {
        AnsweringPrompts prompts;
        const QString first = writeSource("first.yml", {}, {});
        const QString second = writeSource("second.yml", {}, {});
        QVERIFY(writeFile(source() + "/broken.yml", "display-name: [\n"));
        prompts.files = { { first, source() + "/broken.yml", second } };
        QWidget window;
        window.show();

        const QStringList chosen = ConfigImport::chooseFiles(&window);
        QCOMPARE(chosen.size(), 3);
        const ImportResult result = ConfigImport::importFiles(&window, chosen);

        QCOMPARE(result.configs.size(), 2);
        QCOMPARE(QFileInfo(result.configs.at(0).filePath).fileName(), "imported.yml");
        QCOMPARE(QFileInfo(result.configs.at(1).filePath).fileName(), "imported-1.yml");
        QCOMPARE(result.errors.size(), 1);
        QCOMPARE(result.errors.first().code, KafkaErrorCode::InvalidYamlDocument);
        QVERIFY(QApplication::activeModalWidget() == nullptr);
    }
};

SKELVANE_SHELL_TEST_MAIN(ConfigImportTest)
#include "ConfigImportTest.moc"
