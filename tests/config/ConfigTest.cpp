#include "Config.h"
#include "FileHelpers.h"
#include "Settings.h"
#include "TestHome.h"

#include <QDirIterator>
#include <QTest>

namespace {

// Every entry below `root` as "relative/path" (directories) or
// "relative/path=contents" (files), sorted.
QStringList tree(const QString& root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(root).relativeFilePath(path);
        entries.append(it.fileInfo().isDir() ? relative : QString("%1=%2").arg(relative, QString::fromUtf8(readFile(path))));
    }
    entries.sort();
    return entries;
}

} // namespace

class ConfigTest : public QObject {
    Q_OBJECT

    TestHome m_home;
    QString m_clustersDir;

    QString path(const QString& relative) const { return m_home.filePath(relative); }

private slots:
    void initTestCase() { QVERIFY(m_home.setUp()); m_clustersDir = Settings::clustersDir(); }
    void init() { QDir(m_clustersDir).removeRecursively(); QVERIFY(QDir().mkpath(m_clustersDir)); }

    void brokerFromString()
    {
        QCOMPARE(Config::Broker::fromString(" kafka :65535").value(), (Config::Broker { " kafka ", 65535 }));
        const QList<std::pair<QString, QString>> failures {
            { "[::1]:9092", "Expected host:port" },
            { "%1%2", "Expected host:port" },
            { "kafka:4294967297", "The port number is not a valid number" },
            { "kafka:65536", "The port number must be between 1 and 65535" },
        };
        for (const auto& [text, reason] : failures) {
            const Result<Config::Broker, KafkaError> result = Config::Broker::fromString(text);
            QVERIFY2(result.isError(), qPrintable(text));
            QCOMPARE(describe({ result.error() }), QStringList { QString("54 Invalid host format '%1'. %2").arg(text, reason) });
        }
    }

    // File names come from display names; a stem taken by a file or by an
    // extra directory gets a number; no name leads outside the directory, to a
    // hidden file, or to an empty stem.
    void findAvailableFilePath_data()
    {
        QTest::addColumn<QString>("displayName");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("white space runs") << "  My   Test  Cluster " << QStringList() << "my-test-cluster.yml";
        QTest::newRow("dash runs collapse") << "a - b" << QStringList() << "a-b.yml";
        QTest::newRow("case folded, dots kept") << "EU.Prod" << QStringList() << "eu.prod.yml";
        QTest::newRow("numbered taken") << "Prod" << QStringList { "prod.yml", "prod-1.yml" } << "prod-2.yml";
        QTest::newRow("extra directory taken") << "Prod" << QStringList { "prod.yml", "prod-1/" } << "prod-2.yml";
        QTest::newRow("separators") << "a/b\\c" << QStringList() << "a-b-c.yml";
        QTest::newRow("parent directory") << "../../etc/x" << QStringList() << "-..-etc-x.yml";
        QTest::newRow("hidden") << ".hidden" << QStringList() << "hidden.yml";
        QTest::newRow("control characters") << QString("a") + QChar(0) + "b" + QChar(7) + "c" << QStringList() << "a-b-c.yml";
        QTest::newRow("only dots") << ".." << QStringList() << "cluster.yml";
        QTest::newRow("only blanks") << "   " << QStringList { "cluster.yml" } << "cluster-1.yml";

        // A long stem is cut to 128 bytes of UTF-8 at a whole character, so
        // that the name fits every file system also when numbered.
        QTest::newRow("long") << QString(300, 'a') << QStringList() << QString(128, 'a') + ".yml";
        QTest::newRow("long, numbered") << QString(300, 'A') << QStringList { QString(128, 'a') + ".yml" }
                                        << QString(128, 'a') + "-1.yml";
        QTest::newRow("long, two-byte characters") << QString(200, QChar(0xe9)) << QStringList() << QString(64, QChar(0xe9)) + ".yml";
        QTest::newRow("long, cut before a three-byte character")
            << "a" + QString(100, QChar(0x20ac)) << QStringList() << "a" + QString(42, QChar(0x20ac)) + ".yml";
        QTest::newRow("long, cut before a surrogate pair")
            << "ab" + QString::fromUtf8("\U0001F600").repeated(40) << QStringList()
            << "ab" + QString::fromUtf8("\U0001F600").repeated(31) + ".yml";
    }

