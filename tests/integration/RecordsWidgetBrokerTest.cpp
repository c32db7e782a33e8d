// The records tab against the real broker, driven as a user does on one tab:
// the default filter on a topic written with every codec, following, pause
// and resume, a broker restart, first-N and time windows, a second topic, a
// topic created after the metadata was read and one that does not exist.
#include "AdvancedFilterWidget.h"
#include "ConditionRowDriver.h"
#include "Config.h"
#include "DrawnText.h"
#include "ErrorLabel.h"
#include "KafkaClusterClient.h"
#include "KafkaRecordListItemDelegate.h"
#include "KafkaRecordModel.h"
#include "KafkaTestEnvironment.h"
#include "PinnedLocale.h"
#include "RecordListView.h"
#include "RecordsWidget.h"
#include "Screenshot.h"
#include "Settings.h"
#include "TestProducer.h"
#include "TestTopicAdmin.h"
#include "TopicPickerPopover.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDateTime>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <functional>

using Target = FilterCondition::Target;
using Operator = FilterCondition::Operator;

namespace {

constexpr int WaitMs = 30000;

struct Produced {
    QString topic;
    int partition = 0;
    qint64 offset = 0;
    qint64 timestamp = 0;
};

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// The tool button that shows this icon.
QToolButton* button(const QWidget& tab, const QString& icon)
{
    const QImage wanted = QIcon(":/resources/" + icon).pixmap(16).toImage();
    for (QToolButton* candidate : tab.findChildren<QToolButton*>()) {
        if (candidate->icon().pixmap(16).toImage() == wanted)
            return candidate;
    }
    return nullptr;
}

// Fetching has ended: no bar, neither pause nor resume.
bool done(const QWidget& tab)
{
    return tab.findChild<QProgressBar*>()->isHidden() && !button(tab, "pause-16.png")->isEnabled()
        && !button(tab, "play-16.png")->isEnabled();
}

// Waits until the editor's topic picker lists the topic (the list follows
// the metadata, which the tab may be reading again), opens the picker,
// narrows it to the topic and double-clicks it.
bool pickTopic(AdvancedFilterWidget* editor, const QString& topic)
{
    auto* picker = editor->findChild<TopicPickerPopover*>();
    QAbstractItemModel* topics = picker->findChild<QListView*>()->model();
    if (!QTest::qWaitFor([&] { return !topics->match(topics->index(0, 0), Qt::DisplayRole, topic, 1, Qt::MatchExactly).isEmpty(); }, WaitMs))
        return false;
    QTest::mouseClick(editor->focusProxy(), Qt::LeftButton);
    QTest::keyClicks(picker->findChild<QLineEdit*>(), topic);
    if (!QTest::qWaitFor([&] { return topics->rowCount() == 1; }))
        return false;
    QListView* view = picker->findChild<QListView*>();
    const QPoint row = view->visualRect(topics->index(0, 0)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, row);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, row);
    return QTest::qWaitFor([&] { return !picker->isVisible(); });
}

// Opens an applied editor again by its header, to edit its only row.
ConditionRowDriver reopen(AdvancedFilterWidget* editor)
{
    QTest::mouseClick(editor, Qt::LeftButton, {}, QPoint(4, 4));
    return ConditionRowDriver(editor->findChild<ConditionWidget*>());
}

// Return where a user finishes typing.
void applyFrom(QWidget* input)
{
    input->setFocus();
    QTest::keyClick(input, Qt::Key_Return);
}

// A records tab of a bootstrapped client, shown and active, with its status
// bar and settings.
struct ShownTab {
    QStatusBar statusBar;
    Settings settings;
    RecordsWidget tab;
    RecordListView* list = tab.findChild<RecordListView*>();
    const KafkaRecordModel& model = *qobject_cast<KafkaRecordModel*>(list->model());

    ShownTab(const Config& config, const std::shared_ptr<KafkaClusterClient>& client)
        : tab(statusBar, settings, config, client)
    {
    }

    bool show()
    {
        tab.resize(1300, 720);
        tab.show();
        tab.activateWindow();
        return QTest::qWaitForWindowActive(&tab);
    }
};

} // namespace

class RecordsWidgetBrokerTest : public QObject {
    Q_OBJECT

    KafkaTestEnvironment environment = KafkaTestEnvironment::fromProcessEnvironment();
    QList<Produced> produced;

