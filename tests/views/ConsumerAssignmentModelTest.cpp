#include "ConsumerAssignmentModel.h"
#include "PinnedLocale.h"

#include <QAbstractItemModelTester>
#include <QMap>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

namespace {

using Model = ConsumerAssignmentModel;

// One row per "topic-partition", of the members m0, m1, ... in turn.
QList<ConsumerAssignment> assigned(const QStringList& partitions)
{
    QList<ConsumerAssignment> assignments;
    for (const QString& partition : partitions)
        assignments.append({ QStringLiteral("m%1").arg(assignments.size()), {}, "client", "/host",
            partition.section('-', 0, -2), partition.section('-', -1).toInt() });
    return assignments;
}

QStringList column(const Model& model, int column)
{
    QStringList cells;
    for (int row = 0; row < model.rowCount(); ++row)
        cells.append(model.index(row, column).data().toString());
    return cells;
}

} // namespace

class ConsumerAssignmentModelTest : public QObject {
    Q_OBJECT

    Model m_model;
    QAbstractItemModelTester m_tester { &m_model, QAbstractItemModelTester::FailureReportingMode::QtTest };

private slots:
    void initTestCase() { pinTimeZoneAndLocale(); }

    void lag_data()
    {
        QTest::addColumn<qint64>("committed");
        QTest::addColumn<qint64>("last");
        QTest::addColumn<QStringList>("shown"); // offset, lag
        QTest::newRow("committed beyond the end") << qint64(10) << qint64(7) << QStringList { "10", "0" };
        QTest::newRow("behind") << qint64(7) << qint64(10) << QStringList { "7", "3" };
        QTest::newRow("nothing committed") << qint64(-1) << qint64(10) << QStringList { "", "" };
        QTest::newRow("end unknown") << qint64(5) << qint64(-1) << QStringList { "5", "" };
    }

    void lag()
    {
        QFETCH(qint64, committed);
        QFETCH(qint64, last);
        m_model.setAssignments(assigned({ "t-0" }));
        m_model.setConsumerOffsets({ { "t", 0, committed } });
        m_model.setLastOffsets({ { "t", 0, last } });
        QTEST(column(m_model, Model::OffsetColumn) + column(m_model, Model::LagColumn), "shown");
    }

    // The changed rows, from the update's own column to the lag; a partition
    // assigned twice gets offsets in its first row only; A-0 and a-7 have no row.
    void offsetUpdates_data()
    {
        QTest::addColumn<bool>("committed"); // else the latest offsets
        QTest::addColumn<QList<PartitionOffset>>("offsets");
        QTest::addColumn<QList<int>>("changed"); // top row, left column, bottom row, right column
        QTest::addColumn<QStringList>("lags");
        const QList<PartitionOffset> offsets { { "b", 1, 7 }, { "a", 0, 5 }, { "A", 0, 9 }, { "a", 7, 1 } };
        QTest::newRow("committed") << true << offsets << QList<int> { 1, Model::OffsetColumn, 3, Model::LagColumn }
                                   << QStringList { "", "5", "", "0" };
        QTest::newRow("latest") << false << offsets << QList<int> { 1, Model::LagColumn, 3, Model::LagColumn }
                                << QStringList { "", "1", "", "2" };
        QTest::newRow("no such partition") << false << QList<PartitionOffset> { { "c", 0, 1 } } << QList<int>()
                                           << QStringList { "", "6", "", "0" };
    }

    void offsetUpdates()
    {
        QFETCH(bool, committed);
        QFETCH(QList<PartitionOffset>, offsets);
        m_model.setAssignments(assigned({ "a-1", "a-0", "a-0", "b-1" }));
        m_model.setConsumerOffsets({ { "a", 0, 4 }, { "b", 1, 5 } });
        m_model.setLastOffsets({ { "a", 0, 10 }, { "b", 1, 5 } });
        QSignalSpy spy(&m_model, &QAbstractItemModel::dataChanged);
        committed ? m_model.setConsumerOffsets(offsets) : m_model.setLastOffsets(offsets);
        QList<int> signalled;
        for (const QList<QVariant>& signal : spy) {
            const QModelIndex topLeft = signal[0].toModelIndex(), bottomRight = signal[1].toModelIndex();
            signalled << topLeft.row() << topLeft.column() << bottomRight.row() << bottomRight.column();
            QCOMPARE(signal[2].value<QList<int>>(), QList<int> { Qt::DisplayRole });
        }
        QTEST(signalled, "changed");
        QTEST(column(m_model, Model::LagColumn), "lags");
    }

