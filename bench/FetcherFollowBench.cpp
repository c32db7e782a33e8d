// Following caught-up partitions with the fetcher, beside kcat following the
// same partitions: the idle cost (requests per second, CPU of each process)
// and the delay from producing a record to its delivery.
//
//   bench_fetcher_follow [partitions] [idle seconds] [records]
//
// The fetcher's delay ends when it emits the record (taken on the fetch
// thread); kcat's when its output line is read from its pipe.
#include "FetcherBenchSupport.h"
#include "KafkaConnection.h"
#include "KafkaFetcher.h"

#include <QCoreApplication>
#include <QMutex>
#include <QRandomGenerator>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace FetcherBench;

namespace {

using Clock = std::chrono::steady_clock;

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// User and system CPU seconds of another process, from /proc.
double processCpuSeconds(pid_t pid)
{
    FILE* file = std::fopen(QStringLiteral("/proc/%1/stat").arg(pid).toLocal8Bit().constData(), "r");
    if (!file)
        return -1;
    char buffer[4096] = {};
    const size_t read = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    // Fields after the command name in parentheses; utime and stime are the
    // 14th and 15th fields of the line.
    const QList<QByteArray> fields = QByteArray(buffer, qsizetype(read)).mid(QByteArray(buffer).lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

// kcat following the topic from its end, its output lines read and stamped
// on a thread of their own.
class KcatFollower {
public:
    KcatFollower(const QString& bootstrap, const QString& topic)
    {
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(pipeEnds[1], STDOUT_FILENO);
            close(pipeEnds[0]);
            close(pipeEnds[1]);
            const QByteArray broker = bootstrap.toLocal8Bit();
            const QByteArray name = topic.toLocal8Bit();
            execlp("kcat", "kcat", "-C", "-b", broker.constData(), "-t", name.constData(), "-o", "end", "-u", "-q",
                "-f", "%s\n", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeEnds[1]);
        m_reader = std::thread([this, fd = pipeEnds[0]] {
            FILE* input = fdopen(fd, "r");
            char line[1024];
            while (std::fgets(line, sizeof line, input)) {
                const auto now = Clock::now();
                QMutexLocker lock(&m_mutex);
                m_lines.append({ QByteArray(line).trimmed(), now });
            }
            std::fclose(input);
        });
    }

    ~KcatFollower()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_reader.joinable())
            m_reader.join();
    }

    pid_t pid() const { return m_pid; }
    Clock::time_point arrival(const QByteArray& line)
    {
        QMutexLocker lock(&m_mutex);
        for (const auto& [text, time] : m_lines) {
            if (text == line)
                return time;
        }
        return {};
    }

private:
    pid_t m_pid = -1;
    std::thread m_reader;
    QMutex m_mutex;
    QList<QPair<QByteArray, Clock::time_point>> m_lines;
};

struct Delays {
    double p50 = 0;
    double max = 0;
    int missing = 0;
};

Delays delaysOf(const QList<Clock::time_point>& produced, const QList<Clock::time_point>& delivered)
{
    QList<double> delays;
    Delays result;
    for (qsizetype i = 0; i < produced.size(); ++i) {
        if (delivered[i] == Clock::time_point {}) {
            ++result.missing;
            continue;
        }
        delays.append(std::chrono::duration<double, std::milli>(delivered[i] - produced[i]).count());
    }
    std::sort(delays.begin(), delays.end());
    if (!delays.isEmpty()) {
        result.p50 = delays[delays.size() / 2];
        result.max = delays.last();
    }
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString bootstrap = brokerAddress();
    if (bootstrap.isEmpty())
        return 2;
    const int partitions = Bench::argument(argc, argv, 1, 12);
    const int idleSeconds = Bench::argument(argc, argv, 2, 10);
    const int count = Bench::argument(argc, argv, 3, 100);
    const QString topic = KafkaTestEnvironment::uniqueTopicName(QStringLiteral("bench-follow"));
    if (QString error = fillTopic(bootstrap, topic, partitions, partitions * 100, 100, QStringLiteral("lz4"));
        !error.isEmpty()) {
        std::fprintf(stderr, "filling the topic failed: %s\n", qPrintable(error));
        return 1;
    }

    auto client = connectedClient(bootstrap);
    if (!client)
        return 1;
    KafkaFetcher fetcher(*client);
    QMutex mutex;
    QHash<QByteArray, Clock::time_point> deliveries;
    std::atomic<bool> failed { false };
    // Stamped on the fetch thread, as the record leaves the fetcher.
    QObject::connect(
        &fetcher, &KafkaFetcher::recordsFetched, &fetcher,
        [&](int32_t, const QList<KafkaRecord>& records) {
            const auto now = Clock::now();
            QMutexLocker lock(&mutex);
            for (const KafkaRecord& record : records)
                deliveries.insert(record.value, now);
        },
        Qt::DirectConnection);
    QObject::connect(
        &fetcher, &KafkaFetcher::fetchJobFailed, &fetcher,
        [&](int32_t, const KafkaError& error) {
            std::fprintf(stderr, "fetch failed: %s\n", qPrintable(error.message));
            failed = true;
        },
        Qt::DirectConnection);
    bool caughtUp = false;
    QObject::connect(&fetcher, &KafkaFetcher::recordsFetchProgress, &app,
        [&](int64_t, int64_t, bool isCaughtUp, bool) { caughtUp = isCaughtUp; });
    for (int partition = 0; partition < partitions; ++partition)
        fetcher.fetchRecords(topic, partition, 50, -1);
    if (!waitUntil([&] { return caughtUp || failed; }, 30000) || failed) {
        std::fprintf(stderr, "the fetcher did not catch up\n");
        return 1;
    }

    {
        QMutexLocker lock(&mutex);
        deliveries.clear();
    }
    KcatFollower kcat(bootstrap, topic);
    QThread::sleep(3); // kcat starts and reaches the end of every partition

    // Idle: nothing is produced.
    auto connection = client->brokerConnectionForId(client->brokers().first().nodeId);
    const std::int32_t requestsBefore = connection.value()->nextCorrelationId();
    const double cpuBefore = cpuSeconds();
    const double kcatBefore = processCpuSeconds(kcat.pid());
    const auto idleStart = Clock::now();
    {
        QEventLoop loop;
        QTimer::singleShot(idleSeconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const double idle = std::chrono::duration<double>(Clock::now() - idleStart).count();
    const double cpu = cpuSeconds() - cpuBefore;
    const double kcatCpu = processCpuSeconds(kcat.pid()) - kcatBefore;
    const std::int32_t requests = connection.value()->nextCorrelationId() - requestsBefore - 1;
    std::printf("idle following of %d caught-up partitions for %.1f s:\n", partitions, idle);
    std::printf("  fetcher: %.1f requests/s, CPU %.3f s (%.2f %% of one core)\n", double(requests) / idle, cpu,
        100 * cpu / idle);
    std::printf("  kcat:    CPU %.3f s (%.2f %% of one core)\n", kcatCpu, 100 * kcatCpu / idle);
    std::fflush(stdout);

    // One record at a time, at random moments within the fetcher's wait.
    TestProducer producer;
    TestProducer::Options options;
    options.bootstrap = bootstrap;
    options.compression = QStringLiteral("lz4");
    options.lingerMs = 0;
    if (QString error = producer.open(options); !error.isEmpty()) {
        std::fprintf(stderr, "producer: %s\n", qPrintable(error));
        return 1;
    }
    QList<Clock::time_point> produced;
    for (int i = 0; i < count; ++i) {
        const QByteArray value = "delay-" + QByteArray::number(i);
        produced.append(Clock::now());
        producer.produce({ topic, i % partitions, std::nullopt, value, {}, 0 });
        producer.flush();
        QThread::msleep(QRandomGenerator::global()->bounded(20, 120));
    }
    waitUntil(
        [&] {
            QMutexLocker lock(&mutex);
            return deliveries.size() >= count;
        },
        10000);
    waitUntil(
        [&] {
            return kcat.arrival("delay-" + QByteArray::number(count - 1)) != Clock::time_point {};
        },
        10000);
    QThread::msleep(500);

    QList<Clock::time_point> fetcherTimes;
    QList<Clock::time_point> kcatTimes;
    for (int i = 0; i < count; ++i) {
        const QByteArray value = "delay-" + QByteArray::number(i);
        QMutexLocker lock(&mutex);
        fetcherTimes.append(deliveries.value(value));
        kcatTimes.append(kcat.arrival(value));
    }
    const Delays ours = delaysOf(produced, fetcherTimes);
    const Delays theirs = delaysOf(produced, kcatTimes);
    std::printf("produce-to-delivery delay over %d records produced one at a time:\n", count);
    std::printf("  fetcher: p50 %.1f ms, max %.1f ms, %d missing\n", ours.p50, ours.max, ours.missing);
    std::printf("  kcat:    p50 %.1f ms, max %.1f ms, %d missing\n", theirs.p50, theirs.max, theirs.missing);
    return failed ? 1 : 0;
}
