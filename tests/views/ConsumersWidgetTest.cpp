// The consumer groups tab against stand-in brokers, for what a real cluster does not do on request.
#include "ConsumersWidgetProbe.h"
#include "FakeBroker.h"
#include "KafkaClusterClient.h"
#include "PinnedLocale.h"
#include "Settings.h"

#include <QComboBox>
#include <QSignalSpy>
#include <QStatusBar>

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

// Stand-in brokers answering ListGroups with the payloads (empty: hanging up), without ConsumerGroupDescribe.
struct Cluster {
    std::vector<std::unique_ptr<FakeBroker>> brokers;
    std::shared_ptr<KafkaClusterClient> client;
    QStatusBar statusBar;
    Settings settings;
    Config config;
    std::unique_ptr<ConsumersWidget> widget;
    QStringList captions;

    explicit Cluster(const QList<QByteArray>& listGroups)
    {
        for (const QByteArray& answer : listGroups) {
            FakeBroker* broker = brokers.emplace_back(std::make_unique<FakeBroker>(FakeBroker::Mode::Cluster)).get();
            broker->apiVersions += { { 16, 0, 0 }, { 15, 0, 0 }, { 9, 1, 1 }, { 2, 1, 1 } };
            broker->onFrame = [answer, broker](const FakeBroker::Frame& frame) {
                if (frame.apiKey == std::int16_t(KafkaApiKey::ListGroups))
                    answer.isEmpty() ? frame.peer->close() : broker->reply(frame, answer);
            };
        }
        brokers[0]->brokers.clear();
        for (size_t i = 0; i < brokers.size(); ++i)
            brokers[0]->brokers.append({ std::int32_t(i + 1), i == 0 ? 0 : brokers[i]->port() });
        brokers[0]->topics = { { "t", { 1, 1 } } };
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
    // Answers the broker's next request of the API once it has come.
    void answer(int broker, KafkaApiKey apiKey, const QByteArray& payload)
    {
        FakeBroker& fake = *brokers[size_t(broker)];
        const int count = answered[{ broker, apiKey }]++;
        QVERIFY(QTest::qWaitFor([&] { return fake.requestCount(apiKey) > count; }, 5000));
        QList<FakeBroker::Frame> frames = fake.frames();
        frames.removeIf([apiKey](const FakeBroker::Frame& frame) { return frame.apiKey != std::int16_t(apiKey); });
        fake.reply(frames[count], payload);
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
};

QTEST_MAIN(ConsumersWidgetTest)
#include "ConsumersWidgetTest.moc"
