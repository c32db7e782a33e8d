#include "RecordListInsertionBench.h"

#include "BenchSupport.h"
#include "EventLoopMeasures.h"
#include "KafkaRecordListItemDelegate.h"
#include "KafkaRecordModel.h"
#include "RecordListView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QRandomGenerator>

#include <algorithm>
#include <memory>

namespace Bench {

namespace {

constexpr int Partitions = 6;
constexpr int FetchBatch = 500;
constexpr std::int64_t Day = 24 * 60 * 60 * 1000;
constexpr std::int64_t Now = 1'700'000'000'000;

KafkaRecord makeRecord(std::int64_t timestamp, int partition, std::int64_t offset)
{
    KafkaRecord r;
    r.timestamp = timestamp;
    r.topic = QStringLiteral("orders");
    r.partition = partition;
    r.offset = offset;
    r.key = "order-" + QByteArray::number(offset);
    r.value = textValue(offset, 100);
    return r;
}

// One turn of the tab: the slice goes in, then the event loop runs what
// that posted (scroll bars, painting). Milliseconds of both.
double insertAndTurn(KafkaRecordModel& model, QList<KafkaRecord> slice)
{
    QElapsedTimer timer;
    timer.start();
    model.insertRecords(std::move(slice));
    QApplication::processEvents();
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

std::unique_ptr<QAbstractItemView> makeRecordList(
    ShownList kind, KafkaRecordModel& model, KafkaRecordListItemDelegate& delegate)
{
    std::unique_ptr<QAbstractItemView> view;
    if (kind == ShownList::Records) {
        view = std::make_unique<RecordListView>();
    } else if (kind == ShownList::OldQListView) {
        auto list = std::make_unique<QListView>();
        list->setUniformItemSizes(true);
        list->setLayoutMode(QListView::Batched);
        list->setBatchSize(20'000);
        view = std::move(list);
    }
    if (view) {
        view->setItemDelegate(&delegate);
        view->setModel(&model);
        view->resize(420, 600);
        view->show();
    }
    return view;
}

SliceFigures insertInSlices(ShownList list, int records, int slice, bool interleaved)
{
    KafkaRecordModel model;
    KafkaRecordListItemDelegate delegate;
    const std::unique_ptr<QAbstractItemView> view = makeRecordList(list, model, delegate);
    QApplication::processEvents();
    QList<KafkaRecord> all;
    all.reserve(records);
    for (int n = 0; n < records; ++n) {
        if (!interleaved) {
            all.append(makeRecord(Now + n, n % Partitions, n / Partitions));
            continue;
        }
        // Fetch batches of one partition each, partitions in turn.
        const int batch = n / FetchBatch;
        const int partition = batch % Partitions;
        const std::int64_t offset = std::int64_t(batch / Partitions) * FetchBatch + n % FetchBatch;
        all.append(makeRecord(Now + offset * Partitions + partition, partition, offset));
    }
    SliceFigures figures;
    for (qsizetype first = 0; first < all.size(); first += slice) {
        QList<KafkaRecord> part = all.mid(first, slice);
        const double ms = insertAndTurn(model, std::move(part));
        figures.totalMs += ms;
        figures.longestTurnMs = std::max(figures.longestTurnMs, ms);
    }
    return figures;
}

SelectionFigures burstsAmongSelection(ShownList list, int rows, int bursts, int burstSize, bool allSelected)
{
    KafkaRecordModel model;
    QList<KafkaRecord> held;
    held.reserve(rows);
    for (int n = 0; n < rows; ++n)
        held.append(makeRecord(Now - 30 * Day + n * (30 * Day / rows), 0, n));
    model.insertRecords(std::move(held));
    KafkaRecordListItemDelegate delegate;
    const std::unique_ptr<QAbstractItemView> view = makeRecordList(list, model, delegate);
    if (view) {
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setCurrentIndex(model.index(rows / 2, 0));
        if (allSelected)
            view->selectAll();
        QApplication::processEvents();
    }

    QRandomGenerator random(42);
    std::int64_t offset = 0;
    SelectionFigures figures;
    for (int burst = 0; burst < bursts; ++burst) {
        QList<KafkaRecord> records;
        records.reserve(burstSize);
        for (int n = 0; n < burstSize; ++n)
            records.append(makeRecord(Now - std::int64_t(random.bounded(quint64(30 * Day))), 1 + n % 5, offset++));
        const double ms = insertAndTurn(model, std::move(records));
        figures.totalMs += ms;
        figures.longestBurstMs = std::max(figures.longestBurstMs, ms);
    }
    figures.heapBytes = heapInUse();
    return figures;
}

} // namespace Bench
