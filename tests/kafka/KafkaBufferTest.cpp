#include "KafkaBuffer.h"
#include "KafkaVersionedBuffer.h"
#include "TestBytes.h"

#include <QTest>

class KafkaBufferTest : public QObject {
    Q_OBJECT

private slots:
    void shortReadsAreZeroFilledAndCounted()
    {
        KafkaBuffer buffer(hexBytes("AB CD"));
        QCOMPARE(buffer.readS32(), std::int32_t(0xABCD0000));
        QCOMPARE(buffer.position, 2);
        QCOMPARE(buffer.overrun, 2);
        const auto error = buffer.checkBufferReadEntirely();
        QVERIFY(error);
        QCOMPARE(error->code, KafkaErrorCode::BufferOverrun);
        QCOMPARE(error->message, QString("Read out of the buffer's bounds by 2 bytes"));
    }

    void integersRoundTripBigEndian()
    {
        KafkaBuffer buffer;
        buffer.writeS8(-2);
        buffer.writeS16(0x0102);
        buffer.writeS32(-5);
        buffer.writeS64(0x0102030405060708LL);
        QCOMPARE(spacedHex(buffer.data), QByteArray("fe 01 02 ff ff ff fb 01 02 03 04 05 06 07 08"));
        buffer.position = 0;
        QCOMPARE(buffer.readS8(), std::int8_t(-2));
        QCOMPARE(buffer.readS16(), std::int16_t(0x0102));
        QCOMPARE(buffer.readS32(), -5);
        QCOMPARE(buffer.readS64(), 0x0102030405060708LL);
        QVERIFY(!buffer.checkBufferReadEntirely());
    }

    void writeOverwritesAtTheCursor()
    {
        KafkaBuffer buffer(hexBytes("00 00 00 00 99"));
        buffer.position = 1;
        buffer.writeS16(0x1122);
        QCOMPARE(spacedHex(buffer.data), QByteArray("00 11 22 00 99"));
        buffer.position = 4;
        buffer.writeS16(0x3344);
        QCOMPARE(spacedHex(buffer.data), QByteArray("00 11 22 00 33 44"));
    }

    void nullAndEmptyStringsAndBytes()
    {
        KafkaBuffer buffer(hexBytes("00 00  FF FF  00 02 61 62  01  00  03 61 62  00 00 00 00  FF FF FF FF  00 00 00 01 7A"));
        const QString empty = buffer.readString();
        QVERIFY(empty.isEmpty() && !empty.isNull());
        QVERIFY(buffer.readString().isNull());
        QCOMPARE(buffer.readString(), QString("ab"));
        const QString compactEmpty = buffer.readCompactString();
        QVERIFY(compactEmpty.isEmpty() && !compactEmpty.isNull());
        QVERIFY(buffer.readCompactString().isNull());
        QCOMPARE(buffer.readCompactString(), QString("ab"));
        QVERIFY(buffer.readBytes().isNull());
        QVERIFY(buffer.readBytes().isNull());
        QCOMPARE(buffer.readBytes(), QByteArray("z"));
        QVERIFY(!buffer.checkBufferReadEntirely());
    }

    void malformedLengthsCopyNothingAndFail()
    {
        KafkaBuffer strings(hexBytes("FF FE 61 62"));
        QVERIFY(strings.readString().isNull());
        QVERIFY(strings.overrun > 0);

        KafkaBuffer bytes(hexBytes("FF FF FF F0"));
        QVERIFY(bytes.readBytes().isNull());
        QVERIFY(bytes.overrun > 0);

        // A declared length far beyond the data allocates only what is there.
        KafkaBuffer huge(hexBytes("7F FF FF FF 61 62"));
        QCOMPARE(huge.readBytes(), QByteArray("ab"));
        QCOMPARE(huge.overrun, 0x7FFFFFFF - 2);
        QCOMPARE(huge.checkBufferReadEntirely()->code, KafkaErrorCode::BufferOverrun);
    }

    void errorCodesOutsideThePublishedRangeReadAsUnknown()
    {
        KafkaBuffer buffer(hexBytes("00 64  FF FE  00 23  00 00  FF FF"));
        QCOMPARE(buffer.readErrorCode(), std::int16_t(-1));
        QCOMPARE(buffer.readErrorCode(), std::int16_t(-1));
        QCOMPARE(buffer.readErrorCode(), std::int16_t(35));
        QCOMPARE(buffer.readErrorCode(), std::int16_t(0));
        QCOMPARE(buffer.readErrorCode(), std::int16_t(-1));
    }

    void varints_data()
    {
        QTest::addColumn<quint64>("value");
        QTest::addColumn<QByteArray>("encoded");
        QTest::newRow("0") << quint64(0) << hexBytes("00");
        QTest::newRow("127") << quint64(127) << hexBytes("7F");
        QTest::newRow("300") << quint64(300) << hexBytes("AC 02");
        QTest::newRow("2^63") << (quint64(1) << 63) << hexBytes("80 80 80 80 80 80 80 80 80 01");
        QTest::newRow("max") << ~quint64(0) << hexBytes("FF FF FF FF FF FF FF FF FF 01");
    }

