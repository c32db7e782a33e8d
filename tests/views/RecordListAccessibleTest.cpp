#include "KafkaRecordListItemDelegate.h"
#include "KafkaRecordModel.h"
#include "PinnedLocale.h"
#include "RecordListAccessible.h"
#include "RecordListView.h"

#include <QAccessible>
#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <QtGui/private/qguiapplication_p.h>
#include <QtGui/qpa/qplatformaccessibility.h>
#include <QtGui/qpa/qplatformintegration.h>

#include <numeric>

namespace {

// Switches accessibility on as a platform bridge does when a screen reader
// connects. No public API does that, and offscreen there is no bridge: while
// QAccessible::isActive() is false, Qt's views announce nothing and Qt hands
// no event to an update handler. The platform's accessibility object is
// reached through Qt's platform headers (Debian's qt6-base-private-dev).
void setAccessibilityActive(bool active)
{
    QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(active);
}

// 2023-11-14 22:13:20 UTC.
constexpr std::int64_t FirstTimestamp = 1'700'000'000'000;

KafkaRecord record(std::int64_t timestamp, std::int64_t offset, QByteArray key)
{
    return KafkaRecord {.timestamp = timestamp, .topic = QStringLiteral("orders"), .partition = 2, .offset = offset,
        .key = std::move(key), .value = "value", .headers = {}};
}

// A records list of `rows` records a second apart, offsets from 100, keys
// "key-<row>" but for row 3, which has none.
struct AccessibleList {
    KafkaRecordModel model;
    KafkaRecordListItemDelegate delegate;
    RecordListView view;

    explicit AccessibleList(int rows = 50)
    {
        QList<KafkaRecord> records;
        for (int row = 0; row < rows; ++row) {
            records.append(record(FirstTimestamp + 1000 * row, 100 + row,
                row == 3 ? QByteArray() : "key-" + QByteArray::number(row)));
        }
        model.insertRecords(std::move(records));
        view.setItemDelegate(&delegate);
        view.setModel(&model);
        view.resize(420, 300);
    }

    QAccessibleInterface* list() { return QAccessible::queryAccessibleInterface(&view); }
    QAccessibleInterface* row(int row) { return list()->child(row); }

    bool showFocused()
    {
        view.show();
        view.activateWindow();
        view.setFocus();
        return QTest::qWaitForWindowActive(&view) && QTest::qWaitFor([this] { return view.hasFocus(); });
    }

    void click(int row)
    {
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(model.index(row)).center());
    }
};

// A list model of numbered rows that counts how often the rows are read.
class CountingModel : public QAbstractListModel {
public:
    explicit CountingModel(int rows)
        : total(rows)
    {
    }

    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : total; }

    QModelIndex index(int row, int column = 0, const QModelIndex& parent = {}) const override
    {
        ++reads;
        return QAbstractListModel::index(row, column, parent);
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        ++reads;
        return role == Qt::DisplayRole ? QVariant(QStringLiteral("row %1").arg(index.row())) : QVariant();
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        ++reads;
        return QAbstractListModel::flags(index);
    }

    mutable qint64 reads = 0;

private:
    int total;
};

struct Announcement {
    QAccessible::Event type;
    int child;
    bool operator==(const Announcement&) const = default;
};

// What the list `announcer` announced since the last clear(): its model
// changes apart from the rest.
QList<Announcement> announced;
QList<QAccessibleTableModelChangeEvent::ModelChangeType> modelChanges;
const QObject* announcer = nullptr;

void recordAnnouncement(QAccessibleEvent* event)
{
    if (event->object() != announcer)
        return;
    if (event->type() == QAccessible::TableModelChanged)
        modelChanges.append(static_cast<QAccessibleTableModelChangeEvent*>(event)->modelChangeType());
    else
        announced.append({ event->type(), event->child() });
}

QList<int> announcedChildren(QAccessible::Event type)
{
    QList<int> children;
    for (const Announcement& announcement : std::as_const(announced)) {
        if (announcement.type == type)
            children.append(announcement.child);
    }
    return children;
}

} // namespace

class RecordListAccessibleTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { pinTimeZoneAndLocale(); }

