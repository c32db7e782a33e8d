#include "DrawnText.h"
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

#include <algorithm>
#include <memory>
#include <set>

namespace {

using Batches = QList<QList<KafkaRecord>>;
// First and last row of each insertion.
using Rows = QList<QPair<int, int>>;

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

// Two topics, three partitions, shuffled in batches of 97; about a quarter come again.
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

public:
    static void initMain() { pinTimeZoneAndLocale(); }

private slots:
    // Each new record is announced once, at its row between its neighbours,
    // together with the new records adjacent to it; then `after` ("clear" or
    // a topic to remove) resets the model.
    void insertion_data()
    {
        QTest::addColumn<Batches>("batches");
        QTest::addColumn<QString>("after");
        QTest::addColumn<QStringList>("expected");
        const KafkaRecord a = record(10, "t", 0, 5);
        QTest::newRow("the same record twice") << Batches {{a}, {a, a}} << "" << QStringList {"10/t/0/5"};
        QTest::newRow("equal timestamps: topic by code unit, then partition, then offset, a topic removed")
            << Batches {{record(7, "a", 0, 1), record(7, "B", 1, 0), record(7, "B", 0, 9), record(8, "a", 0, 0)},
                   {record(7, "B", 0, 3)}}
            << "a" << QStringList {"7/B/0/3", "7/B/0/9", "7/B/1/0"};
        QTest::newRow("clear") << Batches {{a}} << "clear" << QStringList();
        QTest::newRow("a few hundred, shuffled with repeats") << shuffledBatches(300) << "" << QStringList();
        QTest::newRow("enough for a deep tree") << shuffledBatches(40000) << "" << QStringList();
    }

    void insertion()
    {
        QFETCH(Batches, batches);
        QFETCH(QString, after);
        QFETCH(QStringList, expected);
        KafkaRecordModel model;
        // The tester walks the whole model on every change: a few hundred rows at most.
        const auto tester = batches.size() < 10 ? std::make_unique<QAbstractItemModelTester>(&model) : nullptr;
        const KafkaRecordModel::RecordComparator less;
        std::set<KafkaRecord, KafkaRecordModel::RecordComparator> seen;
        connect(&model, &QAbstractItemModel::rowsInserted, this, [&](const QModelIndex&, int first, int last) {
            QVERIFY(first <= last);
            for (int row = first; row <= last; ++row) {
                const KafkaRecord& inserted = model.record(model.index(row));
                QVERIFY(seen.insert(inserted).second);
                QVERIFY(row == 0 || less(model.record(model.index(row - 1)), inserted));
                QVERIFY(row + 1 == model.rowCount() || less(inserted, model.record(model.index(row + 1))));
            }
        });
        std::set<KafkaRecord, KafkaRecordModel::RecordComparator> distinct;
        for (const QList<KafkaRecord>& batch : batches) {
            distinct.insert(batch.begin(), batch.end());
            model.insertRecords(batch);
        }
        QCOMPARE(std::size_t(model.rowCount()), distinct.size());
        QCOMPARE(seen.size(), distinct.size());
        if (!after.isEmpty()) {
            QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
            after == "clear" ? model.clear() : model.removeRecordsWithTopic(after);
            QCOMPARE(resets.size(), 1);
        }
        if (!expected.isEmpty() || !after.isEmpty())
            QCOMPARE(rows(model), expected);
        model.insertRecords({record(-1, "z", 0, 0)});
        QCOMPARE(rows(model).value(0), "-1/z/0/0");
    }