    void varints()
    {
        QFETCH(quint64, value);
        QFETCH(QByteArray, encoded);
        KafkaBuffer written;
        written.writeVarU64(value);
        QCOMPARE(spacedHex(written.data), spacedHex(encoded));
        KafkaBuffer read(encoded);
        QCOMPARE(quint64(read.readVarU64()), value);
        QVERIFY(!read.checkBufferReadEntirely());
    }

    void malformedVarints()
    {
        KafkaBuffer runsOff(hexBytes("80 80"));
        runsOff.readVarU64();
        QCOMPARE(runsOff.overrun, 1);

        // Eleven continuation bytes: the reader stops after ten and fails.
        KafkaBuffer tooLong(QByteArray(11, char(0x80)) + hexBytes("01"));
        tooLong.readVarU64();
        QCOMPARE(tooLong.position, 10);
        QVERIFY(tooLong.overrun > 0);
    }

    void zigzag_data()
    {
        QTest::addColumn<QByteArray>("encoded");
        QTest::addColumn<qint64>("value");
        QTest::newRow("0") << hexBytes("00") << qint64(0);
        QTest::newRow("-1") << hexBytes("01") << qint64(-1);
        QTest::newRow("1") << hexBytes("02") << qint64(1);
        QTest::newRow("-64") << hexBytes("7F") << qint64(-64);
        QTest::newRow("min") << hexBytes("FF FF FF FF FF FF FF FF FF 01") << std::numeric_limits<qint64>::min();
    }

    void zigzag()
    {
        QFETCH(QByteArray, encoded);
        QFETCH(qint64, value);
        KafkaBuffer buffer(encoded);
        QCOMPARE(qint64(buffer.readVarS64()), value);
    }

    void leftoverBytes()
    {
        KafkaBuffer buffer(hexBytes("01 02"));
        buffer.readS8();
        const auto error = buffer.checkBufferReadEntirely();
        QCOMPARE(error->code, KafkaErrorCode::BufferNotFullyRead);
        QCOMPARE(error->message, QString("Did not read all the data out of the buffer. 1 bytes remain"));
        buffer.readS8();
        QVERIFY(!buffer.checkBufferReadEntirely());
    }

    void arraysStopAtTheEndOfTheData()
    {
        KafkaBuffer buffer(hexBytes("7F FF FF FF 00 01 00 02"));
        const QList<std::int16_t> list = buffer.readArray([](KafkaBuffer& b) { return b.readS16(); });
        QCOMPARE(list, (QList<std::int16_t> { 1, 2 }));
        QVERIFY(buffer.overrun >= 0x7FFFFFFF - 2);

        KafkaBuffer negative(hexBytes("FF FF FF FE"));
        QVERIFY(negative.readArray([](KafkaBuffer& b) { return b.readS16(); }).isEmpty());
        QVERIFY(!negative.checkBufferReadEntirely());
    }

    void versionedBufferGatesAndCompactForms()
    {
        KafkaBuffer out;
        KafkaVersionedBuffer classic(out, 3, false);
        classic.writeS32(7, 0, 2);
        classic.writeS32(8, 3);
        classic.writeString(QString());
        classic.writeArrayLength(2);
        classic.writeTaggedFields();
        QCOMPARE(spacedHex(out.data), QByteArray("00 00 00 08 00 00 00 00 00 02"));

        KafkaBuffer flexibleOut;
        KafkaVersionedBuffer flexible(flexibleOut, 6, true);
        flexible.writeString("ab");
        flexible.writeString(QString());
        flexible.writeArrayLength(0);
        flexible.writeTaggedFields();
        QCOMPARE(spacedHex(flexibleOut.data), QByteArray("03 61 62 01 01 00"));

        KafkaBuffer in(hexBytes("02 05 00 01 01 2A 00"));
        KafkaVersionedBuffer reader(in, 6, true);
        const auto tags = reader.readTaggedFields();
        QCOMPARE(tags.size(), 2);
        QCOMPARE(tags[0].tag, quint64(5));
        QVERIFY(tags[0].data.isEmpty());
        QCOMPARE(tags[1].tag, quint64(1));
        QCOMPARE(tags[1].data, hexBytes("2A"));
        QCOMPARE(reader.readS32(0, 5), 0);
        QCOMPARE(reader.readArray([](KafkaVersionedBuffer& b) { return b.readS8(); }).size(), 0);
        QVERIFY(!in.checkBufferReadEntirely());
    }
};

QTEST_GUILESS_MAIN(KafkaBufferTest)
#include "KafkaBufferTest.moc"
