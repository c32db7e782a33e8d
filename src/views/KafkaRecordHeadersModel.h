#pragma once

#include "KafkaHeader.h"

#include <QAbstractTableModel>
#include <QList>

// The headers of one record as a two-column table (key, value), sorted by key
// without regard to case. A value shows as text when it is valid UTF-8, else
// as blank-separated lowercase hex pairs.
//
// Of a record with more than ShownHeaderLimit headers only its first
// ShownHeaderLimit are shown (sorted), followed by a row saying how many more
// there are.
class KafkaRecordHeadersModel : public QAbstractTableModel {
    Q_OBJECT

public:
    // Headers shown at most. A record carries a handful; the records tab sizes
    // every row to its contents, which for a million headers froze the window
    // for seconds, while a thousand rows take a few milliseconds.
    static constexpr qsizetype ShownHeaderLimit = 1000;

    explicit KafkaRecordHeadersModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void setHeaders(QList<KafkaHeader> headers);
    // Inside a model reset.
    void clear();

private:
    QList<KafkaHeader> headers;
    // Headers of the record beyond those shown; counted in the last row.
    qsizetype omittedHeaders = 0;
};
