// The codec against a real broker: requests built by the codec, sent over a
// plain socket, answers parsed by the codec. Test data comes from librdkafka.
#include "BrokerTestCase.h"
#include "KafkaConsumerProtocolAssignment.h"
#include "KafkaDescribeGroupsRequest.h"
#include "KafkaDescribeGroupsResponse.h"
#include "KafkaListGroupsRequest.h"
#include "KafkaListGroupsResponse.h"
#include "KafkaListOffsetsRequest.h"
#include "KafkaListOffsetsResponse.h"
#include "KafkaMetadataRequest.h"
#include "KafkaMetadataResponse.h"
#include "KafkaOffsetFetchRequest.h"
#include "KafkaOffsetFetchResponse.h"
#include "KafkaSaslHandshakeRequest.h"
#include "KafkaSaslHandshakeResponse.h"
#include "KafkaSaslPlainAuthenticateRequest.h"
#include "KafkaSaslPlainAuthenticateResponse.h"
#include "TestConsumerGroup.h"
#include "TestProducer.h"
#include "TestTopicAdmin.h"

#include <QTest>

class KafkaCodecBrokerTest : public QObject {
    Q_OBJECT

private:
    KafkaTestEnvironment m_env = KafkaTestEnvironment::fromProcessEnvironment();
    BrokerTestCase m_broker;
    QString m_topic;
    // Timestamps of the three records of partition 0 of m_topic.
    const QList<qint64> m_timestamps { 1'600'000'000'000, 1'600'000'001'000, 1'600'000'002'000 };

    KafkaResult<KafkaMetadataResponse> metadata(std::int16_t version, std::optional<QStringList> topics)
    {
        TestBrokerSocket socket(m_env.plaintext());
        KafkaMetadataRequest request(socket.nextCorrelationId(), BrokerTestCase::ClientId, topics, false, true, true);
        return socket.roundTrip<KafkaMetadataResponse>(request, version);
    }

    KafkaResult<KafkaListOffsetsResponse> listOffsets(std::int16_t version, std::int64_t timestamp)
    {
        TestBrokerSocket socket(m_env.plaintext());
        KafkaListOffsetsRequest::Partition partition;
        partition.partitionIndex = 0;
        partition.currentLeaderEpoch = -1;
        partition.timestamp = timestamp;
        KafkaListOffsetsRequest request(socket.nextCorrelationId(), BrokerTestCase::ClientId, -1,
            IsolationLevel::ReadCommitted, { { m_topic, { partition } } });
        return socket.roundTrip<KafkaListOffsetsResponse>(request, version);
    }

private slots:
    void initTestCase()
    {
        SKELVANE_REQUIRE_KAFKA_BROKER(m_env);
        QCOMPARE(m_broker.readApiVersions(m_env.plaintext()), QString());

        m_topic = KafkaTestEnvironment::uniqueTopicName("codec");
        TestTopicAdmin admin(m_env.plaintext());
        QCOMPARE(admin.createTopic(m_topic, 3), QString());
        TestProducer producer;
        TestProducer::Options options;
        options.bootstrap = m_env.plaintext();
        QCOMPARE(producer.open(options), QString());
        for (qint64 timestamp : m_timestamps)
            QCOMPARE(producer.produce({ m_topic, 0, QByteArray("k"), QByteArray("v"), {}, timestamp }), QString());
        for (const auto& delivery : producer.flush())
            QCOMPARE(delivery.error, QString());
    }

    void apiVersionsListsEveryApiTheClientSpeaks()
    {
        const std::pair<int, std::pair<int, int>> ours[] = {
            { 1, { 4, 11 } }, { 2, { 1, 5 } }, { 3, { 1, 8 } }, { 9, { 0, 7 } }, { 15, { 0, 4 } },
            { 16, { 0, 4 } }, { 17, { 1, 1 } }, { 18, { 1, 1 } }, { 36, { 0, 0 } },
        };
        for (const auto& [key, range] : ours) {
            const auto common = m_broker.commonVersions(key, range.first, range.second);
            QVERIFY2(common.first >= 0, qPrintable(QString("no common version for API %1").arg(key)));
        }
    }

    void metadata_data()
    {
        QTest::addColumn<int>("version");
        QTest::newRow("v1") << 1;
        QTest::newRow("v8") << 8;
    }

