#include "AdvancedFilterWidget.h"
#include "KafkaRecordModel.h"
#include "Config.h"
#include "KafkaClusterClient.h"
#include "PinnedLocale.h"
#include "RecordDetailView.h"
#include "RecordListView.h"
#include "RecordsWidget.h"
#include "Screenshot.h"
#include "Settings.h"
#include "../config/TestHome.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QListView>
#include <QPlainTextEdit>
#include <QTableView>
#include <QTextDocument>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>

namespace {

// The tab's list of records.
QAbstractItemView* recordList(QWidget& tab)
{
    for (QAbstractItemView* list : tab.findChildren<QAbstractItemView*>()) {
        if (qobject_cast<KafkaRecordModel*>(list->model()))
            return list;
    }
    return nullptr;
}

// Records of topic "orders", partition 0, one per key in row order, offsets
// from 10 on.
QList<KafkaRecord> recordsWithKeys(const QList<QByteArray>& keys)
{
    QList<KafkaRecord> records;
    for (qsizetype row = 0; row < keys.size(); ++row)
        records.append(KafkaRecord {.timestamp = row, .topic = "orders", .partition = 0, .offset = 10 + row,
            .key = keys.at(row), .value = "value", .headers = {}});
    return records;
}

// A records tab on a cluster that never answers, shown.
struct ShownTab {
    Config config = configWithNoBroker();
    std::shared_ptr<KafkaClusterClient> client
        = std::make_shared<KafkaClusterClient>(QStringLiteral("records-test"), config.cluster);
    QStatusBar statusBar;
    Settings settings;
    RecordsWidget tab { statusBar, settings, config, client };

    static Config configWithNoBroker()
    {
        Config config;
        config.cluster.brokers = { Config::Broker::fromString(QStringLiteral("127.0.0.1:1")).value() };
        return config;
    }

    bool show()
    {
        tab.resize(1000, 700);
        tab.show();
        return QTest::qWaitForWindowExposed(&tab);
    }
};

} // namespace

// The records tab against a real broker is a broker test; here only what
// needs none.
class RecordsWidgetTest : public QObject {
    Q_OBJECT

    TestHome m_home;

public:
    static void initMain() { pinTimeZoneAndLocale(); }

private slots:
    void initTestCase() { QVERIFY(m_home.setUp()); }

    // Schemas that do not compile are the tab's errors, announced once
    // someone can listen.
    void schemaErrorsAnnounced()
    {
        Config config;
        config.cluster.brokers = { Config::Broker::fromString(QStringLiteral("127.0.0.1:1")).value() };
        config.protobufDeserializer.schemaPaths = { QStringLiteral("/nonexistent/schemas") };
        auto client = std::make_shared<KafkaClusterClient>(QStringLiteral("records-test"), config.cluster);
        QStatusBar statusBar;
        Settings settings;
        RecordsWidget tab(statusBar, settings, config, client);
        QSignalSpy announced(&tab, &RecordsWidget::errorsChanged);
        QVERIFY(announced.wait(5000));
        QCOMPARE(announced.size(), 1);
        QCOMPARE(tab.errors.size(), 1);
        QCOMPARE(tab.errors.first().code, KafkaErrorCode::ProtobufSchemaError);
    }