    // A batch is announced as one insertion per run of new records that end
    // up side by side, in row order, between one signal before the batch and
    // one after it; a batch of records held already announces nothing.
    void runsAnnouncedTogether_data()
    {
        QTest::addColumn<QList<std::int64_t>>("held");
        QTest::addColumn<QList<std::int64_t>>("batch"); // timestamps
        QTest::addColumn<Rows>("insertions");

        QTest::newRow("continuing the list") << QList<std::int64_t> {10, 20} << QList<std::int64_t> {30, 31, 32}
                                             << Rows {{2, 4}};
        QTest::newRow("shuffled, among and around the rows")
            << QList<std::int64_t> {10, 20, 30} << QList<std::int64_t> {35, 31, 5, 15, 16, 32, 20, 31}
            << Rows {{0, 0}, {2, 3}, {6, 8}};
        QTest::newRow("into an empty list") << QList<std::int64_t> {} << QList<std::int64_t> {3, 1, 2}
                                            << Rows {{0, 2}};
        QTest::newRow("nothing new") << QList<std::int64_t> {10, 20} << QList<std::int64_t> {20, 10} << Rows {};
    }

    void runsAnnouncedTogether()
    {
        QFETCH(QList<std::int64_t>, held);
        QFETCH(QList<std::int64_t>, batch);
        QFETCH(Rows, insertions);
        const auto records = [](const QList<std::int64_t>& timestamps) {
            QList<KafkaRecord> list;
            for (const std::int64_t timestamp : timestamps)
                list.append(record(timestamp, "t", 0, timestamp));
            return list;
        };
        KafkaRecordModel model;
        model.insertRecords(records(held));
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QStringList announced;
        connect(&model, &KafkaRecordModel::batchAboutToBeInserted, this, [&] { announced.append("batch"); });
        connect(&model, &QAbstractItemModel::rowsInserted, this, [&](const QModelIndex&, int first, int last) {
            announced.append(QStringLiteral("%1-%2").arg(first).arg(last));
        });
        connect(&model, &KafkaRecordModel::batchInserted, this, [&] { announced.append("done"); });
        model.insertRecords(records(batch));
        QStringList expected;
        for (const auto& [first, last] : insertions)
            expected.append(QStringLiteral("%1-%2").arg(first).arg(last));
        if (!expected.isEmpty()) {
            expected.prepend("batch");
            expected.append("done");
        }
        QCOMPARE(announced, expected);
        QList<std::int64_t> all = held + batch;
        std::sort(all.begin(), all.end());
        all.erase(std::unique(all.begin(), all.end()), all.end());
        QList<std::int64_t> shown;
        for (int row = 0; row < model.rowCount(); ++row)
            shown.append(model.record(model.index(row)).timestamp);
        QCOMPARE(shown, all);
    }

    void texts_data()
    {
        QTest::addColumn<KafkaRecord>("input");
        QTest::addColumn<bool>("showTopic");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("line2Left");
        QTest::newRow("one topic") << record(0, "t", 3, 42, "k\xC3\xA9y") << false << "42 - kéy" << "3@42";
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
        QListView view;
        view.setUniformItemSizes(true);
        view.setItemDelegate(&delegate);
        view.setModel(&model);
        view.setCurrentIndex(model.index(0));
        view.resize(320, 60);
        QVERIFY(saveScreenshot(view, "record-list-" + QString(QTest::currentDataTag()).replace(' ', '-')));
    }

