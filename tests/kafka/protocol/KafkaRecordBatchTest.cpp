#include "KafkaRecordBatch.h"
#include "TestBytes.h"
#include "TestRecordBatchBuilder.h"

#include <QTest>

#include <limits>

// Designated initializers leave the other fields at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

using namespace TestBatches;

namespace {

// With a budget of 1 MiB, which a few batches below exceed.
KafkaResult<KafkaRecordBatch> parse(KafkaBuffer& recordSet)
{
    KafkaDecodeBudget budget(1 << 20);
    return KafkaRecordBatch::parseFromBuffer(recordSet, QStringLiteral("orders"), 3, budget);
}

} // namespace

class KafkaRecordBatchTest : public QObject {
    Q_OBJECT

private slots:
    void headerFieldsAndRecords()
    {
        // Length 13, attributes 0, timestampDelta -1, offsetDelta 2, key "k", value "vw", one header "h" = "x".
        const QByteArray record = hexBytes("1A 00 01 04 02 6B 04 76 77 02 02 68 02 78");
        const TestBatch written { .baseOffset = 1000, .partitionLeaderEpoch = 7, .crc = 0xDEADBEEF, .producerId = 42,
            .producerEpoch = 3, .baseSequence = 9, .lastOffsetDelta = 2, .recordCount = 1, .uncompressedSection = record };
        KafkaBuffer recordSet(written.bytes() + "tail");
        const auto result = parse(recordSet);
        QVERIFY(!result.isError());
        const KafkaRecordBatch& batch = result.value();
        QCOMPARE(batch.batchLength, 49 + record.size());
        QCOMPARE(batch.partitionLeaderEpoch, 7);
        QCOMPARE(batch.crc, 0xDEADBEEFu);
        QCOMPARE(batch.lastOffset(), 1002);
        QCOMPARE(batch.producerId, 42);
        QCOMPARE(batch.producerEpoch, 3);
        QCOMPARE(batch.baseSequence, 9);
        const KafkaRecord& parsed = batch.records.value(0);
        QCOMPARE(parsed.timestamp, written.firstTimestamp - 1);
        QCOMPARE(parsed.offset, 1002);
        QCOMPARE(parsed.topic, QString("orders"));
        QCOMPARE(parsed.partition, 3);
        QCOMPARE(parsed.key, QByteArray("k"));
        QCOMPARE(parsed.value, QByteArray("vw"));
        QCOMPARE(parsed.headers, QList<KafkaHeader>({ { "h", "x" } }));
        QCOMPARE(recordSet.position, recordSet.size() - 4);

        for (const QByteArray& bytes : { QByteArray(), QByteArray(""), QByteArray("ab") }) {
            const QString name = bytes.isNull() ? QString() : QString::fromUtf8(bytes);
            KafkaBuffer fields(TestBatch { .records = { { 0, 0, 0, bytes, bytes, { { name, bytes } } } } }.bytes());
            const KafkaRecord read = parse(fields).value().records.value(0);
            for (const QByteArray& field : { read.key, read.value, read.headers.value(0).value }) {
                QCOMPARE(field.isNull(), bytes.isNull());
                QCOMPARE(field, bytes);
            }
            QCOMPARE(read.headers.value(0).key.isNull(), name.isNull());
            QCOMPARE(read.headers.value(0).key, name);
        }
    }