    // Writes `count` records `step` ms apart, JSON with two headers, and
    // notes where they landed; empty on success.
    QString produce(const QString& topic, int partition, int count, qint64 timestamp, qint64 step = 1,
        const QString& codec = QStringLiteral("lz4"))
    {
        TestProducer producer;
        if (QString error = producer.open({ environment.plaintext(), codec, {}, 100 }); !error.isEmpty())
            return error;
        for (int i = 0; i < count; ++i) {
            const qint64 at = timestamp + i * step;
            const QByteArray value = QStringLiteral(R"({"order":{"id":%1,"codec":"%2","lines":[{"sku":"A-1","quantity":2}]}})")
                                         .arg(at).arg(codec).toUtf8();
            if (QString error = producer.produce({ topic, partition, "order-" + QByteArray::number(at), value,
                    { { "trace-id", QByteArray::number(at, 16) }, { "codec", codec.toUtf8() } }, at });
                !error.isEmpty())
                return error;
        }
        const QList<TestProducer::Delivery> deliveries = producer.flush();
        for (qsizetype i = 0; i < deliveries.size(); ++i) {
            if (!deliveries[i].error.isEmpty())
                return deliveries[i].error;
            produced.append({ topic, partition, deliveries[i].offset, timestamp + i * step });
        }
        return QString();
    }

    // "topic:partition@offset" of the produced records that pass, in the
    // list's order: timestamp, topic, partition, offset.
    QStringList expected(const std::function<bool(const Produced&)>& passes) const
    {
        QList<Produced> kept;
        std::copy_if(produced.begin(), produced.end(), std::back_inserter(kept), passes);
        std::sort(kept.begin(), kept.end(), [](const Produced& a, const Produced& b) {
            return std::tie(a.timestamp, a.topic, a.partition, a.offset) < std::tie(b.timestamp, b.topic, b.partition, b.offset);
        });
        QStringList rows;
        for (const Produced& p : kept)
            rows.append(QStringLiteral("%1:%2@%3").arg(p.topic).arg(p.partition).arg(p.offset));
        return rows;
    }

    // A configuration of the test broker's plain-text listener.
    Config plaintextConfig() const
    {
        Config config;
        config.cluster.brokers = { Config::Broker::fromString(environment.plaintext()).value() };
        return config;
    }

    // A client of that configuration once bootstrapped; null when the
    // bootstrap did not complete.
    static std::shared_ptr<KafkaClusterClient> bootstrappedClient(const Config& config, const QString& clientId)
    {
        auto client = std::make_shared<KafkaClusterClient>(clientId, config.cluster);
        QSignalSpy bootstrapped(client.get(), &KafkaClusterClient::bootstrapComplete);
        client->bootstrap();
        return bootstrapped.wait(WaitMs) ? client : nullptr;
    }

