// The records tab's list while records keep arriving: a RecordListView with
// the record delegate, on the offscreen platform, holding a million records,
// with a batch of records inserted every few milliseconds as a followed topic
// brings them. Each batch comes from one of six partitions in turn, so most
// land near, not at, the end of the list. The view shows the first rows.
//
// Figures, each beside the same list with nothing arriving:
// - frames without rows: every 16 ms the view is drawn as a repaint would
//   draw it now; a frame that draws no row, or whose top-left corner finds no
//   row, counts;
// - the longest event-loop stall (the longest gap between two ticks of a 1 ms
//   timer) and its 99th percentile;
// - the cost of one insertion (insertRecords of one batch, with everything
//   the view does in reaction), beside the same insertion into the model
//   alone, with no view.
// The list as the tab had it before, a QListView laying out 20,000 rows per
// step (QListView::Batched) with uniform item sizes, runs last for
// comparison.
//
// Then the amounts the tab hands over at once (RecordListInsertionBench):
// - the records inserted in the tab's slices of 10,000, the event loop turned
//   after each, up to the number of records: the GUI thread's time in all and
//   its longest turn, with the list shown beside the model alone, in time
//   order and as fetch batches of six partitions whose times interleave;
// - 32,000 records of the last 30 days, all selected or one, and 6 bursts of
//   8,000 records whose times fall among them: the longest burst, all bursts,
//   the heap in use afterwards.
//
//   bench_record_list_arrivals [records] [records per batch] [ms between batches] [seconds] [old list: 0 or 1]
#include "BenchSupport.h"
#include "DrawnText.h"
#include "EventLoopMeasures.h"
#include "KafkaRecordListItemDelegate.h"
#include "KafkaRecordModel.h"
#include "RecordListInsertionBench.h"
#include "RecordListView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace Bench;

