#include "KafkaOffsetFetchRequest.h"
#include "KafkaOffsetFetchResponse.h"
#include "MessageImages.h"
#include "TestBytes.h"

#include <QTest>

namespace {

using Topics = QList<KafkaOffsetFetchRequest::Topic>;

QByteArray offsetFetchV0Image()
{
    return hexBytes("00 00 00 07"
                    "00 00 00 01"
                    "00 01 74"
                    "00 00 00 02"
                    "00 00 00 00  00 00 00 00 00 00 00 2A  00 00  00 00"
                    "00 00 00 01  FF FF FF FF FF FF FF FF  FF FF  00 03");
}

QByteArray offsetFetchV5Image()
{
    return hexBytes("00 00 00 07"
                    "00 00 00 0A"
                    "00 00 00 01"
                    "00 01 74"
                    "00 00 00 01"
                    "00 00 00 00  00 00 00 00 00 00 00 2A  00 00 00 03  00 02 6D 64  00 00"
                    "00 10");
}

// Unknown tagged fields after the header, in the partition, the topic and at
// the end (tag 128 takes a two-byte varint).
QByteArray offsetFetchV6Image()
{
    return hexBytes("00 00 00 07  01 00 02 AA BB"
                    "00 00 00 00"
                    "02"
                    "02 74"
                    "02"
                    "00 00 00 01  00 00 00 00 00 00 00 64  FF FF FF FF  00  00 00  01 01 01 EE"
                    "01 02 00"
                    "00 00"
                    "01 80 01 01 DD");
}

QByteArray offsetFetchV7Image()
{
    return hexBytes("00 00 00 07  01 00 00"
                    "00 00 00 03"
                    "03"
                    "03 74 31  01  01 07 01 EE"
                    "03 74 32  02"
                    "00 00 00 02  00 00 00 00 00 00 00 07  00 00 00 01  01  00 00  01 00 02 AA BB"
                    "00"
                    "00 1B"
                    "02 00 00 01 01 CC");
}

} // namespace

class KafkaOffsetFetchMessagesTest : public QObject {
    Q_OBJECT

private slots:
    void requestFrames_data()
    {
        QTest::addColumn<qint16>("version");
        QTest::addColumn<Topics>("topics");
        QTest::addColumn<bool>("requireStable");
        QTest::addColumn<QByteArray>("expected");

        const Topics one { { "t", { 0, 2 } } };
        QTest::newRow("v0") << qint16(0) << one << true
                            << hexBytes("00 00 00 22  00 09 00 00 00 00 00 07 00 02 61 62"
                                        "00 01 67  00 00 00 01  00 01 74  00 00 00 02 00 00 00 00 00 00 00 02");
        QTest::newRow("v0 no topics") << qint16(0) << Topics() << true
                                      << hexBytes("00 00 00 13  00 09 00 00 00 00 00 07 00 02 61 62"
                                                  "00 01 67  00 00 00 00");
        QTest::newRow("v5 classic counts, no tagged fields")
            << qint16(5) << one << true
            << hexBytes("00 00 00 22  00 09 00 05 00 00 00 07 00 02 61 62"
                        "00 01 67  00 00 00 01  00 01 74  00 00 00 02 00 00 00 00 00 00 00 02");
        QTest::newRow("v6 compact forms")
            << qint16(6) << one << true
            << hexBytes("00 00 00 1D  00 09 00 06 00 00 00 07 00 02 61 62 00"
                        "02 67  02  02 74  03 00 00 00 00 00 00 00 02  00  00");
        QTest::newRow("v7 require stable")
            << qint16(7) << one << true
            << hexBytes("00 00 00 1E  00 09 00 07 00 00 00 07 00 02 61 62 00"
                        "02 67  02  02 74  03 00 00 00 00 00 00 00 02  00  01  00");
        QTest::newRow("v7 no topics is an empty list, not null")
            << qint16(7) << Topics() << false
            << hexBytes("00 00 00 12  00 09 00 07 00 00 00 07 00 02 61 62 00"
                        "02 67  01  00  00");
    }

    void requestFrames()
    {
        QFETCH(qint16, version);
        QFETCH(Topics, topics);
        QFETCH(bool, requireStable);
        QFETCH(QByteArray, expected);
        const KafkaOffsetFetchRequest request(7, "ab", "g", topics, requireStable);
        QCOMPARE(spacedHex(requestFrame(request, version)), spacedHex(expected));
    }

