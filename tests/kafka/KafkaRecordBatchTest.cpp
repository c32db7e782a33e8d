#include "KafkaRecordBatch.h"
#include "TestBytes.h"
#include "TestCodecRows.h"
#include "TestRecordBatchBuilder.h"

#include <QTest>

#include <limits>

using namespace TestBatches;

namespace {

KafkaResult<KafkaRecordBatch> parse(KafkaBuffer& recordSet, std::int64_t maxSize = KafkaRecordBatch::MaxDecompressedSize)
{
    return KafkaRecordBatch::parseFromBuffer(recordSet, QStringLiteral("orders"), 3, maxSize);
}

template <typename T>
const char* failureText(const KafkaResult<T>& result)
{
    static QByteArray text;
    text = result.isError() ? result.error().message.toUtf8() : QByteArray();
    return text.constData();
}

QList<QByteArray> valuesOf(const KafkaRecordBatch& batch)
{
    QList<QByteArray> values;
    for (const KafkaRecord& record : batch.records)
        values.append(record.value);
    return values;
}

} // namespace

class KafkaRecordBatchTest : public QObject {
    Q_OBJECT

private slots:
    void shortHeaderIsIncomplete()
    {
        KafkaBuffer recordSet(plainBatch(0, 1).bytes().left(60));
        const auto result = parse(recordSet);
        QVERIFY(result.isError());
        QCOMPARE(result.error().code, KafkaErrorCode::IncompleteRecordBatch);
        QCOMPARE(result.error().message,
            QString("Unable to parse record batch 60 bytes are available, 61 are required to read the header"));
        QCOMPARE(recordSet.position, 0);
    }

    void incompleteData_data()
    {
        QTest::addColumn<qint32>("batchLength");
        QTest::addColumn<QString>("message");
        QTest::newRow("1000 of 900") << 1000
                                     << "Unable to parse record batch 900 bytes are available, 1012 are required to read the data";
        QTest::newRow("largest length, no 32-bit overflow")
            << std::numeric_limits<qint32>::max()
            << "Unable to parse record batch 900 bytes are available, 2147483659 are required to read the data";
    }

    void incompleteData()
    {
        QFETCH(qint32, batchLength);
        QFETCH(QString, message);
        TestBatch batch = plainBatch(0, 1);
        batch.batchLength = batchLength;
        QByteArray bytes = batch.bytes();
        bytes.resize(900, '\0');
        KafkaBuffer recordSet(bytes);
        const auto result = parse(recordSet);
        QCOMPARE(result.error().code, KafkaErrorCode::IncompleteRecordBatch);
        QCOMPARE(result.error().message, message);
        QCOMPARE(recordSet.position, 61);
    }

    void headerFieldsAndRecords()
    {
        // One record written out by hand: length 0x1A (13), attributes 0,
        // timestampDelta -1, offsetDelta 2, key "k", value "vw", one header
        // "h" = "x".
        const QByteArray record = hexBytes("1A 00 01 04 02 6B 04 76 77 02 02 68 02 78");
        TestBatch written;
        written.baseOffset = 1000;
        written.partitionLeaderEpoch = 7;
        written.crc = 0xDEADBEEF;
        written.producerId = 42;
        written.producerEpoch = 3;
        written.baseSequence = 9;
        written.lastOffsetDelta = 2;
        written.recordCount = 1;
        written.uncompressedSection = record;
        KafkaBuffer recordSet(written.bytes() + "tail");

        const auto result = parse(recordSet);
        QVERIFY2(!result.isError(), failureText(result));
        const KafkaRecordBatch& batch = result.value();
        QCOMPARE(batch.baseOffset, 1000);
        QCOMPARE(batch.batchLength, 49 + record.size());
        QCOMPARE(batch.partitionLeaderEpoch, 7);
        QCOMPARE(batch.magic, 2);
        QCOMPARE(batch.crc, 0xDEADBEEFu);
        QCOMPARE(batch.lastOffsetDelta, 2);
        QCOMPARE(batch.lastOffset(), 1002);
        QCOMPARE(batch.firstTimestamp, written.firstTimestamp);
        QCOMPARE(batch.maxTimestamp, written.maxTimestamp);
        QCOMPARE(batch.producerId, 42);
        QCOMPARE(batch.producerEpoch, 3);
        QCOMPARE(batch.baseSequence, 9);
        QCOMPARE(batch.records.size(), 1);
        const KafkaRecord& parsed = batch.records.first();
        QCOMPARE(parsed.timestamp, written.firstTimestamp - 1);
        QCOMPARE(parsed.offset, 1002);
        QCOMPARE(parsed.topic, QString("orders"));
        QCOMPARE(parsed.partition, 3);
        QCOMPARE(parsed.key, QByteArray("k"));
        QCOMPARE(parsed.value, QByteArray("vw"));
        QCOMPARE(parsed.headers, QList<KafkaHeader>({ { "h", "x" } }));
        QCOMPARE(recordSet.position, recordSet.size() - 4);
    }

