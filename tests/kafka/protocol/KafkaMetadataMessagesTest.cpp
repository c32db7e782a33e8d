#include "KafkaApiVersionsRequest.h"
#include "KafkaApiVersionsResponse.h"
#include "KafkaMetadataRequest.h"
#include "KafkaMetadataResponse.h"
#include "MessageImages.h"

#include <QTest>

#include <limits>
#include <optional>

class KafkaMetadataMessagesTest : public QObject {
    Q_OBJECT

private slots:
    void frameIsWrittenAtTheCursor()
    {
        KafkaBuffer buffer(hexBytes("AA BB CC"));
        buffer.position = 3;
        KafkaApiVersionsRequest(-2, "ab").writeToBuffer(buffer, 1);
        QCOMPARE(spacedHex(buffer.data), spacedHex(hexBytes("AA BB CC  00 00 00 0C  00 12 00 01 FF FF FF FE 00 02 61 62")));
        QCOMPARE(buffer.position, 7);
    }

    void requests()
    {
        using Topics = std::optional<QStringList>;
        const auto metadata = [](std::int16_t version, const Topics& topics, bool autoCreate, bool cluster, bool topic) {
            return requestPayload(KafkaMetadataRequest(1, "c", topics, autoCreate, cluster, topic), version);
        };
        const QStringList two { "a", "bc" };
        const auto frame = [](const QString& clientId, std::int16_t version) {
            return requestFrame(KafkaMetadataRequest(7, clientId, std::nullopt, false, true, true), version);
        };
        // Header version 1 throughout: no tagged-field byte after the client id,
        // a null client id has length 0, and the length counts UTF-8 bytes.
        verifyBytes({ { frame("ab", 8), "00 00 00 13  00 03 00 08 00 00 00 07 00 02 61 62  FF FF FF FF 00 01 01" },
            { frame(QString(), 1), "00 00 00 0E  00 03 00 01 00 00 00 07 00 00  FF FF FF FF" },
            { frame(QString::fromUtf8("\xC3\xA9"), 1), "00 00 00 10  00 03 00 01 00 00 00 07 00 02 C3 A9  FF FF FF FF" },
            { metadata(1, two, true, true, true), "00 00 00 02 00 01 61 00 02 62 63" },
            { metadata(4, two, true, false, false), "00 00 00 02 00 01 61 00 02 62 63 01" },
            { metadata(8, QStringList {}, true, false, true), "00 00 00 00 01 00 01" } });
    }

    void apiVersionsResponse()
    {
        const QByteArray image
            = ResponseImage().s32(42).s16(0).s32(3).s16(1).s16(4).s16(11).s16(3).s16(1).s16(8).s16(18).s16(0).s16(3).s32(25).data();
        const auto result = parseImage<KafkaApiVersionsResponse>(1, image);
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        QCOMPARE(result.value().throttleTimeMs, 25);
        QCOMPARE(result.value().apiKeys.value(2).apiKey, std::int16_t(18));
        QCOMPARE(result.value().apiKeys.value(2).minVersion, std::int16_t(0));
        QCOMPARE(result.value().apiKeys.value(2).maxVersion, std::int16_t(3));

        // A null key list is empty and the throttle time still follows.
        const auto nullList = parseImage<KafkaApiVersionsResponse>(1, ResponseImage().s32(9).s16(35).s32(-1).s32(0).data());
        QVERIFY2(nullList.hasValue(), qPrintable(failureText(nullList)));
        QCOMPARE(nullList.value().errorCode, KafkaProtocolError::UnsupportedVersion);
        QVERIFY(nullList.value().apiKeys.isEmpty());

        verifyDamagedImageFails<KafkaApiVersionsResponse>(1, image, "Invalid ApiVersions response");
    }

    void metadataResponses()
    {
        const QByteArray v8Image = ResponseImage().s32(43).s32(100).s32(1).s32(3).string("b3").s32(9094).nullString()
            .string("cluster-x").s32(3).s32(2).s16(0).string("__consumer_offsets").s8(1).s32(1)
            .s16(0).s32(4).s32(3).s32(17).int32Array({ 3, 1 }).int32Array({ 3 }).int32Array({ 1 }).s32(0x0DF8)
            .s16(3).string("missing").s8(0).s32(-1).s32(-2147483647 - 1).s32(0x0F00).data();
        const auto v8 = parseImage<KafkaMetadataResponse>(8, v8Image);
        QVERIFY2(v8.hasValue(), qPrintable(failureText(v8)));
        const KafkaMetadataResponse& response = v8.value();
        QCOMPARE(response.throttleTimeMs, 100);
        QCOMPARE(response.clusterId, QString("cluster-x"));
        QCOMPARE(response.clusterAuthorizedOperations, 0x0F00);
        QCOMPARE(response.brokers.value(0).host, QString("b3"));
        QVERIFY(response.brokers.value(0).rack.isNull());
        QCOMPARE(response.topics.value(0).topicAuthorizedOperations, 0x0DF8);
        const KafkaMetadataResponse::Partition& partition = response.topics.value(0).partitions.value(0);
        QCOMPARE(partition.leaderEpoch, 17);
        QCOMPARE(partition.replicaNodes, (QList<std::int32_t> { 3, 1 }));
        QCOMPARE(partition.offlineReplicas, (QList<std::int32_t> { 1 }));
        QCOMPARE(response.topics.value(1).errorCode, KafkaProtocolError::UnknownTopicOrPartition);
        QVERIFY(!response.topics.value(1).isInternal);
        QVERIFY(response.topics.value(1).partitions.isEmpty());
        QCOMPARE(response.topics.value(1).topicAuthorizedOperations, std::numeric_limits<std::int32_t>::min());

        verifyDamagedImageFails<KafkaMetadataResponse>(8, v8Image, "Invalid Metadata response");
    }
};

QTEST_GUILESS_MAIN(KafkaMetadataMessagesTest)
#include "KafkaMetadataMessagesTest.moc"
