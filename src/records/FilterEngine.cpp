#include "FilterEngine.h"

#include "KafkaRecordStorage.h"
#include "RecordDeserializer.h"

#include <QMutexLocker>

#include <algorithm>
#include <utility>

FilterEngine::FilterEngine()
    : m_thread(std::make_unique<QThread>())
{
    m_thread->setObjectName(QStringLiteral("FilterThread"));
    m_thread->start();
    moveToThread(m_thread.get());
}

FilterEngine::~FilterEngine()
{
    m_stopping = true;
    m_thread->quit();
    m_thread->wait();
    m_thread.reset();
}

void FilterEngine::updateFilter(Filter filter)
{
    const QMutexLocker locker(&m_lock);
    const auto stored = std::find_if(m_filters.begin(), m_filters.end(),
        [&](const StoredFilter& candidate) { return candidate.filter.id == filter.id; });
    if (stored != m_filters.end()) {
        *stored->withdrawn = true;
        *stored = StoredFilter { std::move(filter) };
    } else {
        m_filters.append(StoredFilter { std::move(filter) });
    }
}

void FilterEngine::removeFilterById(int id)
{
    const QMutexLocker locker(&m_lock);
    m_filters.removeIf([id](const StoredFilter& stored) {
        if (stored.filter.id != std::int64_t(id))
            return false;
        *stored.withdrawn = true;
        return true;
    });
}

std::optional<Filter> FilterEngine::findFilterById(int id) const
{
    const QMutexLocker locker(&m_lock);
    for (const StoredFilter& stored : m_filters) {
        if (stored.filter.id == std::int64_t(id))
            return stored.filter;
    }
    return std::nullopt;
}

QList<SubscriptionFilter> FilterEngine::buildSubscriptionFilters() const
{
    const QMutexLocker locker(&m_lock);
    QList<SubscriptionFilter> subscriptions;
    subscriptions.reserve(m_filters.size());
    for (const StoredFilter& stored : m_filters)
        subscriptions.append(buildSubscriptionFilter(stored.filter));
    return subscriptions;
}

void FilterEngine::filterRecords(QList<KafkaRecord> records) const
{
    QList<StoredFilter> filters;
    {
        const QMutexLocker locker(&m_lock);
        filters = m_filters;
    }

    // Withdrawals and the engine's destruction are looked at before every
    // record, so that neither waits for the rest of the batch.
    QList<KafkaRecord> filteredRecords;
    for (KafkaRecord& record : records) {
        if (m_stopping)
            return;
        const bool accepted = std::any_of(filters.cbegin(), filters.cend(), [&](const StoredFilter& stored) {
            return !*stored.withdrawn && recordMatchesFilter(record, stored.filter);
        });
        if (accepted)
            filteredRecords.append(std::move(record));
    }
    if (filteredRecords.size() < records.size())
        KafkaRecordStorage::releaseSparseBlocks(filteredRecords);
    emit recordsFiltered(std::move(filteredRecords));
}

bool FilterEngine::recordMatchesFilter(const KafkaRecord& record, const Filter& filter) const
{
    if (record.topic != filter.topic)
        return false;
    return std::all_of(filter.conditions.cbegin(), filter.conditions.cend(),
        [&](const FilterCondition& condition) { return recordMatchesCondition(record, condition); });
}

bool FilterEngine::recordMatchesCondition(const KafkaRecord& record, const FilterCondition& condition) const
{
    switch (condition.target) {
    case FilterCondition::Target::Records:
        return true;
    case FilterCondition::Target::Partition:
        return numericValueMatchesCondition(record.partition, condition);
    case FilterCondition::Target::Offset:
        return numericValueMatchesCondition(record.offset, condition);
    case FilterCondition::Target::Timestamp:
        return numericValueMatchesCondition(record.timestamp, condition);
    case FilterCondition::Target::Key:
        return stringValueMatchesCondition(QString::fromUtf8(record.key), condition);
    case FilterCondition::Target::Header: {
        const auto header = std::find_if(record.headers.cbegin(), record.headers.cend(),
            [&](const KafkaHeader& candidate) { return candidate.key == condition.headerName; });
        // An empty value is a value; only a missing header or a null value fails.
        if (header == record.headers.cend() || header->value.isNull())
            return false;
        return stringValueMatchesCondition(QString::fromUtf8(header->value), condition);
    }
    case FilterCondition::Target::Body:
        return stringValueMatchesCondition(bodyText(record), condition);
    }
    return false;
}

bool FilterEngine::stringValueMatchesCondition(const QString& value, const FilterCondition& condition) const
{
    switch (condition.operation) {
    case FilterCondition::Operator::EqualTo:
        return value == condition.expectedString;
    case FilterCondition::Operator::Containing:
        return value.contains(condition.expectedString, Qt::CaseSensitive);
    case FilterCondition::Operator::Matching:
        return condition.regex.match(value).hasMatch();
    default:
        return false;
    }
}

bool FilterEngine::numericValueMatchesCondition(long long value, const FilterCondition& condition) const
{
    switch (condition.operation) {
    case FilterCondition::Operator::EqualTo:
        return value == condition.value;
    case FilterCondition::Operator::GreaterThan:
        return value >= condition.min;
    case FilterCondition::Operator::LowerThan:
        return value <= condition.max;
    case FilterCondition::Operator::Between:
        return condition.min <= value && value <= condition.max;
    default:
        return false;
    }
}

QString FilterEngine::bodyText(const KafkaRecord& record) const
{
    if (deserializer) {
        Result<DeserializedRecord, KafkaError> result = deserializer->deserializeRecord(record);
        // Failures fall back to the raw value, and so do values without text.
        if (result.hasValue() && result.value().contentType != Config::ContentType::Binary
            && result.value().contentType != Config::ContentType::Protobuf)
            return std::move(result).value().text;
    }
    return QString::fromUtf8(record.value);
}
