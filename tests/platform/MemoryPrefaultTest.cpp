// Populating memory ahead of writing leaves what it holds as it is, however
// the range lies on the pages, and memory not yet written takes writes after.
#include "MemoryPrefault.h"

#include <QTest>

#include <unistd.h>

class MemoryPrefaultTest : public QObject {
    Q_OBJECT

private slots:
    void contentsStay_data()
    {
        QTest::addColumn<qsizetype>("from");
        QTest::addColumn<qsizetype>("size");
        const qsizetype page = sysconf(_SC_PAGESIZE);
        QTest::newRow("nothing") << qsizetype(0) << qsizetype(0);
        QTest::newRow("below the minimum") << qsizetype(3) << qsizetype(MemoryPrefault::MinimumSize - 1);
        QTest::newRow("whole") << qsizetype(0) << qsizetype(1 << 20);
        QTest::newRow("odd start and end") << qsizetype(7) << qsizetype((1 << 20) - 20);
        QTest::newRow("less than a page past the minimum") << page - 1 << qsizetype(MemoryPrefault::MinimumSize + 2);
    }

    void contentsStay()
    {
        QFETCH(qsizetype, from);
        QFETCH(qsizetype, size);
        QByteArray bytes(1 << 20, Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 7 + i / 4096);
        const QByteArray before(bytes.constData(), bytes.size());
        MemoryPrefault::forWriting(bytes.data() + from, size);
        QCOMPARE(bytes, before);
    }

    void freshMemoryTakesWrites()
    {
        QByteArray bytes;
        bytes.reserve(8 << 20);
        bytes.resize(4 << 20);
        MemoryPrefault::forWriting(bytes.data() + 1, bytes.size() - 1);
        bytes.fill('a');
        bytes.append(QByteArray(4 << 20, 'b'));
        QCOMPARE(bytes.count('a'), 4 << 20);
        QCOMPARE(bytes.count('b'), 4 << 20);
    }
};

QTEST_GUILESS_MAIN(MemoryPrefaultTest)
#include "MemoryPrefaultTest.moc"