    void malformedBatchesFail_data()
    {
        QTest::addColumn<QByteArray>("recordSet");
        QTest::addColumn<KafkaErrorCode>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<qint64>("position"); // the record set's cursor afterwards, -1 unchecked
        const KafkaErrorCode corrupt = KafkaErrorCode::CorruptMessage;
        const auto row = [](const char* name, const QByteArray& bytes, KafkaErrorCode code, const QString& message, qint64 position = -1) {
            QTest::newRow(name) << bytes << code << message << position;
        };
        const QString incomplete = "Unable to parse record batch %1 bytes are available, %2 are required to read the %3";
        row("header cut short", plainBatch(0, 1).bytes().left(60), KafkaErrorCode::IncompleteRecordBatch,
            incomplete.arg(60).arg(61).arg("header"), 0);
        row("data cut short", TestBatch { .batchLength = 1000 }.bytes().leftJustified(900, '\0'), KafkaErrorCode::IncompleteRecordBatch,
            incomplete.arg(900).arg(1012).arg("data"), 61);
        row("largest length, no 32-bit overflow", TestBatch { .batchLength = std::numeric_limits<qint32>::max() }.bytes().leftJustified(900, '\0'),
            KafkaErrorCode::IncompleteRecordBatch, incomplete.arg(900).arg(2147483659).arg("data"), 61);

        // Records (length, attributes, timestampDelta, offsetDelta, key, value, headers) stay within the section.
        const QString malformed = "Record %1 of %2 in the record batch at offset 500 is malformed or runs past the end of the batch";
        const QByteArray good = hexBytes("0E 00 00 00 02 61 02 62 00");
        const auto records = [&](const char* name, const QByteArray& section, qint32 count, const QString& message) {
            row(name, TestBatch { .baseOffset = 500, .recordCount = count, .uncompressedSection = section }.bytes(), corrupt, message);
        };
        records("key length -2", hexBytes("0E 00 00 00 03 61 02 62 00"), 1, malformed.arg(1).arg(1));
        records("value length -2", good + hexBytes("0E 00 00 02 02 61 03 62 00"), 2, malformed.arg(2).arg(2));
        records("header key length -2", hexBytes("0E 00 00 00 01 01 02 03 00"), 1, malformed.arg(1).arg(1));
        records("header value length -2", hexBytes("0E 00 00 00 01 01 02 00 03"), 1, malformed.arg(1).arg(1));
        records("value runs past the section", hexBytes("0E 00 00 00 02 61 10 62 00"), 1, malformed.arg(1).arg(1));
        records("header count runs past the section", hexBytes("0E 00 00 00 01 01 7E"), 1, malformed.arg(1).arg(1));
        records("fields cut short", good + hexBytes("0E 00 00"), 2, malformed.arg(2).arg(2));
        records("varint longer than ten bytes", hexBytes("0E 00") + QByteArray(10, char(0x80)) + hexBytes("00 00 01 01 00"), 1,
            malformed.arg(1).arg(1));
        records("more records declared than held", good + good, 3, "The record batch at offset 500 declares 3 records but holds only 2");
        records("largest record count", good, std::numeric_limits<qint32>::max(),
            "The record batch at offset 500 declares 2147483647 records but holds only 1");
        records("negative record count", good, -1, "Invalid record count -1 in the record batch at offset 500");
        // The bytes after the section belong to the next batch and must not be read.
        for (const Codec codec : { Codec::None, Codec::Gzip, Codec::Zstd })
            row("record runs into the next batch",
                TestBatch { .baseOffset = 10, .codec = codec, .recordCount = 1, .uncompressedSection = hexBytes("0E 00 00 00 01 40") }.bytes()
                    + plainBatch(11, 3).bytes(),
                corrupt, "Record 1 of 1 in the record batch at offset 10 is malformed or runs past the end of the batch");

        for (const qint8 magic : { 0, 1, 3 })
            row("magic", TestBatch { .baseOffset = 77, .magic = magic }.bytes(), corrupt,
                QString("Unsupported record batch format (magic %1) at offset 77").arg(magic));
        // The cursor never moves backwards and no negative size reaches a decompressor.
        const std::pair<qint32, Codec> shortLengths[]
            = { { 48, Codec::None }, { 0, Codec::Gzip }, { -12, Codec::Snappy }, { std::numeric_limits<qint32>::min(), Codec::Zstd } };
        for (const auto& [length, codec] : shortLengths)
            row("short batch length", TestBatch { .baseOffset = 5, .codec = codec, .records = plainBatch(5, 2).records, .batchLength = length }.bytes(),
                corrupt, QString("Invalid record batch length %1 at offset 5, the header alone takes 49").arg(length), 61);
        for (const qint16 attributes : { 5, 6, 0x17 })
            row("unsupported codec", TestBatch { .attributes = attributes }.bytes(), KafkaErrorCode::UnsupportedCompressionType,
                QString("Unsupported compression type %1").arg(attributes & 7));
        // Past the budget: decompressed bytes, records, headers, the headers of a control record.
        const QString overBudget = "The record batches of the Fetch response decode to more than the limit of 1048576 bytes "
                                   "(reached in the batch at offset %1)";
        TestBatch headers = plainBatch(9, 1);
        headers.records.first().headers.fill({ QString(), QByteArray() }, 9000);
        TestBatch marker = controlBatch(20, 8, 0);
        marker.records.first().headers = headers.records.first().headers;
        const KafkaErrorCode tooLarge = KafkaErrorCode::RecordListTooLarge;
        row("budget, decompressed", TestBatch { .baseOffset = 1, .codec = Codec::Zstd, .uncompressedSection = QByteArray(2 << 20, '\0') }.bytes(),
            tooLarge, overBudget.arg(1));
        row("budget, records", plainBatch(5, 5000).bytes(), tooLarge, overBudget.arg(5));
        row("budget, headers", headers.bytes(), tooLarge, overBudget.arg(9));
        row("budget, control record", marker.bytes(), tooLarge, overBudget.arg(20));

        TestBatch shortKey = controlBatch(20, 8, 0);
        shortKey.records.first().key = hexBytes("00 00");
        TestBatch cutShort = controlBatch(20, 8, 0);
        cutShort.uncompressedSection = cutShort.records.first().bytes().left(6);
        for (const TestBatch& batch : { shortKey, cutShort })
            row("invalid control record", batch.bytes(), corrupt, "Invalid control record in the record batch at offset 20");
    }

