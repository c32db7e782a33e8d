#pragma once

#include "ConsumerAssignment.h"
#include "PartitionOffset.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>

#include <cstdint>
#include <utility>
#include <vector>

// The assignments table of the consumer groups tab: one row per partition
// assigned to a member of the selected group, with the group's committed
// offset for the partition and the partition's latest offset, from which it
// derives the lag. Offsets arrive after the rows, in any order, and fill
// their cells. GUI thread only, but for sortedRows.
class ConsumerAssignmentModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column {
        PartitionColumn,
        MemberIdColumn,
        GroupInstanceIdColumn,
        ClientHostColumn,
        ClientIdColumn,
        OffsetColumn,
        LagColumn,
        ColumnCount,
    };

    // One row. Both offsets start as the row's topic and partition with
    // offset -1.
    struct AssignmentWithExtras {
        ConsumerAssignment assignment;
        PartitionOffset consumerOffset;
        PartitionOffset lastOffset;
    };

    // Rows made ready on any thread, since a million of them take a while to
    // build, sort and index: in display order, with the lookup that finds the
    // first row of a partition.
    struct Rows {
        QList<AssignmentWithExtras> rows;
        QHash<QString, std::uint32_t> topicNumbers;
        std::vector<std::pair<std::uint64_t, int>> rowsByPartition;
    };

    explicit ConsumerAssignmentModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    // Display role only; an unknown offset or lag has no value.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // A stable sort, so rows that compare equal keep their order in both
    // directions. Text columns compare case-insensitively; the partition
    // column by topic, then partition number.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // One row per assignment, in list order, offsets unknown.
    void setAssignments(QList<ConsumerAssignment> assignments);
    // Any thread: one row per assignment, offsets unknown, in the order that
    // sort() gives them for the column and order, with their lookup.
    static Rows sortedRows(QList<ConsumerAssignment> assignments, int column, Qt::SortOrder order);
    // Model reset; the rows become those given.
    void setRows(Rows rows);
    // Each offset goes to the first row of its topic (exact) and partition;
    // offsets of partitions without a row are ignored.
    void setConsumerOffsets(const QList<PartitionOffset>& offsets);
    void setLastOffsets(const QList<PartitionOffset>& offsets);
    void clear();

    // The latest minus the committed offset, 0 when the group has committed
    // beyond the latest offset, -1 when either is unknown.
    static std::int64_t computeLag(const AssignmentWithExtras& row);

private:
    enum class OffsetKind { Consumer, Last };
    void applyOffsets(const QList<PartitionOffset>& offsets, OffsetKind kind);
    // For rows that changed: the lookup below is built anew when offsets come.
    void forgetPartitionRows();

    QList<AssignmentWithExtras> assignments;
    // The rows by topic number and partition, sorted, to find the first row
    // of a partition; built when offsets first arrive after the rows changed,
    // since the offsets of a large group come in many answers.
    QHash<QString, std::uint32_t> topicNumbers;
    std::vector<std::pair<std::uint64_t, int>> rowsByPartition;
};
