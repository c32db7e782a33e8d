#include "DrawnText.h"
#include "KafkaRecordListItemDelegate.h"
#include "KafkaRecordModel.h"
#include "PinnedLocale.h"
#include "RecordListView.h"
#include "Screenshot.h"

#include <QApplication>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QScreen>
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
    // and the view keeps showing the same rows of the list: the record at
    // its top stays there when rows go in above it, and a view at the very
    // top stays there.
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
        QTRY_VERIFY(list.drawsItsTopRow());
        const QString topKey = list.keyAt(list.view.indexAt(QPoint(1, 1)));
        const int topY = list.view.visualRect(list.view.indexAt(QPoint(1, 1))).top();

        const Arrivals arrivals(list);
        QStringList failures;
        for (int sample = 0; sample < 12; ++sample) {
            QTest::qWait(40);
            if (!list.drawsItsTopRow())
                failures.append(QStringLiteral("nothing drawn at %1 rows").arg(list.model.rowCount()));
            const QModelIndex top = list.view.indexAt(QPoint(1, 1));
            if (list.keyAt(top) != topKey || list.view.visualRect(top).top() != topY)
                failures.append(QStringLiteral("%1 at the top instead of %2").arg(list.keyAt(top), topKey));
            if (position == 0 && bar->value() != 0)
                failures.append(QStringLiteral("scrolled to %1 from the top").arg(bar->value()));
        }
        QVERIFY2(list.nextArrival >= 100, "too few records arrived");
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QStringLiteral("; "))));
        QVERIFY(saveScreenshot(list.view, QStringLiteral("record-list-arriving")));
    }

    // Every row is as wide as the view, whatever its key or the first row's:
    // a long key is cut with an ellipsis, the timestamp stays at the right
    // edge, and nothing scrolls sideways.
    void rowsAsWideAsTheView_data()
    {
        QTest::addColumn<int>("keyRow");
        QTest::addColumn<int>("keyLength");
        QTest::newRow("138 characters in the first row") << 0 << 138;
        QTest::newRow("4,997 characters in the first row") << 0 << 4997;
        QTest::newRow("4,997 characters in a later row") << 2 << 4997;
    }

    void rowsAsWideAsTheView()
    {
        QFETCH(int, keyRow);
        QFETCH(int, keyLength);
        // The same list twice, the one with the long key and one without.
        QRect keyLine;
        const auto grab = [&](bool longKey, QStringList& lines) {
            ShownList list(5, QAbstractItemView::ScrollPerItem);
            const KafkaRecord& shown = list.model.record(list.model.index(keyRow));
            QByteArray key = "order-service.events.v2/customer=";
            key += QByteArray(keyLength - key.size(), 'x');
            KafkaRecord changed = ShownList::record(shown.timestamp, shown.partition, shown.offset,
                longKey ? key : QByteArray("short"));
            KafkaRecordModel& model = list.model;
            QList<KafkaRecord> records;
            for (int row = 0; row < model.rowCount(); ++row)
                records.append(row == keyRow ? changed : model.record(model.index(row)));
            model.clear();
            model.insertRecords(records);
            if (!list.show())
                return QImage();
            QTest::qWait(20);
            const int width = list.view.viewport()->width();
            for (int row = 0; row < model.rowCount(); ++row) {
                if (list.view.visualRect(model.index(row)).width() != width)
                    return QImage();
            }
            if (list.view.horizontalScrollBar()->maximum() != 0 || list.view.horizontalScrollBar()->isVisible())
                return QImage();
            lines = DrawnText::linesOf(*list.view.viewport());
            const QRect row = list.view.visualRect(model.index(keyRow));
            keyLine = QRect(row.topLeft(), QSize(row.width(), row.height() / 2));
            if (longKey)
                saveScreenshot(list.view, "record-list-long-key-" + QString::number(keyRow));
            return list.view.viewport()->grab().toImage();
        };
        QStringList lines;
        const QImage withKey = grab(true, lines);
        QStringList plainLines;
        const QImage plain = grab(false, plainLines);
        QVERIFY2(!withKey.isNull() && !plain.isNull(), "a row is not as wide as the view");
        QCOMPARE(lines.size(), plainLines.size());
        // Only the long key's line differs; it ends in an ellipsis.
        for (qsizetype line = 0; line < lines.size(); ++line) {
            if (line == 2 * keyRow) {
                QVERIFY2(lines.at(line).startsWith("order-service.events.v2/customer=x"), qPrintable(lines.at(line)));
                QVERIFY2(lines.at(line).endsWith(QChar(0x2026)), qPrintable(lines.at(line).right(20)));
            } else {
                QCOMPARE(lines.at(line), plainLines.at(line));
            }
        }
        for (int y = 0; y < withKey.height(); ++y) {
            if (y < keyLine.top() || y > keyLine.bottom())
                QVERIFY2(withKey.copy(0, y, withKey.width(), 1) == plain.copy(0, y, plain.width(), 1),
                    qPrintable(QStringLiteral("line %1 differs").arg(y)));
        }
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

    // Rows selected stay selected while records arrive among them, without a
    // word of a selection change, and the selection keeps its ranges: a
    // record that lands inside a selected range joins it, one beside or
    // between ranges does not. Ranges never split, so what an arrival costs
    // does not grow with the selection.
    void selectionKeptWhileRowsArrive_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("all, by Ctrl+A") << "all";
        QTest::newRow("a Shift-click range") << "shift";
        QTest::newRow("Shift+End") << "shift-end";
        QTest::newRow("rows Ctrl-clicked apart") << "ctrl";
        QTest::newRow("one row") << "one";
    }

    void selectionKeptWhileRowsArrive()
    {
        QFETCH(QString, how);
        ShownList list(20'000, QAbstractItemView::ScrollPerItem);
        list.view.setSelectionMode(QAbstractItemView::ExtendedSelection);
        QVERIFY(list.show());
        list.view.setFocus();
        QItemSelectionModel* selections = list.view.selectionModel();
        const auto click = [&](int row, Qt::KeyboardModifiers modifiers = {}) {
            QTest::mouseClick(
                list.view.viewport(), Qt::LeftButton, modifiers, list.view.visualRect(list.model.index(row)).center());
        };
        if (how == "all") {
            click(4);
            QTest::keyClick(&list.view, Qt::Key_A, Qt::ControlModifier);
        } else if (how == "shift") {
            click(2);
            click(8, Qt::ShiftModifier);
        } else if (how == "shift-end") {
            click(2);
            QTest::keyClick(&list.view, Qt::Key_End, Qt::ShiftModifier);
        } else if (how == "ctrl") {
            click(1);
            click(3, Qt::ControlModifier);
            click(5, Qt::ControlModifier);
            click(6, Qt::ControlModifier);
        } else {
            click(4);
        }
        // Each range by its first and last record.
        QList<std::pair<KafkaRecord, KafkaRecord>> ranges;
        for (const QItemSelectionRange& range : selections->selection())
            ranges.append({list.model.record(range.topLeft()), list.model.record(range.bottomRight())});
        QVERIFY(!ranges.isEmpty());
        const QModelIndex current = list.view.currentIndex();
        QVERIFY(current.isValid());
        const QString currentKey = list.keyAt(current);
        QSignalSpy changes(selections, &QItemSelectionModel::selectionChanged);

        // Among the first rows, where every selection lies, and over the
        // whole list; before the first row and after the last one.
        QRandomGenerator random(7);
        for (int batch = 0; batch < 20; ++batch) {
            QList<KafkaRecord> records;
            for (int n = 0; n < 100; ++n) {
                const int within = n % 2 ? 100 : 20'000;
                const std::int64_t timestamp = n == 0 ? -1 - batch : random.bounded(within) * 10 + 5;
                records.append(ShownList::record(timestamp, 1, list.nextArrival, "new-" + QByteArray::number(list.nextArrival)));
                ++list.nextArrival;
            }
            list.model.insertRecords(std::move(records));
            QTest::qWait(1);
        }

        QCOMPARE(changes.size(), 0);
        QCOMPARE(selections->selection().size(), ranges.size());
        QCOMPARE(list.keyAt(list.view.currentIndex()), currentKey);
        const KafkaRecordModel::RecordComparator less;
        QStringList wrong;
        for (int row = 0; row < list.model.rowCount(); ++row) {
            const KafkaRecord& r = list.model.record(list.model.index(row));
            bool expected = false;
            for (const auto& [first, last] : ranges) {
                if (r.partition == 0 ? !less(r, first) && !less(last, r) : less(first, r) && less(r, last))
                    expected = true;
            }
            if (selections->isSelected(list.model.index(row)) != expected)
                wrong.append(QString::fromUtf8(r.key));
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(QStringLiteral("%1 rows wrong: %2").arg(wrong.size()).arg(wrong.mid(0, 10).join(", "))));
    }

    // The list's scroll bar skips drawing range changes that leave its look
    // as it is: after every change, what is on screen is what drawing the
    // bar now gives.
    void scrollBarDrawnAsItStands()
    {
        ShownList list(100, QAbstractItemView::ScrollPerItem);
        QVERIFY(list.show());
        QScrollBar* bar = list.view.verticalScrollBar();
        const auto image = [](const QPixmap& pixmap) {
            return pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        };
        const auto onScreen = [&] {
            const QPoint at = bar->mapTo(bar->window(), QPoint(0, 0));
            return image(bar->screen()->grabWindow(bar->window()->winId(), at.x(), at.y(), bar->width(), bar->height()));
        };
        // (maximum, value) in turn: ranges growing a little and a lot, at
        // the top, in the middle and at the end, and shrinking again.
        const std::pair<int, int> steps[] { { 200, 0 }, { 201, 0 }, { 100'000, 0 }, { 100'001, 0 }, { 100'001, 50'000 },
            { 100'002, 50'000 }, { 200'000, 50'000 }, { 200'000, 200'000 }, { 200'001, 200'000 }, { 300, 300 },
            { 301, 300 }, { 10, 5 }, { 1'000'000, 5 }, { 0, 0 }, { 1, 0 } };
        for (const auto& [maximum, value] : steps) {
            bar->setRange(0, maximum);
            bar->setValue(value);
            QTest::qWait(5);
            QVERIFY2(onScreen() == image(bar->grab()),
                qPrintable(QStringLiteral("differs at %1 of %2").arg(value).arg(maximum)));
        }
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
