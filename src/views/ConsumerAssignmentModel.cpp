#include "ConsumerAssignmentModel.h"

#include <QHash>

#include <algorithm>
#include <functional>
#include <limits>
#include <utility>

namespace {

using Row = ConsumerAssignmentModel::AssignmentWithExtras;
using RowLess = std::function<bool(const Row&, const Row&)>;

int compareText(const QString& left, const QString& right)
{
    return QString::compare(left, right, Qt::CaseInsensitive);
}

RowLess byText(QString ConsumerAssignment::*field)
{
    return [field](const Row& left, const Row& right) {
        return compareText(left.assignment.*field, right.assignment.*field) < 0;
    };
}

RowLess ascendingOrder(int column)
{
    switch (column) {
    case ConsumerAssignmentModel::PartitionColumn:
        return [](const Row& left, const Row& right) {
            const int byTopic = compareText(left.assignment.topic, right.assignment.topic);
            return byTopic != 0 ? byTopic < 0 : left.assignment.partition < right.assignment.partition;
        };
    case ConsumerAssignmentModel::MemberIdColumn:
        return byText(&ConsumerAssignment::memberId);
    case ConsumerAssignmentModel::GroupInstanceIdColumn:
        return byText(&ConsumerAssignment::groupInstanceId);
    case ConsumerAssignmentModel::ClientHostColumn:
        return byText(&ConsumerAssignment::clientHost);
    case ConsumerAssignmentModel::ClientIdColumn:
        return byText(&ConsumerAssignment::clientId);
    case ConsumerAssignmentModel::OffsetColumn:
        return [](const Row& left, const Row& right) { return left.consumerOffset.offset < right.consumerOffset.offset; };
    case ConsumerAssignmentModel::LagColumn:
        return [](const Row& left, const Row& right) {
            return ConsumerAssignmentModel::computeLag(left) < ConsumerAssignmentModel::computeLag(right);
        };
    default:
        return {};
    }
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
    const RowLess less = ascendingOrder(column);
    if (!less)
        return;
    beginResetModel();
    if (order == Qt::AscendingOrder)
        std::stable_sort(assignments.begin(), assignments.end(), less);
    else
        std::stable_sort(assignments.begin(), assignments.end(),
            [&less](const Row& left, const Row& right) { return less(right, left); });
    endResetModel();
}

void ConsumerAssignmentModel::setAssignments(QList<ConsumerAssignment> newAssignments)
{
    beginResetModel();
    assignments.clear();
    assignments.reserve(newAssignments.size());
    for (ConsumerAssignment& assignment : newAssignments) {
        const PartitionOffset unknown { assignment.topic, assignment.partition, -1 };
        assignments.append(AssignmentWithExtras { std::move(assignment), unknown, unknown });
    }
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

void ConsumerAssignmentModel::applyOffsets(const QList<PartitionOffset>& offsets, OffsetKind kind)
{
    // The first row of each partition; a partition assigned twice gets its
    // offsets in that row only.
    QHash<std::pair<QString, std::int32_t>, int> firstRows;
    for (int row = static_cast<int>(assignments.size()) - 1; row >= 0; --row)
        firstRows.insert({ assignments[row].assignment.topic, assignments[row].assignment.partition }, row);

    int first = std::numeric_limits<int>::max();
    int last = -1;
    for (const PartitionOffset& offset : offsets) {
        const auto found = firstRows.constFind({ offset.topic, offset.partition });
        if (found == firstRows.constEnd())
            continue;
        AssignmentWithExtras& row = assignments[*found];
        (kind == OffsetKind::Consumer ? row.consumerOffset : row.lastOffset) = offset;
        first = std::min(first, *found);
        last = std::max(last, *found);
    }
    if (last < 0)
        return;
    const int firstColumn = kind == OffsetKind::Consumer ? OffsetColumn : LagColumn;
    emit dataChanged(index(first, firstColumn), index(last, LagColumn), { Qt::DisplayRole });
}
