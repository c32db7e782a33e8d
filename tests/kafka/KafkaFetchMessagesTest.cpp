#include "KafkaFetchRequest.h"
#include "KafkaFetchResponse.h"
#include "MessageImages.h"
#include "TestBytes.h"

#include <QTest>

namespace {

// Pieces of the request written by requestPayload(): replica -1, wait 5000,
// min bytes 1, max bytes 500000, read committed; session 9, epoch 10; topic
// "t" with partition 2 (epoch 3, offset 100, log start 4, 1 MiB); forgotten
// topic "f" with partitions 1 and 2; rack "r".
const char* const Limits = "FF FF FF FF 00 00 13 88 00 00 00 01 00 07 A1 20 01 ";
const char* const Session = "00 00 00 09 00 00 00 0A ";
const char* const TopicStart = "00 00 00 01 00 01 74 00 00 00 01 00 00 00 02 ";
const char* const LeaderEpoch = "00 00 00 03 ";
const char* const FetchOffset = "00 00 00 00 00 00 00 64 ";
const char* const LogStart = "00 00 00 00 00 00 00 04 ";
const char* const PartitionMaxBytes = "00 10 00 00 ";
const char* const Forgotten = "00 00 00 01 00 01 66 00 00 00 02 00 00 00 01 00 00 00 02 ";
const char* const Rack = "00 01 72";

QByteArray hexParts(std::initializer_list<const char*> parts)
{
    QByteArray bytes;
    for (const char* part : parts)
        bytes += hexBytes(part);
    return bytes;
}

// Version 4: no log start offset, session, preferred replica.
QByteArray fetchV4Image()
{
    return ResponseImage()
        .s32(21)
        .s32(10)
        .s32(1)
        .string("t")
        .s32(2)
        .s32(0).s16(0).s64(100).s64(90)
        .s32(1).s64(7).s64(50)
        .bytes("abc")
        .s32(1).s16(1).s64(5).s64(5)
        .s32(-1)
        .bytes("wxyz")
        .data();
}

QByteArray fetchV11Image()
{
    return ResponseImage()
        .s32(22)
        .s32(0)
        .s16(0)
        .s32(77)
        .s32(2)
        .string("t")
        .s32(1)
        .s32(2).s16(0).s64(1000).s64(990).s64(3)
        .s32(2).s64(7).s64(100).s64(8).s64(200)
        .s32(-1)
        .bytes("hello")
        .string("u")
        .s32(1)
        .s32(0).s16(74).s64(0).s64(0).s64(0)
        .s32(-1)
        .s32(2)
        .bytes("z")
        .data();
}

// One partition without aborted transactions, its record set given raw.
QByteArray onePartitionImage(std::int16_t version, const QByteArray& records)
{
    ResponseImage image;
    image.s32(1).s32(0);
    if (version >= 7)
        image.s16(0).s32(0);
    image.s32(1).string("t").s32(1);
    image.s32(0).s16(0).s64(10).s64(10);
    if (version >= 5)
        image.s64(0);
    image.s32(-1);
    if (version >= 11)
        image.s32(-1);
    return image.raw(records).data();
}

} // namespace

class KafkaFetchMessagesTest : public QObject {
    Q_OBJECT

private slots:
    void requestPayload_data()
    {
        QTest::addColumn<qint16>("version");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray v4 = hexParts({ Limits, TopicStart, FetchOffset, PartitionMaxBytes });
        const QByteArray v5 = hexParts({ Limits, TopicStart, FetchOffset, LogStart, PartitionMaxBytes });
        const QByteArray v7 = hexParts({ Limits, Session, TopicStart, FetchOffset, LogStart, PartitionMaxBytes, Forgotten });
        const QByteArray v9
            = hexParts({ Limits, Session, TopicStart, LeaderEpoch, FetchOffset, LogStart, PartitionMaxBytes, Forgotten });
        QTest::newRow("v4") << qint16(4) << v4;
        QTest::newRow("v5") << qint16(5) << v5;
        QTest::newRow("v6") << qint16(6) << v5;
        QTest::newRow("v7") << qint16(7) << v7;
        QTest::newRow("v8") << qint16(8) << v7;
        QTest::newRow("v9") << qint16(9) << v9;
        QTest::newRow("v10") << qint16(10) << v9;
        QTest::newRow("v11") << qint16(11) << v9 + hexBytes(Rack);
    }

    void requestPayload()
    {
        QFETCH(qint16, version);
        QFETCH(QByteArray, expected);
        const KafkaFetchRequest request(1, "c", -1, 5000, 1, 500000, IsolationLevel::ReadCommitted, 9, 10,
            { { "t", { { 2, 3, 100, 4, 1048576 } } } }, { { "f", { 1, 2 } } }, "r");
        QCOMPARE(spacedHex(::requestPayload(request, version)), spacedHex(expected));
    }

    void requestWithoutSessionOrRack()
    {
        // What the record fetcher sends: no forgotten topics, an empty rack.
        const KafkaFetchRequest request(1, "c", -1, 5000, -1, 500000, IsolationLevel::ReadCommitted, -1, -1,
            { { "t", { { 0, 0, 0, 0, 1048576 } } } }, {}, QString());
        const QByteArray expected = hexBytes("FF FF FF FF 00 00 13 88 FF FF FF FF 00 07 A1 20 01 FF FF FF FF FF FF FF FF"
                                             "  00 00 00 01 00 01 74 00 00 00 01"
                                             "  00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"
                                             "  00 00 00 00 00 00 00 00 00 10 00 00"
                                             "  00 00 00 00  00 00");
        QCOMPARE(spacedHex(::requestPayload(request, 11)), spacedHex(expected));
    }

