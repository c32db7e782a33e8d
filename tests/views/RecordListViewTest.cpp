#include "DrawnText.h"
#include "KafkaRecordListItemDelegate.h"
#include "KafkaRecordModel.h"
#include "PinnedLocale.h"
#include "RecordListView.h"
#include "Screenshot.h"

#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

using ScrollMode = QAbstractItemView::ScrollMode;

// A list as the records tab shows it, holding `rows` records of partition 0
// ten milliseconds apart, keys "key-<row>".
struct ShownList {
    KafkaRecordModel model;
    KafkaRecordListItemDelegate delegate;
    RecordListView view;
    // Records that arrive later go to partition 1.
    std::int64_t nextArrival = 0;

    ShownList(int rows, ScrollMode mode)
    {
        QList<KafkaRecord> records;
        records.reserve(rows);
        for (int row = 0; row < rows; ++row)
            records.append(record(10 * std::int64_t(row), 0, row, "key-" + QByteArray::number(row)));
        model.insertRecords(std::move(records));
        view.setVerticalScrollMode(mode);
        view.setItemDelegate(&delegate);
        view.setModel(&model);
        view.resize(420, 300);
    }

    bool show()
    {
        view.show();
        return QTest::qWaitForWindowExposed(&view);
    }

    static KafkaRecord record(std::int64_t timestamp, int partition, std::int64_t offset, QByteArray key)
    {
        return KafkaRecord {.timestamp = timestamp, .topic = QStringLiteral("orders"), .partition = partition,
            .offset = offset, .key = std::move(key), .value = "value", .headers = {}};
    }

    // Five records: three newer than all, two among the first rows, so
    // that rows move under the view wherever it shows.
    void arrive()
    {
        const std::int64_t newest = model.record(model.index(model.rowCount() - 1)).timestamp;
        QList<KafkaRecord> batch;
        for (int n = 0; n < 5; ++n) {
            const std::int64_t timestamp = n < 3 ? newest + 1 : 10 * n + 5;
            batch.append(record(timestamp, 1, nextArrival, "new-" + QByteArray::number(nextArrival)));
            ++nextArrival;
        }
        model.insertRecords(std::move(batch));
    }

    QString keyAt(const QModelIndex& index) const { return QString::fromUtf8(model.record(index).key); }

    // Whether the view draws the row at its top-left corner now.
    bool drawsItsTopRow()
    {
        const QModelIndex top = view.indexAt(QPoint(1, 1));
        return top.isValid() && DrawnText::linesOf(view).contains(keyAt(top));
    }
};

// Calls `arrive` every 5 ms while it lives.
class Arrivals {
public:
    explicit Arrivals(ShownList& list)
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [&list] { list.arrive(); });
        m_timer.start();
    }

private:
    QTimer m_timer;
};

QRect viewportRect(const RecordListView& view)
{
    return view.viewport()->rect();
}

} // namespace

class RecordListViewTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { pinTimeZoneAndLocale(); }