    // A stable sort: rows that compare equal keep their order both ways. Each
    // sort resets the model once, also when the rows are in order already.
    void sorting_data()
    {
        QTest::addColumn<int>("sortColumn");
        QTest::addColumn<QStringList>("ascending"); // the partition column
        QTest::addColumn<QStringList>("descending");
        QTest::newRow("topic without regard to case, then partition number") << int(Model::PartitionColumn)
            << QStringList { "a-3", "Topic-2", "topic-10", "Topic-11", "zz-0" }
            << QStringList { "zz-0", "Topic-11", "topic-10", "Topic-2", "a-3" };
        QTest::newRow("lag, unknown first") << int(Model::LagColumn)
            << QStringList { "zz-0", "Topic-11", "Topic-2", "topic-10", "a-3" }
            << QStringList { "a-3", "topic-10", "Topic-2", "zz-0", "Topic-11" };
    }

    void sorting()
    {
        QFETCH(int, sortColumn);
        QFETCH(QStringList, ascending);
        QFETCH(QStringList, descending);
        m_model.setAssignments(assigned({ "topic-10", "Topic-2", "zz-0", "a-3", "Topic-11" }));
        m_model.setConsumerOffsets({ { "topic", 10, 3 }, { "Topic", 2, 8 }, { "a", 3, 1 } });
        m_model.setLastOffsets({ { "topic", 10, 9 }, { "Topic", 2, 9 }, { "a", 3, 9 }, { "zz", 0, 4 } });
        for (const Qt::SortOrder order :
            { Qt::AscendingOrder, Qt::AscendingOrder, Qt::DescendingOrder, Qt::DescendingOrder, Qt::AscendingOrder }) {
            QSignalSpy aboutToReset(&m_model, &QAbstractItemModel::modelAboutToBeReset);
            QSignalSpy reset(&m_model, &QAbstractItemModel::modelReset);
            m_model.sort(sortColumn, order);
            QCOMPARE(column(m_model, Model::PartitionColumn), order == Qt::AscendingOrder ? ascending : descending);
            QCOMPARE(aboutToReset.size(), 1);
            QCOMPARE(reset.size(), 1);
        }
    }

    // Rows made ready elsewhere come in the order sort() gives them, and offsets find their rows.
    void readyRows_data()
    {
        QTest::addColumn<int>("sortColumn");
        QTest::addColumn<int>("order");
        QTest::newRow("partition") << int(Model::PartitionColumn) << int(Qt::AscendingOrder);
        QTest::newRow("partition, descending") << int(Model::PartitionColumn) << int(Qt::DescendingOrder);
        QTest::newRow("member, descending") << int(Model::MemberIdColumn) << int(Qt::DescendingOrder);
    }

    void readyRows()
    {
        QFETCH(int, sortColumn);
        QFETCH(int, order);
        const QList<ConsumerAssignment> assignments = assigned({ "topic-10", "Topic-2", "zz-0", "a-3", "Topic-11", "a-3" });
        m_model.setAssignments(assignments);
        m_model.sort(sortColumn, Qt::SortOrder(order));
        const QStringList sorted = column(m_model, Model::PartitionColumn) + column(m_model, Model::MemberIdColumn);

        m_model.setRows(Model::sortedRows(assignments, sortColumn, Qt::SortOrder(order)));
        QCOMPARE(column(m_model, Model::PartitionColumn) + column(m_model, Model::MemberIdColumn), sorted);
        m_model.setConsumerOffsets({ { "Topic", 2, 1 }, { "a", 3, 2 }, { "zz", 0, 3 } });
        m_model.setLastOffsets({ { "Topic", 2, 5 }, { "a", 3, 7 }, { "zz", 0, 4 }, { "topic", 2, 9 } });
        // Only the first row of a partition assigned twice (a-3) gets the offsets.
        const QMap<QString, QString> lags { { "Topic-2", "4" }, { "a-3", "5" }, { "zz-0", "1" } };
        QSet<QString> seen;
        for (int row = 0; row < m_model.rowCount(); ++row) {
            const QString partition = m_model.index(row, Model::PartitionColumn).data().toString();
            const QString lag = m_model.index(row, Model::LagColumn).data().toString();
            QCOMPARE(lag, seen.contains(partition) ? QString() : lags.value(partition));
            seen.insert(partition);
        }
    }
};

QTEST_GUILESS_MAIN(ConsumerAssignmentModelTest)

#include "ConsumerAssignmentModelTest.moc"
