#include "KafkaListOffsetsRequest.h"
#include "KafkaListOffsetsResponse.h"
#include "MessageImages.h"
#include "TestBytes.h"

#include <QTest>

namespace {

// Version 1: no throttle time and no leader epochs.
QByteArray listOffsetsV1Image()
{
    return ResponseImage()
        .s32(5)
        .s32(1)
        .string("t")
        .s32(2)
        .s32(0).s16(0).s64(-1).s64(42)
        .s32(1).s16(6).s64(-1).s64(-1)
        .data();
}

QByteArray listOffsetsV5Image()
{
    return ResponseImage()
        .s32(6)
        .s32(5)
        .s32(2)
        .string("t")
        .s32(1)
        .s32(0).s16(0).s64(1700000000000).s64(12).s32(3)
        .string("u")
        .s32(0)
        .data();
}

} // namespace

class KafkaListOffsetsMessagesTest : public QObject {
    Q_OBJECT

private slots:
    void requestPayload_data()
    {
        QTest::addColumn<qint16>("version");
        QTest::addColumn<int>("isolation");
        QTest::addColumn<QByteArray>("expected");

        // Topic "t" with partitions 0 (epoch 5, latest) and 3 (epoch 6, a
        // timestamp), then topic "u" without partitions.
        const QByteArray classic = hexBytes("00 00 00 02  00 01 74 00 00 00 02"
                                            "  00 00 00 00 FF FF FF FF FF FF FF FF"
                                            "  00 00 00 03 00 00 01 8B CF E5 68 00"
                                            "  00 01 75 00 00 00 00");
        const QByteArray withEpochs = hexBytes("00 00 00 02  00 01 74 00 00 00 02"
                                               "  00 00 00 00 00 00 00 05 FF FF FF FF FF FF FF FF"
                                               "  00 00 00 03 00 00 00 06 00 00 01 8B CF E5 68 00"
                                               "  00 01 75 00 00 00 00");
        const int committed = int(IsolationLevel::ReadCommitted);
        const int uncommitted = int(IsolationLevel::ReadUncommitted);
        QTest::newRow("v1") << qint16(1) << committed << hexBytes("FF FF FF FF") + classic;
        QTest::newRow("v2 committed") << qint16(2) << committed << hexBytes("FF FF FF FF 01") + classic;
        QTest::newRow("v2 uncommitted") << qint16(2) << uncommitted << hexBytes("FF FF FF FF 00") + classic;
        QTest::newRow("v3") << qint16(3) << committed << hexBytes("FF FF FF FF 01") + classic;
        QTest::newRow("v4") << qint16(4) << committed << hexBytes("FF FF FF FF 01") + withEpochs;
        QTest::newRow("v5") << qint16(5) << committed << hexBytes("FF FF FF FF 01") + withEpochs;
    }

    void requestPayload()
    {
        QFETCH(qint16, version);
        QFETCH(int, isolation);
        QFETCH(QByteArray, expected);
        const KafkaListOffsetsRequest request(1, "c", -1, IsolationLevel(isolation),
            { { "t", { { 0, 5, -1 }, { 3, 6, 1700000000000 } } }, { "u", {} } });
        QCOMPARE(spacedHex(::requestPayload(request, version)), spacedHex(expected));
    }

    void responseV1()
    {
        const auto result = parseImage<KafkaListOffsetsResponse>(1, listOffsetsV1Image());
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        const KafkaListOffsetsResponse& response = result.value();
        QCOMPARE(response.correlationId, 5);
        QCOMPARE(response.throttleTimeMs, 0);
        QCOMPARE(response.topics.size(), 1);
        QCOMPARE(response.topics[0].name, QString("t"));
        const auto& partitions = response.topics[0].partitions;
        QCOMPARE(partitions.size(), 2);
        QCOMPARE(partitions[0].partitionIndex, 0);
        QCOMPARE(partitions[0].errorCode, KafkaProtocolError::None);
        QCOMPARE(partitions[0].timestamp, -1);
        QCOMPARE(partitions[0].offset, 42);
        QCOMPARE(partitions[0].leaderEpoch, 0);
        QCOMPARE(partitions[1].partitionIndex, 1);
        QCOMPARE(partitions[1].errorCode, KafkaProtocolError::NotLeaderOrFollower);
        QCOMPARE(partitions[1].offset, -1);
    }

    void responseV5()
    {
        const auto result = parseImage<KafkaListOffsetsResponse>(5, listOffsetsV5Image());
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        const KafkaListOffsetsResponse& response = result.value();
        QCOMPARE(response.correlationId, 6);
        QCOMPARE(response.throttleTimeMs, 5);
        QCOMPARE(response.topics.size(), 2);
        QCOMPARE(response.topics[0].name, QString("t"));
        QCOMPARE(response.topics[0].partitions.size(), 1);
        const KafkaListOffsetsResponse::Partition& partition = response.topics[0].partitions[0];
        QCOMPARE(partition.partitionIndex, 0);
        QCOMPARE(partition.errorCode, KafkaProtocolError::None);
        QCOMPARE(partition.timestamp, 1700000000000);
        QCOMPARE(partition.offset, 12);
        QCOMPARE(partition.leaderEpoch, 3);
        QCOMPARE(response.topics[1].name, QString("u"));
        QVERIFY(response.topics[1].partitions.isEmpty());
    }

    void damagedResponse_data()
    {
        addDamagedImageColumns();
        addDamagedImageRows("v1", 1, listOffsetsV1Image());
        addDamagedImageRows("v5", 5, listOffsetsV5Image());
    }

    void damagedResponse()
    {
        verifyDamagedImageFails<KafkaListOffsetsResponse>("Invalid ListOffsets response");
    }
};

QTEST_GUILESS_MAIN(KafkaListOffsetsMessagesTest)
#include "KafkaListOffsetsMessagesTest.moc"
