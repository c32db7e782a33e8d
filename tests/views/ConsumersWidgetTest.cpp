// The consumer groups tab against stand-in brokers, for what a real cluster does not do on request.
#include "ConsumersWidgetProbe.h"
#include "DrawnText.h"
#include "FakeBroker.h"
#include "KafkaClusterClient.h"
#include "PinnedLocale.h"
#include "Screenshot.h"
#include "Settings.h"

#include <QComboBox>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>

Q_DECLARE_METATYPE(QList<FakeBroker::Topic>)

namespace {

using Model = ConsumerAssignmentModel;
const QList<int> Columns { Model::PartitionColumn, Model::MemberIdColumn, Model::ClientHostColumn };

// ListGroups version 0: the groups with their protocol types.
QByteArray listed(std::int16_t errorCode, const QList<std::pair<QString, QString>>& groups)
{
    ResponseImage image;
    image.s16(errorCode).s32(std::int32_t(groups.size()));
    for (const auto& [group, protocolType] : groups)
        image.string(group).string(protocolType);
    return image.data();
}

// DescribeGroups version 0, one group; members as id, host and partitions of "t" (none: unassigned).
QByteArray described(const QString& group, const QString& state, const QString& protocolType,
    const QList<std::tuple<QString, QString, QList<std::int32_t>>>& members = {})
{
    ResponseImage image;
    image.s32(1).s16(0).string(group).string(state).string(protocolType).string("range").s32(std::int32_t(members.size()));
    for (const auto& [id, host, partitions] : members) {
        image.string(id).string("client").string(host).bytes({}).bytes(partitions.isEmpty()
                ? QByteArray() : ResponseImage().s16(1).s32(1).string("t").int32Array(partitions).s32(-1).data());
    }
    return image.data();
}

// A member's assignment of the consumer protocol: partitions by topic.
QByteArray assignmentOf(const QList<std::pair<QString, QList<std::int32_t>>>& topics)
{
    ResponseImage image;
    image.s16(1).s32(std::int32_t(topics.size()));
    for (const auto& [topic, partitions] : topics)
        image.string(topic).int32Array(partitions);
    return image.s32(-1).data();
}

// DescribeGroups version 0: group "g", Stable, with one member of that assignment.
QByteArray describedOwning(const QByteArray& assignment)
{
    ResponseImage image;
    image.s32(1).s16(0).string("g").string("Stable").string("consumer").string("range").s32(1);
    return image.string("m").string("client").string("/h").bytes({}).bytes(assignment).data();
}

// OffsetFetch version 1: per topic its partitions, each with one offset and error code.
struct FetchedTopic {
    QString name;
    QList<std::int32_t> partitions;
    std::int64_t offset = 0;
    std::int16_t errorCode = 0;
};
QByteArray offsetsFetched(const QList<FetchedTopic>& topics)
{
    ResponseImage image;
    image.s32(std::int32_t(topics.size()));
    for (const FetchedTopic& topic : topics) {
        image.string(topic.name).s32(std::int32_t(topic.partitions.size()));
        for (std::int32_t partition : topic.partitions)
            image.s32(partition).s64(topic.offset).nullString().s16(topic.errorCode);
    }
    return image.data();
}

// ListOffsets version 4, one partition of "t".
QByteArray latestOffset(std::int32_t partition, std::int16_t errorCode, std::int64_t offset)
{
    return ResponseImage().s32(0).s32(1).string("t").s32(1).s32(partition).s16(errorCode).s64(-1).s64(offset).s32(0).data();
}

// ConsumerGroupDescribe version 0: group "g" with an error code.
QByteArray consumerGroupDescribed(std::int16_t errorCode)
{
    return ResponseImage().s8(0).s32(0).s8(2).s16(errorCode).s8(0).s8(2).raw("g").s8(1).s32(0).s32(0).s8(1).s8(1)
        .s32(0).s8(0).s8(0).data();
}

QList<std::int32_t> range(int count)
{
    QList<std::int32_t> partitions;
    for (int i = 0; i < count; ++i)
        partitions.append(i);
    return partitions;
}

// Stand-in brokers answering ListGroups with the payloads (empty: hanging up), without ConsumerGroupDescribe
// unless asked.
struct Cluster {
    std::vector<std::unique_ptr<FakeBroker>> brokers;
    std::shared_ptr<KafkaClusterClient> client;
    QStatusBar statusBar;
    Settings settings;
    Config config;
    std::unique_ptr<ConsumersWidget> widget;
    QStringList captions;