    void responseV0()
    {
        const auto result = parseImage<KafkaOffsetFetchResponse>(0, offsetFetchV0Image());
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        const KafkaOffsetFetchResponse& response = result.value();
        QCOMPARE(response.correlationId, 7);
        QCOMPARE(response.throttleTimeMs, 0);
        QCOMPARE(response.errorCode, KafkaProtocolError::None);
        QCOMPARE(response.topics.size(), 1);
        QCOMPARE(response.topics[0].name, QString("t"));
        const QList<KafkaOffsetFetchResponse::Partition>& partitions = response.topics[0].partitions;
        QCOMPARE(partitions.size(), 2);
        QCOMPARE(partitions[0].partitionIndex, 0);
        QCOMPARE(partitions[0].committedOffset, 42);
        QCOMPARE(partitions[0].committedLeaderEpoch, 0);
        QVERIFY(partitions[0].metadata.isEmpty() && !partitions[0].metadata.isNull());
        QCOMPARE(partitions[0].errorCode, KafkaProtocolError::None);
        QCOMPARE(partitions[1].partitionIndex, 1);
        QCOMPARE(partitions[1].committedOffset, -1);
        QVERIFY(partitions[1].metadata.isNull());
        QCOMPARE(partitions[1].errorCode, KafkaProtocolError::UnknownTopicOrPartition);
    }

    void responseV5()
    {
        const auto result = parseImage<KafkaOffsetFetchResponse>(5, offsetFetchV5Image());
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        const KafkaOffsetFetchResponse& response = result.value();
        QCOMPARE(response.throttleTimeMs, 10);
        QCOMPARE(response.errorCode, KafkaProtocolError::NotCoordinator);
        QCOMPARE(response.topics.size(), 1);
        QCOMPARE(response.topics[0].partitions.size(), 1);
        const KafkaOffsetFetchResponse::Partition& partition = response.topics[0].partitions[0];
        QCOMPARE(partition.committedOffset, 42);
        QCOMPARE(partition.committedLeaderEpoch, 3);
        QCOMPARE(partition.metadata, QString("md"));
    }

    void responseV6()
    {
        const auto result = parseImage<KafkaOffsetFetchResponse>(6, offsetFetchV6Image());
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        const KafkaOffsetFetchResponse& response = result.value();
        QCOMPARE(response.correlationId, 7);
        QCOMPARE(response.errorCode, KafkaProtocolError::None);
        QCOMPARE(response.topics.size(), 1);
        QCOMPARE(response.topics[0].name, QString("t"));
        QCOMPARE(response.topics[0].partitions.size(), 1);
        const KafkaOffsetFetchResponse::Partition& partition = response.topics[0].partitions[0];
        QCOMPARE(partition.partitionIndex, 1);
        QCOMPARE(partition.committedOffset, 100);
        QCOMPARE(partition.committedLeaderEpoch, -1);
        QVERIFY(partition.metadata.isNull());
    }

    void responseV7()
    {
        const auto result = parseImage<KafkaOffsetFetchResponse>(7, offsetFetchV7Image());
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        const KafkaOffsetFetchResponse& response = result.value();
        QCOMPARE(response.throttleTimeMs, 3);
        QCOMPARE(response.errorCode, KafkaProtocolError::RebalanceInProgress);
        QCOMPARE(response.topics.size(), 2);
        QCOMPARE(response.topics[0].name, QString("t1"));
        QVERIFY(response.topics[0].partitions.isEmpty());
        QCOMPARE(response.topics[1].name, QString("t2"));
        QCOMPARE(response.topics[1].partitions.size(), 1);
        const KafkaOffsetFetchResponse::Partition& partition = response.topics[1].partitions[0];
        QCOMPARE(partition.partitionIndex, 2);
        QCOMPARE(partition.committedOffset, 7);
        QCOMPARE(partition.committedLeaderEpoch, 1);
        QVERIFY(partition.metadata.isEmpty() && !partition.metadata.isNull());
        QCOMPARE(partition.errorCode, KafkaProtocolError::None);
    }

    void damagedResponse_data()
    {
        addDamagedImageColumns();
        addDamagedImageRows("v0", 0, offsetFetchV0Image());
        addDamagedImageRows("v5", 5, offsetFetchV5Image());
        addDamagedImageRows("v6", 6, offsetFetchV6Image());
        addDamagedImageRows("v7", 7, offsetFetchV7Image());
    }

    void damagedResponse()
    {
        verifyDamagedImageFails<KafkaOffsetFetchResponse>("Invalid OffsetFetch response");
    }
};

QTEST_GUILESS_MAIN(KafkaOffsetFetchMessagesTest)
#include "KafkaOffsetFetchMessagesTest.moc"
