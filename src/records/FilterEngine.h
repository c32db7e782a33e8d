#pragma once

#include "Filter.h"
#include "KafkaRecord.h"
#include "SubscriptionFilter.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>

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
class FilterEngine : public QObject {
    Q_OBJECT

public:
    // Starts the filter thread and moves the engine onto it.
    FilterEngine();
    // Stops and joins the filter thread; batches not yet filtered are dropped.
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
    // emits them (also when none passed). Called on the filter thread.
    void filterRecords(QList<KafkaRecord> records) const;

signals:
    void recordsFiltered(QList<KafkaRecord> filteredRecords) const;

private:
    // The text that Body conditions test.
    QString bodyText(const KafkaRecord& record) const;

    QList<Filter> m_filters;
    std::unique_ptr<QThread> m_thread;
    mutable QMutex m_lock;
};