    void nullAndEmptyFields_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("isNull");
        QTest::newRow("null") << QByteArray() << true;
        QTest::newRow("empty") << QByteArray("") << false;
        QTest::newRow("bytes") << QByteArray("ab") << false;
    }

    void nullAndEmptyFields()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, isNull);
        TestRecord record;
        record.key = bytes;
        record.value = bytes;
        record.headers = { { isNull ? QString() : QString::fromUtf8(bytes), bytes } };
        TestBatch written;
        written.records = { record };
        KafkaBuffer recordSet(written.bytes());

        const auto result = parse(recordSet);
        QVERIFY(!result.isError());
        const KafkaRecord& parsed = result.value().records.first();
        for (const QByteArray& field : { parsed.key, parsed.value, parsed.headers.first().value }) {
            QCOMPARE(field.isNull(), isNull);
            QCOMPARE(field, bytes);
        }
        QCOMPARE(parsed.headers.first().key.isNull(), isNull);
        QCOMPARE(parsed.headers.first().key, QString::fromUtf8(bytes));
    }

    void malformedRecordsFailTheBatch_data()
    {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<qint32>("recordCount");
        QTest::addColumn<QString>("message");
        const QString malformed = "Record %1 of %2 in the record batch at offset 500 is malformed or runs past the end of the batch";
        // length, attributes, timestampDelta, offsetDelta, key, value, headers
        const QByteArray good = hexBytes("0E 00 00 00 02 61 02 62 00");
        QTest::newRow("key length -2") << hexBytes("0E 00 00 00 03 61 02 62 00") << 1 << malformed.arg(1).arg(1);
        QTest::newRow("value length -2") << good + hexBytes("0E 00 00 02 02 61 03 62 00") << 2 << malformed.arg(2).arg(2);
        QTest::newRow("header key length -2") << hexBytes("0E 00 00 00 01 01 02 03 00") << 1 << malformed.arg(1).arg(1);
        QTest::newRow("header value length -2") << hexBytes("0E 00 00 00 01 01 02 00 03") << 1 << malformed.arg(1).arg(1);
        QTest::newRow("value runs past the section") << hexBytes("0E 00 00 00 02 61 10 62 00") << 1 << malformed.arg(1).arg(1);
        QTest::newRow("header count runs past the section") << hexBytes("0E 00 00 00 01 01 7E") << 1 << malformed.arg(1).arg(1);
        QTest::newRow("fields cut short") << good + hexBytes("0E 00 00") << 2 << malformed.arg(2).arg(2);
        QTest::newRow("varint longer than ten bytes")
            << hexBytes("0E 00") + QByteArray(10, char(0x80)) + hexBytes("00 00 01 01 00") << 1 << malformed.arg(1).arg(1);
        QTest::newRow("more records declared than held")
            << good + good << 3 << QString("The record batch at offset 500 declares 3 records but holds only 2");
        QTest::newRow("largest record count")
            << good << std::numeric_limits<qint32>::max()
            << QString("The record batch at offset 500 declares 2147483647 records but holds only 1");
        QTest::newRow("negative record count")
            << good << -1 << QString("Invalid record count -1 in the record batch at offset 500");
    }

    void malformedRecordsFailTheBatch()
    {
        QFETCH(QByteArray, section);
        QFETCH(qint32, recordCount);
        QFETCH(QString, message);
        TestBatch written;
        written.baseOffset = 500;
        written.recordCount = recordCount;
        written.uncompressedSection = section;
        KafkaBuffer recordSet(written.bytes());
        const auto result = parse(recordSet);
        QVERIFY(result.isError());
        QCOMPARE(result.error().code, KafkaErrorCode::CorruptMessage);
        QCOMPARE(result.error().message, message);
    }

    void recordsStayWithinTheirBatch()
    {
        // The first batch's only record claims a value longer than its section;
        // the bytes that follow belong to the next batch and must not be read.
        TestBatch first;
        first.baseOffset = 10;
        first.recordCount = 1;
        first.uncompressedSection = hexBytes("0E 00 00 00 01 40");
        for (const Codec codec : { Codec::None, Codec::Gzip, Codec::Zstd }) {
            first.codec = codec;
            KafkaBuffer recordSet(first.bytes() + plainBatch(11, 3).bytes());
            const auto result = parse(recordSet);
            QVERIFY(result.isError());
            QCOMPARE(result.error().code, KafkaErrorCode::CorruptMessage);
            QCOMPARE(result.error().message,
                QString("Record 1 of 1 in the record batch at offset 10 is malformed or runs past the end of the batch"));
        }
    }

    void unsupportedMagic_data()
    {
        QTest::addColumn<qint8>("magic");
        QTest::newRow("0") << qint8(0);
        QTest::newRow("1") << qint8(1);
        QTest::newRow("3") << qint8(3);
    }

    void unsupportedMagic()
    {
        QFETCH(qint8, magic);
        TestBatch written = plainBatch(77, 2);
        written.magic = magic;
        KafkaBuffer recordSet(written.bytes());
        const auto result = parse(recordSet);
        QCOMPARE(result.error().code, KafkaErrorCode::CorruptMessage);
        QCOMPARE(result.error().message, QString("Unsupported record batch format (magic %1) at offset 77").arg(magic));
    }

    void batchLengthBelowTheHeader_data()
    {
        QTest::addColumn<qint32>("batchLength");
        QTest::addColumn<Codec>("codec");
        QTest::newRow("48") << 48 << Codec::None;
        QTest::newRow("0, gzip") << 0 << Codec::Gzip;
        QTest::newRow("-12, snappy") << -12 << Codec::Snappy;
        QTest::newRow("smallest, zstd") << std::numeric_limits<qint32>::min() << Codec::Zstd;
    }

    void batchLengthBelowTheHeader()
    {
        QFETCH(qint32, batchLength);
        QFETCH(Codec, codec);
        TestBatch written = plainBatch(5, 2);
        written.codec = codec;
        written.batchLength = batchLength;
        KafkaBuffer recordSet(written.bytes());
        const auto result = parse(recordSet);
        QCOMPARE(result.error().code, KafkaErrorCode::CorruptMessage);
        QCOMPARE(result.error().message,
            QString("Invalid record batch length %1 at offset 5, the header alone takes 49").arg(batchLength));
        QCOMPARE(recordSet.position, 61);
    }

    void unsupportedCompression_data()
    {
        QTest::addColumn<qint16>("attributes");
        QTest::newRow("5") << qint16(5);
        QTest::newRow("6") << qint16(6);
        QTest::newRow("7, transactional") << qint16(0x17);
    }

    void unsupportedCompression()
    {
        QFETCH(qint16, attributes);
        TestBatch written = plainBatch(0, 1);
        written.attributes = attributes;
        KafkaBuffer recordSet(written.bytes());
        const auto result = parse(recordSet);
        QCOMPARE(result.error().code, KafkaErrorCode::UnsupportedCompressionType);
        QCOMPARE(result.error().message, QString("Unsupported compression type %1").arg(attributes & 7));
    }

    void timestampType()
    {
        TestBatch written = plainBatch(0, 3);
        KafkaBuffer createTime(written.bytes());
        const auto created = parse(createTime);
        QCOMPARE(created.value().records.at(2).timestamp, written.firstTimestamp + 2);

        written.attributes = 0x08;
        for (const Codec codec : { Codec::None, Codec::Lz4 }) {
            written.codec = codec;
            KafkaBuffer logAppendTime(written.bytes());
            const auto appended = parse(logAppendTime);
            QVERIFY(appended.value().hasLogAppendTime());
            for (const KafkaRecord& record : appended.value().records)
                QCOMPARE(record.timestamp, written.maxTimestamp);
        }
    }

    void controlBatches_data()
    {
        QTest::addColumn<qint16>("attributes");
        QTest::addColumn<qint16>("type");
        QTest::newRow("abort") << qint16(0x30) << qint16(0);
        QTest::newRow("commit") << qint16(0x30) << qint16(1);
        // Codec bits of a control batch are not looked at.
        QTest::newRow("codec 5") << qint16(0x25) << qint16(0);
    }

    void controlBatches()
    {
        QFETCH(qint16, attributes);
        QFETCH(qint16, type);
        TestBatch control = controlBatch(20, 8, type);
        control.attributes = attributes;
        const QByteArray first = control.bytes();
        KafkaBuffer recordSet(first + plainBatch(21, 2).bytes());

        const auto result = parse(recordSet);
        QVERIFY2(!result.isError(), failureText(result));
        QVERIFY(result.value().isControlBatch());
        QVERIFY(result.value().records.isEmpty());
        QCOMPARE(result.value().controlType, type);
        QCOMPARE(result.value().isAbortMarker(), type == 0);
        QCOMPARE(recordSet.position, first.size());
        QCOMPARE(parse(recordSet).value().records.size(), 2);
    }

    void malformedControlBatches()
    {
        TestBatch empty = controlBatch(20, 8, 0);
        empty.records.clear();
        KafkaBuffer emptySet(empty.bytes());
        const auto noMarker = parse(emptySet);
        QVERIFY(!noMarker.isError());
        QCOMPARE(noMarker.value().controlType, KafkaRecordBatch::ControlTypeNone);
        QCOMPARE(emptySet.position, emptySet.size());

        TestBatch shortKey = controlBatch(20, 8, 0);
        shortKey.records.first().key = hexBytes("00 00");
        TestBatch cutShort = controlBatch(20, 8, 0);
        cutShort.uncompressedSection = cutShort.records.first().bytes().left(6);
        for (const TestBatch& written : { shortKey, cutShort }) {
            KafkaBuffer recordSet(written.bytes());
            const auto result = parse(recordSet);
            QCOMPARE(result.error().code, KafkaErrorCode::CorruptMessage);
            QCOMPARE(result.error().message, QString("Invalid control record in the record batch at offset 20"));
        }
    }

    void backToBackBatches_data() { addCodecRows(CodecRows::All); }

    void backToBackBatches()
    {
        QFETCH(Codec, codec);
        TestBatch first = plainBatch(100, 3);
        first.codec = codec;
        first.records[1].key = "key";
        first.records[1].headers = { { "trace", "t1" }, { QString(), QByteArray() } };
        TestBatch second = plainBatch(103, 2);
        second.codec = codec;
        const QByteArray firstBytes = first.bytes();
        KafkaBuffer recordSet(firstBytes + second.bytes());

        const auto one = parse(recordSet);
        QVERIFY2(!one.isError(), failureText(one));
        QCOMPARE(recordSet.position, firstBytes.size());
        QCOMPARE(valuesOf(one.value()), QList<QByteArray>({ "v0", "v1", "v2" }));
        QCOMPARE(one.value().records.at(1).key, QByteArray("key"));
        QCOMPARE(one.value().records.at(1).headers,
            QList<KafkaHeader>({ { "trace", "t1" }, { QString(), QByteArray() } }));
        QCOMPARE(one.value().records.at(2).offset, 102);

        const auto two = parse(recordSet);
        QVERIFY2(!two.isError(), failureText(two));
        QCOMPARE(recordSet.position, recordSet.size());
        QCOMPARE(valuesOf(two.value()), QList<QByteArray>({ "v0", "v1" }));
        QCOMPARE(two.value().records.at(1).offset, 104);
    }

    void cursorSkipsBytesAfterTheCompressedStream()
    {
        // gzip stops at the end of its stream; the batch still ends where its
        // length says.
        TestBatch first = plainBatch(0, 2);
        first.section = compress(Codec::Gzip, first.records.at(0).bytes() + first.records.at(1).bytes()) + "padding";
        first.attributes = 1;
        const QByteArray firstBytes = first.bytes();
        KafkaBuffer recordSet(firstBytes + plainBatch(2, 1).bytes());
        QCOMPARE(parse(recordSet).value().records.size(), 2);
        QCOMPARE(recordSet.position, firstBytes.size());
        QCOMPARE(parse(recordSet).value().records.size(), 1);
    }

    void decompressedSizeLimit()
    {
        TestBatch written;
        TestRecord big;
        big.value = QByteArray(200'000, 'x');
        written.records = { big };
        written.codec = Codec::Gzip;
        KafkaBuffer recordSet(written.bytes());
        const auto result = parse(recordSet, 100'000);
        QCOMPARE(result.error().code, KafkaErrorCode::GzipDecompressionError);
        QCOMPARE(result.error().message,
            QString("zlib encoded data at 61 decompresses to more than the limit of 100000 bytes"));
        recordSet.position = 0;
        QCOMPARE(parse(recordSet).value().records.first().value.size(), 200'000);
    }
};

QTEST_GUILESS_MAIN(KafkaRecordBatchTest)
#include "KafkaRecordBatchTest.moc"
