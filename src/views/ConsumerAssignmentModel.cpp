#include "ConsumerAssignmentModel.h"

#include <QHash>

#include <QStringList>

#include <algorithm>
#include <array>
#include <limits>
#include <numeric>
#include <optional>
#include <utility>
#include <vector>

namespace {

using Row = ConsumerAssignmentModel::AssignmentWithExtras;
// A row's sort keys: compared in order, as numbers.
using SortKey = std::array<std::int64_t, 2>;

// Each row's text in the column ranked among the column's distinct texts,
// compared case-insensitively: texts equal but for case share a rank. Rows of
// a group are a million at most, their distinct texts far fewer, so the sort
// then compares numbers rather than texts.
std::vector<std::int64_t> textRanks(const QList<Row>& rows, const QString& (*text)(const Row&))
{
    // Rows come in runs of one topic or member: a run looks its text up once.
    QHash<QString, std::int64_t> ranks;
    const QString* previous = nullptr;
    for (const Row& row : rows) {
        if (!previous || *previous != text(row))
            ranks.insert(text(row), 0);
        previous = &text(row);
    }
    QStringList distinct = ranks.keys();
    std::sort(distinct.begin(), distinct.end(),
        [](const QString& left, const QString& right) { return QString::compare(left, right, Qt::CaseInsensitive) < 0; });
    std::int64_t rank = 0;
    for (qsizetype i = 0; i < distinct.size(); ++i) {
        if (i > 0 && QString::compare(distinct[i - 1], distinct[i], Qt::CaseInsensitive) != 0)
            ++rank;
        ranks[distinct[i]] = rank;
    }
    std::vector<std::int64_t> rowRanks;
    rowRanks.reserve(rows.size());
    previous = nullptr;
    for (const Row& row : rows) {
        if (!previous || *previous != text(row))
            rank = ranks.value(text(row));
        previous = &text(row);
        rowRanks.push_back(rank);
    }
    return rowRanks;
}

// The sort keys of every row for a column; none for a column without order.
std::vector<SortKey> sortKeys(const QList<Row>& rows, int column)
{
    std::vector<SortKey> keys;
    keys.reserve(rows.size());
    const auto byText = [&rows, &keys](const QString& (*text)(const Row&)) {
        for (std::int64_t rank : textRanks(rows, text))
            keys.push_back({ rank, 0 });
    };
    switch (column) {
    case ConsumerAssignmentModel::PartitionColumn: {
        const std::vector<std::int64_t> topics = textRanks(rows, [](const Row& row) -> const QString& { return row.assignment.topic; });
        for (qsizetype i = 0; i < rows.size(); ++i)
            keys.push_back({ topics[size_t(i)], rows[i].assignment.partition });
        break;
    }
    case ConsumerAssignmentModel::MemberIdColumn:
        byText([](const Row& row) -> const QString& { return row.assignment.memberId; });
        break;
    case ConsumerAssignmentModel::GroupInstanceIdColumn:
        byText([](const Row& row) -> const QString& { return row.assignment.groupInstanceId; });
        break;
    case ConsumerAssignmentModel::ClientHostColumn:
        byText([](const Row& row) -> const QString& { return row.assignment.clientHost; });
        break;
    case ConsumerAssignmentModel::ClientIdColumn:
        byText([](const Row& row) -> const QString& { return row.assignment.clientId; });
        break;
    case ConsumerAssignmentModel::OffsetColumn:
        for (const Row& row : rows)
            keys.push_back({ row.consumerOffset.offset, 0 });
        break;
    case ConsumerAssignmentModel::LagColumn:
        for (const Row& row : rows)
            keys.push_back({ ConsumerAssignmentModel::computeLag(row), 0 });
        break;
    default:
        break;
    }
    return keys;
}

// The rows in sorted order, as positions in `rows`; none when they are in
// that order already.
std::optional<std::vector<int>> sortedOrder(const QList<Row>& rows, int column, Qt::SortOrder order)
{
    const std::vector<SortKey> keys = sortKeys(rows, column);
    const bool inOrder = order == Qt::AscendingOrder ? std::is_sorted(keys.begin(), keys.end())
                                                     : std::is_sorted(keys.rbegin(), keys.rend());
    if (inOrder)
        return std::nullopt;
    std::vector<int> sorted(keys.size());
    std::iota(sorted.begin(), sorted.end(), 0);
    if (order == Qt::AscendingOrder)
        std::stable_sort(sorted.begin(), sorted.end(), [&keys](int left, int right) { return keys[size_t(left)] < keys[size_t(right)]; });
    else
        std::stable_sort(sorted.begin(), sorted.end(), [&keys](int left, int right) { return keys[size_t(right)] < keys[size_t(left)]; });
    return sorted;
}

QList<Row> reordered(QList<Row>& rows, const std::vector<int>& order)
{
    QList<Row> moved;
    moved.reserve(rows.size());
    for (int row : order)
        moved.append(std::move(rows[row]));
    return moved;
}

QList<Row> unknownOffsets(QList<ConsumerAssignment> assignments)
{
    QList<Row> rows;
    rows.reserve(assignments.size());
    for (ConsumerAssignment& assignment : assignments) {
        const PartitionOffset unknown { assignment.topic, assignment.partition, -1 };
        rows.append(Row { std::move(assignment), unknown, unknown });
    }
    return rows;
}

std::uint64_t partitionKey(std::uint32_t topic, std::int32_t partition)
{
    return (std::uint64_t(topic) << 32) | std::uint32_t(partition);
}

// The rows by topic number and partition, sorted; a partition assigned
// twice is found in its first row.
void indexPartitions(const QList<Row>& rows, QHash<QString, std::uint32_t>& topicNumbers,
    std::vector<std::pair<std::uint64_t, int>>& rowsByPartition)
{
    rowsByPartition.reserve(size_t(rows.size()));
    auto topic = topicNumbers.end();
    for (int row = 0; row < rows.size(); ++row) {
        const ConsumerAssignment& assignment = rows[row].assignment;
        // Rows come in runs of one topic: a run looks it up once.
        if (topic == topicNumbers.end() || topic.key() != assignment.topic) {
            topic = topicNumbers.find(assignment.topic);
            if (topic == topicNumbers.end())
                topic = topicNumbers.insert(assignment.topic, std::uint32_t(topicNumbers.size()));
        }
        rowsByPartition.emplace_back(partitionKey(*topic, assignment.partition), row);
    }
    std::sort(rowsByPartition.begin(), rowsByPartition.end());
}

} // namespace