    void metadata()
    {
        QFETCH(int, version);
        auto response = metadata(version, QStringList { m_topic });
        QVERIFY2(!response.isError(), qPrintable(response.isError() ? response.error().message : QString()));
        const KafkaMetadataResponse& value = response.value();
        QCOMPARE(value.brokers.size(), 1);
        QCOMPARE(value.brokers[0].host + ":" + QString::number(value.brokers[0].port), m_env.plaintext());
        QCOMPARE(value.clusterId.isNull(), version < 2);
        QCOMPARE(value.topics.size(), 1);
        const auto& topic = value.topics[0];
        QCOMPARE(topic.errorCode, KafkaProtocolError::None);
        QCOMPARE(topic.name, m_topic);
        QVERIFY(!topic.isInternal);
        QCOMPARE(topic.partitions.size(), 3);
        for (const auto& partition : topic.partitions) {
            QCOMPARE(partition.errorCode, KafkaProtocolError::None);
            QCOMPARE(partition.leaderId, value.brokers[0].nodeId);
            QCOMPARE(partition.replicaNodes, QList<std::int32_t> { value.brokers[0].nodeId });
            QCOMPARE(partition.isrNodes, QList<std::int32_t> { value.brokers[0].nodeId });
        }
    }

    void metadataOfAllTopicsAndOfAMissingTopic()
    {
        auto all = metadata(8, std::nullopt);
        QVERIFY(!all.isError());
        bool found = false;
        for (const auto& topic : all.value().topics)
            found = found || topic.name == m_topic;
        QVERIFY(found);

        auto missing = metadata(8, QStringList { KafkaTestEnvironment::uniqueTopicName("missing") });
        QVERIFY(!missing.isError());
        QCOMPARE(missing.value().topics.size(), 1);
        QCOMPARE(missing.value().topics[0].errorCode, KafkaProtocolError::UnknownTopicOrPartition);
    }

