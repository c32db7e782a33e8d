#include "ErrorListModel.h"

#include "VisibleText.h"

#include <QDateTime>

ErrorListModel::ErrorListModel(QObject* parent)
    : QAbstractListModel(parent)
{
}

void ErrorListModel::setErrors(QList<KafkaError>* list)
{
    beginResetModel();
    errors = list;
    endResetModel();
}

void ErrorListModel::clearErrors()
{
    beginResetModel();
    errors->clear();
    endResetModel();
}

int ErrorListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || errors == nullptr)
        return 0;
    return static_cast<int>(errors->size());
}

QVariant ErrorListModel::data(const QModelIndex& index, int role) const
{
    if (errors == nullptr || role != Qt::DisplayRole || !index.isValid() || index.row() >= errors->size())
        return {};
    const KafkaError& error = (*errors)[index.row()];
    const QString time = QDateTime::fromMSecsSinceEpoch(error.timestamp).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    return QStringLiteral("%1 - %2").arg(time, visibleText(error.message));
}

const KafkaError& ErrorListModel::getError(int row) const
{
    return (*errors)[row];
}