ConsumerAssignmentModel::ConsumerAssignmentModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

int ConsumerAssignmentModel::rowCount(const QModelIndex& parent) const
{
    // A table: no row has children.
    return parent.isValid() ? 0 : static_cast<int>(assignments.size());
}

int ConsumerAssignmentModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ConsumerAssignmentModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= assignments.size())
        return {};
    const AssignmentWithExtras& row = assignments.at(index.row());
    switch (index.column()) {
    case PartitionColumn:
        return QStringLiteral("%1-%2").arg(row.assignment.topic).arg(row.assignment.partition);
    case MemberIdColumn:
        return row.assignment.memberId;
    case GroupInstanceIdColumn:
        return row.assignment.groupInstanceId;
    case ClientHostColumn:
        return row.assignment.clientHost;
    case ClientIdColumn:
        return row.assignment.clientId;
    case OffsetColumn:
        return row.consumerOffset.offset >= 0 ? QVariant(qint64(row.consumerOffset.offset)) : QVariant();
    case LagColumn: {
        const std::int64_t lag = computeLag(row);
        return lag >= 0 ? QVariant(qint64(lag)) : QVariant();
    }
    default:
        return {};
    }
}

QVariant ConsumerAssignmentModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case PartitionColumn:
        return tr("Partition");
    case MemberIdColumn:
        return tr("Member Id");
    case GroupInstanceIdColumn:
        return tr("Group Instance Id");
    case ClientHostColumn:
        return tr("Client Host");
    case ClientIdColumn:
        return tr("Client Id");
    case OffsetColumn:
        return tr("Offset");
    case LagColumn:
        return tr("Lag");
    default:
        return {};
    }
}

void ConsumerAssignmentModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount)
        return;
    // The rows are sorted inside a reset every time, as views expect; rows
    // that come in order already stay where they are.
    const std::optional<std::vector<int>> sorted = sortedOrder(assignments, column, order);
    beginResetModel();
    if (sorted) {
        forgetPartitionRows();
        assignments = reordered(assignments, *sorted);
    }
    endResetModel();
}

void ConsumerAssignmentModel::setAssignments(QList<ConsumerAssignment> newAssignments)
{
    beginResetModel();
    forgetPartitionRows();
    assignments = unknownOffsets(std::move(newAssignments));
    endResetModel();
}

ConsumerAssignmentModel::Rows ConsumerAssignmentModel::sortedRows(
    QList<ConsumerAssignment> newAssignments, int column, Qt::SortOrder order)
{
    Rows sorted;
    sorted.rows = unknownOffsets(std::move(newAssignments));
    if (column >= 0 && column < ColumnCount) {
        if (const std::optional<std::vector<int>> positions = sortedOrder(sorted.rows, column, order))
            sorted.rows = reordered(sorted.rows, *positions);
    }
    indexPartitions(sorted.rows, sorted.topicNumbers, sorted.rowsByPartition);
    return sorted;
}

void ConsumerAssignmentModel::setRows(Rows rows)
{
    beginResetModel();
    assignments = std::move(rows.rows);
    topicNumbers = std::move(rows.topicNumbers);
    rowsByPartition = std::move(rows.rowsByPartition);
    endResetModel();
}

void ConsumerAssignmentModel::setConsumerOffsets(const QList<PartitionOffset>& offsets)
{
    applyOffsets(offsets, OffsetKind::Consumer);
}

void ConsumerAssignmentModel::setLastOffsets(const QList<PartitionOffset>& offsets)
{
    applyOffsets(offsets, OffsetKind::Last);
}

void ConsumerAssignmentModel::clear()
{
    beginResetModel();
    forgetPartitionRows();
    assignments.clear();
    endResetModel();
}

std::int64_t ConsumerAssignmentModel::computeLag(const AssignmentWithExtras& row)
{
    const std::int64_t committed = row.consumerOffset.offset;
    const std::int64_t last = row.lastOffset.offset;
    if (committed < 0 || last < 0)
        return -1;
    return committed > last ? 0 : last - committed;
}

void ConsumerAssignmentModel::forgetPartitionRows()
{
    topicNumbers.clear();
    rowsByPartition.clear();
}

void ConsumerAssignmentModel::applyOffsets(const QList<PartitionOffset>& offsets, OffsetKind kind)
{
    // A partition assigned twice gets its offsets in its first row only.
    if (rowsByPartition.empty() && !assignments.isEmpty())
        indexPartitions(assignments, topicNumbers, rowsByPartition);
    int first = std::numeric_limits<int>::max();
    int last = -1;
    for (const PartitionOffset& offset : offsets) {
        const auto topic = topicNumbers.constFind(offset.topic);
        if (topic == topicNumbers.constEnd())
            continue;
        const std::uint64_t wanted = partitionKey(*topic, offset.partition);
        const auto found = std::lower_bound(rowsByPartition.begin(), rowsByPartition.end(), std::pair(wanted, 0));
        if (found == rowsByPartition.end() || found->first != wanted)
            continue;
        AssignmentWithExtras& row = assignments[found->second];
        (kind == OffsetKind::Consumer ? row.consumerOffset : row.lastOffset) = offset;
        first = std::min(first, found->second);
        last = std::max(last, found->second);
    }
    if (last < 0)
        return;
    const int firstColumn = kind == OffsetKind::Consumer ? OffsetColumn : LagColumn;
    emit dataChanged(index(first, firstColumn), index(last, LagColumn), { Qt::DisplayRole });
}
