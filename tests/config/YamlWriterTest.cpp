#include "YamlWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/resource.h>

namespace {

// Limits the size of files this process may write, so that writing fails with
// EFBIG even for root; the previous limit comes back on destruction.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_previous); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_previous {};
};

// Saves a mapping {items: <strings>} to `target`.
std::optional<KafkaError> saveList(const QString& target, const QList<QString>& strings)
{
    yaml_document_t document {};
    yaml_document_initialize(&document, nullptr, nullptr, nullptr, 1, 1);
    const int root = yaml_document_add_mapping(&document, nullptr, YAML_ANY_MAPPING_STYLE);
    YamlWriter::appendMapping(document, root, "items", YamlWriter::writeStringArray(document, strings));
    return YamlWriter::writeDocumentToFile(document, target);
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
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
    void errorKindsMapToCodes()
    {
        const KafkaErrorCode fallback = KafkaErrorCode::YamlSaveError;
        QCOMPARE(YamlWriter::mapYamlError(YAML_NO_ERROR, fallback), fallback);
        for (int kind = YAML_MEMORY_ERROR; kind <= YAML_EMITTER_ERROR; ++kind)
            QCOMPARE(int(YamlWriter::mapYamlError(yaml_error_type_t(kind), fallback)), 176 + kind);
        QCOMPARE(YamlWriter::mapYamlError(yaml_error_type_t(8), KafkaErrorCode::InvalidYamlDocument), KafkaErrorCode::InvalidYamlDocument);
    }

    void savesIntoNewDirectoryAndOverwrites()
    {
        const QString directory = m_dir.filePath("new/clusters");
        const QString target = directory + "/a.yml";
        QVERIFY(!saveList(target, {}));
        QCOMPARE(contents(target), QByteArray("items: []\n"));

        QVERIFY(!saveList(target, { "true", "~", "a: b" }));
        QCOMPARE(contents(target), QByteArray("items:\n- true\n- ~\n- 'a: b'\n"));
        QCOMPARE(QDir(directory).entryList(QDir::Files | QDir::Hidden), QStringList { "a.yml" });
    }

    void failedWriteLeavesTargetAndNoTemporaryFile_data()
    {
        QTest::addColumn<int>("itemCount");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("prefix");
        // A small document fits the stream's buffer and fails when flushed; a
        // large one already fails while the emitter writes.
        QTest::newRow("on flush") << 1 << int(KafkaErrorCode::FileAccessError) << "Failed to write temporary file '";
        QTest::newRow("while emitting") << 20000 << int(KafkaErrorCode::YamlWriterError) << "Failed to write YAML document: write error";
    }

    void failedWriteLeavesTargetAndNoTemporaryFile()
    {
        QFETCH(int, itemCount);
        QFETCH(int, code);
        QFETCH(QString, prefix);
        const QString target = m_dir.filePath("limited/a.yml");
        QVERIFY(!saveList(target, { "old" }));
        const QByteArray old = contents(target);

        std::optional<KafkaError> error;
        {
            const FileSizeLimit limit(4);
            error = saveList(target, QList<QString>(itemCount, "new value"));
        }
        QVERIFY(error);
        QCOMPARE(int(error->code), code);
        QVERIFY2(error->message.startsWith(prefix), qPrintable(error->message));
        QVERIFY2(error->message.endsWith("File too large") || code != int(KafkaErrorCode::FileAccessError), qPrintable(error->message));
        QCOMPARE(contents(target), old);
        QCOMPARE(temporaryFiles(m_dir.filePath("limited")), QStringList());
    }

    void failedRenameKeepsTheTemporaryFile()
    {
        const QString target = m_dir.filePath("occupied/a.yml");
        QVERIFY(QDir().mkpath(target + "/inside"));
        const std::optional<KafkaError> error = saveList(target, { "x" });
        QVERIFY(error);
        QCOMPARE(error->code, KafkaErrorCode::FileReplaceError);
        const QStringList temporary = temporaryFiles(m_dir.filePath("occupied"));
        QCOMPARE(temporary.size(), 1);
        const QString temporaryPath = m_dir.filePath("occupied/" + temporary.first());
        QCOMPARE(error->message,
            QString("Failed to overwrite configuration file with temporary file '%1': Is a directory 21").arg(temporaryPath));
        QCOMPARE(contents(temporaryPath), QByteArray("items:\n- x\n"));
        QVERIFY(QFileInfo(target + "/inside").isDir());
    }

    void directoryThatCannotBeCreated()
    {
        QFile blocker(m_dir.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const std::optional<KafkaError> error = saveList(m_dir.filePath("blocker/sub/a.yml"), { "x" });
        QVERIFY(error);
        QCOMPARE(error->code, KafkaErrorCode::FileAccessError);
        QCOMPARE(error->message, QString("Failed to create configuration directory: %1").arg(m_dir.filePath("blocker/sub")));
    }
};

QTEST_GUILESS_MAIN(YamlWriterTest)
#include "YamlWriterTest.moc"
