// The record list as the records tab shows it: a KafkaRecordModel in a
// QListView with uniform item sizes and the record delegate, on the offscreen
// platform. Batches arrive from another thread as queued calls, as the filter
// engine's answers do, and the event loop runs between them. Each batch comes
// from one of six partitions in turn, so batches interleave in time and land
// near, not at, the end of the list.
//
// Figures: time per insertRecords call (mean, at the end, worst), the worst
// event-loop stall (the longest gap between two ticks of a 1 ms timer), and
// the heap bytes per record beyond the value bytes. The peer: the same records
// appended to a plain vector, which is what the records themselves cost.
//
//   bench_record_model [records] [records per batch] [value bytes] [layout batch]
//
// With a layout batch, the view lays out that many rows per step of the event
// loop (QListView::Batched) instead of all rows at once, as the records tab's
// view does by default.
//
// Heap figures come from glibc's allocator statistics: build without the
// sanitizers, which replace the allocator.
#include "BenchSupport.h"
#include "EventLoopMeasures.h"
#include "KafkaRecordListItemDelegate.h"
#include "KafkaRecordModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QSemaphore>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace Bench;

namespace {

constexpr int Partitions = 6;
constexpr std::int64_t FirstTimestamp = 1'700'000'000'000;

// Batch `index`: records of partition index % 6 with consecutive offsets; the
// partitions' timestamps interleave. Each value and key is an array of its own
// exact size, as the record-batch parser makes them.
QList<KafkaRecord> makeBatch(const QString& topic, int index, int size, int valueBytes)
{
    QList<KafkaRecord> batch;
    batch.reserve(size);
    const int partition = index % Partitions;
    const std::int64_t firstOffset = std::int64_t(index / Partitions) * size;
    for (int n = 0; n < size; ++n) {
        KafkaRecord r;
        r.offset = firstOffset + n;
        r.partition = partition;
        r.topic = topic;
        r.timestamp = FirstTimestamp + r.offset * Partitions + (partition * 7) % Partitions;
        r.key = "order-" + QByteArray::number(r.offset * Partitions + partition);
        r.key.squeeze();
        r.value = textValue(r.offset * Partitions + partition, valueBytes);
        r.value.squeeze();
        batch.append(std::move(r));
    }
    return batch;
}

struct Figures {
    double meanBatchMs = 0;
    double lastBatchesMs = 0;
    double worstBatchMs = 0;
    double worstStallMs = 0;
    double stallP99Ms = 0;
    double heapPerRecord = 0;
    double seconds = 0;
    // One layout of all rows, as the view does after every insertion.
    double fullLayoutMs = 0;
};

Figures runModel(int records, int batchSize, int valueBytes, int layoutBatch)
{
    KafkaRecordModel model;
    KafkaRecordListItemDelegate delegate;
    QListView view;
    view.setUniformItemSizes(true);
    if (layoutBatch > 0) {
        view.setLayoutMode(QListView::Batched);
        view.setBatchSize(layoutBatch);
    }
    view.setItemDelegate(&delegate);
    view.setModel(&model);
    view.resize(420, 600);
    view.show();
    QApplication::processEvents();

    const int batches = (records + batchSize - 1) / batchSize;
    std::vector<double> batchMs;
    batchMs.reserve(std::size_t(batches));
    const qint64 heapBefore = heapInUse();
    QElapsedTimer clock;
    clock.start();

    EventLoopStalls stalls;
    stalls.start();

    // The producer stays at most two batches ahead of the list.
    QSemaphore room(2);
    int inserted = 0;
    const QString topic = QStringLiteral("orders");
    QObject* receiver = &view;
    const std::unique_ptr<QThread> producer(QThread::create([&] {
        for (int b = 0; b < batches; ++b) {
            room.acquire();
            QList<KafkaRecord> batch = makeBatch(topic, b, std::min(batchSize, records - b * batchSize), valueBytes);
            QMetaObject::invokeMethod(receiver, [&, batch = std::move(batch)]() mutable {
                QElapsedTimer timer;
                timer.start();
                model.insertRecords(std::move(batch));
                batchMs.push_back(double(timer.nsecsElapsed()) / 1e6);
                room.release();
                if (++inserted == batches)
                    QTimer::singleShot(200, QApplication::instance(), &QApplication::quit);
            });
        }
    }));
    const double start = double(clock.nsecsElapsed());
    producer->start();
    QApplication::exec();
    producer->wait();
    stalls.stop();
    const qint64 heapAfter = heapInUse();

    Figures figures;
    figures.seconds = (double(clock.nsecsElapsed()) - start) / 1e9;
    figures.heapPerRecord = double(heapAfter - heapBefore) / model.rowCount() - valueBytes;
    if (layoutBatch <= 0) {
        QElapsedTimer timer;
        timer.start();
        view.doItemsLayout();
        figures.fullLayoutMs = double(timer.nsecsElapsed()) / 1e6;
    }
    for (double ms : batchMs)
        figures.meanBatchMs += ms / double(batchMs.size());
    const auto tail = batchMs.end() - std::min<std::ptrdiff_t>(20, std::ssize(batchMs));
    for (auto it = tail; it != batchMs.end(); ++it)
        figures.lastBatchesMs += *it / double(batchMs.end() - tail);
    figures.worstBatchMs = *std::max_element(batchMs.begin(), batchMs.end());
    figures.worstStallMs = stalls.percentileMs(100);
    figures.stallP99Ms = stalls.percentileMs(99);
    if (model.rowCount() != records)
        std::fprintf(stderr, "the list holds %d of %d records\n", model.rowCount(), records);
    return figures;
}

// The peer: the same records in a vector, appended one by one.
Figures runVector(int records, int batchSize, int valueBytes)
{
    const qint64 heapBefore = heapInUse();
    std::vector<KafkaRecord> held;
    held.reserve(std::size_t(records));
    QElapsedTimer clock;
    clock.start();
    const QString topic = QStringLiteral("orders");
    for (int b = 0; b * batchSize < records; ++b) {
        for (KafkaRecord& r : makeBatch(topic, b, std::min(batchSize, records - b * batchSize), valueBytes))
            held.push_back(std::move(r));
    }
    Figures figures;
    figures.seconds = double(clock.nsecsElapsed()) / 1e9;
    figures.heapPerRecord = double(heapInUse() - heapBefore) / double(held.size()) - valueBytes;
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int records = argument(argc, argv, 1, 1'000'000);
    const int batchSize = argument(argc, argv, 2, 5'000);
    const int valueBytes = argument(argc, argv, 3, 200);
    const int layoutBatch = argument(argc, argv, 4, 0);

    std::printf("%d records of %d-byte values (keys of 9 to 13 bytes) in batches of %d, from %d partitions in turn\n",
        records, valueBytes, batchSize, Partitions);
    if (layoutBatch > 0)
        std::printf("the view lays out %d rows per step (QListView::Batched)\n", layoutBatch);
    const Figures model = runModel(records, batchSize, valueBytes, layoutBatch);
    std::printf("list view:  %.1f s; insertRecords per batch %.2f ms mean, %.2f ms over the last 20, %.2f ms worst\n",
        model.seconds, model.meanBatchMs, model.lastBatchesMs, model.worstBatchMs);
    std::printf("            event-loop stall %.1f ms worst, %.1f ms at the 99th percentile\n", model.worstStallMs,
        model.stallP99Ms);
    if (layoutBatch <= 0)
        std::printf("            one layout of all rows by the view: %.1f ms\n", model.fullLayoutMs);
    std::printf("            heap beyond the values: %.0f B per record\n", model.heapPerRecord);
    const Figures vector = runVector(records, batchSize, valueBytes);
    std::printf("vector:     %.1f s; heap beyond the values: %.0f B per record (sizeof(KafkaRecord) = %zu)\n",
        vector.seconds, vector.heapPerRecord, sizeof(KafkaRecord));
    std::printf("the model and the view beyond the records themselves: %.0f B per record\n",
        model.heapPerRecord - vector.heapPerRecord);
    return 0;
}
