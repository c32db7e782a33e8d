// Reading a whole topic into memory with the fetcher, beside kcat consuming
// the same topic to /dev/null. Both start from nothing (the fetcher with a new
// cluster client and its bootstrap, kcat as a new process) and end with the
// last record. The ratio is kcat's time over the fetcher's: above 1 the
// fetcher is faster.
//
//   bench_fetcher_throughput [records] [rounds] [topic]
//
// Without a topic one is created and filled: 8 partitions, lz4, values of
// 100 bytes. Give the printed name to later runs to skip the filling.
#include "FetcherBenchSupport.h"
#include "KafkaFetcher.h"

#include <QCoreApplication>
#include <QProcess>

#include <algorithm>
#include <cstdio>

using namespace FetcherBench;

namespace {

constexpr int Partitions = 8;

double runKcat(const QString& bootstrap, const QString& topic)
{
    QProcess kcat;
    kcat.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    kcat.start(QStringLiteral("kcat"),
        { "-C", "-b", bootstrap, "-t", topic, "-o", "beginning", "-e", "-q" });
    if (!kcat.waitForFinished(600000) || kcat.exitCode() != 0) {
        std::fprintf(stderr, "kcat failed: %s\n", kcat.readAllStandardError().constData());
        return -1;
    }
    return double(timer.nsecsElapsed()) / 1e9;
}

// Seconds from a new client to the last record in memory; -1 on failure.
double runFetcher(const QString& bootstrap, const QString& topic, qint64 expected, qint64& bytes)
{
    QElapsedTimer timer;
    timer.start();
    auto client = connectedClient(bootstrap);
    if (!client)
        return -1;
    QList<QList<KafkaRecord>> kept;
    qint64 received = 0;
    bool failed = false;
    {
        KafkaFetcher fetcher(*client);
        QObject context;
        QObject::connect(&fetcher, &KafkaFetcher::recordsFetched, &context,
            [&](int32_t, QList<KafkaRecord> records) {
                received += records.size();
                kept.append(std::move(records));
            });
        QObject::connect(&fetcher, &KafkaFetcher::fetchJobFailed, &context, [&](int32_t, const KafkaError& error) {
            std::fprintf(stderr, "fetch failed: %s\n", qPrintable(error.message));
            failed = true;
        });
        for (int partition = 0; partition < Partitions; ++partition) {
            fetcher.fetchOffsetsFromTimestamps(topic, partition, -2, -1, &context,
                [&fetcher, &failed, topic, partition](KafkaResult<KafkaFetcher::OffsetsResult> offsets) {
                    if (offsets.isError()) {
                        failed = true;
                        return;
                    }
                    fetcher.fetchRecords(topic, partition, offsets.value().startOffset, offsets.value().endOffset - 1);
                });
        }
        if (!waitUntil([&] { return failed || received >= expected; }, 600000) || failed)
            return -1;
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    bytes = 0;
    for (const auto& list : kept) {
        for (const KafkaRecord& record : list)
            bytes += record.value.size();
    }
    return seconds;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString bootstrap = brokerAddress();
    if (bootstrap.isEmpty())
        return 2;
    const qint64 records = argc > 1 ? QByteArray(argv[1]).toLongLong() : 2'000'000;
    const int rounds = Bench::argument(argc, argv, 2, 3);
    QString topic = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();

    if (topic.isEmpty()) {
        topic = KafkaTestEnvironment::uniqueTopicName(QStringLiteral("bench-fetch-lz4"));
        QElapsedTimer timer;
        timer.start();
        if (QString error = fillTopic(bootstrap, topic, Partitions, records, 100, QStringLiteral("lz4"));
            !error.isEmpty()) {
            std::fprintf(stderr, "filling the topic failed: %s\n", qPrintable(error));
            return 1;
        }
        std::printf("topic %s: %lld records of 100 bytes, %d partitions, lz4, produced in %.2f s\n",
            qPrintable(topic), static_cast<long long>(records), Partitions, double(timer.elapsed()) / 1000);
    }

    // One unmeasured kcat run brings the topic into the page cache.
    runKcat(bootstrap, topic);
    QList<double> kcatTimes;
    QList<double> fetcherTimes;
    for (int round = 0; round < rounds; ++round) {
        qint64 bytes = 0;
        const double fetcher = runFetcher(bootstrap, topic, records, bytes);
        const double kcat = runKcat(bootstrap, topic);
        if (fetcher < 0 || kcat < 0)
            return 1;
        fetcherTimes.append(fetcher);
        kcatTimes.append(kcat);
        std::printf("round %d: fetcher %.3f s (%.0f records/s, %lld value bytes), kcat %.3f s, ratio %.2f\n",
            round + 1, fetcher, double(records) / fetcher, static_cast<long long>(bytes), kcat, kcat / fetcher);
        std::fflush(stdout);
    }
    const double fetcher = median(fetcherTimes);
    const double kcat = median(kcatTimes);
    std::printf("median: fetcher %.3f s, kcat %.3f s, ratio kcat/fetcher %.2f\n", fetcher, kcat, kcat / fetcher);
    return 0;
}
