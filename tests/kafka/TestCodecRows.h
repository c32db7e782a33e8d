#pragma once

// The codec column of the data-driven batch tests.

#include "TestRecordBatchBuilder.h"

#include <QTest>

Q_DECLARE_METATYPE(TestBatches::Codec)

namespace TestBatches {

enum class CodecRows { Compressed, All };

// Adds a "codec" column with a row for each compression codec, after one for
// uncompressed batches with CodecRows::All.
inline void addCodecRows(CodecRows rows)
{
    QTest::addColumn<Codec>("codec");
    if (rows == CodecRows::All)
        QTest::newRow("none") << Codec::None;
    QTest::newRow("gzip") << Codec::Gzip;
    QTest::newRow("zlib") << Codec::Zlib;
    QTest::newRow("snappy") << Codec::Snappy;
    QTest::newRow("snappy-java") << Codec::SnappyJava;
    QTest::newRow("lz4") << Codec::Lz4;
    QTest::newRow("zstd") << Codec::Zstd;
}

} // namespace TestBatches