    void malformedBatchesFail()
    {
        QFETCH(QByteArray, recordSet);
        QFETCH(KafkaErrorCode, code);
        QFETCH(QString, message);
        QFETCH(qint64, position);
        KafkaBuffer buffer(recordSet);
        const auto result = parse(buffer);
        QVERIFY(result.isError());
        QCOMPARE(result.error().code, code);
        QCOMPARE(result.error().message, message);
        if (position >= 0)
            QCOMPARE(buffer.position, position);
    }

    void timestampsAndControlBatches()
    {
        TestBatch written = plainBatch(0, 3);
        written.attributes = KafkaRecordBatch::LogAppendTimeFlag;
        for (const Codec codec : { Codec::None, Codec::Lz4 }) {
            written.codec = codec;
            KafkaBuffer recordSet(written.bytes());
            const auto appended = parse(recordSet);
            for (const KafkaRecord& record : appended.value().records)
                QCOMPARE(record.timestamp, written.maxTimestamp);
        }

        // Abort, commit, codec bits that are not looked at, and no marker at all.
        TestBatch noMarker = controlBatch(20, 8, 0);
        noMarker.records.clear();
        const std::tuple<qint16, qint16, TestBatch> rows[] = { { 0x30, 0, controlBatch(20, 8, 0) }, { 0x30, 1, controlBatch(20, 8, 1) },
            { 0x25, 0, controlBatch(20, 8, 0) }, { 0x30, KafkaRecordBatch::ControlTypeNone, noMarker } };
        for (auto [attributes, type, control] : rows) {
            control.attributes = attributes;
            const QByteArray first = control.bytes();
            KafkaBuffer recordSet(first + plainBatch(21, 2).bytes());
            const auto result = parse(recordSet);
            QVERIFY(!result.isError());
            QVERIFY(result.value().isControlBatch() && result.value().records.isEmpty());
            QCOMPARE(result.value().controlType, type);
            QCOMPARE(result.value().isAbortMarker(), type == 0);
            QCOMPARE(recordSet.position, first.size());
            QCOMPARE(parse(recordSet).value().records.size(), 2);
        }
    }

    void backToBackBatches()
    {
        for (const Codec codec : { Codec::None, Codec::Gzip, Codec::Zlib, Codec::Snappy, Codec::SnappyJava, Codec::Lz4, Codec::Zstd }) {
            TestBatch first = plainBatch(100, 3);
            first.codec = codec;
            first.records[1].key = "key";
            first.records[1].headers = { { "trace", "t1" }, { QString(), QByteArray() } };
            TestBatch second = plainBatch(103, 2);
            second.codec = codec;
            KafkaBuffer recordSet(first.bytes() + second.bytes());
            const auto one = parse(recordSet);
            QVERIFY(!one.isError());
            QCOMPARE(recordSet.position, first.bytes().size());
                QCOMPARE(one.value().records.at(1).key, QByteArray("key"));
            QCOMPARE(one.value().records.at(1).headers, QList<KafkaHeader>({ { "trace", "t1" }, { QString(), QByteArray() } }));
            QCOMPARE(one.value().records.at(2).value, QByteArray("v2"));
            const auto two = parse(recordSet);
            QVERIFY(!two.isError());
            QCOMPARE(recordSet.position, recordSet.size());
            QCOMPARE(two.value().records.at(1).offset, 104);
        }

        // gzip stops at the end of its stream; the padding after it is skipped.
        TestBatch padded = plainBatch(0, 2);
        padded.section = compress(Codec::Gzip, padded.records.at(0).bytes() + padded.records.at(1).bytes()) + "padding";
        padded.attributes = 1;
        KafkaBuffer paddedSet(padded.bytes() + plainBatch(2, 1).bytes());
        QCOMPARE(parse(paddedSet).value().records.size(), 2);
        QCOMPARE(paddedSet.position, padded.bytes().size());
        QCOMPARE(parse(paddedSet).value().records.size(), 1);
    }
};

QTEST_GUILESS_MAIN(KafkaRecordBatchTest)
#include "KafkaRecordBatchTest.moc"