    // A key keeps to its line, whatever it holds: its row is as high as any
    // other and as wide as a bounded part of the key (wider than a screen
    // when the key is long); shown above a row with a short key, whose size
    // all rows take, line 2 looks as it does without a key, and the key
    // ends before the row's right edge.
    void keyOnOneLine_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<bool>("longKey");
        QTest::newRow("20 MB") << QByteArray(20 * 1024 * 1024, 'k') << true;
        QTest::newRow("1 MB") << QByteArray(1024 * 1024, 'k') << true;
        QTest::newRow("line breaks") << QByteArray("first line\nsecond line\r\nthird\xE2\x80\xA8" "fourth\x01") << false;
    }

    void keyOnOneLine()
    {
        QFETCH(QByteArray, key);
        QFETCH(bool, longKey);
        KafkaRecordListItemDelegate delegate;
        QStyleOptionViewItem option;
        // The list as the records tab shows it, the first row holding `shownKey`.
        const auto show = [&](const QByteArray& shownKey, QSize& size, QRect& row) {
            KafkaRecordModel model;
            model.insertRecords({record(0, "t", 3, 42, shownKey), record(1, "t", 0, 1)});
            QListView view;
            view.setUniformItemSizes(true);
            view.setItemDelegate(&delegate);
            view.setModel(&model);
            view.resize(320, 100);
            view.show();
            option.initFrom(&view);
            size = delegate.sizeHint(option, model.index(0));
            row = view.visualRect(model.index(0));
            if (!shownKey.isNull())
                saveScreenshot(view, "record-list-key-" + QString(QTest::currentDataTag()).replace(' ', '-'));
            return view.viewport()->grab().toImage();
        };
        QSize size;
        QRect row;
        const QImage withKey = show(key, size, row);
        QSize plainSize;
        QRect plainRow;
        const QImage withoutKey = show(QByteArray(), plainSize, plainRow);

        QCOMPARE(size.height(), plainSize.height());
        QCOMPARE(row, plainRow);
        QVERIFY2(size.width() > plainSize.width(), qPrintable(QString::number(size.width())));
        if (longKey)
            QVERIFY2(size.width() >= 8192 && size.width() <= 65536, qPrintable(QString::number(size.width())));
        else
            QVERIFY2(size.width() < 1000, qPrintable(QString::number(size.width())));

        const int lineSpacing = option.fontMetrics.lineSpacing();
        const QRect line1(row.left(), row.top(), row.width(), lineSpacing);
        const QRect line2(row.left(), row.top() + lineSpacing + 2, row.width(), row.height() - lineSpacing - 2);
        const QRect pastTheKey(row.right() - 2, row.top(), 3, lineSpacing);
        QVERIFY(withKey.copy(line1) != withoutKey.copy(line1));
        QCOMPARE(withKey.copy(line2), withoutKey.copy(line2));
        QCOMPARE(withKey.copy(pastTheKey), withoutKey.copy(pastTheKey));
    }

    // Names and keys that other programs chose are drawn on their own line,
    // in their own order, with what they hold in sight: control and
    // bidirectional formatting characters show as U+FFFD.
    void invisibleCharactersDrawn_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QString>("line1");
        QTest::addColumn<QString>("line2Left");
        QTest::newRow("right-to-left override ending a topic")
            << QStringLiteral("rlo\u202E") << QByteArray("k") << "k" << QStringLiteral("rlo\uFFFD-3@121");
        QTest::newRow("line break in a topic") << QStringLiteral("two\nlines") << QByteArray("k") << "k"
                                               << QStringLiteral("two\uFFFDlines-3@121");
        QTest::newRow("isolates, marks and a control character in a topic")
            << QStringLiteral("\u2067a\u2069\u200E\u200F\u0007") << QByteArray("k") << "k"
            << QStringLiteral("\uFFFDa\uFFFD\uFFFD\uFFFD\uFFFD-3@121");
        QTest::newRow("override in a key") << QStringLiteral("t") << QByteArray("ctl-\xE2\x80\xAE" "exe.txt")
                                           << QStringLiteral("ctl-\uFFFDexe.txt") << "t-3@121";
    }

    void invisibleCharactersDrawn()
    {
        QFETCH(QString, topic);
        QFETCH(QByteArray, key);
        QFETCH(QString, line1);
        QFETCH(QString, line2Left);
        KafkaRecordModel model;
        model.insertRecords({record(0, topic, 3, 121, key)});
        KafkaRecordListItemDelegate delegate;
        delegate.showTopic = true;
        QListView view;
        view.setModel(&model);
        QStyleOptionViewItem option;
        option.initFrom(&view);
        option.rect = QRect(QPoint(0, 0), QSize(600, delegate.sizeHint(option, model.index(0)).height()));
        DrawnText drawn;
        {
            QPainter painter(&drawn);
            delegate.paint(&painter, option, model.index(0));
        }
        const QStringList lines = drawn.lines();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0), line1);
        QVERIFY2(lines.at(1).startsWith(line2Left), qPrintable(lines.at(1)));
    }
};

QTEST_MAIN(KafkaRecordModelTest)

#include "KafkaRecordModelTest.moc"
