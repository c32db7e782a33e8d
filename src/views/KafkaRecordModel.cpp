#include "KafkaRecordModel.h"

#include <algorithm>
#include <tuple>
#include <vector>

bool KafkaRecordModel::RecordComparator::operator()(const KafkaRecord& left, const KafkaRecord& right) const
{
    if (left.timestamp != right.timestamp)
        return left.timestamp < right.timestamp;
    if (const int topicOrder = QString::compare(left.topic, right.topic, Qt::CaseSensitive))
        return topicOrder < 0;
    return std::tie(left.partition, left.offset) < std::tie(right.partition, right.offset);
}

KafkaRecordModel::KafkaRecordModel(QObject* parent)
    : QAbstractListModel(parent)
{
}

int KafkaRecordModel::rowCount(const QModelIndex& parent) const
{
    // A list: no row has children.
    return parent.isValid() ? 0 : static_cast<int>(records.size());
}

QVariant KafkaRecordModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= records.size())
        return {};
    const KafkaRecord& r = records.at(index.row());
    return QStringLiteral("%1 - %2").arg(QString::number(r.offset), QString::fromUtf8(r.key));
}

const KafkaRecord& KafkaRecordModel::record(const QModelIndex& index) const
{
    return records.at(index.row());
}

void KafkaRecordModel::insertRecords(QList<KafkaRecord> batch)
{
    // The records not held yet, each with the number of held records that
    // order before it, in record order; of equal records in the batch the
    // first counts.
    struct Arrival {
        qsizetype rank;
        KafkaRecord* record;
    };
    std::vector<Arrival> arrivals;
    arrivals.reserve(std::size_t(batch.size()));
    for (KafkaRecord& r : batch) {
        const auto position = records.find(r);
        if (!position.found)
            arrivals.push_back({position.rank, &r});
    }
    const RecordComparator less;
    const auto before = [&less](const Arrival& left, const Arrival& right) {
        return less(*left.record, *right.record);
    };
    if (!std::is_sorted(arrivals.begin(), arrivals.end(), before))
        std::stable_sort(arrivals.begin(), arrivals.end(), before);
    arrivals.erase(std::unique(arrivals.begin(), arrivals.end(),
                       [&less](const Arrival& left, const Arrival& right) {
                           return !less(*left.record, *right.record);
                       }),
        arrivals.end());

    // Records that land between the same two held records are adjacent rows
    // and are announced together: a batch that continues the list is one
    // insertion, and a view or selection reacts once per run, not per record.
    if (arrivals.empty())
        return;
    emit batchAboutToBeInserted();
    qsizetype inserted = 0;
    for (auto run = arrivals.begin(); run != arrivals.end();) {
        const auto end = std::find_if(run, arrivals.end(), [rank = run->rank](const Arrival& a) { return a.rank != rank; });
        const int first = int(run->rank + inserted);
        const int count = int(end - run);
        beginInsertRows(QModelIndex(), first, first + count - 1);
        for (; run != end; ++run)
            records.insert(std::move(*run->record));
        endInsertRows();
        inserted += count;
    }
    emit batchInserted();
}

void KafkaRecordModel::removeRecordsWithTopic(const QString& topic)
{
    beginResetModel();
    records.removeIf([&topic](const KafkaRecord& r) { return r.topic == topic; });
    endResetModel();
}

void KafkaRecordModel::clear()
{
    beginResetModel();
    records.clear();
    endResetModel();
}
