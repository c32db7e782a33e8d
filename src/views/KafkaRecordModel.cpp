#include "KafkaRecordModel.h"

#include <tuple>

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
    for (KafkaRecord& r : batch) {
        const auto position = records.find(r);
        if (position.found)
            continue;
        const int row = static_cast<int>(position.rank);
        beginInsertRows(QModelIndex(), row, row);
        records.insert(std::move(r));
        endInsertRows();
    }
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
