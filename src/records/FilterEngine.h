#pragma once

#include "Filter.h"
#include "KafkaRecord.h"
#include "SubscriptionFilter.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

class RecordDeserializer;

// Keeps the applied filters of one records tab and tests fetched records
// against them on a thread of its own ("FilterThread"), so that decoding and
// matching never block the GUI.
//
// The GUI thread stores, removes and reads filters and posts each batch to
// filterRecords with a queued call; the filter list is guarded by a mutex that
// filterRecords holds only to copy the list, so a filter changed during a
// batch applies from the next batch. The answer comes back through
// recordsFiltered.
//
// A filter that is removed or replaced is withdrawn at once from the batch
// under way: that batch stops trying it from the next record on (the records
// it alone would still have kept are dropped; the other filters go on as
// before), and batches queued behind never see it. Destroying the engine
// stops the batch under way between two records and drops the queued ones
// unanswered, so neither waits for an expensive filter to get through a
// batch. Between two checks lies the test of one record: one match of a
// regular expression stops at PCRE2's default match limit, which Qt leaves
// in place, so even a catastrophic expression costs tens of milliseconds a
// record, not more.
class FilterEngine : public QObject {
    Q_OBJECT

public:
    // Starts the filter thread and moves the engine onto it.
    FilterEngine();
    // Stops the batch under way between two records and joins the filter
    // thread; batches not yet filtered are dropped unanswered.
    ~FilterEngine() override;

    FilterEngine(const FilterEngine&) = delete;
    FilterEngine& operator=(const FilterEngine&) = delete;

    // The id for the next new filter: the owner reads it and increments it.
    // GUI thread only.
    int nextFilterId = 0;

    // Decodes record values for Body conditions; may be null (values are then
    // read as UTF-8). Not owned. Set before the first batch and never changed;
    // it must outlive the engine, since the filter thread calls it
    // concurrently with its other users.
    const RecordDeserializer* deserializer = nullptr;

    // Replaces the stored filter with the same id in place, or appends.
    void updateFilter(Filter filter);
    // Removes every stored filter with this id.
    void removeFilterById(int id);
    // A copy of the stored filter with this id, if any.
    std::optional<Filter> findFilterById(int id) const;
    // The fetch bounds of every stored filter, in stored order.
    QList<SubscriptionFilter> buildSubscriptionFilters() const;

    // Whether the record belongs to the filter's topic and passes all of its
    // conditions (tested in order, stopping at the first that fails).
    bool recordMatchesFilter(const KafkaRecord& record, const Filter& filter) const;
    bool recordMatchesCondition(const KafkaRecord& record, const FilterCondition& condition) const;
    bool stringValueMatchesCondition(const QString& value, const FilterCondition& condition) const;
    bool numericValueMatchesCondition(long long value, const FilterCondition& condition) const;

public slots:
    // Keeps the records that some stored filter accepts, in input order, and
    // emits them (also when none passed). A batch cut short by the engine's
    // destruction is not answered. Called on the filter thread.
    void filterRecords(QList<KafkaRecord> records) const;

signals:
    void recordsFiltered(QList<KafkaRecord> filteredRecords) const;

private:
    // A stored filter with the flag that withdraws it from the batch under
    // way. The flag is set, under the lock, by the GUI thread when the filter
    // is removed or replaced, and read by the filter thread without it.
    struct StoredFilter {
        Filter filter;
        std::shared_ptr<std::atomic<bool>> withdrawn = std::make_shared<std::atomic<bool>>(false);
    };

    // The text that Body conditions test.
    QString bodyText(const KafkaRecord& record) const;

    QList<StoredFilter> m_filters;
    std::unique_ptr<QThread> m_thread;
    mutable QMutex m_lock;
    // Set by the destructor before it stops the thread; read by the filter thread.
    std::atomic<bool> m_stopping = false;
};
