#pragma once

#include "KafkaHeader.h"

#include <QAbstractTableModel>
#include <QList>

// The headers of one record as a two-column table (key, value), sorted by key
// without regard to case. A value shows as text when it is valid UTF-8, else
// as blank-separated lowercase hex pairs.
class KafkaRecordHeadersModel : public QAbstractTableModel {
    Q_OBJECT

public:
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
};
