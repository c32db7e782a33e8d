#pragma once

// The record list taking large amounts of records as the records tab hands
// them over: a slice per turn of the event loop. Part of
// bench_record_list_arrivals.

#include <QAbstractItemView>

#include <memory>

class KafkaRecordListItemDelegate;
class KafkaRecordModel;

namespace Bench {

// Which list takes the records: the records tab's, the QListView the tab
// had before (batched layout, uniform item sizes), or none (the model alone).
enum class ShownList { Records, OldQListView, None };

// The list on the model, shown as the tab shows it; null for None.
std::unique_ptr<QAbstractItemView> makeRecordList(
    ShownList kind, KafkaRecordModel& model, KafkaRecordListItemDelegate& delegate);

// `records` records inserted in slices of `slice`, the event loop turned
// after each: the GUI thread's time in all, and its longest turn.
struct SliceFigures {
    double totalMs = 0;
    double longestTurnMs = 0;
};

// Records in time order (each slice continues the list), or as fetch
// batches of six partitions in turn whose times interleave.
SliceFigures insertInSlices(ShownList list, int records, int slice, bool interleaved);

// A list of `rows` records of the last 30 days, all of them or one
// selected, then `bursts` bursts of `burstSize` records whose times fall
// among them, each burst in one slice: the longest burst, all bursts, and
// the heap in use after them.
struct SelectionFigures {
    double longestBurstMs = 0;
    double totalMs = 0;
    qint64 heapBytes = 0;
};

SelectionFigures burstsAmongSelection(ShownList list, int rows, int bursts, int burstSize, bool allSelected);

} // namespace Bench