private slots:
    // The rows in view are drawn at every moment while rows keep arriving,
    // and the view keeps showing the same rows of the list.
    void rowsDrawnWhileRowsArrive_data()
    {
        QTest::addColumn<ScrollMode>("mode");
        QTest::addColumn<double>("position");
        for (const auto& [name, mode] : { std::pair { "by row", QAbstractItemView::ScrollPerItem },
                 std::pair { "by pixel", QAbstractItemView::ScrollPerPixel } }) {
            QTest::addRow("%s, at the top", name) << mode << 0.0;
            QTest::addRow("%s, in the middle", name) << mode << 0.5;
            QTest::addRow("%s, at the end", name) << mode << 1.0;
        }
    }

    void rowsDrawnWhileRowsArrive()
    {
        QFETCH(ScrollMode, mode);
        QFETCH(double, position);
        ShownList list(200'000, mode);
        QVERIFY(list.show());
        QScrollBar* bar = list.view.verticalScrollBar();
        bar->setValue(int(position * bar->maximum()));
        const int value = bar->value();
        QTRY_VERIFY(list.drawsItsTopRow());

        const Arrivals arrivals(list);
        QStringList failures;
        for (int sample = 0; sample < 12; ++sample) {
            QTest::qWait(40);
            if (!list.drawsItsTopRow())
                failures.append(QStringLiteral("nothing drawn at %1 rows").arg(list.model.rowCount()));
            if (bar->value() != value)
                failures.append(QStringLiteral("scrolled to %1 from %2").arg(bar->value()).arg(value));
        }
        QVERIFY2(list.nextArrival >= 100, "too few records arrived");
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QStringLiteral("; "))));
        QVERIFY(saveScreenshot(list.view, QStringLiteral("record-list-arriving")));
    }

    // A click picks the row drawn under it and the keys move from row to
    // row, while rows keep arriving above and below.
    void clicksAndKeysWhileRowsArrive()
    {
        ShownList list(200'000, QAbstractItemView::ScrollPerItem);
        QVERIFY(list.show());
        QScrollBar* bar = list.view.verticalScrollBar();
        bar->setValue(bar->maximum() / 2);
        QTRY_VERIFY(list.drawsItsTopRow());
        const Arrivals arrivals(list);
        QTest::qWait(50);

        QWidget* viewport = list.view.viewport();
        const QPoint third(20, 2 * list.view.visualRect(list.model.index(bar->value())).height() + 5);
        const QModelIndex clicked = list.view.indexAt(third);
        QVERIFY(clicked.isValid());
        const QString clickedKey = list.keyAt(clicked);
        QVERIFY(DrawnText::linesOf(list.view).contains(clickedKey));
        QTest::mouseClick(viewport, Qt::LeftButton, {}, third);
        QCOMPARE(list.keyAt(list.view.currentIndex()), clickedKey);
        QCOMPARE(list.view.selectionModel()->selectedIndexes(), QModelIndexList { list.view.currentIndex() });
        QTest::qWait(50);

        const auto keyBelow = [&](int rows) {
            return list.keyAt(list.model.index(list.view.currentIndex().row() + rows));
        };
        QString expected = keyBelow(1);
        QTest::keyClick(&list.view, Qt::Key_Down);
        QCOMPARE(list.keyAt(list.view.currentIndex()), expected);
        const int inView = viewportRect(list.view).height() / list.view.visualRect(clicked).height();
        expected = keyBelow(inView - 1);
        QTest::keyClick(&list.view, Qt::Key_PageDown);
        QCOMPARE(list.keyAt(list.view.currentIndex()), expected);
        QVERIFY(viewportRect(list.view).contains(list.view.visualRect(list.view.currentIndex())));
        QTest::qWait(50);

        QTest::keyClick(&list.view, Qt::Key_End);
        QCOMPARE(list.view.currentIndex().row(), list.model.rowCount() - 1);
        QVERIFY(viewportRect(list.view).contains(list.view.visualRect(list.view.currentIndex())));
        QTest::keyClick(&list.view, Qt::Key_Home);
        QCOMPARE(list.view.currentIndex().row(), 0);
        QCOMPARE(bar->value(), 0);
        QVERIFY(list.drawsItsTopRow());
    }

    // Wherever a row lies, scrolling to it brings it wholly into view, and
    // the point at its middle finds it again.
    void scrollingToARow_data()
    {
        QTest::addColumn<ScrollMode>("mode");
        QTest::addColumn<QAbstractItemView::ScrollHint>("hint");
        QTest::addColumn<int>("row");
        const std::pair<const char*, QAbstractItemView::ScrollHint> hints[] {
            { "ensure visible", QAbstractItemView::EnsureVisible },
            { "at the top", QAbstractItemView::PositionAtTop },
            { "at the bottom", QAbstractItemView::PositionAtBottom },
            { "at the centre", QAbstractItemView::PositionAtCenter },
        };
        for (const auto& [modeName, mode] : { std::pair { "by row", QAbstractItemView::ScrollPerItem },
                 std::pair { "by pixel", QAbstractItemView::ScrollPerPixel } }) {
            for (const auto& [hintName, hint] : hints) {
                for (const int row : { 0, 1, 12'345, 19'999 })
                    QTest::addRow("%s, %s, row %d", modeName, hintName, row) << mode << hint << row;
            }
        }
    }

    void scrollingToARow()
    {
        QFETCH(ScrollMode, mode);
        QFETCH(QAbstractItemView::ScrollHint, hint);
        QFETCH(int, row);
        ShownList list(20'000, mode);
        QVERIFY(list.show());
        list.view.verticalScrollBar()->setValue(list.view.verticalScrollBar()->maximum() / 3);
        const QModelIndex index = list.model.index(row);
        list.view.scrollTo(index, hint);
        const QRect rect = list.view.visualRect(index);
        QVERIFY(viewportRect(list.view).contains(rect));
        QCOMPARE(list.view.indexAt(rect.center()), index);
        QVERIFY(DrawnText::linesOf(list.view).contains(list.keyAt(index)));
        if (hint == QAbstractItemView::PositionAtTop && row <= 12'345)
            QCOMPARE(rect.top(), 0);
    }
};

QTEST_MAIN(RecordListViewTest)
#include "RecordListViewTest.moc"
