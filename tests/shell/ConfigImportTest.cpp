#include "AnsweringPrompts.h"
#include "ConfigImport.h"
#include "ConfigImportCopier.h"
#include "Settings.h"
#include "ShellTestMain.h"

#include <QDirIterator>

class ConfigImportTest : public QObject {
    Q_OBJECT

    TestHome m_home; // only for its directory

    QString source() const { return m_home.filePath("source"); }

    QString writeSource(const QString& name, const Config::Ssl& ssl, const QList<QString>& schemas,
        const QString& displayName = "Imported")
    {
        Config config;
        config.filePath = source() + "/" + name;
        config.displayName = displayName;
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

    // Every entry below `directory`, links and hidden entries included and
    // never followed; directories end in "/".
    static QStringList entriesBelow(const QString& directory)
    {
        QStringList entries;
        for (QDirIterator it(directory, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                 QDirIterator::Subdirectories);
             it.hasNext();) {
            const QString path = it.next();
            const bool isDir = it.fileInfo().isDir() && !it.fileInfo().isSymLink();
            entries.append(QDir(directory).relativeFilePath(path) + (isDir ? "/" : ""));
        }
        entries.sort();
        return entries;
    }

    QStringList expand(QStringList texts) const
    {
        const QString home = QFileInfo(m_home.path()).canonicalFilePath();
        for (QString& text : texts)
            text.replace("%src%", source()).replace("%clusters%", Settings::clustersDir()).replace("%home%", home);
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
        QVERIFY(writeFile(m_home.filePath("outside/secret.key"), "-----BEGIN-----\n"));
        QVERIFY(writeFile(m_home.filePath("outside/deep/x.proto"), "syntax = \"proto3\";\n"));
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
        QTest::newRow("one schema folder named twice")
            << ssl("", "", {}) << QStringList { "protos", "./protos/" } << QStringList()
            << QStringList { "imported/protos", "imported/protos/" } << QStringList { "protos/a.proto" };
        QTest::newRow("CA inside a schema folder")
            << ssl("", "", { "protos/a.proto" }) << QStringList { "protos" } << QStringList()
            << QStringList { "imported/protos/a.proto", "imported/protos" } << QStringList { "protos/a.proto" };
        QTest::newRow("schema folder inside the whole directory")
            << ssl("certs/client.pem", "", {}) << QStringList { "protos", "." } << QStringList()
            << QStringList { "imported/certs/client.pem", "imported/protos", "imported/." }
            << QStringList { "ca.pem", "certs/client.pem", "client.key", "cluster.yml", "keys/client.key", "protos/a.proto",
                   "tls/both.pem" };
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

    // Sources that would bring in files from elsewhere or without bound. Only
    // what lies inside the imported file's directory is copied, within the
    // limits; a refused certificate or key skips the file, a refused schema
    // directory copies nothing of it. Afterwards the clusters directory holds
    // nothing else.
    void importFileRefuses_data()
    {
        QTest::addColumn<QStringList>("links"); // "link -> target", below the source directory
        QTest::addColumn<QStringList>("sized"); // "path=bytes", sparse files below the source directory
        QTest::addColumn<Config::Ssl>("ssl");
        QTest::addColumn<QStringList>("schemas");
        QTest::addColumn<QStringList>("errors");
        QTest::addColumn<QStringList>("stored"); // certificate, key, CAs, schemas of the saved file
        QTest::addColumn<QStringList>("clusters"); // everything below the clusters directory

        const auto ssl = [](const QString& certificate, const QString& key, const QStringList& cas) {
            return Config::Ssl { Config::SslCertificateValidation::Full, cas, certificate, key, {} };
        };
        const QString throughLink = "the path leads through a symbolic link to '%1', outside the directory '%src%' of the "
                                    "configuration file";
        const QString entryThroughLink = "'%1' leads through a symbolic link to '%2', outside the directory '%src%' of the "
                                         "configuration file";

        QTest::newRow("certificate, a link to a file outside")
            << QStringList { "linked.pem -> %home%/outside.pem" } << QStringList() << ssl("linked.pem", "", {})
            << QStringList() << QStringList { "50 Failed to copy file 'linked.pem': " + throughLink.arg("%home%/outside.pem") }
            << QStringList() << QStringList();
        QTest::newRow("key in a linked folder outside")
            << QStringList { "private -> ../outside" } << QStringList() << ssl("certs/client.pem", "private/secret.key", {})
            << QStringList()
            << QStringList { "50 Failed to copy file 'private/secret.key': " + throughLink.arg("%home%/outside/secret.key") }
            << QStringList() << QStringList();
        QTest::newRow("CA through a chain of links and ..")
            << QStringList { "up -> certs/..", "hop -> up/.." } << QStringList() << ssl("", "", { "ca.pem", "hop/outside.pem" })
            << QStringList() << QStringList { "50 Failed to copy file 'hop/outside.pem': " + throughLink.arg("%home%/outside.pem") }
            << QStringList() << QStringList();
        QTest::newRow("link that stays inside")
            << QStringList { "alias.pem -> certs/client.pem" } << QStringList() << ssl("alias.pem", "", {}) << QStringList()
            << QStringList() << QStringList { "imported/alias.pem" }
            << QStringList { "imported.yml", "imported/", "imported/alias.pem" };
        QTest::newRow("certificate over the size limit")
            << QStringList() << QStringList { QString("big.pem=%1").arg(ConfigImportCopier::MaxCertificateBytes + 1) }
            << ssl("certs/client.pem", "", { "big.pem" }) << QStringList()
            << QStringList { QString("50 Failed to copy file 'big.pem': it holds more than %1 bytes, more than any certificate or key file")
                                 .arg(ConfigImportCopier::MaxCertificateBytes) }
            << QStringList() << QStringList();
        QTest::newRow("schema folder holding a link to a folder outside")
            << QStringList { "protos/usr -> %home%/outside" } << QStringList() << ssl("certs/client.pem", "", {})
            << QStringList { "protos" }
            << QStringList { "50 Failed to copy Protocol Buffers schemas from 'protos': "
                    + entryThroughLink.arg("%src%/protos/usr", "%home%/outside") }
            << QStringList { "imported/certs/client.pem" }
            << QStringList { "imported.yml", "imported/", "imported/certs/", "imported/certs/client.pem" };
        QTest::newRow("schema folder holding a link to a file outside")
            << QStringList { "protos/b.proto -> ../../outside/deep/x.proto" } << QStringList() << ssl("", "", {})
            << QStringList { "protos" }
            << QStringList { "50 Failed to copy Protocol Buffers schemas from 'protos': "
                    + entryThroughLink.arg("%src%/protos/b.proto", "%home%/outside/deep/x.proto") }
            << QStringList() << QStringList { "imported.yml" };
        QTest::newRow("schema folder a link outside, others copied")
            << QStringList { "linked -> %home%/outside" } << QStringList() << ssl("", "", {}) << QStringList { "./linked", "protos" }
            << QStringList { "50 Failed to copy Protocol Buffers schemas from './linked': "
                    + entryThroughLink.arg("%src%/linked", "%home%/outside") }
            << QStringList { "imported/protos" } << QStringList { "imported.yml", "imported/", "imported/protos/", "imported/protos/a.proto" };
        QTest::newRow("schema link through .. inside the link")
            << QStringList { "protos/deep/hop -> ../../certs/../.." } << QStringList() << ssl("", "", {}) << QStringList { "protos" }
            << QStringList { "50 Failed to copy Protocol Buffers schemas from 'protos': "
                    + entryThroughLink.arg("%src%/protos/deep/hop", "%home%") }
            << QStringList() << QStringList { "imported.yml" };

        // Each level links twice to the one below: 2^13 copies of one file.
        QStringList fan;
        for (int level = 1; level <= 13; ++level)
            for (const char* name : { "a", "b" })
                fan.append(QString("fan/%1/%2 -> ../%3").arg(level).arg(name).arg(level - 1));
        QTest::newRow("links that multiply a tree over the entry limit")
            << fan << QStringList { "fan/0/f.proto=1" } << ssl("", "", {}) << QStringList { "fan/13" }
            << QStringList { QString("50 Failed to copy Protocol Buffers schemas from 'fan/13': one imported configuration copies at "
                                     "most %1 files and directories")
                                 .arg(ConfigImportCopier::MaxCopiedEntries) }
            << QStringList() << QStringList { "imported.yml" };
        const qint64 half = ConfigImportCopier::MaxCopiedBytes / 2;
        QTest::newRow("schema files over the byte limit")
            << QStringList() << QStringList { QString("huge/a.proto=%1").arg(half), QString("huge/b.proto=%1").arg(half + 1) }
            << ssl("", "", {}) << QStringList { "huge", "protos" }
            << QStringList { QString("50 Failed to copy Protocol Buffers schemas from 'huge': one imported configuration copies at "
                                     "most %1 bytes")
                                 .arg(ConfigImportCopier::MaxCopiedBytes) }
            << QStringList { "imported/protos" } << QStringList { "imported.yml", "imported/", "imported/protos/", "imported/protos/a.proto" };
    }

    void importFileRefuses()
    {
        QFETCH(QStringList, links);
        QFETCH(QStringList, sized);
        QFETCH(Config::Ssl, ssl);
        QFETCH(QStringList, schemas);
        QFETCH(QStringList, errors);
        QFETCH(QStringList, stored);
        QFETCH(QStringList, clusters);

        for (const QString& link : expand(links)) {
            const QString name = source() + "/" + link.section(" -> ", 0, 0);
            QVERIFY(QDir().mkpath(QFileInfo(name).path()));
            QVERIFY(QFile::link(link.section(" -> ", 1), name));
        }
        for (const QString& file : sized) {
            QVERIFY(writeFile(source() + "/" + file.section('=', 0, 0), {}));
            QVERIFY(QFile::resize(source() + "/" + file.section('=', 0, 0), file.section('=', 1).toLongLong()));
        }
        const QString path = writeSource("cluster.yml", ssl, schemas);
        QVERIFY(!path.isEmpty());
        const QStringList outside = entriesBelow(m_home.filePath("outside"));
        const ImportResult result = ConfigImport::importFile(path);

        QCOMPARE(describe(result.errors), expand(errors));
        QCOMPARE(entriesBelow(Settings::clustersDir()), clusters);
        QCOMPARE(entriesBelow(m_home.filePath("outside")), outside);
        QCOMPARE(result.configs.size(), clusters.isEmpty() ? 0 : 1);
        if (clusters.isEmpty())
            return;
        const Result<Config, QList<KafkaError>> saved = Config::parseFromFile(Settings::clustersDir() + "/imported.yml");
        QVERIFY(saved.hasValue());
        const Config::Ssl& savedSsl = saved.value().cluster.ssl;
        QStringList paths { savedSsl.clientCertificatePath, savedSsl.clientKeyPath };
        paths.removeAll(QString());
        QCOMPARE(paths + savedSsl.serverCaCertificatePaths + saved.value().protobufDeserializer.schemaPaths, stored);
    }

    // A display name too long for a file name is imported under a cut stem
    // that fits, also when numbered, and kept whole in the file; no temporary
    // file stays behind.
    void longDisplayName()
    {
        QString displayName;
        while (displayName.toUtf8().size() < 400)
            displayName += QString::fromUtf8("Größter Cluster \u20ac\U0001F600 ");
        const QString path = writeSource("long.yml", {}, {}, displayName);
        QVERIFY(!path.isEmpty());

        ImportResult result;
        ConfigImport::mergeResult(result, ConfigImport::importFile(path));
        ConfigImport::mergeResult(result, ConfigImport::importFile(path));

        QCOMPARE(describe(result.errors), QStringList());
        QCOMPARE(result.configs.size(), 2);
        const QStringList entries = entriesBelow(Settings::clustersDir());
        QCOMPARE(entries.size(), 2);
        for (const Config& config : result.configs) {
            const QString name = QFileInfo(config.filePath).fileName();
            QVERIFY2(entries.contains(name), qPrintable(name));
            QVERIFY2(name.toUtf8().size() <= 143, qPrintable(name));
            const Result<Config, QList<KafkaError>> saved = Config::parseFromFile(config.filePath);
            QVERIFY(saved.hasValue());
            QCOMPARE(saved.value().displayName, displayName);
        }
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
