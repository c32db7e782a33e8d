#include "KafkaApiVersionsRequest.h"
#include "KafkaApiVersionsResponse.h"
#include "KafkaMetadataRequest.h"
#include "KafkaMetadataResponse.h"
#include "MessageImages.h"
#include "TestBytes.h"

#include <QTest>

#include <limits>
#include <optional>

namespace {

QByteArray apiVersionsImage()
{
    return ResponseImage()
        .s32(42)
        .s16(0)
        .s32(3)
        .s16(1).s16(4).s16(11)
        .s16(3).s16(1).s16(8)
        .s16(18).s16(0).s16(3)
        .s32(25)
        .data();
}

// Version 1: racks, controller and internal flags, but no throttle time, no
// cluster id, no leader epochs and no offline replicas.
QByteArray metadataV1Image()
{
    return ResponseImage()
        .s32(42)
        .s32(2)
        .s32(1).string("b1").s32(9092).string("r1")
        .s32(2).string("host2").s32(9093).nullString()
        .s32(1)
        .s32(1)
        .s16(0).string("t").s8(2)
        .s32(2)
        .s16(5).s32(0).s32(1).int32Array({ 1, 2 }).int32Array({ 1 })
        .s16(120).s32(1).s32(-1).int32Array({ 2 }).int32Array({})
        .data();
}

QByteArray metadataV8Image()
{
    return ResponseImage()
        .s32(43)
        .s32(100)
        .s32(1)
        .s32(3).string("b3").s32(9094).nullString()
        .string("cluster-x")
        .s32(3)
        .s32(2)
        .s16(0).string("__consumer_offsets").s8(1)
        .s32(1)
        .s16(0).s32(4).s32(3).s32(17).int32Array({ 3, 1 }).int32Array({ 3 }).int32Array({ 1 })
        .s32(0x0DF8)
        .s16(3).string("missing").s8(0)
        .s32(-1)
        .s32(-2147483647 - 1)
        .s32(0x0F00)
        .data();
}

} // namespace

class KafkaMetadataMessagesTest : public QObject {
    Q_OBJECT

private slots:
    void apiVersionsRequestFrame()
    {
        KafkaBuffer buffer;
        KafkaApiVersionsRequest(5, "ab").writeToBuffer(buffer, 1);
        QCOMPARE(spacedHex(buffer.data), spacedHex(hexBytes("00 00 00 0C  00 12 00 01 00 00 00 05 00 02 61 62")));
    }

    void metadataRequestPayload_data()
    {
        QTest::addColumn<qint16>("version");
        QTest::addColumn<std::optional<QStringList>>("topics");
        QTest::addColumn<bool>("allowAutoCreation");
        QTest::addColumn<bool>("clusterOperations");
        QTest::addColumn<bool>("topicOperations");
        QTest::addColumn<QByteArray>("expected");

        const std::optional<QStringList> all;
        const std::optional<QStringList> two = QStringList { "a", "bc" };
        const std::optional<QStringList> none = QStringList {};
        QTest::newRow("v1 all topics") << qint16(1) << all << true << true << true << hexBytes("FF FF FF FF");
        QTest::newRow("v1 two topics") << qint16(1) << two << true << true << true
                                       << hexBytes("00 00 00 02 00 01 61 00 02 62 63");
        QTest::newRow("v3 no flags yet") << qint16(3) << all << true << true << true << hexBytes("FF FF FF FF");
        QTest::newRow("v4 all topics") << qint16(4) << all << false << true << true << hexBytes("FF FF FF FF 00");
        QTest::newRow("v4 auto creation") << qint16(4) << two << true << false << false
                                          << hexBytes("00 00 00 02 00 01 61 00 02 62 63 01");
        QTest::newRow("v7 no operation flags yet") << qint16(7) << all << true << true << true
                                                   << hexBytes("FF FF FF FF 01");
        QTest::newRow("v8 bootstrap") << qint16(8) << all << false << true << true << hexBytes("FF FF FF FF 00 01 01");
        QTest::newRow("v8 empty list, flag order") << qint16(8) << none << true << false << true
                                                   << hexBytes("00 00 00 00 01 00 01");
    }

    void metadataRequestPayload()
    {
        QFETCH(qint16, version);
        QFETCH(std::optional<QStringList>, topics);
        QFETCH(bool, allowAutoCreation);
        QFETCH(bool, clusterOperations);
        QFETCH(bool, topicOperations);
        QFETCH(QByteArray, expected);
        const KafkaMetadataRequest request(1, "c", topics, allowAutoCreation, clusterOperations, topicOperations);
        QCOMPARE(spacedHex(requestPayload(request, version)), spacedHex(expected));
    }

