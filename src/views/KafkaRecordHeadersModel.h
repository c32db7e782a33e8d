#pragma once

#include "KafkaHeader.h"

#include <QAbstractTableModel>
#include <QList>

// The headers of one record as a two-column table (key, value), sorted by key
// without regard to case. A value shows as text when it is valid UTF-8, else
// as blank-separated lowercase hex pairs. Of a value longer than
// ShownValueLimit only the first part is decoded and shown, with a last line
// saying how much is left out.
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
    // Bytes of a header value decoded and shown at most (as hex, a third of
    // them). A view lays out the whole text of a cell to size its row, and
    // every cell's text whenever it paints: a thousand values of 100 KB froze
    // the window for seconds, a single one of 100 MB took gigabytes. Values
    // of this size size their rows in well under a millisecond each.
    static constexpr qsizetype ShownValueLimit = 1000;

    explicit KafkaRecordHeadersModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void setHeaders(QList<KafkaHeader> headers);
    // Inside a model reset.
    void clear();

private:
    static QString valueText(const QByteArray& value);

    QList<KafkaHeader> headers;
    // Headers of the record beyond those shown; counted in the last row.
    qsizetype omittedHeaders = 0;
};
