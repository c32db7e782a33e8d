#include "KafkaFetchRequest.h"
#include "KafkaFetchResponse.h"
#include "KafkaListOffsetsRequest.h"
#include "KafkaListOffsetsResponse.h"
#include "MessageImages.h"

#include <QTest>

class KafkaFetchMessagesTest : public QObject {
    Q_OBJECT

private slots:
    void requestPayloads()
    {
        // Replica -1, wait 5000, min bytes 1, max bytes 500000, read committed; session 9, epoch 10; topic "t"
        // with partition 2 (epoch 3, offset 100, log start 4, 1 MiB); forgotten "f" with 1 and 2; rack "r".
        const KafkaFetchRequest request(1, "c", -1, 5000, 1, 500000, IsolationLevel::ReadCommitted, 9, 10,
            { { "t", { { 2, 3, 100, 4, 1048576 } } } }, { { "f", { 1, 2 } } }, "r");
        const QByteArray limits = "FF FF FF FF 00 00 13 88 00 00 00 01 00 07 A1 20 01 ";
        const QByteArray session = "00 00 00 09 00 00 00 0A ";
        const QByteArray topic = "00 00 00 01 00 01 74 00 00 00 01 00 00 00 02 ";
        const QByteArray offset = "00 00 00 00 00 00 00 64 ";
        const QByteArray logStart = "00 00 00 00 00 00 00 04 00 10 00 00 ";
        const QByteArray forgotten = "00 00 00 01 00 01 66 00 00 00 02 00 00 00 01 00 00 00 02 ";
        const QByteArray v9 = limits + session + topic + "00 00 00 03 " + offset + logStart + forgotten;
        verifyBytes({ { requestPayload(request, 4), limits + topic + offset + "00 10 00 00" },
            { requestPayload(request, 5), limits + topic + offset + logStart },
            { requestPayload(request, 7), limits + session + topic + offset + logStart + forgotten },
            { requestPayload(request, 9), v9 }, { requestPayload(request, 11), v9 + "00 01 72" } });

        // Topic "t" with partitions 0 (epoch 5, latest) and 3 (epoch 6, a timestamp), then "u" without partitions.
        const auto listOffsets = [](IsolationLevel isolation, std::int16_t version) {
            return requestPayload(KafkaListOffsetsRequest(1, "c", -1, isolation,
                                      { { "t", { { 0, 5, -1 }, { 3, 6, 1700000000000 } } }, { "u", {} } }),
                version);
        };
        const QByteArray classic = "00 00 00 02  00 01 74 00 00 00 02  00 00 00 00 FF FF FF FF FF FF FF FF"
                                   "  00 00 00 03 00 00 01 8B CF E5 68 00  00 01 75 00 00 00 00";
        const QByteArray withEpochs = "FF FF FF FF 01  00 00 00 02  00 01 74 00 00 00 02  00 00 00 00 00 00 00 05"
                                      "  FF FF FF FF FF FF FF FF  00 00 00 03 00 00 00 06 00 00 01 8B CF E5 68 00"
                                      "  00 01 75 00 00 00 00";
        const IsolationLevel committed = IsolationLevel::ReadCommitted;
        verifyBytes({ { listOffsets(committed, 1), "FF FF FF FF " + classic },
            { listOffsets(committed, 2), "FF FF FF FF 01 " + classic },
            { listOffsets(IsolationLevel::ReadUncommitted, 2), "FF FF FF FF 00 " + classic },
            { listOffsets(committed, 4), withEpochs }, { listOffsets(committed, 5), withEpochs } });
    }

    void responses()
    {
        // The second topic's record set has length 0.
        const QByteArray v11Image = ResponseImage().s32(22).s32(0).s16(0).s32(77).s32(2).string("t").s32(1)
            .s32(2).s16(0).s64(1000).s64(990).s64(3).s32(2).s64(7).s64(100).s64(8).s64(200).s32(-1).bytes("hello")
            .string("u").s32(1).s32(0).s16(74).s64(0).s64(0).s64(0).s32(-1).s32(2).s32(0).data();
        const auto v11 = parseImage<KafkaFetchResponse>(11, v11Image);
        QVERIFY2(v11.hasValue(), qPrintable(failureText(v11)));
        QCOMPARE(v11.value().sessionId, 77);
        const KafkaFetchResponse::Partition& first = v11.value().topics.value(0).partitions.value(0);
        QCOMPARE(first.logStartOffset, qint64(3));
        QCOMPARE(first.abortedTransactions.size(), 2);
        QCOMPARE(first.abortedTransactions[1].firstOffset, qint64(200));
        QCOMPARE(first.preferredReadReplica, -1);
        const KafkaFetchResponse::Partition& second = v11.value().topics.value(1).partitions.value(0);
        QVERIFY(second.abortedTransactions.isEmpty());
        QCOMPARE(second.preferredReadReplica, 2);
        QVERIFY(second.records.isNull());

        verifyDamagedImageFails<KafkaFetchResponse>(11, v11Image, "Invalid Fetch response");
    }

    // The record sets stay in the response's bytes rather than being copied
    // out of them, and outlive them.
    void recordSetsShareTheResponseBytes()
    {
        const QByteArray image = ResponseImage().s32(22).s32(0).s32(1).string("t").s32(2)
            .s32(0).s16(0).s64(5).s64(5).s32(-1).bytes("hello")
            .s32(1).s16(0).s64(5).s64(5).s32(-1).bytes("world").data();
        QList<QByteArray> recordSets;
        {
            KafkaRawResponse raw;
            raw.apiVersion = 4;
            raw.buffer = KafkaBuffer(QByteArray(image.constData(), image.size()));
            const auto response = KafkaFetchResponse::parseFromRaw(raw);
            QVERIFY2(response.hasValue(), qPrintable(failureText(response)));
            const char* const begin = raw.buffer.data.constData();
            const char* const end = begin + raw.buffer.data.size();
            for (const KafkaFetchResponse::Partition& partition : response.value().topics.value(0).partitions) {
                QVERIFY(partition.records.constData() >= begin && partition.records.constData() < end);
                recordSets.append(partition.records);
            }
        }
        QCOMPARE(recordSets, (QList<QByteArray> { "hello", "world" }));
    }

    void listOffsetsResponses()
    {
        const QByteArray v5Image = ResponseImage().s32(6).s32(5).s32(2).string("t").s32(1)
            .s32(0).s16(0).s64(1700000000000).s64(12).s32(3).string("u").s32(0).data();
        const auto v5 = parseImage<KafkaListOffsetsResponse>(5, v5Image);
        QVERIFY2(v5.hasValue(), qPrintable(failureText(v5)));
        QCOMPARE(v5.value().throttleTimeMs, 5);
        const KafkaListOffsetsResponse::Partition partition = v5.value().topics.value(0).partitions.value(0);
        QCOMPARE(partition.timestamp, 1700000000000);
        QCOMPARE(partition.offset, 12);
        QCOMPARE(partition.leaderEpoch, 3);
        QVERIFY(v5.value().topics.value(1).partitions.isEmpty());

        verifyDamagedImageFails<KafkaListOffsetsResponse>(5, v5Image, "Invalid ListOffsets response");
    }
};

QTEST_GUILESS_MAIN(KafkaFetchMessagesTest)
#include "KafkaFetchMessagesTest.moc"
