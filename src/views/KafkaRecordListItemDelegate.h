#pragma once

#include "KafkaRecord.h"

#include <QStyledItemDelegate>

// Paints a row of the record list in two lines: the key on top; the position
// (partition and offset, and the topic when the list mixes topics) and the
// local timestamp below. Reads its rows from a KafkaRecordModel.
//
// The key keeps to its line: its line breaks and control characters show as
// marks, and only its first characters are measured and drawn, elided at the
// row's width, however long the key is. The topic shows as visibleText does.
class KafkaRecordListItemDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    // Characters of a key that a row measures and draws at most: more than
    // fit on the widest screen, so that a key of megabytes costs a row no
    // more than a short one does.
    static constexpr qsizetype ShownKeyLength = 2048;

    explicit KafkaRecordListItemDelegate(QObject* parent = nullptr);

    // The key as line 1 shows it: one line of at most maxLength characters
    // (never more than ShownKeyLength), line breaks and other invisible
    // characters marked, an ellipsis where the key goes on. Decodes only as
    // many bytes of the key as that takes, so the first characters of a long
    // key cost no more than a short key.
    static QString keyLine(const QByteArray& key, qsizetype maxLength = ShownKeyLength);

    // "<partition>@<offset>", or "<topic>-<partition>@<offset>" with showTopic.
    QString generateLine2Left(const KafkaRecord& record) const;
    // What a row shows, as one line for assistive technology: the key line,
    // the position and the local timestamp, separated by commas. A row
    // without a key starts with its position.
    QString shownText(const KafkaRecord& record) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Set by the records tab when its filters name more than one topic.
    bool showTopic = false;
};
