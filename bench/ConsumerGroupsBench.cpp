// The consumer groups tab on hostile answers of a stand-in coordinator, beside
// a small group in the same run: how long the event loop is held up while the
// tab shows a group, how many errors it keeps and how much heap it takes.
//
// Usage: bench_consumer_groups [partitions] [topics] [flood] [one-topic partitions] [listed groups]
//   (defaults 1,000,000 partitions over 30,000 topics; an OffsetFetch answer
//   of 1,000,000 failing partitions not asked for; 2,000,000 partitions of one
//   topic; a ListGroups answer of 300,000 groups)
// Run from a build without sanitizers.
#include "BenchSupport.h"
#include "ConsumerAssignmentModel.h"
#include "ConsumersWidget.h"
#include "EventLoopMeasures.h"
#include "FakeBroker.h"
#include "KafkaClusterClient.h"
#include "Settings.h"

#include <QApplication>
#include <QComboBox>
#include <QSignalSpy>
#include <QStatusBar>
#include <QScopeGuard>
#include <QTableView>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <memory>

namespace {

constexpr int WaitMs = 600000;

// Partitions by topic, as an assignment, a request or an answer names them.
using Topics = QList<std::pair<QString, QList<std::int32_t>>>;

Topics spread(int partitions, int topics)
{
    Topics spreadTopics;
    for (int topic = 0; topic < topics; ++topic) {
        QList<std::int32_t> indexes;
        for (int index = 0; index < partitions / topics + (topic < partitions % topics ? 1 : 0); ++index)
            indexes.append(index);
        spreadTopics.append({ QStringLiteral("topic-%1").arg(topic, 6, 10, QLatin1Char('0')), indexes });
    }
    return spreadTopics;
}

QByteArray describedGroup(const Topics& topics)
{
    ResponseImage assignment;
    assignment.s16(1).s32(std::int32_t(topics.size()));
    for (const auto& [topic, partitions] : topics)
        assignment.string(topic).int32Array(partitions);
    ResponseImage image;
    image.s32(1).s16(0).string("g").string("Stable").string("consumer").string("range").s32(1);
    return image.string("m").string("client").string("/h").bytes({}).bytes(assignment.s32(-1).data()).data();
}

// The partitions of an OffsetFetch (version 1) or ListOffsets (version 1) request.
Topics requested(const QByteArray& body, bool listOffsets)
{
    KafkaBuffer in(body);
    if (listOffsets) {
        in.readS32();
    } else {
        in.readString();
    }
    Topics topics;
    for (std::int32_t topic = in.readS32(); topic > 0; --topic) {
        auto& entry = topics.emplaceBack(in.readString(), QList<std::int32_t>());
        for (std::int32_t partition = in.readS32(); partition > 0; --partition) {
            entry.second.append(in.readS32());
            if (listOffsets)
                in.readS64();
        }
    }
    return topics;
}

QByteArray committedOffsets(const Topics& topics, std::int16_t errorCode)
{
    ResponseImage image;
    image.s32(std::int32_t(topics.size()));
    for (const auto& [topic, partitions] : topics) {
        image.string(topic).s32(std::int32_t(partitions.size()));
        for (std::int32_t partition : partitions)
            image.s32(partition).s64(5).nullString().s16(errorCode);
    }
    return image.data();
}

QByteArray latestOffsets(const Topics& topics)
{
    ResponseImage image;
    image.s32(std::int32_t(topics.size()));
    for (const auto& [topic, partitions] : topics) {
        image.string(topic).s32(std::int32_t(partitions.size()));
        for (std::int32_t partition : partitions)
            image.s32(partition).s16(0).s64(-1).s64(9);
    }
    return image.data();
}

// One OffsetFetch answer of one topic with a long name whose partitions, none
// of them asked for, all carry an error: about 16 MB for a million.
QByteArray floodOfUnaskedErrors(std::int32_t count)
{
    const QString name(2000, QLatin1Char('n'));
    ResponseImage image;
    image.s32(1).string(name).s32(count);
    for (std::int32_t partition = 0; partition < count; ++partition)
        image.s32(partition).s64(-1).nullString().s16(3);
    return image.data();
}

struct Figures {
    double worstStallMs = 0;
    double leaveStallMs = 0;
    qsizetype errors = 0;
    qint64 heapGrowth = 0;
    qint64 peakGrowth = 0;
    int rows = 0;
    QString firstError;
};

// ListGroups version 0: `count` consumer groups, besides "g".
QByteArray listedGroups(int count)
{
    ResponseImage image;
    image.s16(0).s32(count + 1).string("g").string("consumer");
    for (int group = 0; group < count; ++group)
        image.string(QStringLiteral("group-%1").arg(count - group, 7, 10, QLatin1Char('0'))).string("consumer");
    return image.data();
}

// Shows group "g" of one member owning `topics`, each known to the metadata
// with its partitions unless `failing`; the coordinator answers OffsetFetch
// with `offsets` (empty: the committed offset 5 of every partition asked for,
// or an error for each when `failing`) and every ListOffsets with the latest
// offset 9. With `moreGroups`, the coordinator lists as many more groups, and
// the figures are those of the tab's opening until the groups are listed.
Figures showGroup(const Topics& topics, const QByteArray& offsets, bool failing = false, int moreGroups = 0)
{
    // The coordinator answers on a thread of its own, so that building its
    // answers does not count as the tab's stall.
    QThread coordinatorThread;
    QObject coordinatorContext;
    coordinatorContext.moveToThread(&coordinatorThread);
    coordinatorThread.start();
    std::unique_ptr<FakeBroker> coordinator;
    std::atomic<bool> offsetsAnswered = false;
    QMetaObject::invokeMethod(&coordinatorContext, [&] {
        coordinator = std::make_unique<FakeBroker>(FakeBroker::Mode::Cluster);
        FakeBroker* broker = coordinator.get();
        broker->apiVersions += { { 16, 0, 0 }, { 15, 0, 0 }, { 9, 1, 1 }, { 2, 1, 1 } };
        for (const auto& [topic, partitions] : topics) {
            if (!failing)
                broker->topics.append({ topic, QList<std::int32_t>(partitions.size(), 1) });
        }
        const QByteArray listed = listedGroups(moreGroups);
        const QByteArray described = describedGroup(topics);
        broker->onFrame = [&, broker, listed, described](const FakeBroker::Frame& frame) {
            switch (KafkaApiKey(frame.apiKey)) {
            case KafkaApiKey::ListGroups:
                broker->reply(frame, listed);
                break;
            case KafkaApiKey::DescribeGroups:
                broker->reply(frame, described);
                break;
            case KafkaApiKey::OffsetFetch:
                broker->reply(frame, offsets.isEmpty() ? committedOffsets(requested(frame.body, false), failing ? 3 : 0) : offsets);
                offsetsAnswered = true;
                break;
            case KafkaApiKey::ListOffsets:
                broker->reply(frame, latestOffsets(requested(frame.body, true)));
                break;
            default:
                break;
            }
        };
    }, Qt::BlockingQueuedConnection);
    const auto stopCoordinator = qScopeGuard([&] {
        QMetaObject::invokeMethod(&coordinatorContext, [&] { coordinator.reset(); }, Qt::BlockingQueuedConnection);
        coordinatorThread.quit();
        coordinatorThread.wait();
    });

    Config config;
    config.cluster.brokers = { Config::Broker { QStringLiteral("127.0.0.1"), coordinator->port() } };
    auto client = std::make_shared<KafkaClusterClient>(QStringLiteral("bench"), config.cluster);
    QSignalSpy bootstrapped(client.get(), &KafkaClusterClient::bootstrapComplete);
    client->bootstrap();
    if (!bootstrapped.wait(WaitMs))
        return {};
    QStatusBar statusBar;
    Settings settings;
    qint64 heapBefore = heapInUse();
    qint64 peakBefore = peakResidentBytes();
    // From the tab's opening until its groups are listed, then from the
    // choice of a group until its lag shows.
    auto stalls = std::make_unique<EventLoopStalls>();
    stalls->start();
    ConsumersWidget widget(statusBar, settings, config, client);
    widget.resize(1000, 700);
    widget.show();
    auto& selector = *widget.findChild<QComboBox*>();
    if (!QTest::qWaitFor([&] { return selector.count() == moreGroups + 1; }, WaitMs))
        return {};
    QTest::qWait(moreGroups > 0 ? 1000 : 100);
    if (moreGroups > 0) {
        stalls->stop();
        Figures figures;
        figures.worstStallMs = stalls->percentileMs(100);
        figures.errors = widget.errors.size();
        figures.heapGrowth = heapInUse() - heapBefore;
        figures.peakGrowth = peakResidentBytes() - peakBefore;
        figures.rows = selector.count();
        return figures;
    }

    heapBefore = heapInUse();
    peakBefore = peakResidentBytes();
    stalls = std::make_unique<EventLoopStalls>();
    stalls->start();
    selector.setCurrentIndex(0);
    // Until the lag of the first and the last row shows (the flood: until
    // the coordinator has answered).
    const QAbstractItemModel& table = *widget.findChild<QTableView*>()->model();
    const auto lagShown = [&table](int row) { return table.index(row, ConsumerAssignmentModel::LagColumn).data().isValid(); };
    if (!QTest::qWaitFor(
            [&] {
                return offsetsAnswered
                    && (!offsets.isEmpty() || failing || (lagShown(0) && lagShown(table.rowCount() - 1)));
            },
            WaitMs))
        std::printf("(timed out)\n");
    QTest::qWait(1000); // the answers still coming, and the table painting them
    stalls->stop();

    Figures figures;
    figures.worstStallMs = stalls->percentileMs(100);
    figures.errors = widget.errors.size();
    figures.firstError = widget.errors.isEmpty() ? QString() : widget.errors.first().message.left(160);
    figures.heapGrowth = heapInUse() - heapBefore;
    figures.peakGrowth = peakResidentBytes() - peakBefore;
    figures.rows = widget.findChild<QTableView*>()->model()->rowCount();

    // Leaving the group for none.
    stalls = std::make_unique<EventLoopStalls>();
    stalls->start();
    selector.setCurrentIndex(-1);
    QTest::qWait(500);
    stalls->stop();
    figures.leaveStallMs = stalls->percentileMs(100);
    return figures;
}

void print(const char* what, const Figures& figures)
{
    std::printf("%-44s %8d rows  worst stall %8.1f ms  %6lld errors  heap +%7.1f MB  peak RSS +%7.1f MB\n", what,
        figures.rows, figures.worstStallMs, static_cast<long long>(figures.errors), double(figures.heapGrowth) / 1e6,
        double(figures.peakGrowth) / 1e6);
    if (figures.leaveStallMs > 0)
        std::printf("    leaving the group: worst stall %.1f ms\n", figures.leaveStallMs);
    if (!figures.firstError.isEmpty())
        std::printf("    first error: %s\n", qPrintable(figures.firstError));
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int partitions = Bench::argument(argc, argv, 1, 1'000'000);
    const int topics = Bench::argument(argc, argv, 2, 30'000);

    const Figures peer = showGroup(spread(1000, 10), {});
    print("peer: 1,000 partitions over 10 topics", peer);
    // First, while the peak resident size is still the peer's.
    const int floodSize = Bench::argument(argc, argv, 3, 1'000'000);
    const Figures flood = showGroup(spread(2, 1), floodOfUnaskedErrors(floodSize));
    print(qPrintable(QStringLiteral("OffsetFetch of %1 unasked failures").arg(floodSize)), flood);

    const Figures large = showGroup(spread(partitions, topics), {});
    print(qPrintable(QStringLiteral("%1 partitions over %2 topics").arg(partitions).arg(topics)), large);
    std::printf("stall ratio against the peer: %.1f\n", large.worstStallMs / std::max(peer.worstStallMs, 0.1));

    const Figures failing = showGroup(spread(partitions, topics), {}, true);
    print("the same, topics unknown, every offset failing", failing);

    const int oneTopic = Bench::argument(argc, argv, 4, 2'000'000);
    const Figures single = showGroup(spread(oneTopic, 1), {});
    print(qPrintable(QStringLiteral("%1 partitions of one topic").arg(oneTopic)), single);
    std::printf("stall ratio against the peer: %.1f\n", single.worstStallMs / std::max(peer.worstStallMs, 0.1));

    const int moreGroups = Bench::argument(argc, argv, 5, 300'000);
    const Figures listed = showGroup(spread(1, 1), {}, false, moreGroups);
    print(qPrintable(QStringLiteral("ListGroups of %1 groups (groups listed)").arg(moreGroups + 1)), listed);
    std::printf("stall ratio against the peer: %.1f\n", listed.worstStallMs / std::max(peer.worstStallMs, 0.1));
    return 0;
}
