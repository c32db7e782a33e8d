#include "KafkaApiVersionsRequest.h"
#include "KafkaFetchRequest.h"
#include "KafkaListOffsetsRequest.h"
#include "KafkaMetadataRequest.h"
#include "TestBytes.h"

#include <QTest>

#include <memory>
#include <vector>

namespace {

std::unique_ptr<KafkaRequest> bootstrapMetadata(std::int32_t correlationId, const QString& clientId)
{
    return std::make_unique<KafkaMetadataRequest>(correlationId, clientId, std::nullopt, false, true, true);
}

} // namespace

class KafkaFramingTest : public QObject {
    Q_OBJECT

private slots:
    void frames_data()
    {
        QTest::addColumn<qint16>("version");
        QTest::addColumn<QString>("clientId");
        QTest::addColumn<QByteArray>("frame");
        // Header version 1 throughout: no tagged-field byte after the client id.
        QTest::newRow("v8, id 7, client ab")
            << qint16(8) << QString("ab")
            << hexBytes("00 00 00 13  00 03 00 08 00 00 00 07 00 02 61 62  FF FF FF FF 00 01 01");
        QTest::newRow("v1, id 7, client ab")
            << qint16(1) << QString("ab") << hexBytes("00 00 00 10  00 03 00 01 00 00 00 07 00 02 61 62  FF FF FF FF");
        QTest::newRow("null client id") << qint16(1) << QString()
                                        << hexBytes("00 00 00 0E  00 03 00 01 00 00 00 07 00 00  FF FF FF FF");
        QTest::newRow("multi-byte client id")
            << qint16(1) << QString::fromUtf8("\xC3\xA9") << hexBytes("00 00 00 10  00 03 00 01 00 00 00 07 00 02 C3 A9  FF FF FF FF");
    }

    void frames()
    {
        QFETCH(qint16, version);
        QFETCH(QString, clientId);
        QFETCH(QByteArray, frame);
        const auto request = bootstrapMetadata(7, clientId);
        KafkaBuffer buffer;
        request->writeToBuffer(buffer, version);
        QCOMPARE(spacedHex(buffer.data), spacedHex(frame));
        QCOMPARE(buffer.position, 4);
    }

    void frameIsWrittenAtTheCursor()
    {
        KafkaBuffer buffer(hexBytes("AA BB CC"));
        buffer.position = 3;
        KafkaApiVersionsRequest(-2, "ab").writeToBuffer(buffer, 1);
        QCOMPARE(spacedHex(buffer.data), spacedHex(hexBytes("AA BB CC  00 00 00 0C  00 12 00 01 FF FF FF FE 00 02 61 62")));
        QCOMPARE(buffer.position, 7);
    }

    void sizeCountsTheBytesAfterIt()
    {
        // Two frames back to back, the second written after the first's end.
        const auto metadata = bootstrapMetadata(1, "client");
        const KafkaFetchRequest fetch(2, "client", -1, 5000, 1, 500000, IsolationLevel::ReadCommitted, -1, -1,
            { { "topic", { { 0, 3, 100, 0, 1048576 } } } }, {}, QString());
        KafkaBuffer buffer;
        metadata->writeToBuffer(buffer, 8);
        const std::int64_t second = buffer.size();
        buffer.position = second;
        fetch.writeToBuffer(buffer, 11);

        buffer.position = 0;
        QCOMPARE(buffer.readS32(), std::int32_t(second - 4));
        buffer.position = second;
        QCOMPARE(buffer.readS32(), std::int32_t(buffer.size() - second - 4));
        QCOMPARE(buffer.readS16(), std::int16_t(KafkaApiKey::Fetch));
        QCOMPARE(buffer.readS16(), std::int16_t(11));
        QCOMPARE(buffer.readS32(), 2);
    }

    void apiTable()
    {
        struct Row {
            std::unique_ptr<KafkaRequest> request;
            KafkaApiKey key;
            std::int16_t min;
            std::int16_t max;
            std::int16_t firstFlexible;
        };
        std::vector<Row> rows;
        rows.push_back({ std::make_unique<KafkaFetchRequest>(
                             1, "c", -1, 0, 0, 0, IsolationLevel::ReadCommitted, -1, -1, QList<KafkaFetchRequest::Topic>(),
                             QList<KafkaFetchRequest::ForgottenTopic>(), QString()),
            KafkaApiKey::Fetch, 4, 11, 12 });
        rows.push_back({ std::make_unique<KafkaListOffsetsRequest>(
                             1, "c", -1, IsolationLevel::ReadUncommitted, QList<KafkaListOffsetsRequest::Topic>()),
            KafkaApiKey::ListOffsets, 1, 5, 6 });
        rows.push_back({ bootstrapMetadata(1, "c"), KafkaApiKey::Metadata, 1, 8, 9 });
        rows.push_back({ std::make_unique<KafkaApiVersionsRequest>(1, "c"), KafkaApiKey::ApiVersions, 1, 1, 3 });

        for (const Row& row : rows) {
            const KafkaRequest& request = *row.request;
            QCOMPARE(request.header.apiKey, std::int16_t(row.key));
            QCOMPARE(request.minSupportedVersion(), row.min);
            QCOMPARE(request.maxSupportedVersion(), row.max);
            QCOMPARE(request.firstFlexibleVersion(), row.firstFlexible);
            QVERIFY(!request.isAuthenticationRequest());
            QVERIFY(!request.isFlexible(row.max));
        }
    }
};

QTEST_GUILESS_MAIN(KafkaFramingTest)
#include "KafkaFramingTest.moc"
