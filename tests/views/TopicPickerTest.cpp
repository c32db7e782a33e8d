#include "DrawnText.h"
#include "PinnedLocale.h"
#include "Screenshot.h"
#include "TopicListModel.h"
#include "TopicPickerPopover.h"

#include <QAbstractItemModelTester>
#include <QLineEdit>
#include <QListView>
#include <QRegularExpression>
#include <QTest>

namespace {

// A window with a topic picker popover, which logs what it reports.
struct Fixture {
    QWidget window;
    TopicPickerPopover* popover = new TopicPickerPopover(&window);
    QLineEdit* filterLine = popover->findChild<QLineEdit*>();
    QListView* list = popover->findChild<QListView*>();
    QStringList events;

    explicit Fixture(const QStringList& names)
    {
        window.setGeometry(100, 100, 600, 700);
        popover->setPosition(QPoint(300, 140), Popover::Position::Below);
        QObject::connect(popover, &TopicPickerPopover::topicSelected, &window,
            [this](const KafkaMetadataResponse::Topic& topic) { events.append(topic.name); });
        QObject::connect(popover, &Popover::closed, &window, [this] { events.append(QStringLiteral("closed")); });
        QList<KafkaMetadataResponse::Topic> topics;
        for (const QString& name : names)
            topics.append({KafkaProtocolError::None, name, false, {}, 0});
        popover->setTopics(topics);
    }

    bool open(const QString& currentTopic)
    {
        popover->setCurrentTopicName(currentTopic);
        popover->show();
        return QTest::qWaitForWindowExposed(popover);
    }
};

} // namespace

class TopicPickerTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { pinTimeZoneAndLocale(); }

private slots:
    // Listed by name regardless of case, filtered likewise; Return or a double
    // click chooses a topic, reported before the popover closes.
    void choosing_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("reopen"); // abandon the filter and open the popover again
        QTest::addColumn<int>("doubleClickedRow"); // -1: Return
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QStringList>("events");
        const QStringList all {"audit", "Billing", "Ordering", "orders", "payments"};
        const QStringList orders {"orders", "closed"};
        const QStringList payments {"payments", "closed"};
        QTest::newRow("current topic") << "orders" << "" << false << -1 << all << orders;
        QTest::newRow("filter hides it") << "orders" << "pay" << false << -1 << QStringList {"payments"} << payments;
        QTest::newRow("filter hides all") << "orders" << "zzz" << false << -1 << QStringList() << QStringList();
        QTest::newRow("reopened after an abandoned filter") << "orders" << "zzz" << true << -1 << all << orders;
        QTest::newRow("double click") << "orders" << "" << false << 4 << all << payments;
    }

    void choosing()
    {
        QFETCH(QString, current);
        QFETCH(QString, filter);
        QFETCH(bool, reopen);
        QFETCH(int, doubleClickedRow);
        QFETCH(QStringList, shown);
        QFETCH(QStringList, events);
        Fixture fixture({"payments", "Ordering", "audit", "orders", "Billing"});
        QAbstractItemModelTester tester(
            fixture.popover->findChild<TopicListModel*>(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(fixture.open(current));
        QTest::keyClicks(fixture.filterLine, filter);
        if (reopen) {
            fixture.popover->close();
            fixture.events.clear();
            QVERIFY(fixture.open(current));
        }
        QStringList listed;
        for (int row = 0; row < fixture.list->model()->rowCount(); ++row)
            listed.append(fixture.list->model()->index(row, 0).data().toString());
        QCOMPARE(listed, shown);
        if (doubleClickedRow < 0) {
            QTest::keyClick(fixture.filterLine, Qt::Key_Return);
        } else {
            const QPoint point = fixture.list->visualRect(fixture.list->model()->index(doubleClickedRow, 0)).center();
            QTest::mouseClick(fixture.list->viewport(), Qt::LeftButton, {}, point);
            QTest::mouseDClick(fixture.list->viewport(), Qt::LeftButton, {}, point);
        }
        QCOMPARE(fixture.events, events);
        QCOMPARE(fixture.popover->isVisible(), events.isEmpty());
    }

    // Names show what they hold, each on its own line and in its own order;
    // the filter and the choice take them as they are.
    void invisibleCharactersDrawn()
    {
        const QString overridden = QStringLiteral("ctl-rlo-\u202Eexe.txt");
        Fixture fixture({overridden, QStringLiteral("two\nlines"), QStringLiteral("bell\u0007"), "plain"});
        fixture.window.show();
        QVERIFY(fixture.open(overridden));
        const QStringList expected {QStringLiteral("bell\uFFFD"), QStringLiteral("ctl-rlo-\uFFFDexe.txt"), "plain",
            QStringLiteral("two\uFFFDlines")};
        QCOMPARE(DrawnText::linesOf(*fixture.list->viewport()), expected);
        QVERIFY(saveScreenshot(*fixture.popover, QStringLiteral("topic-picker-invisible-characters")));

        QTest::sendKeyEvent(
            QTest::Click, fixture.filterLine, Qt::Key_unknown, QStringLiteral("\u202E"), Qt::NoModifier);
        QTest::keyClicks(fixture.filterLine, "exe");
        QCOMPARE(fixture.list->model()->rowCount(), 1);
        QTest::keyClick(fixture.filterLine, Qt::Key_Return);
        QCOMPARE(fixture.events, QStringList({overridden, "closed"}));
    }

    // A copy with no topic listed asks the model about nothing.
    void copyFromAnEmptyList()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral("QModelIndex")));
        Fixture fixture({"orders", "payments"});
        fixture.window.show();
        QVERIFY(fixture.open(QString()));
        QTest::keyClicks(fixture.filterLine, "zzz");
        QCOMPARE(fixture.list->model()->rowCount(), 0);
        fixture.list->setFocus();
        QTest::keySequence(fixture.list, QKeySequence::Copy);
    }

    void screenshot()
    {
        QStringList names;
        for (int i = 0; i < 30; ++i)
            names.append(QStringLiteral("orders.region-%1.v2").arg(i, 2, 10, QLatin1Char('0')));
        Fixture fixture(names);
        fixture.window.show();
        QVERIFY(fixture.open(QStringLiteral("orders.region-17.v2")));
        QVERIFY(saveScreenshot(*fixture.popover, QStringLiteral("topic-picker")));
    }
};

QTEST_MAIN(TopicPickerTest)

#include "TopicPickerTest.moc"
