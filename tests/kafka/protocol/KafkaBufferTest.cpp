#include "KafkaBuffer.h"
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
    }

    void stringsAndBytes()
    {
        KafkaBuffer buffer(hexBytes("00 00  FF FF  00 02 61 62  00 00 00 00  FF FF FF FF  00 00 00 01 7A"));
        const QString empty = buffer.readString();
        QVERIFY(empty.isEmpty() && !empty.isNull());
        QVERIFY(buffer.readString().isNull());
        QCOMPARE(buffer.readString(), QString("ab"));
        QVERIFY(buffer.readBytes().isNull());
        QVERIFY(buffer.readBytes().isNull());
        QCOMPARE(buffer.readBytes(), QByteArray("z"));
        QVERIFY(!buffer.checkBufferReadEntirely());

        // Malformed lengths copy nothing; a length far beyond the data allocates only what is there.
        KafkaBuffer strings(hexBytes("FF FE 61 62"));
        QVERIFY(strings.readString().isNull());
        QVERIFY(strings.overrun > 0);
        KafkaBuffer bytes(hexBytes("FF FF FF F0"));
        QVERIFY(bytes.readBytes().isNull());
        QVERIFY(bytes.overrun > 0);
        KafkaBuffer huge(hexBytes("7F FF FF FF 61 62"));
        QCOMPARE(huge.readBytes(), QByteArray("ab"));
        QCOMPARE(huge.overrun, 0x7FFFFFFF - 2);

        // Error codes outside the published range read as unknown.
        KafkaBuffer codes(hexBytes("00 64  FF FE  00 23"));
        for (const std::int16_t expected : { -1, -1, 35 })
            QCOMPARE(codes.readErrorCode(), expected);
    }

    void varints()
    {
        const std::pair<quint64, const char*> unsignedRows[] = { { 0, "00" }, { 127, "7F" }, { 128, "80 01" },
            { 300, "AC 02" },
            { quint64(1) << 63, "80 80 80 80 80 80 80 80 80 01" }, { ~quint64(0), "FF FF FF FF FF FF FF FF FF 01" } };
        for (const auto& [value, hex] : unsignedRows) {
            KafkaBuffer written;
            written.writeVarU64(value);
            QCOMPARE(spacedHex(written.data), spacedHex(hexBytes(hex)));
            KafkaBuffer read(hexBytes(hex));
            QCOMPARE(quint64(read.readVarU64()), value);
            QVERIFY(!read.checkBufferReadEntirely());
        }
        KafkaBuffer runsOff(hexBytes("80 80"));
        runsOff.readVarU64();
        QCOMPARE(runsOff.overrun, 1);
        // Short varints one after the other, then the end of the data.
        KafkaBuffer zigzags(hexBytes("00 01 AC 02 02 7F"));
        for (const std::int64_t expected : { 0, -1, 150, 1, -64, 0 })
            QCOMPARE(zigzags.readVarS64(), expected);
        QCOMPARE(zigzags.position, 6);
        QCOMPARE(zigzags.overrun, 1);
        // Eleven continuation bytes: the reader stops after ten and fails.
        KafkaBuffer tooLong(QByteArray(11, char(0x80)) + hexBytes("01"));
        tooLong.readVarU64();
        QCOMPARE(tooLong.position, 10);
        QVERIFY(tooLong.overrun > 0);
    }

    // A count far beyond the data reads what is there, counts the rest as
    // overrun and reserves no more elements than the data can hold.
    void arraysStopAtTheEndOfTheData()
    {
        KafkaBuffer buffer(hexBytes("7F FF FF FF 00 01 00 02"));
        QCOMPARE(buffer.readArray([](KafkaBuffer& b) { return b.readS16(); }), (QList<std::int16_t> { 1, 2 }));
        QVERIFY(buffer.overrun >= 0x7FFFFFFF - 2);
        // Empty strings: two bytes each on the wire, far more in memory.
        KafkaBuffer strings(hexBytes("7F FF FF FF") + QByteArray(1000, '\0'));
        QCOMPARE(strings.readArray([](KafkaBuffer& b) { return b.readString(); }).capacity(), 500);
    }
};

QTEST_GUILESS_MAIN(KafkaBufferTest)
#include "KafkaBufferTest.moc"
