#include "KafkaRecordListItemDelegate.h"
#include "KafkaRecordModel.h"
#include "PinnedLocale.h"
#include "Screenshot.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QListView>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <set>

namespace {

using Batches = QList<QList<KafkaRecord>>;

KafkaRecord record(std::int64_t timestamp, const QString& topic, std::int32_t partition, std::int64_t offset,
    QByteArray key = "key")
{
    return KafkaRecord {.timestamp = timestamp, .topic = topic, .partition = partition, .offset = offset,
        .key = std::move(key), .value = "value", .headers = {}};
}

// "timestamp/topic/partition/offset" of every row.
QStringList rows(const KafkaRecordModel& model)
{
    QStringList list;
    for (int row = 0; row < model.rowCount(); ++row) {
        const KafkaRecord& r = model.record(model.index(row));
        list.append(QStringLiteral("%1/%2/%3/%4").arg(r.timestamp).arg(r.topic).arg(r.partition).arg(r.offset));
    }
    return list;
}

// Records of two topics and three partitions in random order in batches of
// 97; the offsets are drawn at random, so about a quarter come again.
Batches shuffledBatches(int count)
{
    QRandomGenerator random(count);
    Batches batches(count / 97 + 1);
    for (int i = 0; i < count; ++i) {
        const int offset = random.bounded(count / 2);
        const QString topic = random.bounded(2) ? "orders" : "Orders";
        batches[i / 97].append(record(offset / 4, topic, random.bounded(3), offset));
    }
    return batches;
}

} // namespace

class KafkaRecordModelTest : public QObject {
    Q_OBJECT

private slots:
    // Each new record is announced once, alone, at the row it ends up on,
    // between its neighbours; a record already held is skipped.
    void insertion_data()
    {
        QTest::addColumn<Batches>("batches");
        QTest::addColumn<QStringList>("expected");
        const KafkaRecord a = record(10, "t", 0, 5);
        QTest::newRow("the same record twice") << Batches {{a}, {a, a}} << QStringList {"10/t/0/5"};
        QTest::newRow("equal timestamps: topic by code unit, then partition, then offset")
            << Batches {{record(7, "a", 0, 1), record(7, "B", 1, 0), record(7, "B", 0, 9),
                   record(7, "B", 0, 3)}}
            << QStringList {"7/B/0/3", "7/B/0/9", "7/B/1/0", "7/a/0/1"};
        QTest::newRow("an older record goes first")
            << Batches {{record(20, "t", 0, 2), record(30, "t", 0, 3)}, {record(-5, "t", 1, 0)}}
            << QStringList {"-5/t/1/0", "20/t/0/2", "30/t/0/3"};
        QTest::newRow("a few hundred, shuffled with repeats") << shuffledBatches(300) << QStringList();
        QTest::newRow("enough for a deep tree") << shuffledBatches(40000) << QStringList();
    }

    void insertion()
    {
        QFETCH(Batches, batches);
        QFETCH(QStringList, expected);
        KafkaRecordModel model;
        // The tester walks the whole model on every change: a few hundred rows at most.
        std::unique_ptr<QAbstractItemModelTester> tester;
        if (batches.size() < 10)
            tester = std::make_unique<QAbstractItemModelTester>(&model);
        const KafkaRecordModel::RecordComparator less;
        std::set<KafkaRecord, KafkaRecordModel::RecordComparator> seen;
        connect(&model, &QAbstractItemModel::rowsInserted, this, [&](const QModelIndex&, int first, int last) {
            QCOMPARE(last, first);
            const KafkaRecord& inserted = model.record(model.index(first));
            QVERIFY(seen.insert(inserted).second);
            QVERIFY(first == 0 || less(model.record(model.index(first - 1)), inserted));
            QVERIFY(first + 1 == model.rowCount() || less(inserted, model.record(model.index(first + 1))));
        });
        std::set<KafkaRecord, KafkaRecordModel::RecordComparator> distinct;
        for (const QList<KafkaRecord>& batch : batches) {
            distinct.insert(batch.begin(), batch.end());
            model.insertRecords(batch);
        }
        QCOMPARE(std::size_t(model.rowCount()), distinct.size());
        QCOMPARE(seen.size(), distinct.size());
        if (!expected.isEmpty())
            QCOMPARE(rows(model), expected);
    }

    void reset_data()
    {
        QTest::addColumn<QString>("removedTopic");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("a topic removed") << "a" << QStringList {"1/b/0/0", "2/A/0/0", "4/b/0/1"};
        QTest::newRow("a topic without records") << "c" << QStringList {"1/b/0/0", "2/A/0/0", "3/a/0/0", "4/b/0/1"};
        QTest::newRow("clear") << QString() << QStringList();
    }

    void reset()
    {
        QFETCH(QString, removedTopic);
        QFETCH(QStringList, expected);
        KafkaRecordModel model;
        QAbstractItemModelTester tester(&model);
        model.insertRecords({record(3, "a", 0, 0), record(1, "b", 0, 0), record(4, "b", 0, 1), record(2, "A", 0, 0)});
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        if (removedTopic.isNull())
            model.clear();
        else
            model.removeRecordsWithTopic(removedTopic);
        QCOMPARE(resets.size(), 1);
        QCOMPARE(rows(model), expected);
        model.insertRecords({record(0, "z", 0, 0)});
        QCOMPARE(rows(model).value(0), "0/z/0/0");
    }

    // The display text, line 2 of a row, and the row painted.
    void texts_data()
    {
        QTest::addColumn<KafkaRecord>("input");
        QTest::addColumn<bool>("showTopic");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("line2Left");
        QTest::newRow("one topic") << record(0, "t", 3, 42, "k\xC3\xA9y") << false << QString::fromUtf8("42 - kéy")
                                   << "3@42";
        QTest::newRow("several topics") << record(0, "t%1", 3, 42) << true << "42 - key" << "t%1-3@42";
        QTest::newRow("null key") << record(0, "t", 0, 7, QByteArray()) << false << "7 - " << "0@7";
    }

    void texts()
    {
        QFETCH(KafkaRecord, input);
        QFETCH(bool, showTopic);
        QFETCH(QString, display);
        QFETCH(QString, line2Left);
        KafkaRecordModel model;
        model.insertRecords({input});
        QCOMPARE(model.data(model.index(0), Qt::DisplayRole).toString(), display);
        KafkaRecordListItemDelegate delegate;
        delegate.showTopic = showTopic;
        QCOMPARE(delegate.generateLine2Left(input), line2Left);
        // Painted as the records tab shows it.
        QListView view;
        view.setUniformItemSizes(true);
        view.setItemDelegate(&delegate);
        view.setModel(&model);
        view.setCurrentIndex(model.index(0));
        view.resize(320, 60);
        QVERIFY(saveScreenshot(view, "record-list-" + QString(QTest::currentDataTag()).replace(' ', '-')));
    }
};

int main(int argc, char** argv)
{
    pinTimeZoneAndLocale();
    QApplication application(argc, argv);
    KafkaRecordModelTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "KafkaRecordModelTest.moc"