    // Typing in the record list moves to a row whose key, as the row shows
    // it, starts with the typed text, ignoring case: from the current row on
    // (a new search and a repeated letter from the row after it), wrapping
    // around; letters typed together make one search, letters typed apart
    // one each. What the row does not show (the offset) is not searched, and
    // a key press looks at a bounded number of rows however long the list.
    void typeAhead_data()
    {
        QTest::addColumn<QList<QByteArray>>("keys");
        QTest::addColumn<int>("currentRow");
        QTest::addColumn<QStringList>("typed"); // the entries typed apart, each at once
        QTest::addColumn<int>("expectedRow");
        const QList<QByteArray> keys {"alpha", "beta", "Bravo", "line\nbreak", "charlie", {}, "bob"};
        QTest::newRow("a letter") << keys << 0 << QStringList {"b"} << 1;
        QTest::newRow("letters together") << keys << 0 << QStringList {"br"} << 2;
        QTest::newRow("upper case") << keys << 0 << QStringList {"BR"} << 2;
        QTest::newRow("a repeated letter steps on") << keys << 1 << QStringList {"bb"} << 6;
        QTest::newRow("wrapping around") << keys << 4 << QStringList {"a"} << 0;
        QTest::newRow("a key of several lines") << keys << 0 << QStringList {"line"} << 3;
        QTest::newRow("letters apart") << keys << 0 << QStringList {"b", "c"} << 4;
        QTest::newRow("an offset") << keys << 0 << QStringList {"14"} << 0;
        QTest::newRow("no such key") << keys << 2 << QStringList {"z"} << 2;
        QList<QByteArray> many(RecordListView::TypeAheadRows + 2, QByteArray("key"));
        many[RecordListView::TypeAheadRows] = "near";
        many[RecordListView::TypeAheadRows + 1] = "far";
        QTest::newRow("as far as a key press looks") << many << 1 << QStringList {"n"} << RecordListView::TypeAheadRows;
        QTest::newRow("further") << many << 0 << QStringList {"f"} << 0;
    }

    void typeAhead()
    {
        QFETCH(QList<QByteArray>, keys);
        QFETCH(int, currentRow);
        QFETCH(QStringList, typed);
        QFETCH(int, expectedRow);
        ShownTab shown;
        QVERIFY(shown.show());
        RecordsWidget& tab = shown.tab;
        tab.recordsFiltered(recordsWithKeys(keys));
        QAbstractItemView* list = recordList(tab);
        QVERIFY(list != nullptr);
        QTRY_COMPARE(list->model()->rowCount(), keys.size());
        // The tester walks the whole model on every change: a few rows only.
        const auto tester = keys.size() < 10 ? std::make_unique<QAbstractItemModelTester>(
                                list->model(), QAbstractItemModelTester::FailureReportingMode::QtTest)
                                             : nullptr;
        list->setFocus();
        list->setCurrentIndex(list->model()->index(currentRow, 0));
        for (const QString& letters : typed) {
            QTest::keyClicks(list, letters);
            QTest::qWait(QApplication::keyboardInputInterval() + 100);
        }
        QCOMPARE(list->currentIndex().row(), expectedRow);
    }

    // Applied filters with long titles, collapsed, leave the tab as narrow
    // as its other content: each title is cut to its box and keeps its
    // whole text in its tooltip.
    void longTitlesElided()
    {
        ShownTab shown;
        QVERIFY(shown.show());
        RecordsWidget& tab = shown.tab;
        QToolButton* add = nullptr;
        const QImage addIcon = QIcon(QStringLiteral(":/resources/add-records-16.png")).pixmap(16).toImage();
        for (QToolButton* button : tab.findChildren<QToolButton*>()) {
            if (button->icon().pixmap(16).toImage() == addIcon)
                add = button;
        }
        QVERIFY(add != nullptr);

        QStringList titles;
        int widest = 0;
        for (int i = 0; i < 4; ++i) {
            if (i > 0)
                QTest::mouseClick(add, Qt::LeftButton);
            AdvancedFilterWidget* editor = tab.findChildren<AdvancedFilterWidget*>().constLast();
            FilterCondition key;
            key.target = FilterCondition::Target::Key;
            key.operation = FilterCondition::Operator::Containing;
            key.expectedString = QString(300, QChar(u'a' + i));
            const Filter filter { editor->filterId, QStringLiteral("orders-%1").arg(i), { key } };
            titles.append(filter.buildDescription());
            widest = std::max(widest, editor->fontMetrics().horizontalAdvance(titles.constLast()));
            editor->setFilter(filter);
            editor->focusProxy()->setFocus();
            QTest::keyClick(editor->focusProxy(), Qt::Key_Return);
            QTRY_VERIFY(!editor->isExpanded() && editor->height() == editor->minimumSizeHint().height());
        }

        QVERIFY2(tab.minimumSizeHint().width() < widest / 2,
            qPrintable(QStringLiteral("%1 of %2").arg(tab.minimumSizeHint().width()).arg(widest)));
        tab.resize(tab.minimumSizeHint().width(), 700);
        QCoreApplication::processEvents();
        QStringList tooltips;
        for (const AdvancedFilterWidget* editor : tab.findChildren<AdvancedFilterWidget*>()) {
            const QWidget* title = editor->titleWidget();
            QVERIFY(editor->rect().contains(title->geometry()));
            tooltips.append(title->toolTip());
        }
        QCOMPARE(tooltips, titles);
        QVERIFY(saveScreenshot(tab, QStringLiteral("records-tab-long-titles")));
    }

