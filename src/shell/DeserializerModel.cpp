#include "DeserializerModel.h"

namespace {

constexpr int selectedRecordsColumn = 0;
constexpr int contentTypeColumn = 1;
constexpr int columns = 2;

QString selectedRecords(const Config::Deserializer& rule)
{
    const QString header = rule.headerName.isEmpty()
        ? QString()
        : DeserializerModel::tr(", Header: %1=%2").arg(rule.headerName, rule.headerPattern.pattern());
    return DeserializerModel::tr("Topic: %1%2").arg(rule.topicPattern.pattern(), header);
}

} // namespace

DeserializerModel::DeserializerModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

int DeserializerModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(deserializers.size());
}

int DeserializerModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columns;
}

QVariant DeserializerModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case selectedRecordsColumn:
        return tr("Selected records");
    case contentTypeColumn:
        return tr("Content type");
    default:
        return {};
    }
}

QVariant DeserializerModel::data(const QModelIndex& index, int role) const
{
    // Views ask about the invalid index too (a copy in an empty table): no value.
    if (!index.isValid() || role != Qt::DisplayRole)
        return {};
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Config::Deserializer& rule = deserializers.at(index.row());
    switch (index.column()) {
    case selectedRecordsColumn:
        return selectedRecords(rule);
    case contentTypeColumn:
        return QString::fromLatin1(Config::contentTypeName(rule.contentType));
    default:
        return {};
    }
}

void DeserializerModel::setDeserializers(QList<Config::Deserializer> rules)
{
    beginResetModel();
    deserializers = std::move(rules);
    endResetModel();
}

QModelIndex DeserializerModel::addDeserializer(Config::Deserializer rule)
{
    const int row = static_cast<int>(deserializers.size());
    beginInsertRows(QModelIndex(), row, row);
    deserializers.append(std::move(rule));
    endInsertRows();
    return index(row, selectedRecordsColumn);
}

void DeserializerModel::removeDeserializer(const QModelIndex& index)
{
    const int row = index.row();
    beginRemoveRows(QModelIndex(), row, row);
    deserializers.removeAt(row);
    endRemoveRows();
}

Config::Deserializer& DeserializerModel::deserializer(const QModelIndex& index)
{
    return deserializers[index.row()];
}

void DeserializerModel::updateDeserializer(const QModelIndex& index, Config::Deserializer rule)
{
    const int row = index.row();
    deserializers[row] = std::move(rule);
    emit dataChanged(this->index(row, 0), this->index(row, columns - 1), {});
}

void DeserializerModel::moveUp(const QModelIndex& index)
{
    const int row = index.row();
    beginMoveRows(QModelIndex(), row, row, QModelIndex(), row - 1);
    deserializers.move(row, row - 1);
    endMoveRows();
}

void DeserializerModel::moveDown(const QModelIndex& index)
{
    // Qt announces a move down by one with the row after the neighbour.
    const int row = index.row();
    beginMoveRows(QModelIndex(), row, row, QModelIndex(), row + 2);
    deserializers.move(row, row + 1);
    endMoveRows();
}