    void listOffsets_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<qint64>("timestamp");
        QTest::addColumn<qint64>("offset");
        for (int version : { 1, 5 }) {
            const QByteArray v = "v" + QByteArray::number(version);
            QTest::newRow(v + " earliest") << version << qint64(-2) << qint64(0);
            QTest::newRow(v + " latest") << version << qint64(-1) << qint64(3);
            QTest::newRow(v + " first timestamp") << version << m_timestamps[0] << qint64(0);
            QTest::newRow(v + " between timestamps") << version << m_timestamps[1] - 1 << qint64(1);
            QTest::newRow(v + " exact timestamp") << version << m_timestamps[2] << qint64(2);
            QTest::newRow(v + " after the last") << version << m_timestamps[2] + 1 << qint64(-1);
        }
    }

    void listOffsets()
    {
        QFETCH(int, version);
        QFETCH(qint64, timestamp);
        QFETCH(qint64, offset);
        auto response = listOffsets(version, timestamp);
        QVERIFY2(!response.isError(), qPrintable(response.isError() ? response.error().message : QString()));
        QCOMPARE(response.value().topics.size(), 1);
        QCOMPARE(response.value().topics[0].name, m_topic);
        QCOMPARE(response.value().topics[0].partitions.size(), 1);
        const auto& partition = response.value().topics[0].partitions[0];
        QCOMPARE(partition.errorCode, KafkaProtocolError::None);
        QCOMPARE(partition.offset, offset);
        if (timestamp >= 0 && offset >= 0)
            QCOMPARE(partition.timestamp, m_timestamps[offset]);
    }

    void consumerGroup()
    {
        const QString group = KafkaTestEnvironment::uniqueTopicName("group");
        TestConsumerGroup member;
        QCOMPARE(member.join(m_env.plaintext(), group, { m_topic }), QString());
        QCOMPARE(member.commit({ { m_topic, 0, 2 }, { m_topic, 1, 0 } }), QString());

        // ListGroups at both ends of the common range.
        const auto listRange = m_broker.commonVersions(16, 0, 4);
        for (std::int16_t version : { listRange.first, listRange.second }) {
            TestBrokerSocket socket(m_env.plaintext());
            KafkaListGroupsRequest request(socket.nextCorrelationId(), BrokerTestCase::ClientId, {});
            auto response = socket.roundTrip<KafkaListGroupsResponse>(request, version);
            QVERIFY2(!response.isError(), qPrintable(response.isError() ? response.error().message : QString()));
            QCOMPARE(response.value().errorCode, KafkaProtocolError::None);
            const auto groups = response.value().groups;
            const auto it = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.groupId == group; });
            QVERIFY2(it != groups.end(), qPrintable(QString("ListGroups v%1 misses the group").arg(version)));
            QCOMPARE(it->protocolType, QString("consumer"));
            QCOMPARE(it->groupState.isNull(), version < 4);
            if (version >= 4)
                QCOMPARE(it->groupState, QString("Stable"));
        }

        // DescribeGroups: the member and its assignment.
        const auto describeRange = m_broker.commonVersions(15, 0, 4);
        for (std::int16_t version : { describeRange.first, describeRange.second }) {
            TestBrokerSocket socket(m_env.plaintext());
            KafkaDescribeGroupsRequest request(socket.nextCorrelationId(), BrokerTestCase::ClientId, { group }, false);
            auto response = socket.roundTrip<KafkaDescribeGroupsResponse>(request, version);
            QVERIFY2(!response.isError(), qPrintable(response.isError() ? response.error().message : QString()));
            QCOMPARE(response.value().groups.size(), 1);
            const auto& described = response.value().groups[0];
            QCOMPARE(described.errorCode, KafkaProtocolError::None);
            QCOMPARE(described.groupId, group);
            QCOMPARE(described.groupState, QString("Stable"));
            QCOMPARE(described.protocolType, QString("consumer"));
            QCOMPARE(described.members.size(), 1);
            KafkaBuffer blob(described.members[0].memberAssignment);
            auto assignment = KafkaConsumerProtocolAssignment::parseFromBuffer(blob);
            QVERIFY(!assignment.isError());
            QCOMPARE(assignment.value().topics.size(), 1);
            QCOMPARE(assignment.value().topics[0].topic, m_topic);
            QList<std::int32_t> partitions = assignment.value().topics[0].partitions;
            std::sort(partitions.begin(), partitions.end());
            QCOMPARE(partitions, (QList<std::int32_t> { 0, 1, 2 }));
        }

        // OffsetFetch: the committed offsets, -1 where nothing was committed.
        const auto offsetRange = m_broker.commonVersions(9, 0, 7);
        for (std::int16_t version : { offsetRange.first, offsetRange.second }) {
            TestBrokerSocket socket(m_env.plaintext());
            KafkaOffsetFetchRequest request(socket.nextCorrelationId(), BrokerTestCase::ClientId, group,
                { { m_topic, { 0, 1, 2 } } }, false);
            auto response = socket.roundTrip<KafkaOffsetFetchResponse>(request, version);
            QVERIFY2(!response.isError(), qPrintable(response.isError() ? response.error().message : QString()));
            QCOMPARE(response.value().errorCode, KafkaProtocolError::None);
            QCOMPARE(response.value().topics.size(), 1);
            QHash<int, qint64> committed;
            for (const auto& partition : response.value().topics[0].partitions) {
                QCOMPARE(partition.errorCode, KafkaProtocolError::None);
                committed.insert(partition.partitionIndex, partition.committedOffset);
            }
            QCOMPARE(committed.value(0), 2);
            QCOMPARE(committed.value(1), 0);
            QCOMPARE(committed.value(2), -1);
        }
    }

    void saslPlain_data()
    {
        QTest::addColumn<bool>("rightPassword");
        QTest::newRow("right password") << true;
        QTest::newRow("wrong password") << false;
    }

    void saslPlain()
    {
        QFETCH(bool, rightPassword);
        TestBrokerSocket socket(m_env.saslPlaintext());
        QVERIFY(socket.isConnected());
        KafkaSaslHandshakeRequest handshake(socket.nextCorrelationId(), BrokerTestCase::ClientId, "PLAIN");
        auto handshakeResponse = socket.roundTrip<KafkaSaslHandshakeResponse>(handshake, 1);
        QVERIFY(!handshakeResponse.isError());
        QCOMPARE(handshakeResponse.value().errorCode, KafkaProtocolError::None);
        QVERIFY(handshakeResponse.value().mechanisms.contains("PLAIN"));
        QVERIFY(handshakeResponse.value().mechanisms.contains("SCRAM-SHA-512"));

        const auto credentials = m_env.plain();
        KafkaSaslPlainAuthenticateRequest authenticate(socket.nextCorrelationId(), BrokerTestCase::ClientId, QString(),
            credentials.user, rightPassword ? credentials.password : credentials.password + "x");
        auto response = socket.roundTrip<KafkaSaslPlainAuthenticateResponse>(authenticate, 0);
        QVERIFY(!response.isError());
        if (rightPassword) {
            QCOMPARE(response.value().errorCode, KafkaProtocolError::None);
            // Authenticated: the connection now answers ordinary requests.
            KafkaMetadataRequest request(socket.nextCorrelationId(), BrokerTestCase::ClientId, QStringList { m_topic }, false, false, false);
            auto metadataResponse = socket.roundTrip<KafkaMetadataResponse>(request, 8);
            QVERIFY(!metadataResponse.isError());
            QCOMPARE(metadataResponse.value().topics.size(), 1);
        } else {
            QCOMPARE(response.value().errorCode, KafkaProtocolError::SaslAuthenticationFailed);
            QVERIFY(!response.value().errorMessage.isEmpty());
        }
    }

    void saslHandshakeWithADisabledMechanism()
    {
        TestBrokerSocket socket(m_env.saslPlaintext());
        KafkaSaslHandshakeRequest handshake(socket.nextCorrelationId(), BrokerTestCase::ClientId, "GSSAPI");
        auto response = socket.roundTrip<KafkaSaslHandshakeResponse>(handshake, 1);
        QVERIFY(!response.isError());
        QCOMPARE(response.value().errorCode, KafkaProtocolError::UnsupportedSaslMechanism);
        QVERIFY(response.value().mechanisms.contains("PLAIN"));
    }
};

QTEST_GUILESS_MAIN(KafkaCodecBrokerTest)
#include "KafkaCodecBrokerTest.moc"