    void responseV4()
    {
        const auto result = parseImage<KafkaFetchResponse>(4, fetchV4Image());
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        const KafkaFetchResponse& response = result.value();
        QCOMPARE(response.correlationId, 21);
        QCOMPARE(response.throttleTimeMs, 10);
        QCOMPARE(response.errorCode, KafkaProtocolError::None);
        QCOMPARE(response.sessionId, 0);
        QCOMPARE(response.topics.size(), 1);
        QCOMPARE(response.topics[0].topic, QString("t"));
        const auto& partitions = response.topics[0].partitions;
        QCOMPARE(partitions.size(), 2);

        QCOMPARE(partitions[0].partitionIndex, 0);
        QCOMPARE(partitions[0].errorCode, KafkaProtocolError::None);
        QCOMPARE(partitions[0].highWatermark, qint64(100));
        QCOMPARE(partitions[0].lastStableOffset, qint64(90));
        QCOMPARE(partitions[0].logStartOffset, qint64(0));
        QCOMPARE(partitions[0].abortedTransactions.size(), 1);
        QCOMPARE(partitions[0].abortedTransactions[0].producerId, qint64(7));
        QCOMPARE(partitions[0].abortedTransactions[0].firstOffset, qint64(50));
        QCOMPARE(partitions[0].preferredReadReplica, 0);
        QCOMPARE(partitions[0].records, QByteArray("abc"));

        QCOMPARE(partitions[1].partitionIndex, 1);
        QCOMPARE(partitions[1].errorCode, KafkaProtocolError::OffsetOutOfRange);
        QCOMPARE(partitions[1].highWatermark, qint64(5));
        QVERIFY(partitions[1].abortedTransactions.isEmpty());
        QCOMPARE(partitions[1].records, QByteArray("wxyz"));
    }

    void responseV11()
    {
        const auto result = parseImage<KafkaFetchResponse>(11, fetchV11Image());
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        const KafkaFetchResponse& response = result.value();
        QCOMPARE(response.correlationId, 22);
        QCOMPARE(response.throttleTimeMs, 0);
        QCOMPARE(response.errorCode, KafkaProtocolError::None);
        QCOMPARE(response.sessionId, 77);
        QCOMPARE(response.topics.size(), 2);

        QCOMPARE(response.topics[0].topic, QString("t"));
        QCOMPARE(response.topics[0].partitions.size(), 1);
        const KafkaFetchResponse::Partition& first = response.topics[0].partitions[0];
        QCOMPARE(first.partitionIndex, 2);
        QCOMPARE(first.highWatermark, qint64(1000));
        QCOMPARE(first.lastStableOffset, qint64(990));
        QCOMPARE(first.logStartOffset, qint64(3));
        QCOMPARE(first.abortedTransactions.size(), 2);
        QCOMPARE(first.abortedTransactions[0].producerId, qint64(7));
        QCOMPARE(first.abortedTransactions[0].firstOffset, qint64(100));
        QCOMPARE(first.abortedTransactions[1].producerId, qint64(8));
        QCOMPARE(first.abortedTransactions[1].firstOffset, qint64(200));
        QCOMPARE(first.preferredReadReplica, -1);
        QCOMPARE(first.records, QByteArray("hello"));

        QCOMPARE(response.topics[1].topic, QString("u"));
        QCOMPARE(response.topics[1].partitions.size(), 1);
        const KafkaFetchResponse::Partition& second = response.topics[1].partitions[0];
        QCOMPARE(second.partitionIndex, 0);
        QCOMPARE(second.errorCode, KafkaProtocolError::FencedLeaderEpoch);
        QVERIFY(second.abortedTransactions.isEmpty());
        QCOMPARE(second.preferredReadReplica, 2);
        QCOMPARE(second.records, QByteArray("z"));
    }

    void emptyRecordSetsAreNull_data()
    {
        QTest::addColumn<qint16>("version");
        QTest::addColumn<QByteArray>("records");
        QTest::newRow("v4 length 0") << qint16(4) << hexBytes("00 00 00 00");
        QTest::newRow("v4 length -1") << qint16(4) << hexBytes("FF FF FF FF");
        QTest::newRow("v11 length 0") << qint16(11) << hexBytes("00 00 00 00");
        QTest::newRow("v11 length -1") << qint16(11) << hexBytes("FF FF FF FF");
    }

    void emptyRecordSetsAreNull()
    {
        QFETCH(qint16, version);
        QFETCH(QByteArray, records);
        const auto result = parseImage<KafkaFetchResponse>(version, onePartitionImage(version, records));
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        QCOMPARE(result.value().topics.size(), 1);
        QCOMPARE(result.value().topics[0].partitions.size(), 1);
        const KafkaFetchResponse::Partition& partition = result.value().topics[0].partitions[0];
        QVERIFY(partition.abortedTransactions.isEmpty());
        QVERIFY(partition.records.isNull());
    }

    void damagedResponse_data()
    {
        addDamagedImageColumns();
        addDamagedImageRows("v4", 4, fetchV4Image());
        addDamagedImageRows("v11", 11, fetchV11Image());
    }

    void damagedResponse()
    {
        verifyDamagedImageFails<KafkaFetchResponse>("Invalid Fetch response");
    }
};

QTEST_GUILESS_MAIN(KafkaFetchMessagesTest)
#include "KafkaFetchMessagesTest.moc"
