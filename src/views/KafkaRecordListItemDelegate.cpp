#include "KafkaRecordListItemDelegate.h"
#include "KafkaRecordModel.h"
#include "VisibleText.h"

#include <QApplication>
#include <QDateTime>
#include <QPainter>
#include <QStringList>
#include <QtMath>

#include <algorithm>

namespace {

// Marks what the key's line breaks stand for, so that the key stays on its
// line.
constexpr QChar LineBreakMark(0x21B5);
constexpr QChar Ellipsis(0x2026);

const KafkaRecordModel* recordModel(const QModelIndex& index)
{
    return index.isValid() ? qobject_cast<const KafkaRecordModel*>(index.model()) : nullptr;
}

QString timestampText(const KafkaRecord& record)
{
    return QDateTime::fromMSecsSinceEpoch(record.timestamp).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

KafkaRecordListItemDelegate::KafkaRecordListItemDelegate(QObject* parent)
    : QStyledItemDelegate(parent)
{
}

QString KafkaRecordListItemDelegate::keyLine(const QByteArray& key, qsizetype maxLength)
{
    const qsizetype length = std::clamp<qsizetype>(maxLength, 1, ShownKeyLength);
    // A UTF-8 byte decodes to a third of a character at the least.
    const qsizetype bytes = 3 * length + 3;
    QString decoded = QString::fromUtf8(QByteArrayView(key).first(std::min(bytes, key.size())));
    bool cut = key.size() > bytes;
    if (decoded.size() > length) {
        decoded.truncate(decoded.at(length - 1).isHighSurrogate() ? length - 1 : length);
        cut = true;
    }
    // Line breaks and tabs are replaced in place: the line is never longer
    // than the decoded text, and the search of the records list calls this
    // for every row it looks at.
    qsizetype shown = 0;
    for (qsizetype i = 0; i < decoded.size(); ++i) {
        const QChar c = decoded.at(i);
        QChar mark = c;
        switch (c.unicode()) {
        case u'\r':
            if (i + 1 < decoded.size() && decoded.at(i + 1) == u'\n')
                ++i;
            mark = LineBreakMark;
            break;
        case u'\n':
        case u'\v':
        case u'\f':
        case 0x85:
        case QChar::LineSeparator:
        case QChar::ParagraphSeparator:
            mark = LineBreakMark;
            break;
        case u'\t':
            mark = u' ';
            break;
        default:
            break;
        }
        decoded[shown++] = mark;
    }
    decoded.truncate(shown);
    decoded = visibleText(decoded);
    if (cut)
        decoded.append(Ellipsis);
    return decoded;
}

QString KafkaRecordListItemDelegate::generateLine2Left(const KafkaRecord& record) const
{
    const QString partition = QString::number(record.partition);
    const QString offset = QString::number(record.offset);
    return showTopic ? QStringLiteral("%1-%2@%3").arg(visibleText(record.topic), partition, offset)
                     : QStringLiteral("%1@%2").arg(partition, offset);
}

QString KafkaRecordListItemDelegate::shownText(const KafkaRecord& record) const
{
    QStringList parts;
    if (QString key = keyLine(record.key); !key.isEmpty())
        parts.append(std::move(key));
    parts.append(generateLine2Left(record));
    parts.append(timestampText(record));
    return parts.join(QStringLiteral(", "));
}

void KafkaRecordListItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
    const QModelIndex& index) const
{
    const KafkaRecordModel* model = recordModel(index);
    if (!model) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const KafkaRecord& record = model->record(index);
    const QWidget* widget = option.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    const bool enabled = option.state & QStyle::State_Enabled;
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = !enabled ? QPalette::Disabled
        : (option.state & QStyle::State_Active) ? QPalette::Active
                                                : QPalette::Inactive;

    painter->save();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &option, painter, widget);

    const QColor textColor = option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    const QRect& r = option.rect;
    const QRectF textRect(QPointF(r.left() + 3, r.top()), QPointF(r.right() - 3, r.bottom() - 1));
    painter->setPen(textColor);
    const QString key = painter->fontMetrics().elidedText(keyLine(record.key), Qt::ElideRight, qFloor(textRect.width()));
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, key);
    painter->setPen(textColor.darker(150));
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignBottom, generateLine2Left(record));
    painter->drawText(textRect, Qt::AlignRight | Qt::AlignBottom, timestampText(record));

    QPen separator(option.palette.color(group, QPalette::Button));
    separator.setWidth(0);
    painter->setPen(separator);
    painter->drawLine(QPoint(r.left(), r.top()), QPoint(r.right() + 1, r.top()));

    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.rect = style->subElementRect(QStyle::SE_ItemViewItemFocusRect, &option, widget);
        focus.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
        focus.backgroundColor = option.palette.color(enabled ? QPalette::Active : QPalette::Disabled,
            selected ? QPalette::Highlight : QPalette::Window);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
    painter->restore();
}

QSize KafkaRecordListItemDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const KafkaRecordModel* model = recordModel(index);
    if (!model)
        return QStyledItemDelegate::sizeHint(option, index);
    const KafkaRecord& record = model->record(index);
    const QFontMetrics& metrics = option.fontMetrics;
    const int average = metrics.averageCharWidth();
    const int line2 = metrics.boundingRect(generateLine2Left(record)).width()
        + metrics.boundingRect(timestampText(record)).width() + average + 6;
    const int line1 = metrics.boundingRect(keyLine(record.key)).width() + 6;
    return QSize(std::max(line1, line2) + average, 2 * metrics.lineSpacing() + 1);
}
