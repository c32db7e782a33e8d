// Record-set parsing throughput for each codec, beside the compression
// library's own decompression of the same batch sections (for uncompressed
// batches: a plain copy of the sections). The ratio is the parser's time over
// the peer's: what decoding records costs on top of getting their bytes.
// The batches are cut into record sets of at most a partition's share of a
// Fetch response and decoded as the fetcher decodes them. Two shapes of
// record: a value alone (as the fetcher benchmarks' topics hold), and a value
// with a key and one header.
//
//   bench_record_set_parsing [records per batch] [batches] [rounds] [value size] [codec] [shape]
//
// A codec name (none, gzip, snappy, lz4, zstd) or shape (0 value only, 1 key and
// header) limits the run to it, as for a profile.
#include "BenchSupport.h"
#include "KafkaFetchedRecordSet.h"
#include "KafkaRecordBatch.h"
#include "TestRecordBatchBuilder.h"

#include <QCoreApplication>

#include <lz4frame.h>
#include <snappy.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace Bench;
using namespace TestBatches;

namespace {

// The record bytes one partition of a Fetch response holds at most, and
// the partitions of one response (as the fetcher asks for them).
constexpr qsizetype RecordSetSize = 500000;
constexpr qsizetype RecordSetsPerResponse = 32;

struct Workload {
    // Whole batches, each set no larger than RecordSetSize (but for a batch larger on its own).
    QList<QByteArray> recordSets;
    QList<QByteArray> sections;
    qint64 records = 0;
    qint64 uncompressedBytes = 0;
};

Workload makeWorkload(Codec codec, int recordsPerBatch, int batches, int valueSize, bool keysAndHeaders)
{
    Workload workload;
    for (int b = 0; b < batches; ++b) {
        TestBatch batch;
        batch.baseOffset = qint64(b) * recordsPerBatch;
        batch.codec = codec;
        for (int i = 0; i < recordsPerBatch; ++i) {
            TestBatches::TestRecord record;
            record.offsetDelta = i;
            record.timestampDelta = i;
            record.value = textValue(qint64(b) * recordsPerBatch + i, valueSize);
            if (keysAndHeaders) {
                record.key = "key-" + QByteArray::number(b * recordsPerBatch + i);
                record.headers = { { "source", "bench" } };
            }
            batch.records.append(record);
        }
        QByteArray plain;
        for (const auto& record : batch.records)
            plain += record.bytes();
        workload.uncompressedBytes += plain.size();
        batch.section = compress(codec, plain);
        workload.sections.append(*batch.section);
        const QByteArray bytes = batch.bytes();
        if (workload.recordSets.isEmpty() || workload.recordSets.last().size() + bytes.size() > RecordSetSize)
            workload.recordSets.append(QByteArray());
        workload.recordSets.last() += bytes;
        workload.records += recordsPerBatch;
    }
    return workload;
}

qint64 decompressWithLibrary(Codec codec, const QByteArray& section, QByteArray& out)
{
    switch (codec) {
    case Codec::None:
        std::memcpy(out.data(), section.constData(), static_cast<size_t>(section.size()));
        return section.size();
    case Codec::Gzip: {
        z_stream stream {};
        inflateInit2(&stream, 15 + 32);
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(section.constData()));
        stream.avail_in = static_cast<uInt>(section.size());
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = static_cast<uInt>(out.size());
        inflate(&stream, Z_FINISH);
        const qint64 produced = static_cast<qint64>(stream.total_out);
        inflateEnd(&stream);
        return produced;
    }
    case Codec::Snappy: {
        size_t length = 0;
        snappy::GetUncompressedLength(section.constData(), static_cast<size_t>(section.size()), &length);
        snappy::RawUncompress(section.constData(), static_cast<size_t>(section.size()), out.data());
        return static_cast<qint64>(length);
    }
    case Codec::Lz4: {
        LZ4F_dctx* context = nullptr;
        LZ4F_createDecompressionContext(&context, LZ4F_VERSION);
        size_t outSize = static_cast<size_t>(out.size());
        size_t inSize = static_cast<size_t>(section.size());
        LZ4F_decompress(context, out.data(), &outSize, section.constData(), &inSize, nullptr);
        LZ4F_freeDecompressionContext(context);
        return static_cast<qint64>(outSize);
    }
    case Codec::Zstd:
        return static_cast<qint64>(ZSTD_decompress(out.data(), static_cast<size_t>(out.size()), section.constData(),
            static_cast<size_t>(section.size())));
    default:
        return 0;
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int recordsPerBatch = argument(argc, argv, 1, 500);
    const int batches = argument(argc, argv, 2, 400);
    const int rounds = argument(argc, argv, 3, 5);
    const int valueSize = argument(argc, argv, 4, 100);
    const QByteArray onlyCodec = argc > 5 ? QByteArray(argv[5]) : QByteArray();
    const int onlyShape = argument(argc, argv, 6, -1);

    std::printf("%d batches of %d records of %d-byte values, best of %d rounds\n", batches, recordsPerBatch, valueSize,
        rounds);
    std::printf("%-7s %-14s %12s %10s %10s %12s %8s\n", "codec", "records", "records/s", "MB/s in", "MB/s out",
        "peer MB/s", "ratio");
    const std::pair<const char*, Codec> codecs[] = {
        { "none", Codec::None }, { "gzip", Codec::Gzip }, { "snappy", Codec::Snappy }, { "lz4", Codec::Lz4 }, { "zstd", Codec::Zstd },
    };
    for (const bool keysAndHeaders : { false, true })
    for (const auto& entry : codecs) {
        const char* const name = entry.first;
        const Codec codec = entry.second;
        const char* const shape = keysAndHeaders ? "key and header" : "value only";
        if ((!onlyCodec.isEmpty() && onlyCodec != name) || (onlyShape >= 0 && onlyShape != int(keysAndHeaders)))
            continue;
        const Workload workload = makeWorkload(codec, recordsPerBatch, batches, valueSize, keysAndHeaders);
        qint64 recordSetBytes = 0;
        for (const QByteArray& recordSet : workload.recordSets)
            recordSetBytes += recordSet.size();

        qint64 parsedRecords = 0;
        const qint64 parseNs = bestOf(rounds, [&] {
            parsedRecords = 0;
            // The record sets of one response share a budget and a decompressor.
            std::optional<KafkaDecodeBudget> budget;
            std::optional<KafkaBatchDecompressor> decompressor;
            for (qsizetype set = 0; set < workload.recordSets.size(); ++set) {
                if (set % RecordSetsPerResponse == 0) {
                    budget.emplace();
                    decompressor.emplace();
                }
                KafkaFetchResponse::Partition partition;
                partition.records = workload.recordSets[set];
                KafkaFetchedRecordSet recordSet(QStringLiteral("bench"), 0, 0, -1, partition);
                std::optional<KafkaError> scanError = recordSet.scan();
                KafkaResult<QList<KafkaRecord>> records = scanError ? KafkaResult<QList<KafkaRecord>>(*scanError)
                                                                    : recordSet.decode(*budget, *decompressor);
                if (records.isError()) {
                    std::fprintf(stderr, "%s: %s\n", name, qPrintable(records.error().message));
                    std::exit(1);
                }
                parsedRecords += records.value().size();
            }
        });
        if (parsedRecords != workload.records) {
            std::fprintf(stderr, "%s: parsed %lld of %lld records\n", name, static_cast<long long>(parsedRecords),
                static_cast<long long>(workload.records));
            return 1;
        }

        QByteArray out(static_cast<qsizetype>(workload.uncompressedBytes / batches * 2 + 1024), Qt::Uninitialized);
        qint64 peerBytes = 0;
        const qint64 peerNs = bestOf(rounds, [&] {
            peerBytes = 0;
            for (const QByteArray& section : workload.sections)
                peerBytes += decompressWithLibrary(codec, section, out);
        });
        if (peerBytes != workload.uncompressedBytes) {
            std::fprintf(stderr, "%s: the library produced %lld of %lld bytes\n", name, peerBytes, workload.uncompressedBytes);
            return 1;
        }

        const double seconds = parseNs / 1e9;
        std::printf("%-7s %-14s %12.0f %10.1f %10.1f %12.1f %8.2f\n", name, shape, workload.records / seconds,
            recordSetBytes / seconds / 1e6, workload.uncompressedBytes / seconds / 1e6,
            workload.uncompressedBytes / (peerNs / 1e9) / 1e6, double(parseNs) / double(peerNs));
    }
    return 0;
}
