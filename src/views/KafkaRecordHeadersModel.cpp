#include "KafkaRecordHeadersModel.h"

#include "RecordDeserializer.h"

#include <QLocale>
#include <QStringDecoder>

#include <algorithm>

KafkaRecordHeadersModel::KafkaRecordHeadersModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

int KafkaRecordHeadersModel::rowCount(const QModelIndex& parent) const
{
    // A table: no row has children.
    return parent.isValid() ? 0 : static_cast<int>(headers.size() + (omittedHeaders > 0 ? 1 : 0));
}

int KafkaRecordHeadersModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant KafkaRecordHeadersModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
        return {};
    if (index.row() == headers.size())
        return index.column() == 0 ? tr("… %n more headers not shown", nullptr, int(omittedHeaders)) : QVariant();
    const KafkaHeader& header = headers.at(index.row());
    switch (index.column()) {
    case 0:
        return header.key;
    case 1:
        return valueText(header.value);
    default:
        return {};
    }
}

QVariant KafkaRecordHeadersModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case 0:
        return tr("Header Key");
    case 1:
        return tr("Header Value");
    default:
        return {};
    }
}

// The decoder is not flushed: an incomplete character at the very end is left
// out rather than counted as invalid. Of a longer value, the part shown is cut
// at a character boundary, and only that part decides between text and hex.
QString KafkaRecordHeadersModel::valueText(const QByteArray& value)
{
    const QByteArrayView bytes(value);
    qsizetype shownBytes = RecordDeserializer::utf8PrefixLength(bytes, ShownValueLimit);
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(bytes.first(shownBytes));
    if (decoder.hasError()) {
        // Three characters a byte.
        shownBytes = std::min(bytes.size(), ShownValueLimit / 3);
        text = QString::fromLatin1(bytes.first(shownBytes).toByteArray().toHex(' '));
    }
    if (shownBytes < bytes.size()) {
        text += QLatin1Char('\n')
            + tr("… %1 more not shown")
                  .arg(QLocale().formattedDataSize(bytes.size() - shownBytes, 1, QLocale::DataSizeTraditionalFormat));
    }
    return text;
}

void KafkaRecordHeadersModel::setHeaders(QList<KafkaHeader> newHeaders)
{
    clear();
    // Only the shown headers are copied and sorted.
    const qsizetype omitted = std::max<qsizetype>(newHeaders.size() - ShownHeaderLimit, 0);
    if (omitted > 0)
        newHeaders = newHeaders.first(ShownHeaderLimit);
    std::sort(newHeaders.begin(), newHeaders.end(), [](const KafkaHeader& left, const KafkaHeader& right) {
        return QString::compare(left.key, right.key, Qt::CaseInsensitive) < 0;
    });
    if (newHeaders.isEmpty())
        return;
    beginInsertRows(QModelIndex(), 0, static_cast<int>(newHeaders.size() + (omitted > 0 ? 1 : 0)) - 1);
    headers = std::move(newHeaders);
    omittedHeaders = omitted;
    endInsertRows();
}

void KafkaRecordHeadersModel::clear()
{
    beginResetModel();
    headers.clear();
    omittedHeaders = 0;
    endResetModel();
}