    explicit Cluster(const QList<QByteArray>& listGroups, const QList<FakeBroker::Topic>& topics = { { "t", { 1, 1 } } },
        const QList<FakeBroker::ApiRange>& moreApis = {})
    {
        for (const QByteArray& answer : listGroups) {
            FakeBroker* broker = brokers.emplace_back(std::make_unique<FakeBroker>(FakeBroker::Mode::Cluster)).get();
            broker->apiVersions += { { 16, 0, 0 }, { 15, 0, 0 }, { 9, 1, 1 }, { 2, 1, 4 } };
            broker->apiVersions += moreApis;
            broker->onFrame = [answer, broker](const FakeBroker::Frame& frame) {
                if (frame.apiKey == std::int16_t(KafkaApiKey::ListGroups))
                    answer.isEmpty() ? frame.peer->close() : broker->reply(frame, answer);
            };
        }
        // Every broker answers Metadata alike, as a cluster does.
        QList<FakeBroker::Broker> nodes;
        for (size_t i = 0; i < brokers.size(); ++i)
            nodes.append({ std::int32_t(i + 1), brokers[i]->port() });
        for (const std::unique_ptr<FakeBroker>& broker : brokers)
            broker->brokers = nodes;
        setTopics(topics);
        config.cluster.brokers = { Config::Broker { QStringLiteral("127.0.0.1"), brokers[0]->port() } };
        client = std::make_shared<KafkaClusterClient>(QStringLiteral("consumers-test"), config.cluster);
        QSignalSpy bootstrapped(client.get(), &KafkaClusterClient::bootstrapComplete);
        client->bootstrap();
        if (bootstrapped.wait(5000)) {
            widget = std::make_unique<ConsumersWidget>(statusBar, settings, config, client);
            widget->show();
            captions = shownTexts(*widget);
        }
    }

    void setTopics(const QList<FakeBroker::Topic>& topics)
    {
        for (const std::unique_ptr<FakeBroker>& broker : brokers)
            broker->topics = topics;
    }
    // The shown cell of a column in the row of a partition.
    QString cell(const QString& partition, int column) const
    {
        const QAbstractItemModel& model = *widget->findChild<QTableView*>()->model();
        for (int row = 0; row < model.rowCount(); ++row) {
            if (model.index(row, Model::PartitionColumn).data().toString() == partition)
                return model.index(row, column).data().toString();
        }
        return QStringLiteral("no row");
    }

    QComboBox& selector() const { return *widget->findChild<QComboBox*>(); }
    QStringList groups() const
    {
        QStringList names;
        for (int i = 0; i < selector().count(); ++i)
            names.append(selector().itemText(i));
        return names;
    }
    QStringList details() const // sorted, without the captions
    {
        QStringList shown = shownTexts(*widget);
        for (const QString& caption : captions)
            shown.removeOne(caption);
        shown.sort();
        return shown;
    }
    // Answers the broker's next request of the API once it has come (an empty payload: hangs up).
    void answer(int broker, KafkaApiKey apiKey, const QByteArray& payload)
    {
        FakeBroker& fake = *brokers[size_t(broker)];
        const int count = answered[{ broker, apiKey }]++;
        QVERIFY(QTest::qWaitFor([&] { return fake.requestCount(apiKey) > count; }, 5000));
        QList<FakeBroker::Frame> frames = fake.frames();
        frames.removeIf([apiKey](const FakeBroker::Frame& frame) { return frame.apiKey != std::int16_t(apiKey); });
        payload.isEmpty() ? frames[count].peer->close() : fake.reply(frames[count], payload);
    }
    QMap<std::pair<int, KafkaApiKey>, int> answered;
};

} // namespace

class ConsumersWidgetTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { pinTimeZoneAndLocale(); }

    // The others' consumer groups are listed, by name; the failure is kept.
    void brokerFailingToList_data()
    {
        QTest::addColumn<QByteArray>("failing");
        QTest::newRow("error code") << listed(15, {});
        QTest::newRow("hang-up") << QByteArray();
    }

    void brokerFailingToList()
    {
        QFETCH(QByteArray, failing);
        const Cluster cluster({ listed(0, { { "b", "consumer" }, { "x", "connect" }, { "e", "" }, { "C", "Consumer" } }),
            failing, listed(0, { { "a2", "consumer" }, { "A", "consumer" } }) });
        QVERIFY(cluster.widget);
        QTRY_COMPARE(cluster.groups(), QStringList({ "A", "a2", "b" }));
        QCOMPARE(cluster.widget->errors.size(), 1);
    }

    // The selector, filled away from the GUI thread, is wide enough for the longest name.
    void selectorFitsTheLongestName()
    {
        const QString longest = "orders-" + QString(60, QLatin1Char('W'));
        const Cluster cluster({ listed(0, { { "a", "consumer" }, { longest, "consumer" }, { "b", "consumer" } }) });
        QVERIFY(cluster.widget);
        cluster.widget->resize(1400, 300);
        QTRY_COMPARE(cluster.groups(), QStringList({ "a", "b", longest }));
        const QComboBox& selector = cluster.selector();
        QTRY_VERIFY(selector.width() > selector.fontMetrics().boundingRect(longest).width());
        QVERIFY(saveScreenshot(*cluster.widget, "consumer-groups-long-name"));
    }

    // A late answer for the group chosen before changes nothing; an unassigned member has no rows;
    // choosing another group clears the view at once; a Dead group is reported gone.
    void choosingGroups()
    {
        Cluster cluster({ listed(0, { { "g1", "consumer" } }), listed(0, { { "g2", "consumer" } }) });
        QVERIFY(cluster.widget);
        QTRY_COMPARE(cluster.groups(), QStringList({ "g1", "g2" }));
        QTest::keyClick(&cluster.selector(), Qt::Key_Down);
        QTest::keyClick(&cluster.selector(), Qt::Key_Down);
        cluster.answer(1, KafkaApiKey::DescribeGroups,
            described("g2", "PreparingRebalance", "consumer", { { "m2", "/h2", { 1, 0 } }, { "m3", "/h3", {} } }));
        const QStringList rows { "t-0 m2 /h2", "t-1 m2 /h2" };
        QTRY_COMPARE(shownRows(*cluster.widget, Columns), rows);
        const QStringList details { "127.0.0.1:" + QString::number(cluster.brokers[1]->port()), "PreparingRebalance", "range" };
        QCOMPARE(cluster.details(), details);
        cluster.answer(0, KafkaApiKey::DescribeGroups, described("g1", "Empty", "consumer", { { "m1", "/h1", { 0 } } }));
        QTest::qWait(200);
        QCOMPARE(shownRows(*cluster.widget, Columns), rows);
        QCOMPARE(cluster.details(), details);
        QCOMPARE(cluster.brokers[0]->requestCount(KafkaApiKey::OffsetFetch), 0);

        QTest::keyClick(&cluster.selector(), Qt::Key_Up);
        QCOMPARE(shownRows(*cluster.widget, Columns), QStringList());
        QCOMPARE(cluster.details(), QStringList());
        cluster.answer(0, KafkaApiKey::DescribeGroups, described("g1", "Dead", ""));
        const ErrorLabel& errorLabel = *cluster.widget->findChild<ErrorLabel*>();
        QTRY_VERIFY(errorLabel.isVisible());
        QVERIFY(errorLabel.text().contains("'g1'"));
        QCOMPARE(cluster.details(), QStringList());
    }
    // Answers that name thousands of failing partitions, or assign partitions the metadata lacks, leave
    // a few errors: partitions not asked for are ignored, errors are one per cause and capped per answer.
    void floodsOfPartitionErrors_data()
    {
        QTest::addColumn<QList<FakeBroker::Topic>>("metadata");
        QTest::addColumn<QByteArray>("assignment");
        QTest::addColumn<QByteArray>("offsets");
        const FetchedTopic committed { "t", { 0 }, 7, 0 };
        const QString longName(2000, 'n');
        QTest::newRow("partitions not asked for") << QList<FakeBroker::Topic> { { "t", { 1, 1 } } }
            << assignmentOf({ { "t", { 0, 1 } } })
            << offsetsFetched({ committed, { longName, range(20000), 0, 3 }, { "t", range(3000), 0, 3 } });
        QTest::newRow("every asked partition failing") << QList<FakeBroker::Topic> { { "t", QList<std::int32_t>(3000, 1) } }
            << assignmentOf({ { "t", range(3000) } }) << offsetsFetched({ committed, { "t", range(3000).mid(1), 0, 3 } });
        QTest::newRow("partitions missing from the metadata") << QList<FakeBroker::Topic> { { "t", { 1 } } }
            << assignmentOf({ { "t", range(3000) } }) << offsetsFetched({ committed });
        QList<std::pair<QString, QList<std::int32_t>>> topics { { "t", { 0 } } };
        for (int i = 0; i < 3000; ++i)
            topics.append({ "t" + QString::number(i), { 0 } });
        QTest::newRow("topics missing from the metadata") << QList<FakeBroker::Topic> { { "t", { 1 } } }
            << assignmentOf(topics) << offsetsFetched({ committed });
    }

    void floodsOfPartitionErrors()
    {
        QFETCH(QList<FakeBroker::Topic>, metadata);
        QFETCH(QByteArray, assignment);
        QFETCH(QByteArray, offsets);
        Cluster cluster({ listed(0, { { "g", "consumer" } }) }, metadata);
        QVERIFY(cluster.widget);
        QTRY_COMPARE(cluster.groups(), QStringList({ "g" }));
        QTest::keyClick(&cluster.selector(), Qt::Key_Down);
        cluster.answer(0, KafkaApiKey::DescribeGroups, describedOwning(assignment));
        cluster.answer(0, KafkaApiKey::OffsetFetch, offsets);
        QTRY_COMPARE(cluster.cell("t-0", Model::OffsetColumn), QString("7"));
        QVERIFY2(cluster.widget->errors.size() < 100, qPrintable(QString::number(cluster.widget->errors.size())));
    }

    // A coordinator that offers ConsumerGroupDescribe without the consumer group protocol answers every
    // group with UNSUPPORTED_VERSION: a group gone since the listing is reported gone, as by an older one.
    void groupGoneFromCoordinator_data()
    {
        QTest::addColumn<std::int16_t>("errorCode");
        QTest::newRow("group id not found") << std::int16_t(69);
        QTest::newRow("unsupported version") << std::int16_t(35);
    }

    void groupGoneFromCoordinator()
    {
        QFETCH(std::int16_t, errorCode);
        Cluster cluster({ listed(0, { { "g", "consumer" } }) }, { { "t", { 1 } } }, { { 69, 0, 0 } });
        QVERIFY(cluster.widget);
        QTRY_COMPARE(cluster.groups(), QStringList({ "g" }));
        QTest::keyClick(&cluster.selector(), Qt::Key_Down);
        cluster.answer(0, KafkaApiKey::DescribeGroups, described("g", "Dead", ""));
        cluster.answer(0, KafkaApiKey::ConsumerGroupDescribe, consumerGroupDescribed(errorCode));
        const ErrorLabel& errorLabel = *cluster.widget->findChild<ErrorLabel*>();
        QTRY_VERIFY(errorLabel.isVisible());
        QVERIFY2(errorLabel.text().contains("no longer exists"), qPrintable(errorLabel.text()));
    }

    // The partition's leader moves after the tab read the metadata: the old leader refuses or goes away, the
    // tab reads the metadata again and asks the new leader, without a leader epoch, and the lag shows.
    void lagAfterLeaderMove_data()
    {
        QTest::addColumn<QByteArray>("oldLeader");
        QTest::newRow("not the leader") << latestOffset(0, 6, -1);
        QTest::newRow("hang-up") << QByteArray();
    }

    void lagAfterLeaderMove()
    {
        QFETCH(QByteArray, oldLeader);
        Cluster cluster({ listed(0, { { "g", "consumer" } }), listed(0, {}) }, { { "t", { 1 } } });
        QVERIFY(cluster.widget);
        QTRY_COMPARE(cluster.groups(), QStringList({ "g" }));
        QTest::keyClick(&cluster.selector(), Qt::Key_Down);
        cluster.answer(0, KafkaApiKey::DescribeGroups, describedOwning(assignmentOf({ { "t", { 0 } } })));
        cluster.answer(0, KafkaApiKey::OffsetFetch, offsetsFetched({ { "t", { 0 }, 4, 0 } }));
        cluster.setTopics({ { "t", { 2 } } });
        cluster.answer(0, KafkaApiKey::ListOffsets, oldLeader);
        cluster.answer(1, KafkaApiKey::ListOffsets, latestOffset(0, 0, 10));
        QTRY_COMPARE(cluster.cell("t-0", Model::LagColumn), QString("6"));
        QVERIFY(cluster.widget->errors.isEmpty());

        for (const std::unique_ptr<FakeBroker>& broker : cluster.brokers) {
            for (const FakeBroker::Frame& frame : broker->frames()) {
                if (frame.apiKey != std::int16_t(KafkaApiKey::ListOffsets))
                    continue;
                KafkaBuffer body(frame.body);
                body.readS32(); // replica
                body.readS8(); // isolation level
                body.readS32(); // topics
                body.readString();
                body.readS32(); // partitions
                body.readS32(); // partition
                QCOMPARE(body.readS32(), -1); // current leader epoch
            }
        }
    }

    // Names that any client sets show what they hold, each in its place; the requests carry them as they
    // are (the tab shows the answer for the name it asked about).
    void invisibleCharactersDrawn()
    {
        const QString group = QStringLiteral("g\u202E1");
        Cluster cluster({ listed(0, { { group, "consumer" } }) }, { { "t", { 1 } } });
        QVERIFY(cluster.widget);
        QTRY_COMPARE(cluster.groups(), QStringList({ QStringLiteral("g\uFFFD1") }));
        QTest::keyClick(&cluster.selector(), Qt::Key_Down);
        cluster.answer(0, KafkaApiKey::DescribeGroups,
            described(group, QStringLiteral("Stable\u2067"), "consumer", { { "m\n1", "/h\u200F", { 0 } } }));
        QTableView& table = *cluster.widget->findChild<QTableView*>();
        QTRY_COMPARE(table.model()->rowCount(), 1);
        const QStringList drawn = DrawnText::linesOf(*table.viewport());
        QCOMPARE(drawn.size(), 1);
        QVERIFY2(drawn.first().startsWith(QStringLiteral("t-0m\uFFFD1/h\uFFFD")), qPrintable(drawn.first()));
        QVERIFY(cluster.details().contains(QStringLiteral("Stable\uFFFD")));
    }
};

QTEST_MAIN(ConsumersWidgetTest)
#include "ConsumersWidgetTest.moc"