private slots:
    void initTestCase()
    {
        QAccessible::installUpdateHandler(recordAnnouncement);
        setAccessibilityActive(true);
        QVERIFY(QAccessible::isActive());
    }

    void init()
    {
        setAccessibilityActive(true);
        announced.clear();
        modelChanges.clear();
    }

    void cleanup() { announcer = nullptr; }

    // The list is a list with a row for each record, not a pane holding
    // scroll bars.
    void aListOfRows()
    {
        AccessibleList list;
        QAccessibleInterface* accessible = list.list();
        QVERIFY(accessible);
        QCOMPARE(accessible->role(), QAccessible::List);
        QCOMPARE(accessible->childCount(), 50);
        QAccessibleTableInterface* table = accessible->tableInterface();
        QVERIFY(table);
        QCOMPARE(table->rowCount(), 50);
        QCOMPARE(table->columnCount(), 1);
        for (int row = 0; row < 50; ++row) {
            QAccessibleInterface* child = accessible->child(row);
            QVERIFY(child);
            QCOMPARE(child->role(), QAccessible::ListItem);
            QCOMPARE(child->parent(), accessible);
            QCOMPARE(accessible->indexOfChild(child), row);
            QCOMPARE(child->tableCellInterface()->rowIndex(), row);
            QCOMPARE(table->cellAt(row, 0), child);
            QCOMPARE(accessible->child(row), child);
        }
        QVERIFY(!accessible->child(50));
        QVERIFY(!accessible->child(-1));
        QCOMPARE(accessible->indexOfChild(QAccessible::queryAccessibleInterface(list.view.verticalScrollBar())), -1);
    }

    // A row is named with what it shows: its key, its position and its time.
    void rowNamedAsShown_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("showTopic");
        QTest::addColumn<QString>("name");
        QTest::addRow("first row") << 0 << false << "key-0, 2@100, 2023-11-14 22:13:20";
        QTest::addRow("row in the middle") << 7 << false << "key-7, 2@107, 2023-11-14 22:13:27";
        QTest::addRow("last row, scrolled out") << 49 << false << "key-49, 2@149, 2023-11-14 22:14:09";
        QTest::addRow("row without a key") << 3 << false << "2@103, 2023-11-14 22:13:23";
        QTest::addRow("topics shown") << 7 << true << "key-7, orders-2@107, 2023-11-14 22:13:27";
    }

    void rowNamedAsShown()
    {
        QFETCH(int, row);
        QFETCH(bool, showTopic);
        QFETCH(QString, name);
        AccessibleList list;
        list.delegate.showTopic = showTopic;
        list.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list.view));
        QAccessibleInterface* child = list.row(row);
        QVERIFY(child);
        QCOMPARE(child->text(QAccessible::Name), name);
        const QRect shown = list.view.visualRect(list.model.index(row));
        QCOMPARE(child->rect(), QRect(list.view.viewport()->mapToGlobal(shown.topLeft()), shown.size()));
        const QAccessible::State state = child->state();
        const bool inView = list.view.viewport()->rect().intersects(shown);
        QCOMPARE(bool(state.offscreen), !inView);
        QCOMPARE(bool(state.invisible), !inView);
        QVERIFY(state.selectable);
        QVERIFY(state.focusable);
        if (inView)
            QCOMPARE(list.list()->childAt(child->rect().center().x(), child->rect().center().y()), child);
    }

    // Selected and focused follow the clicks and keys that select rows.
    void statesFollowClicksAndKeys()
    {
        AccessibleList list;
        QVERIFY(list.showFocused());
        QVERIFY(list.row(49));
        const auto selected = [&list](int row) { return bool(list.row(row)->state().selected); };
        const auto focused = [&list](int row) { return bool(list.row(row)->state().focused); };

        list.click(2);
        QVERIFY(selected(2));
        QVERIFY(focused(2));
        QVERIFY(!selected(1));
        QVERIFY(!focused(1));

        QTest::keyClick(&list.view, Qt::Key_Down);
        QVERIFY(selected(3));
        QVERIFY(focused(3));
        QVERIFY(!selected(2));
        QVERIFY(!focused(2));
        QCOMPARE(list.list()->focusChild(), list.row(3));

        QTest::keyClick(&list.view, Qt::Key_End);
        QVERIFY(focused(49));
        QVERIFY(!list.row(49)->state().offscreen);
        QVERIFY(list.row(0)->state().offscreen);
        QAccessibleTableInterface* table = list.list()->tableInterface();
        QCOMPARE(table->selectedRows(), QList<int> { 49 });
        QCOMPARE(table->selectedCells(), QList<QAccessibleInterface*> { list.row(49) });
        QCOMPARE(table->selectedCellCount(), 1);
        QVERIFY(table->isRowSelected(49));

        list.view.setSelectionMode(QAbstractItemView::ExtendedSelection);
        list.click(5);
        QTest::keyClick(&list.view, Qt::Key_Down, Qt::ShiftModifier);
        QTest::mouseClick(list.view.viewport(), Qt::LeftButton, Qt::ControlModifier,
            list.view.visualRect(list.model.index(2)).center());
        QCOMPARE(table->selectedRows(), (QList<int> { 2, 5, 6 }));
        QCOMPARE(table->selectedRowCount(), 3);
        QVERIFY(focused(2));
        QVERIFY(!focused(6));
        QVERIFY(selected(6));
        QVERIFY(list.list()->state().extSelectable);

        // Without focus in the list, no row has it.
        QWidget other;
        other.setFocusPolicy(Qt::StrongFocus);
        other.show();
        other.activateWindow();
        other.setFocus();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QVERIFY(!focused(2));
        QVERIFY(selected(2));
        QVERIFY(!list.list()->focusChild());
    }

    // As the current row moves in the focused list, it is announced as the
    // focus, and the rows that were selected and unselected with it.
    void currentRowAnnounced()
    {
        AccessibleList list;
        announcer = &list.view;
        QVERIFY(list.showFocused());
        announced.clear();

        list.click(2);
        QTest::keyClick(&list.view, Qt::Key_Down);
        QTest::keyClick(&list.view, Qt::Key_End);
        QCOMPARE(announcedChildren(QAccessible::Focus), (QList<int> { 2, 3, 49 }));
        QCOMPARE(announcedChildren(QAccessible::SelectionAdd), (QList<int> { 2, 3, 49 }));
        QCOMPARE(announcedChildren(QAccessible::SelectionRemove), (QList<int> { 2, 3 }));
        QCOMPARE(list.row(announcedChildren(QAccessible::Focus).back())->text(QAccessible::Name),
            QStringLiteral("key-49, 2@149, 2023-11-14 22:14:09"));

        // Selecting all rows announces each row it adds.
        list.view.setSelectionMode(QAbstractItemView::ExtendedSelection);
        announced.clear();
        list.view.selectAll();
        QList<int> added(49);
        std::iota(added.begin(), added.end(), 0);
        QCOMPARE(announcedChildren(QAccessible::SelectionAdd), added);
        QCOMPARE(announced.size(), 49);

        // Nor is a current row announced as focus while the list lacks it.
        list.view.clearFocus();
        announced.clear();
        list.view.setCurrentIndex(list.model.index(10));
        QVERIFY(announcedChildren(QAccessible::Focus).isEmpty());
    }

    // The row interfaces asked for stay with their records as records
    // arrive above and below them, and go when the rows go.
    void rowsFollowInsertedRows_data()
    {
        QTest::addColumn<std::int64_t>("timestamp");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("listening");
        QTest::addColumn<int>("rowOf10");
        QTest::addColumn<int>("rowOf40");
        QTest::addRow("above both") << FirstTimestamp - 5000 << 3 << true << 13 << 43;
        QTest::addRow("at the first") << FirstTimestamp + 9500 << 1 << true << 11 << 41;
        QTest::addRow("between them") << FirstTimestamp + 20'500 << 2 << true << 10 << 42;
        QTest::addRow("below both") << FirstTimestamp + 60'000 << 4 << true << 10 << 40;
        QTest::addRow("above both, unannounced") << FirstTimestamp - 5000 << 3 << false << 13 << 43;
    }

    void rowsFollowInsertedRows()
    {
        QFETCH(std::int64_t, timestamp);
        QFETCH(int, count);
        QFETCH(bool, listening);
        QFETCH(int, rowOf10);
        QFETCH(int, rowOf40);
        AccessibleList list;
        QAccessibleInterface* accessible = list.list();
        QAccessibleInterface* row10 = accessible->child(10);
        QAccessibleInterface* row40 = accessible->child(40);
        QVERIFY(row10 && row40);
        const QAccessible::Id id10 = QAccessible::uniqueId(row10);

        // Unannounced, the rows move while no assistive technology listens.
        announcer = &list.view;
        setAccessibilityActive(listening);
        QList<KafkaRecord> arriving;
        for (int n = 0; n < count; ++n)
            arriving.append(record(timestamp + n, 900 + n, "new-" + QByteArray::number(n)));
        list.model.insertRecords(std::move(arriving));
        setAccessibilityActive(true);
        // The view itself tells the list of each insertion (the new records
        // are adjacent rows: one), or of none.
        QCOMPARE(modelChanges.size(), listening ? 1 : 0);

        QCOMPARE(accessible->childCount(), 50 + count);
        QCOMPARE(row10->text(QAccessible::Name), QStringLiteral("key-10, 2@110, 2023-11-14 22:13:30"));
        QCOMPARE(row40->text(QAccessible::Name), QStringLiteral("key-40, 2@140, 2023-11-14 22:14:00"));
        QCOMPARE(accessible->indexOfChild(row10), rowOf10);
        QCOMPARE(accessible->indexOfChild(row40), rowOf40);
        QCOMPARE(accessible->child(rowOf10), row10);
        QCOMPARE(accessible->child(rowOf40), row40);
        for (const int row : { 10, 11, 40, 41, 49 + count }) {
            const QString key = QString::fromUtf8(list.model.record(list.model.index(row)).key);
            QVERIFY2(accessible->child(row)->text(QAccessible::Name).startsWith(key + u','), qPrintable(key));
            QCOMPARE(accessible->child(row)->tableCellInterface()->rowIndex(), row);
        }

        list.model.clear();
        QCOMPARE(accessible->childCount(), 0);
        QVERIFY(!accessible->child(rowOf10));
        const QAccessibleInterface* gone = QAccessible::accessibleInterface(id10);
        QVERIFY(!gone || !gone->isValid());
    }

    // Asking for the list and one row reads the model as often with a
    // million rows as with ten.
    void oneRowCostsAlikeAtAnySize()
    {
        const auto readsForOneRow = [](int rows, QString* name) {
            CountingModel model(rows);
            RecordListView view;
            view.setModel(&model);
            view.resize(420, 300);
            view.show();
            if (!QTest::qWaitForWindowExposed(&view))
                return qint64(-1);
            view.setCurrentIndex(model.index(rows / 2));
            model.reads = 0;
            QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&view);
            const int count = list->childCount();
            QAccessibleInterface* row = list->child(rows / 2);
            if (!row || !list->tableInterface())
                return qint64(-1);
            *name = row->text(QAccessible::Name);
            row->state();
            row->rect();
            list->indexOfChild(row);
            list->tableInterface()->isRowSelected(rows / 2);
            list->tableInterface()->selectedCells();
            row->tableCellInterface()->rowIndex();
            return count == rows ? model.reads : qint64(-1);
        };
        QString name;
        const qint64 atTen = readsForOneRow(10, &name);
        QCOMPARE(name, QStringLiteral("row 5"));
        const qint64 atAMillion = readsForOneRow(1'000'000, &name);
        QCOMPARE(name, QStringLiteral("row 500000"));
        QVERIFY(atTen > 0);
        QCOMPARE(atAMillion, atTen);
    }

    // A selection of a million rows is counted, reported in part and
    // announced, all without reading every row.
    void aMillionSelectedRows()
    {
        CountingModel model(1'000'000);
        RecordListView view;
        announcer = &view;
        view.setSelectionMode(QAbstractItemView::ExtendedSelection);
        view.setModel(&model);
        view.resize(420, 300);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&view);
        QAccessibleTableInterface* table = list->tableInterface();
        QVERIFY(table);
        announced.clear();
        model.reads = 0;

        view.selectAll();
        QCOMPARE(announced, (QList<Announcement> { { QAccessible::SelectionWithin, -1 } }));
        QCOMPARE(table->selectedCellCount(), 1'000'000);
        QCOMPARE(table->selectedRowCount(), 1'000'000);
        const QList<int> rows = table->selectedRows();
        QCOMPARE(rows.size(), RecordListAccessible::ReportedSelection);
        QCOMPARE(rows.front(), 0);
        QCOMPARE(rows.back(), RecordListAccessible::ReportedSelection - 1);
        QCOMPARE(table->selectedCells().size(), RecordListAccessible::ReportedSelection);
        QVERIFY(table->isColumnSelected(0));
        QVERIFY(list->child(999'999)->state().selected);

        // Unselecting a row through the row's action splits the selection.
        list->child(500'000)->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QCOMPARE(table->selectedCellCount(), 999'999);
        QVERIFY(!table->isRowSelected(500'000));
        QVERIFY(!table->isColumnSelected(0));
        QVERIFY2(model.reads < 20 * RecordListAccessible::ReportedSelection, qPrintable(QString::number(model.reads)));
    }
};

QTEST_MAIN(RecordListAccessibleTest)
#include "RecordListAccessibleTest.moc"