    static QStringList shown(const KafkaRecordModel& model)
    {
        QStringList rows;
        for (int row = 0; row < model.rowCount(); ++row) {
            const KafkaRecord& r = model.record(model.index(row));
            rows.append(QStringLiteral("%1:%2@%3").arg(r.topic).arg(r.partition).arg(r.offset));
        }
        return rows;
    }

public:
    static void initMain() { pinTimeZoneAndLocale(); }

private slots:
    void browseRecords()
    {
        SKELVANE_REQUIRE_KAFKA_BROKER(environment);
        TestTopicAdmin admin(environment.plaintext());
        const QString orders = KafkaTestEnvironment::uniqueTopicName("records-tab");
        QCOMPARE(admin.createTopic(orders, 3), QString());
        // 150 records per partition an hour ago, a second apart, half-way
        // between whole seconds, 30 per codec.
        const qint64 start = (now() - 3'600'000) / 1000 * 1000;
        const QStringList codecs { "none", "gzip", "snappy", "lz4", "zstd" };
        for (int c = 0; c < codecs.size(); ++c) {
            for (int partition = 0; partition < 3; ++partition)
                QCOMPARE(produce(orders, partition, 30, start + 500 + c * 30'000, 1000, codecs[c]), QString());
        }

        const Config config = plaintextConfig();
        const std::shared_ptr<KafkaClusterClient> client = bootstrappedClient(config, QStringLiteral("skelvane-records-test"));
        QVERIFY(client);
        QStatusBar statusBar;
        Settings settings;
        RecordsWidget tab(statusBar, settings, config, client);
        auto* list = tab.findChild<RecordListView*>();
        const auto& model = *qobject_cast<KafkaRecordModel*>(list->model());
        QAbstractItemModelTester tester(list->model());
        tab.resize(1300, 720);
        tab.show();
        tab.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&tab));

        // The default filter: the last 100 of each partition, then every new one.
        AdvancedFilterWidget* first = tab.findChild<AdvancedFilterWidget*>();
        QVERIFY(pickTopic(first, orders));
        applyFrom(first->focusProxy());
        const auto lastHundred = [&](const Produced& p) { return p.topic == orders && p.offset >= 50; };
        QTRY_COMPARE_WITH_TIMEOUT(shown(model), expected(lastHundred), WaitMs);
        QCOMPARE(statusBar.currentMessage(), QStringLiteral("300 records"));
        QCOMPARE(produce(orders, 1, 1, now()), QString());
        QTRY_COMPARE_WITH_TIMEOUT(shown(model), expected(lastHundred), WaitMs);

        // Nothing arrives while paused; resuming brings it once.
        QTest::mouseClick(button(tab, "pause-16.png"), Qt::LeftButton);
        QCOMPARE(produce(orders, 2, 2, now()), QString());
        QTest::qWait(2 * KafkaFetcher::MaxWaitMs + 500);
        QCOMPARE(model.rowCount(), 301);
        QTest::mouseClick(button(tab, "play-16.png"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(shown(model), expected(lastHundred), WaitMs);

        // Across a broker restart the jobs go on, by themselves or, after a
        // failure that lands in the tab's errors, on resume.
        if (environment.available(KafkaTestEnvironment::Feature::Restart) && environment.ownBroker()) {
            const qsizetype errorsBefore = tab.errors.size();
            QCOMPARE(environment.restartBroker(), QString());
            QCOMPARE(produce(orders, 0, 3, now()), QString());
            QVERIFY(QTest::qWaitFor([&] {
                if (tab.errors.size() > errorsBefore && button(tab, "play-16.png")->isEnabled())
                    QTest::mouseClick(button(tab, "play-16.png"), Qt::LeftButton);
                return shown(model) == expected(lastHundred);
            }, 90000));
        }

        // The first 10 of each partition, then a window in the past, then a
        // window that ends before the first record: each reaches done.
        ConditionRowDriver row = reopen(first);
        row.choose(Operator::First);
        ConditionRowDriver::typeNumber(row.numberBoxes().constFirst(), 10);
        applyFrom(row.numberBoxes().constFirst());
        QTRY_COMPARE_WITH_TIMEOUT(shown(model), expected([&](const Produced& p) { return p.topic == orders && p.offset < 10; }), WaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(done(tab), WaitMs);

        row = reopen(first);
        row.choose(Target::Timestamp);
        row.timeEdits()[0]->setDateTime(QDateTime::fromMSecsSinceEpoch(start + 10'000));
        row.timeEdits()[1]->setDateTime(QDateTime::fromMSecsSinceEpoch(start + 20'000));
        applyFrom(row.timeEdits()[1]);
        const auto window = [&](const Produced& p) { return p.topic == orders && p.offset >= 10 && p.offset < 20; };
        QTRY_COMPARE_WITH_TIMEOUT(shown(model), expected(window), WaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(done(tab), WaitMs);

        row = reopen(first);
        row.choose(Target::Timestamp);
        row.choose(Operator::LowerThan);
        row.timeEdits()[0]->setDateTime(QDateTime::fromMSecsSinceEpoch(start - 3'600'000));
        applyFrom(row.timeEdits()[0]);
        QTest::qWait(2000);
        QVERIFY(done(tab));
        QCOMPARE(model.rowCount(), 0);

        // A topic created after the tab: the new editor's picker lists it
        // once the metadata is read again; rows then name their topic.
        row = reopen(first);
        row.choose(Target::Offset);
        row.choose(Operator::GreaterThan);
        ConditionRowDriver::typeNumber(row.numberBoxes().constFirst(), 145);
        applyFrom(row.numberBoxes().constFirst());
        const QString payments = KafkaTestEnvironment::uniqueTopicName("records-tab-new");
        QCOMPARE(admin.createTopic(payments, 1), QString());
        QCOMPARE(produce(payments, 0, 5, now()), QString());
        QTest::mouseClick(button(tab, "add-records-16.png"), Qt::LeftButton);
        AdvancedFilterWidget* second = tab.findChildren<AdvancedFilterWidget*>().constLast();
        QVERIFY(second != first);
        QVERIFY(pickTopic(second, payments));
        applyFrom(second->focusProxy());
        const auto fromOffset = [&](const Produced& p) { return p.topic == orders && p.offset >= 145; };
        QTRY_COMPARE_WITH_TIMEOUT(shown(model), expected([&](const Produced& p) { return fromOffset(p) || p.topic == payments; }), WaitMs);
        const auto* delegate = qobject_cast<KafkaRecordListItemDelegate*>(list->itemDelegate());
        QCOMPARE(delegate->generateLine2Left(model.record(model.index(0))), QStringLiteral("%1-0@145").arg(orders));

        // The picture: a JSON record with its headers, under applied filters.
        QPalette dark(QColor(0x35, 0x37, 0x3c), QColor(0x2b, 0x2d, 0x31));
        dark.setColor(QPalette::Base, QColor(0x1f, 0x24, 0x30));
        QApplication::setPalette(dark);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(model.index(1)).center());
        QCoreApplication::processEvents();
        QVERIFY(saveScreenshot(tab, QStringLiteral("records-tab")));

        // A topic created since the metadata was last read is found once it
        // is read again; one that does not exist is named in the label, not
        // in the errors, and stops the filters after it.
        const QString refunds = KafkaTestEnvironment::uniqueTopicName("records-tab-late");
        QCOMPARE(admin.createTopic(refunds, 1), QString());
        QCOMPARE(produce(refunds, 0, 2, now()), QString());
        const QString missing = KafkaTestEnvironment::uniqueTopicName("records-tab-missing");
        const qsizetype errorsBefore = tab.errors.size();
        FilterCondition all;
        all.target = Target::Offset;
        all.operation = Operator::GreaterThan;
        for (const QString& topic : { refunds, missing }) {
            reopen(second);
            second->setFilter({ second->filterId, topic, { all } });
            applyFrom(second->focusProxy());
            QTRY_COMPARE_WITH_TIMEOUT(shown(model),
                expected([&](const Produced& p) { return fromOffset(p) || (p.topic == refunds && topic == refunds); }), WaitMs);
        }
        const auto shownError = [&] {
            for (const ErrorLabel* label : tab.findChildren<ErrorLabel*>()) {
                if (label->isVisible())
                    return label->text();
            }
            return QString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(shownError(), QStringLiteral("Topic %1 not found in cluster metadata").arg(missing), WaitMs);
        QCOMPARE(tab.errors.size(), errorsBefore);
    }

    // A time window whose end equals a record's timestamp shows that record;
    // an applied filter opened again offers topics created since the tab
    // read the metadata, as a new filter does.
    void windowEndAndNewTopics()
    {
        SKELVANE_REQUIRE_KAFKA_BROKER(environment);
        TestTopicAdmin admin(environment.plaintext());
        const QString topic = KafkaTestEnvironment::uniqueTopicName("records-tab-window");
        QCOMPARE(admin.createTopic(topic, 1), QString());
        // Five records an hour ago, on whole seconds, a second apart.
        const qint64 start = (now() - 3'600'000) / 1000 * 1000;
        QCOMPARE(produce(topic, 0, 5, start, 1000), QString());

        const Config config = plaintextConfig();
        const std::shared_ptr<KafkaClusterClient> client = bootstrappedClient(config, QStringLiteral("skelvane-records-window-test"));
        QVERIFY(client);
        ShownTab opened(config, client);
        QVERIFY(opened.show());
        const KafkaRecordModel& model = opened.model;
        RecordsWidget& tab = opened.tab;

        AdvancedFilterWidget* editor = tab.findChild<AdvancedFilterWidget*>();
        QVERIFY(pickTopic(editor, topic));
        ConditionRowDriver row(editor->findChild<ConditionWidget*>());
        row.choose(Target::Timestamp);
        row.choose(Operator::Between);
        row.timeEdits()[0]->setDateTime(QDateTime::fromMSecsSinceEpoch(start + 1000));
        row.timeEdits()[1]->setDateTime(QDateTime::fromMSecsSinceEpoch(start + 3000));
        applyFrom(row.timeEdits()[1]);
        const auto window = [&](const Produced& p) {
            return p.topic == topic && p.timestamp >= start + 1000 && p.timestamp <= start + 3000;
        };
        QCOMPARE(expected(window).size(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(shown(model), expected(window), WaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(done(tab), WaitMs);
        QCOMPARE(shown(model), expected(window));

        const QString created = KafkaTestEnvironment::uniqueTopicName("records-tab-reopened");
        QCOMPARE(admin.createTopic(created, 1), QString());
        QCOMPARE(produce(created, 0, 2, now()), QString());
        row = reopen(editor);
        row.choose(Target::Offset);
        row.choose(Operator::GreaterThan);
        ConditionRowDriver::typeNumber(row.numberBoxes().constFirst(), 0);
        QVERIFY(pickTopic(editor, created));
        applyFrom(editor->focusProxy());
        QTRY_COMPARE_WITH_TIMEOUT(shown(model), expected([&](const Produced& p) { return p.topic == created; }), WaitMs);
    }

    // While a followed topic keeps bringing records into a long list, every
    // look at the list shows its rows, and a click picks the row under it.
    void rowsDrawnWhileRecordsArrive()
    {
        SKELVANE_REQUIRE_KAFKA_BROKER(environment);
        TestTopicAdmin admin(environment.plaintext());
        const QString topic = KafkaTestEnvironment::uniqueTopicName("records-tab-arriving");
        QCOMPARE(admin.createTopic(topic, 1), QString());
        constexpr int Held = 60'000;
        QCOMPARE(produce(topic, 0, Held, now() - 3'600'000), QString());

        const Config config = plaintextConfig();
        const std::shared_ptr<KafkaClusterClient> client = bootstrappedClient(config, QStringLiteral("skelvane-records-arriving-test"));
        QVERIFY(client);
        ShownTab opened(config, client);
        QVERIFY(opened.show());
        const KafkaRecordModel& model = opened.model;
        RecordListView* list = opened.list;
        RecordsWidget& tab = opened.tab;

        // Every record from offset 0 on (the bound is inclusive), then every new one.
        AdvancedFilterWidget* editor = tab.findChild<AdvancedFilterWidget*>();
        QVERIFY(pickTopic(editor, topic));
        ConditionRowDriver row(editor->findChild<ConditionWidget*>());
        row.choose(Target::Offset);
        row.choose(Operator::GreaterThan);
        ConditionRowDriver::typeNumber(row.numberBoxes().constFirst(), 0);
        applyFrom(row.numberBoxes().constFirst());
        QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), Held, WaitMs);

        const auto topRowDrawn = [&] {
            const QModelIndex top = list->indexAt(QPoint(1, 1));
            return top.isValid()
                && DrawnText::linesOf(*list).contains(QString::fromUtf8(model.record(top).key));
        };
        QTRY_VERIFY(topRowDrawn());

        // 2,000 records a second for three seconds, looked at ten times a second.
        TestProducer producer;
        QCOMPARE(producer.open({ environment.plaintext(), QStringLiteral("none"), {}, 5 }), QString());
        QTimer writes;
        int written = 0;
        QString writeError;
        connect(&writes, &QTimer::timeout, this, [&] {
            for (int n = 0; n < 20 && writeError.isEmpty(); ++n, ++written)
                writeError = producer.produce({ topic, 0, "new-" + QByteArray::number(written), "{}", {}, now() });
        });
        writes.start(10);
        QStringList failures;
        int samplesWhileArriving = 0;
        for (int sample = 0; sample < 30; ++sample) {
            const int before = model.rowCount();
            QTest::qWait(100);
            if (model.rowCount() > before)
                ++samplesWhileArriving;
            if (!topRowDrawn())
                failures.append(QStringLiteral("nothing drawn at %1 records").arg(model.rowCount()));
        }
        const QPoint third(20, 2 * list->visualRect(list->indexAt(QPoint(1, 1))).height() + 5);
        const QModelIndex under = list->indexAt(third);
        QVERIFY(under.isValid());
        const QByteArray key = model.record(under).key;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, third);
        QCOMPARE(model.record(list->currentIndex()).key, key);
        QVERIFY(saveScreenshot(tab, QStringLiteral("records-tab-arriving")));
        writes.stop();
        QCOMPARE(writeError, QString());
        for (const TestProducer::Delivery& delivery : producer.flush())
            QCOMPARE(delivery.error, QString());

        QVERIFY2(samplesWhileArriving >= 20, qPrintable(QStringLiteral("%1 of 30 looks saw records arrive").arg(samplesWhileArriving)));
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QStringLiteral("; "))));
        QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), Held + written, WaitMs);
    }
};

QTEST_MAIN(RecordsWidgetBrokerTest)
#include "RecordsWidgetBrokerTest.moc"
