// The fetcher's steady rate beside a tuned librdkafka consumer that only
// counts, on the same topics, in one process: the two alternate within each
// round (the first to go changes every round). Start-up is left out: each
// rate runs from the first records handed over to the last. The fetcher keeps
// every record in memory, as the records tab does; what that costs per
// record beyond the value bytes is measured from the resident memory of a
// process of its own that only fetches (the records kept once the fetcher is
// gone, and the peak while it fetched, both over the memory after start-up).
//
//   bench_fetcher_steady_rate [rounds] [topic ...]
//   bench_fetcher_steady_rate --fetch-only topic   (the process that measures memory)
//
// Without topics four are created and filled, 8 partitions each: 2 M values
// of 100 bytes and 200 k values of 1 KB, both lz4-compressed and
// uncompressed. Give the printed names to later runs to skip the filling.
#include "CountingConsumer.h"
#include "FetcherBenchSupport.h"
#include "KafkaFetcher.h"

#include <QCoreApplication>
#include <QProcess>

#include <malloc.h>

#include <algorithm>
#include <cstdio>

using namespace FetcherBench;

namespace {

constexpr int Partitions = 8;
// A run that has not read its topic within this time has failed.
constexpr int RunLimitMs = 600000;

struct TopicSpec {
    const char* prefix;
    qint64 records;
    int valueSize;
    const char* compression;
};

constexpr TopicSpec DefaultTopics[] = {
    { "bench-steady-100b-lz4", 2'000'000, 100, "lz4" },
    { "bench-steady-100b-none", 2'000'000, 100, "none" },
    { "bench-steady-1kb-lz4", 200'000, 1024, "lz4" },
    { "bench-steady-1kb-none", 200'000, 1024, "none" },
};

struct FetcherRun {
    qint64 records = 0;
    qint64 steadyRecords = 0;
    double steadySeconds = 0;
    qint64 valueBytes = 0;
    // Resident bytes per record beyond its value: kept after the fetch, and at the peak.
    double keptOverhead = 0;
    double peakOverhead = 0;
    QString error;
};

FetcherRun runFetcher(const QString& bootstrap, const QString& topic, qint64 expected)
{
    FetcherRun run;
    QList<QList<KafkaRecord>> kept;
    qint64 baseline = 0;
    {
        auto client = connectedClient(bootstrap);
        if (!client) {
            run.error = QStringLiteral("no client");
            return run;
        }
        malloc_trim(0);
        baseline = Bench::statusBytes("VmRSS");
        Bench::resetResidentPeak();
        KafkaFetcher fetcher(*client);
        QObject context;
        QElapsedTimer steady;
        QObject::connect(&fetcher, &KafkaFetcher::recordsFetched, &context,
            [&](int32_t, QList<KafkaRecord> records) {
                if (!steady.isValid())
                    steady.start();
                else
                    run.steadyRecords += records.size();
                run.records += records.size();
                kept.append(std::move(records));
                if (run.records >= expected)
                    run.steadySeconds = double(steady.nsecsElapsed()) / 1e9;
            });
        QObject::connect(&fetcher, &KafkaFetcher::fetchJobFailed, &context, [&](int32_t, const KafkaError& error) {
            run.error = error.message;
        });
        for (int partition = 0; partition < Partitions; ++partition) {
            fetcher.fetchOffsetsFromTimestamps(topic, partition, -2, -1, &context,
                [&fetcher, &run, topic, partition](KafkaResult<KafkaFetcher::OffsetsResult> offsets) {
                    if (offsets.isError()) {
                        run.error = offsets.error().message;
                        return;
                    }
                    fetcher.fetchRecords(topic, partition, offsets.value().startOffset, offsets.value().endOffset - 1);
                });
        }
        if (!waitUntil([&] { return !run.error.isEmpty() || run.records >= expected; }, RunLimitMs)
            && run.error.isEmpty())
            run.error = QStringLiteral("timed out after %1 of %2 records").arg(run.records).arg(expected);
    }
    const qint64 peakBytes = Bench::statusBytes("VmHWM") - baseline;
    for (const QList<KafkaRecord>& list : kept) {
        for (const KafkaRecord& record : list)
            run.valueBytes += record.value.size();
    }
    malloc_trim(0);
    const qint64 keptBytes = Bench::statusBytes("VmRSS") - baseline;
    if (run.records > 0) {
        run.keptOverhead = double(keptBytes - run.valueBytes) / double(run.records);
        run.peakOverhead = double(peakBytes - run.valueBytes) / double(run.records);
    }
    kept.clear();
    malloc_trim(0);
    return run;
}

// The fetcher alone in a process of this program, for its memory figures.
FetcherRun measureMemory(const QString& topic)
{
    FetcherRun run;
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--fetch-only"), topic });
    if (!child.waitForFinished(RunLimitMs) || child.exitCode() != 0) {
        run.error = QString::fromLocal8Bit(child.readAllStandardError());
        return run;
    }
    const QList<QByteArray> figures = child.readAllStandardOutput().trimmed().split(' ');
    if (figures.size() != 2) {
        run.error = QStringLiteral("unexpected output of the memory run");
        return run;
    }
    run.keptOverhead = figures[0].toDouble();
    run.peakOverhead = figures[1].toDouble();
    return run;
}

struct Spread {
    double min = 0;
    double median = 0;
    double max = 0;
};

Spread spread(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return { values.first(), values[values.size() / 2], values.last() };
}

QString fill(const QString& bootstrap, const TopicSpec& spec, QString& topic)
{
    topic = KafkaTestEnvironment::uniqueTopicName(QString::fromLatin1(spec.prefix));
    QElapsedTimer timer;
    timer.start();
    const QString error = fillTopic(
        bootstrap, topic, Partitions, spec.records, spec.valueSize, QString::fromLatin1(spec.compression));
    if (error.isEmpty())
        std::printf("topic %s: %lld values of %d bytes, %s, produced in %.1f s\n", qPrintable(topic),
            static_cast<long long>(spec.records), spec.valueSize, spec.compression, double(timer.elapsed()) / 1000);
    std::fflush(stdout);
    return error;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString bootstrap = brokerAddress();
    if (bootstrap.isEmpty())
        return 2;
    if (argc == 3 && QByteArray(argv[1]) == "--fetch-only") {
        const QString topic = QString::fromLocal8Bit(argv[2]);
        const FetcherRun run
            = runFetcher(bootstrap, topic, CountingConsumer::countMessages(bootstrap, topic, Partitions));
        if (!run.error.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(run.error));
            return 1;
        }
        std::printf("%.1f %.1f\n", run.keptOverhead, run.peakOverhead);
        return 0;
    }
    const int rounds = Bench::argument(argc, argv, 1, 5);
    QStringList topics;
    for (int i = 2; i < argc; ++i)
        topics.append(QString::fromLocal8Bit(argv[i]));
    if (topics.isEmpty()) {
        for (const TopicSpec& spec : DefaultTopics) {
            QString topic;
            if (QString error = fill(bootstrap, spec, topic); !error.isEmpty()) {
                std::fprintf(stderr, "filling %s failed: %s\n", spec.prefix, qPrintable(error));
                return 1;
            }
            topics.append(topic);
        }
    }

    for (const QString& topic : topics) {
        const qint64 expected = CountingConsumer::countMessages(bootstrap, topic, Partitions);
        if (expected <= 0) {
            std::fprintf(stderr, "%s: no records\n", qPrintable(topic));
            return 1;
        }
        // One unmeasured peer run brings the topic into the page cache.
        CountingConsumer::consume(bootstrap, topic, Partitions, expected);
        QList<double> fetcherRates;
        QList<double> peerRates;
        for (int round = 0; round < rounds; ++round) {
            FetcherRun fetcher;
            CountingConsumer::Run peer;
            const auto runFetcherNow = [&] { fetcher = runFetcher(bootstrap, topic, expected); };
            const auto runPeerNow = [&] { peer = CountingConsumer::consume(bootstrap, topic, Partitions, expected); };
            if (round % 2 == 0) {
                runFetcherNow();
                runPeerNow();
            } else {
                runPeerNow();
                runFetcherNow();
            }
            if (!fetcher.error.isEmpty() || !peer.error.isEmpty()) {
                std::fprintf(stderr, "%s: fetcher: %s; peer: %s\n", qPrintable(topic), qPrintable(fetcher.error),
                    qPrintable(peer.error));
                return 1;
            }
            fetcherRates.append(double(fetcher.steadyRecords) / fetcher.steadySeconds);
            peerRates.append(double(peer.steadyMessages) / peer.steadySeconds);
            std::printf("%s round %d: fetcher %.3f M/s, peer %.3f M/s\n", qPrintable(topic), round + 1,
                fetcherRates.last() / 1e6, peerRates.last() / 1e6);
            std::fflush(stdout);
        }
        const Spread ours = spread(fetcherRates);
        const Spread theirs = spread(peerRates);
        const FetcherRun memory = measureMemory(topic);
        if (!memory.error.isEmpty()) {
            std::fprintf(stderr, "%s: memory run: %s\n", qPrintable(topic), qPrintable(memory.error));
            return 1;
        }
        std::printf("%s: %lld records; M records/s min/median/max: fetcher %.3f/%.3f/%.3f, peer %.3f/%.3f/%.3f, "
                    "median ratio fetcher/peer %.2f; B/record beyond the value: kept %.0f, peak %.0f\n",
            qPrintable(topic), static_cast<long long>(expected), ours.min / 1e6, ours.median / 1e6, ours.max / 1e6,
            theirs.min / 1e6, theirs.median / 1e6, theirs.max / 1e6, ours.median / theirs.median, memory.keptOverhead,
            memory.peakOverhead);
        std::fflush(stdout);
    }
    return 0;
}
