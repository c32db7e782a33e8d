#include "FileHelpers.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool writeFile(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Every entry below `root` as "relative/path" (directories) or
// "relative/path=contents" (files), sorted.
QStringList tree(const QString& root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(root).relativeFilePath(path);
        entries.append(it.fileInfo().isDir() ? relative : QString("%1=%2").arg(relative, QString::fromUtf8(contents(path))));
    }
    entries.sort();
    return entries;
}

} // namespace

class FileHelpersTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString path(const QString& relative) const { return m_dir.filePath(relative); }

private slots:
    void cleanupRelativePath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("cleaned");
        QTest::newRow("leading dot slash") << "./certs/ca.pem" << "certs/ca.pem";
        QTest::newRow("only one removed") << "././x" << "./x";
        QTest::newRow("relative") << "certs/ca.pem" << "certs/ca.pem";
        QTest::newRow("absolute") << "/abs/ca.pem" << "/abs/ca.pem";
        QTest::newRow("parent") << "../ca.pem" << "../ca.pem";
        QTest::newRow("backslash") << ".\\ca.pem" << ".\\ca.pem";
        QTest::newRow("inner") << "a/./b" << "a/./b";
    }

    void cleanupRelativePath()
    {
        QFETCH(QString, path);
        QFETCH(QString, cleaned);
        QCOMPARE(::cleanupRelativePath(path), cleaned);
    }

    void copyFile()
    {
        QVERIFY(writeFile(path("file/source.pem"), "pem"));
        QVERIFY(::copyFile(path("file/source.pem"), path("file/new/dir/copy.pem")));
        QCOMPARE(contents(path("file/new/dir/copy.pem")), QByteArray("pem"));

        QVERIFY(writeFile(path("file/existing.pem"), "keep"));
        QVERIFY(!::copyFile(path("file/source.pem"), path("file/existing.pem")));
        QCOMPARE(contents(path("file/existing.pem")), QByteArray("keep"));

        QVERIFY(!::copyFile(path("file/absent.pem"), path("file/missing/copy.pem")));
        QVERIFY(!::copyFile(path("file/new"), path("file/fromdir/copy")));
        QVERIFY(!QFileInfo::exists(path("file/missing")));
        QVERIFY(!QFileInfo::exists(path("file/fromdir")));
    }

    void copyPathReproducesTheTree()
    {
        QVERIFY(writeFile(path("tree/a.txt"), "a"));
        QVERIFY(writeFile(path("tree/sub/b.txt"), "b"));
        QVERIFY(writeFile(path("tree/sub/deeper/c.txt"), "c"));
        QVERIFY(writeFile(path("tree/.hidden"), "h"));
        QVERIFY(QDir().mkpath(path("tree/empty")));
        QVERIFY(::copyPath(path("tree"), path("out/tree")));
        QCOMPARE(tree(path("out/tree")),
            (QStringList { "a.txt=a", "empty", "sub", "sub/b.txt=b", "sub/deeper", "sub/deeper/c.txt=c" }));

        QVERIFY(QDir().mkpath(path("emptysource")));
        QVERIFY(::copyPath(path("emptysource"), path("out/empty")));
        QVERIFY(QFileInfo(path("out/empty")).isDir());

        QVERIFY(!::copyPath(path("nosuchdir"), path("out/none")));
        QVERIFY(!::copyPath(path("tree/a.txt"), path("out/none")));
        QVERIFY(!QFileInfo::exists(path("out/none")));
    }

    void copyPathStopsAtAnExistingFile()
    {
        QVERIFY(writeFile(path("clash/sub/first.txt"), "1"));
        QVERIFY(writeFile(path("clash/taken.txt"), "new"));
        QVERIFY(writeFile(path("clashout/taken.txt"), "old"));
        QVERIFY(!::copyPath(path("clash"), path("clashout")));
        // Subdirectories come before the files of their level.
        QCOMPARE(tree(path("clashout")), (QStringList { "sub", "sub/first.txt=1", "taken.txt=old" }));
    }

    void copyPathRefusesItsOwnTree_data()
    {
        QTest::addColumn<QString>("destination");
        QTest::newRow("same") << "self";
        QTest::newRow("same, spelled differently") << "self/sub/..";
        QTest::newRow("inside") << "self/sub/copy";
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
};

QTEST_GUILESS_MAIN(FileHelpersTest)
#include "FileHelpersTest.moc"