    // A selected record stays selected, shown in the pane as it was (not
    // decoded again) and at the top of the list while older records arrive
    // above it in batches.
    void selectedRecordKeptWhileOlderRecordsArrive()
    {
        ShownTab shown;
        QVERIFY(shown.show());
        RecordsWidget& tab = shown.tab;
        const auto records = [](std::int64_t firstTimestamp, int count, int partition) {
            QList<KafkaRecord> list;
            for (int n = 0; n < count; ++n) {
                const std::int64_t timestamp = firstTimestamp + n;
                list.append(KafkaRecord {.timestamp = timestamp, .topic = "orders", .partition = partition,
                    .offset = timestamp, .key = "key-" + QByteArray::number(timestamp),
                    .value = "{\"n\":" + QByteArray::number(timestamp) + "}",
                    .headers = {{QStringLiteral("trace"), QByteArray::number(timestamp)}}});
            }
            return list;
        };
        tab.recordsFiltered(records(1000, 1000, 0));
        QAbstractItemView* list = recordList(tab);
        QVERIFY(list != nullptr);
        QTRY_COMPARE(list->model()->rowCount(), 1000);
        const QModelIndex chosen = list->model()->index(500, 0);
        list->scrollTo(chosen, QAbstractItemView::PositionAtTop);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(chosen).center());
        auto* pane = tab.findChild<RecordDetailView*>();
        QVERIFY(pane != nullptr);
        auto* value = pane->findChild<QPlainTextEdit*>();
        auto* headers = pane->findChild<QTableView*>();
        QVERIFY(value != nullptr && headers != nullptr);
        QTRY_VERIFY(value->toPlainText().contains("1500"));
        const QString shownValue = value->toPlainText();
        QCOMPARE(headers->model()->rowCount(), 1);
        QSignalSpy decodedAgain(value->document(), &QTextDocument::contentsChanged);
        const auto keyAt = [&](const QModelIndex& index) { return index.data().toString(); };
        const QString chosenKey = keyAt(chosen);

        for (int batch = 0; batch < 5; ++batch) {
            tab.recordsFiltered(records(20 * batch, 20, 1));
            QTRY_COMPARE(list->model()->rowCount(), 1000 + 20 * (batch + 1));
            const QModelIndexList selected = list->selectionModel()->selectedIndexes();
            QCOMPARE(selected.size(), 1);
            QCOMPARE(keyAt(selected.first()), chosenKey);
            QCOMPARE(value->toPlainText(), shownValue);
            QCOMPARE(headers->model()->rowCount(), 1);
            QCOMPARE(keyAt(list->indexAt(QPoint(1, 1))), chosenKey);
        }
        QCOMPARE(decodedAgain.size(), 0);
        QVERIFY(saveScreenshot(tab, QStringLiteral("records-tab-older-records-arrived")));
    }
};

QTEST_MAIN(RecordsWidgetTest)
#include "RecordsWidgetTest.moc"