    void apiVersionsResponse()
    {
        const auto result = parseImage<KafkaApiVersionsResponse>(1, apiVersionsImage());
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        const KafkaApiVersionsResponse& response = result.value();
        QCOMPARE(response.correlationId, 42);
        QCOMPARE(response.errorCode, KafkaProtocolError::None);
        QCOMPARE(response.throttleTimeMs, 25);
        QCOMPARE(response.apiKeys.size(), 3);
        const std::int16_t expected[3][3] = { { 1, 4, 11 }, { 3, 1, 8 }, { 18, 0, 3 } };
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(response.apiKeys[i].apiKey, expected[i][0]);
            QCOMPARE(response.apiKeys[i].minVersion, expected[i][1]);
            QCOMPARE(response.apiKeys[i].maxVersion, expected[i][2]);
        }
    }

    void apiVersionsNullKeyList()
    {
        const QByteArray image = ResponseImage().s32(9).s16(35).s32(-1).s32(0).data();
        const auto result = parseImage<KafkaApiVersionsResponse>(1, image);
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        QCOMPARE(result.value().errorCode, KafkaProtocolError::UnsupportedVersion);
        QVERIFY(result.value().apiKeys.isEmpty());
    }

    void metadataResponseV1()
    {
        const auto result = parseImage<KafkaMetadataResponse>(1, metadataV1Image());
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        const KafkaMetadataResponse& response = result.value();
        QCOMPARE(response.correlationId, 42);
        QCOMPARE(response.throttleTimeMs, 0);
        QVERIFY(response.clusterId.isNull());
        QCOMPARE(response.controllerId, 1);
        QCOMPARE(response.clusterAuthorizedOperations, 0);

        QCOMPARE(response.brokers.size(), 2);
        QCOMPARE(response.brokers[0].nodeId, 1);
        QCOMPARE(response.brokers[0].host, QString("b1"));
        QCOMPARE(response.brokers[0].port, 9092);
        QCOMPARE(response.brokers[0].rack, QString("r1"));
        QCOMPARE(response.brokers[1].nodeId, 2);
        QCOMPARE(response.brokers[1].host, QString("host2"));
        QCOMPARE(response.brokers[1].port, 9093);
        QVERIFY(response.brokers[1].rack.isNull());

        QCOMPARE(response.topics.size(), 1);
        const KafkaMetadataResponse::Topic& topic = response.topics[0];
        QCOMPARE(topic.errorCode, KafkaProtocolError::None);
        QCOMPARE(topic.name, QString("t"));
        QVERIFY(topic.isInternal);
        QCOMPARE(topic.topicAuthorizedOperations, 0);
        QCOMPARE(topic.partitions.size(), 2);

        const KafkaMetadataResponse::Partition& failed = topic.partitions[0];
        QCOMPARE(failed.errorCode, KafkaProtocolError::LeaderNotAvailable);
        QCOMPARE(failed.partitionIndex, 0);
        QCOMPARE(failed.leaderId, 1);
        QCOMPARE(failed.leaderEpoch, 0);
        QCOMPARE(failed.replicaNodes, (QList<std::int32_t> { 1, 2 }));
        QCOMPARE(failed.isrNodes, (QList<std::int32_t> { 1 }));
        QVERIFY(failed.offlineReplicas.isEmpty());

        const KafkaMetadataResponse::Partition& unknown = topic.partitions[1];
        QCOMPARE(unknown.errorCode, KafkaProtocolError::UnknownServerError);
        QCOMPARE(unknown.partitionIndex, 1);
        QCOMPARE(unknown.leaderId, -1);
        QCOMPARE(unknown.replicaNodes, (QList<std::int32_t> { 2 }));
        QVERIFY(unknown.isrNodes.isEmpty());
    }

    void metadataResponseV8()
    {
        const auto result = parseImage<KafkaMetadataResponse>(8, metadataV8Image());
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        const KafkaMetadataResponse& response = result.value();
        QCOMPARE(response.correlationId, 43);
        QCOMPARE(response.throttleTimeMs, 100);
        QCOMPARE(response.clusterId, QString("cluster-x"));
        QCOMPARE(response.controllerId, 3);
        QCOMPARE(response.clusterAuthorizedOperations, 0x0F00);

        QCOMPARE(response.brokers.size(), 1);
        QCOMPARE(response.brokers[0].nodeId, 3);
        QCOMPARE(response.brokers[0].host, QString("b3"));
        QCOMPARE(response.brokers[0].port, 9094);
        QVERIFY(response.brokers[0].rack.isNull());

        QCOMPARE(response.topics.size(), 2);
        const KafkaMetadataResponse::Topic& internal = response.topics[0];
        QCOMPARE(internal.name, QString("__consumer_offsets"));
        QVERIFY(internal.isInternal);
        QCOMPARE(internal.topicAuthorizedOperations, 0x0DF8);
        QCOMPARE(internal.partitions.size(), 1);
        const KafkaMetadataResponse::Partition& partition = internal.partitions[0];
        QCOMPARE(partition.errorCode, KafkaProtocolError::None);
        QCOMPARE(partition.partitionIndex, 4);
        QCOMPARE(partition.leaderId, 3);
        QCOMPARE(partition.leaderEpoch, 17);
        QCOMPARE(partition.replicaNodes, (QList<std::int32_t> { 3, 1 }));
        QCOMPARE(partition.isrNodes, (QList<std::int32_t> { 3 }));
        QCOMPARE(partition.offlineReplicas, (QList<std::int32_t> { 1 }));

        const KafkaMetadataResponse::Topic& missing = response.topics[1];
        QCOMPARE(missing.errorCode, KafkaProtocolError::UnknownTopicOrPartition);
        QCOMPARE(missing.name, QString("missing"));
        QVERIFY(!missing.isInternal);
        QVERIFY(missing.partitions.isEmpty());
        QCOMPARE(missing.topicAuthorizedOperations, std::numeric_limits<std::int32_t>::min());
    }

    void damagedApiVersionsResponse_data()
    {
        addDamagedImageColumns();
        addDamagedImageRows("v1", 1, apiVersionsImage());
    }

    void damagedApiVersionsResponse()
    {
        verifyDamagedImageFails<KafkaApiVersionsResponse>("Invalid ApiVersions response");
    }

    void damagedMetadataResponse_data()
    {
        addDamagedImageColumns();
        addDamagedImageRows("v1", 1, metadataV1Image());
        addDamagedImageRows("v8", 8, metadataV8Image());
    }

    void damagedMetadataResponse()
    {
        verifyDamagedImageFails<KafkaMetadataResponse>("Invalid Metadata response");
    }
};

QTEST_GUILESS_MAIN(KafkaMetadataMessagesTest)
#include "KafkaMetadataMessagesTest.moc"