namespace {

constexpr int Partitions = 6;
constexpr std::int64_t FirstTimestamp = 1'700'000'000'000;
constexpr int FrameMs = 16;

// Record `n` of the topic: partitions in turn, timestamps a millisecond
// apart, so that batches of one partition interleave with the others'.
KafkaRecord makeRecord(std::int64_t n)
{
    KafkaRecord r;
    r.partition = int(n % Partitions);
    r.offset = n / Partitions;
    r.topic = QStringLiteral("orders");
    r.timestamp = FirstTimestamp + n;
    r.key = "order-" + QByteArray::number(n);
    r.value = textValue(n, 100);
    return r;
}

// Batch `index` after the first `held` records: records of one partition,
// spread over the time that six batches cover.
QList<KafkaRecord> makeBatch(std::int64_t held, int index, int size)
{
    QList<KafkaRecord> batch;
    batch.reserve(size);
    const std::int64_t first = held + std::int64_t(index / Partitions) * Partitions * size + index % Partitions;
    for (int n = 0; n < size; ++n)
        batch.append(makeRecord(first + std::int64_t(n) * Partitions));
    return batch;
}

void fill(KafkaRecordModel& model, int records)
{
    QList<KafkaRecord> all;
    all.reserve(records);
    for (int n = 0; n < records; ++n)
        all.append(makeRecord(n));
    model.insertRecords(std::move(all));
}

struct Figures {
    int frames = 0;
    int framesWithoutRows = 0;
    double worstStallMs = 0;
    double stallP99Ms = 0;
    int inserts = 0;
    double meanInsertMs = 0;
    double worstInsertMs = 0;
};

Figures run(ShownList kind, int records, int batchSize, int intervalMs, int seconds, bool arriving)
{
    KafkaRecordModel model;
    fill(model, records);
    KafkaRecordListItemDelegate delegate;
    const std::unique_ptr<QAbstractItemView> view = makeRecordList(kind, model, delegate);
    if (view) {
        // The list is drawn before anything arrives.
        QElapsedTimer settling;
        settling.start();
        while (settling.elapsed() < 10'000 && !view->indexAt(QPoint(1, 1)).isValid())
            QApplication::processEvents();
    }

    Figures figures;
    std::vector<double> insertMs;
    QTimer arrivals;
    arrivals.setTimerType(Qt::PreciseTimer);
    arrivals.setInterval(intervalMs);
    QObject::connect(&arrivals, &QTimer::timeout, [&] {
        QList<KafkaRecord> batch = makeBatch(records, int(insertMs.size()), batchSize);
        QElapsedTimer timer;
        timer.start();
        model.insertRecords(std::move(batch));
        insertMs.push_back(double(timer.nsecsElapsed()) / 1e6);
    });
    QTimer frames;
    frames.setTimerType(Qt::PreciseTimer);
    frames.setInterval(FrameMs);
    QObject::connect(&frames, &QTimer::timeout, [&] {
        ++figures.frames;
        DrawnText drawn;
        view->viewport()->render(&drawn);
        if (drawn.lines().isEmpty() || !view->indexAt(QPoint(1, 1)).isValid())
            ++figures.framesWithoutRows;
    });

    EventLoopStalls stalls;
    stalls.start();
    if (arriving)
        arrivals.start();
    if (view)
        frames.start();
    QTimer::singleShot(seconds * 1000, QApplication::instance(), &QApplication::quit);
    QApplication::exec();
    arrivals.stop();
    frames.stop();
    stalls.stop();

    figures.worstStallMs = stalls.percentileMs(100);
    figures.stallP99Ms = stalls.percentileMs(99);
    figures.inserts = int(insertMs.size());
    for (double ms : insertMs) {
        figures.meanInsertMs += ms / double(insertMs.size());
        figures.worstInsertMs = std::max(figures.worstInsertMs, ms);
    }
    return figures;
}

void print(const char* what, const Figures& f)
{
    std::printf("%-34s %6d %8d %10.1f ms %8.1f ms", what, f.frames, f.framesWithoutRows, f.worstStallMs, f.stallP99Ms);
    if (f.inserts > 0)
        std::printf("  %6d  %7.3f / %7.3f ms", f.inserts, f.meanInsertMs, f.worstInsertMs);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int records = argument(argc, argv, 1, 1'000'000);
    const int batchSize = argument(argc, argv, 2, 20);
    const int intervalMs = argument(argc, argv, 3, 5);
    const int seconds = argument(argc, argv, 4, 10);
    const bool old = argument(argc, argv, 5, 1) != 0;

    std::printf("%d records in the list; %d more every %d ms for %d s, from %d partitions in turn\n", records,
        batchSize, intervalMs, seconds, Partitions);
    std::printf("%-34s %6s %8s %13s %11s  %6s  %s\n", "", "frames", "no rows", "worst stall", "stall p99",
        "inserts", "insert (mean / worst)");
    print("RecordListView, records arriving", run(ShownList::Records, records, batchSize, intervalMs, seconds, true));
    print("RecordListView, nothing arriving", run(ShownList::Records, records, batchSize, intervalMs, seconds, false));
    print("model alone, records arriving", run(ShownList::None, records, batchSize, intervalMs, seconds, true));
    if (old) {
        print("QListView batched, arriving", run(ShownList::OldQListView, records, batchSize, intervalMs, seconds, true));
        print("QListView batched, nothing", run(ShownList::OldQListView, records, batchSize, intervalMs, seconds, false));
    }

    std::printf("\n%d records in slices of 10,000, the event loop turned after each\n", records);
    std::printf("%-40s %12s %14s\n", "", "GUI time", "longest turn");
    for (const bool interleaved : { false, true }) {
        const char* order = interleaved ? "interleaved batches" : "time order";
        struct Kind {
            const char* name;
            ShownList list;
            SliceFigures best;
        };
        std::vector<Kind> kinds { { "RecordListView,", ShownList::Records, {} }, { "model alone,", ShownList::None, {} } };
        if (old)
            kinds.push_back({ "QListView batched,", ShownList::OldQListView, {} });
        // Rounds in turn, the best of each kept: the first round also pays
        // for the heap's first growth.
        for (int round = 0; round < 3; ++round) {
            for (Kind& kind : kinds) {
                const SliceFigures f = insertInSlices(kind.list, records, 10'000, interleaved);
                if (round == 0 || f.totalMs < kind.best.totalMs)
                    kind.best = f;
            }
        }
        for (const Kind& kind : kinds)
            std::printf("%-20s%-20s %9.0f ms %11.1f ms\n", kind.name, order, kind.best.totalMs, kind.best.longestTurnMs);
    }

    std::printf("\n32,000 records of 30 days, then 6 bursts of 8,000 among them\n");
    std::printf("%-34s %14s %12s %12s\n", "", "longest burst", "all bursts", "heap after");
    for (const bool all : { true, false }) {
        const SelectionFigures f = burstsAmongSelection(ShownList::Records, 32'000, 6, 8'000, all);
        std::printf("%-34s %11.1f ms %9.1f ms %9.1f MB\n", all ? "RecordListView, all selected" : "RecordListView, one selected",
            f.longestBurstMs, f.totalMs, double(f.heapBytes) / 1e6);
    }
    return 0;
}
