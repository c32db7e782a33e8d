#pragma once

#include "Error.h"

#include <QAbstractListModel>
#include <QList>

// Lists a borrowed list of errors, oldest first, one line each with its time.
// The list belongs to a tab or the main window; the model only points at it
// while the errors popover shows it. GUI thread only.
class ErrorListModel : public QAbstractListModel {
    Q_OBJECT

public:
    explicit ErrorListModel(QObject* parent = nullptr);

    // Shows the list (null: nothing).
    void setErrors(QList<KafkaError>* list);
    // Empties the owner's list itself. Requires a list.
    void clearErrors();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    const KafkaError& getError(int row) const;

private:
    QList<KafkaError>* errors = nullptr;
};
