#pragma once

#include "KafkaRecord.h"
#include "OrderStatisticTree.h"

#include <QAbstractListModel>

// The records of the records tab's list, ordered by timestamp, topic,
// partition and offset however the batches arrive; a record already held is
// ignored. Rows are ranks in an order-statistics tree, so inserting a record
// and reading a row take logarithmic time, also with millions of rows.
class KafkaRecordModel : public QAbstractListModel {
    Q_OBJECT

public:
    // All ascending: timestamp, topic (by UTF-16 code units, case-sensitive),
    // partition, offset. Records equal in all four are the same record.
    struct RecordComparator {
        bool operator()(const KafkaRecord& left, const KafkaRecord& right) const;
    };

    explicit KafkaRecordModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    // Display role: "<offset> - <key as UTF-8>".
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // The record of a valid row (0 <= row < rowCount()).
    const KafkaRecord& record(const QModelIndex& index) const;

    // Adds the records not held yet. New records that become adjacent rows
    // are announced as one insertion, in row order.
    void insertRecords(QList<KafkaRecord> records);
    // Both inside a model reset.
    void removeRecordsWithTopic(const QString& topic);
    void clear();

signals:
    // Around the row insertions of one insertRecords call that adds records.
    void batchAboutToBeInserted();
    void batchInserted();

private:
    OrderStatisticTree<KafkaRecord, RecordComparator> records;
};