    void findAvailableFilePath()
    {
        QFETCH(QString, displayName);
        QFETCH(QStringList, existing);
        QFETCH(QString, fileName);
        for (const QString& name : existing)
            QVERIFY(name.endsWith('/') ? QDir(m_clustersDir).mkdir(name.chopped(1)) : writeFile(m_clustersDir + "/" + name, {}));
        Config config;
        config.filePath = Config::findAvailableFilePath(displayName);
        QCOMPARE(config.filePath, m_clustersDir + "/" + fileName);
        QCOMPARE(config.extraPath(), config.filePath.chopped(4));
        QVERIFY(!QFileInfo::exists(config.filePath) && !QFileInfo::exists(config.extraPath()));
        config.displayName = displayName;
        const std::optional<KafkaError> saveFailure = Config::saveToFile(config);
        QCOMPARE(saveFailure ? describe({ *saveFailure }) : QStringList(), QStringList());
    }

    // Copies create missing directories, leave hidden entries behind and never
    // overwrite: an existing file stops the copy after the subdirectories of its level.
    void copyFileAndPath()
    {
        QVERIFY(writeFile(path("tree/.hidden"), "h"));
        QVERIFY(writeFile(path("tree/sub/first.txt"), "1"));
        QVERIFY(writeFile(path("tree/taken.txt"), "new"));
        QVERIFY(::copyFile(path("tree/taken.txt"), path("file/new/copy.txt")));
        QVERIFY(!::copyFile(path("tree/sub/first.txt"), path("file/new/copy.txt")));
        QCOMPARE(readFile(path("file/new/copy.txt")), QByteArray("new"));
        QVERIFY(::copyPath(path("tree"), path("copy")));
        QCOMPARE(tree(path("copy")), (QStringList { "sub", "sub/first.txt=1", "taken.txt=new" }));
        QVERIFY(writeFile(path("clash/taken.txt"), "old"));
        QVERIFY(!::copyPath(path("tree"), path("clash")));
        QCOMPARE(tree(path("clash")), (QStringList { "sub", "sub/first.txt=1", "taken.txt=old" }));
        QVERIFY(!::copyPath(path("nosuchdir"), path("none")) && !::copyFile(path("absent"), path("none/x")) && !QFileInfo::exists(path("none")));
    }

    void copyPathRefusesItsOwnTree_data()
    {
        QTest::addColumn<QString>("destination");
        QTest::newRow("same") << "self";
        QTest::newRow("same, spelled differently") << "self/sub/..";
        QTest::newRow("inside, not yet existing") << "self/new/copy";
        QTest::newRow("through a link") << "selflink/copy";
    }

    void copyPathRefusesItsOwnTree()
    {
        QFETCH(QString, destination);
        QVERIFY(writeFile(path("self/sub/x.txt"), "x"));
        QFile::link(path("self"), path("selflink"));
        const QStringList before = tree(path("self"));
        QVERIFY(!::copyPath(path("self"), path(destination)));
        QCOMPARE(tree(path("self")), before);
    }

    void copyPathFollowsLinksButNotLoops()
    {
        QVERIFY(writeFile(path("looped/a/file.txt"), "f"));
        QVERIFY(writeFile(path("outside/o.txt"), "o"));
        QVERIFY(QFile::link(path("looped"), path("looped/a/back")));
        QVERIFY(QFile::link(path("looped/a"), path("looped/parent")));
        QVERIFY(QFile::link(path("outside"), path("looped/out")));
        QVERIFY(::copyPath(path("looped"), path("loopcopy")));
        QCOMPARE(tree(path("loopcopy")), (QStringList { "a", "a/file.txt=f", "out", "out/o.txt=o", "parent", "parent/file.txt=f" }));
    }

