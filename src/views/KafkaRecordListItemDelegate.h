#pragma once

#include "KafkaRecord.h"

#include <QStyledItemDelegate>

// Paints a row of the record list in two lines: the key on top; the position
// (partition and offset, and the topic when the list mixes topics) and the
// local timestamp below. Reads its rows from a KafkaRecordModel.
//
// The key keeps to its line: its line breaks and control characters show as
// marks, and only its first characters are measured and drawn, elided at the
// row's width, however long the key is.
class KafkaRecordListItemDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    explicit KafkaRecordListItemDelegate(QObject* parent = nullptr);

    // "<partition>@<offset>", or "<topic>-<partition>@<offset>" with showTopic.
    QString generateLine2Left(const KafkaRecord& record) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Set by the records tab when its filters name more than one topic.
    bool showTopic = false;
};
