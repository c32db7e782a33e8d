#include "TestHome.h"
#include "YamlWriter.h"

#include <QTest>

#include <csignal>

#include <sys/resource.h>

namespace {

// Saves a mapping {items: <strings>} to `target`.
std::optional<KafkaError> saveList(const QString& target, const QList<QString>& strings)
{
    yaml_document_t document {};
    yaml_document_initialize(&document, nullptr, nullptr, nullptr, 1, 1);
    const int root = yaml_document_add_mapping(&document, nullptr, YAML_ANY_MAPPING_STYLE);
    YamlWriter::appendMapping(document, root, "items", YamlWriter::writeStringArray(document, strings));
    return YamlWriter::writeDocumentToFile(document, target);
}

QStringList temporaryFiles(const QString& directory)
{
    return QDir(directory).entryList({ "test*" }, QDir::Files | QDir::Hidden);
}

} // namespace

class YamlWriterTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void savesIntoNewDirectoryAndOverwrites()
    {
        const QString directory = m_dir.filePath("new/clusters");
        const QString target = directory + "/a.yml";
        QVERIFY(!saveList(target, {}));
        QCOMPARE(readFile(target), QByteArray("items: []\n"));
        QVERIFY(!saveList(target, { "true", "~", "a: b" }));
        QCOMPARE(readFile(target), QByteArray("items:\n- true\n- ~\n- 'a: b'\n"));
        QCOMPARE(QDir(directory).entryList(QDir::Files | QDir::Hidden), QStringList { "a.yml" });
    }

    // A write that fails leaves the old file and no temporary file. A small
    // document fits the stream's buffer and fails when flushed; a large one
    // already fails while the emitter writes.
    void failedWriteLeavesTargetAndNoTemporaryFile()
    {
        const QString target = m_dir.filePath("limited/a.yml");
        QVERIFY(!saveList(target, { "old" }));
        std::signal(SIGXFSZ, SIG_IGN);
        for (const auto& [itemCount, error] : { std::pair { 1, QString("47 Failed to write temporary file '%1': File too large") },
                 std::pair { 20000, QString("182 Failed to write YAML document: write error") } }) {
            rlimit previous {};
            getrlimit(RLIMIT_FSIZE, &previous);
            const rlimit limit { 4, previous.rlim_max }; // writing beyond four bytes fails with EFBIG, also for root
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
            const std::optional<KafkaError> result = saveList(target, QList<QString>(itemCount, "new value"));
            setrlimit(RLIMIT_FSIZE, &previous);
            QVERIFY(result);
            static const QRegularExpression temporary("'[^']*'");
            QCOMPARE(describe({ *result }).first().replace(temporary, "'%1'"), error);
            QCOMPARE(readFile(target), QByteArray("items:\n- old\n"));
            QCOMPARE(temporaryFiles(m_dir.filePath("limited")), QStringList());
        }
    }

    // A save onto a symbolic link replaces the file the link leads to, with
    // the temporary file beside it; the link stays as it was.
    void savesThroughSymbolicLinks_data()
    {
        QTest::addColumn<QStringList>("links"); // "link -> target" pairs, made in order
        QTest::addColumn<QString>("target"); // the file that gets the content
        QTest::newRow("same directory") << QStringList { "a.yml -> real.yml" } << "real.yml";
        QTest::newRow("relative, other directory") << QStringList { "a.yml -> ../elsewhere/real.yml" } << "../elsewhere/real.yml";
        QTest::newRow("chain, target not yet there") << QStringList { "a.yml -> b.yml", "b.yml -> ../new/real.yml" } << "../new/real.yml";
    }

    void savesThroughSymbolicLinks()
    {
        QFETCH(QStringList, links);
        QFETCH(QString, target);
        QTemporaryDir root;
        const QDir dir(root.filePath("links"));
        QVERIFY(QDir().mkpath(dir.path()) && QDir().mkpath(root.filePath("elsewhere")));
        if (!target.startsWith("../new"))
            QVERIFY(writeFile(dir.filePath(target), "old\n"));
        for (const QString& link : links)
            QVERIFY(QFile::link(link.section(" -> ", 1), dir.filePath(link.section(" -> ", 0, 0))));
        QVERIFY(!saveList(dir.filePath("a.yml"), { "new" }));
        QCOMPARE(readFile(dir.filePath(target)), QByteArray("items:\n- new\n"));
        for (const QString& link : links)
            QCOMPARE(QFile::symLinkTarget(dir.filePath(link.section(" -> ", 0, 0))), QDir::cleanPath(dir.filePath(link.section(" -> ", 1))));
        QCOMPARE(temporaryFiles(dir.path()) + temporaryFiles(QFileInfo(dir.filePath(target)).path()), QStringList());
    }

    // A failed replacement leaves neither the temporary file nor anything
    // else in the directory: a save that fails again and again (a name the
    // file system refuses) leaves nothing per attempt.
    void failedRenameLeavesNoTemporaryFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("target is a directory") << "a.yml" << "Is a directory 21";
        QTest::newRow("name too long") << QString(300, 'n') + ".yml" << "File name too long 36";
    }

    void failedRenameLeavesNoTemporaryFile()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        QTemporaryDir root;
        const QString directory = root.filePath("occupied");
        QVERIFY(QDir().mkpath(directory + "/a.yml/inside"));
        for (int attempt = 0; attempt < 2; ++attempt) {
            const std::optional<KafkaError> error = saveList(directory + "/" + name, { "x" });
            QVERIFY(error);
            static const QRegularExpression temporary("'[^']*'");
            QCOMPARE(describe({ *error }).join("").replace(temporary, "'%1'"),
                "48 Failed to overwrite configuration file with temporary file '%1': " + reason);
            QCOMPARE(QDir(directory).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
                QStringList { "a.yml" });
        }
        QVERIFY(QFileInfo(directory + "/a.yml/inside").isDir());
    }

    void directoryThatCannotBeCreated()
    {
        QVERIFY(writeFile(m_dir.filePath("blocker"), {}));
        const std::optional<KafkaError> error = saveList(m_dir.filePath("blocker/sub/a.yml"), { "x" });
        QVERIFY(error);
        QCOMPARE(describe({ *error }).join(""), QString("47 Failed to create configuration directory: %1").arg(m_dir.filePath("blocker/sub")));
    }
};

QTEST_GUILESS_MAIN(YamlWriterTest)
#include "YamlWriterTest.moc"