    // A path leads into a directory under every spelling of either; a link loop on the
    // way ends the look-up.
    void pathWithin_data()
    {
        QTest::addColumn<QString>("named");
        QTest::addColumn<QString>("directory");
        QTest::addColumn<QString>("within"); // "-": not within
        QTest::newRow("inside as written") << "own/certs/ca.pem" << "own" << "certs/ca.pem";
        QTest::newRow("the directory itself") << "own/certs/../" << "own/" << ".";
        QTest::newRow("inside, missing") << "own/none/ca.pem" << "own" << "none/ca.pem";
        QTest::newRow("a link out of it, as written") << "own/out/x.pem" << "own" << "out/x.pem";
        QTest::newRow("through a linked directory") << "alias/certs/ca.pem" << "own" << "certs/ca.pem";
        QTest::newRow("through a linked directory, missing") << "alias/none/ca.pem" << "own" << "none/ca.pem";
        QTest::newRow("into a linked directory") << "own/certs/ca.pem" << "alias" << "certs/ca.pem";
        QTest::newRow("through a linked parent") << "home/own/certs/ca.pem" << "own" << "certs/ca.pem";
        QTest::newRow("a file linked into it") << "other/ca.pem" << "own" << "certs/ca.pem";
        QTest::newRow("\"..\" after a link") << "sublink/../certs/ca.pem" << "own" << "certs/ca.pem";
        QTest::newRow("\"..\" after a link, missing") << "sublink/x/../../none/ca.pem" << "own" << "none/ca.pem";
        QTest::newRow("\"..\" after a link out of it") << "own/out/../own/x.pem" << "own" << "-";
        QTest::newRow("into a directory named with \"..\" after a link") << "own/certs/ca.pem" << "sublink/.." << "certs/ca.pem";
        QTest::newRow("\"..\" after a link loop") << "loop/../own/certs/ca.pem" << "own" << "certs/ca.pem";
        QTest::newRow("a sibling with the same beginning") << "own2/ca.pem" << "own" << "-";
        QTest::newRow("a link to a sibling") << "elsewhere/ca.pem" << "own" << "-";
        QTest::newRow("a link loop on the way") << "loop/x/ca.pem" << "own" << "-";
        QTest::newRow("a missing directory") << "own/certs/ca.pem" << "none" << "-";
    }

    void pathWithin()
    {
        QFETCH(QString, named);
        QFETCH(QString, directory);
        QFETCH(QString, within);
        QVERIFY(writeFile(m_clustersDir + "/own/certs/ca.pem", "ca") && writeFile(m_clustersDir + "/own2/ca.pem", "ca"));
        QVERIFY(writeFile(path("outside/x.pem"), "x"));
        QVERIFY(QFile::link(path("outside"), m_clustersDir + "/own/out"));
        QVERIFY(QFile::link("own", m_clustersDir + "/alias") && QFile::link("own2", m_clustersDir + "/elsewhere"));
        QVERIFY(QFile::link(m_clustersDir, m_clustersDir + "/home"));
        QVERIFY(QDir().mkpath(m_clustersDir + "/other") && QFile::link("../own/certs/ca.pem", m_clustersDir + "/other/ca.pem"));
        QVERIFY(QFile::link("loop", m_clustersDir + "/loop") && QFile::link("own/certs", m_clustersDir + "/sublink"));
        const std::optional<QString> found = ::pathWithin(m_clustersDir + "/" + named, m_clustersDir + "/" + directory);
        QCOMPARE(found.value_or("-"), within);
    }
};

QTEST_GUILESS_MAIN(ConfigTest)
#include "ConfigTest.moc"
