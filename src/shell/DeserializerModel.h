#pragma once

#include "Config.h"

#include <QAbstractTableModel>
#include <QList>

// The deserializer rules of a configuration in their order of application,
// one row per rule: which records it selects, and its content type. The
// operations taking an index use only its row and expect a valid one.
class DeserializerModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit DeserializerModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    void setDeserializers(QList<Config::Deserializer> rules);
    // The rules in table order.
    const QList<Config::Deserializer>& allDeserializers() const { return deserializers; }

    // Appends the rule; the index of its row, column 0.
    QModelIndex addDeserializer(Config::Deserializer rule);
    void removeDeserializer(const QModelIndex& index);
    Config::Deserializer& deserializer(const QModelIndex& index);
    void updateDeserializer(const QModelIndex& index, Config::Deserializer rule);
    // Swap the row with its neighbour: moveUp needs row > 0, moveDown a row
    // below it.
    void moveUp(const QModelIndex& index);
    void moveDown(const QModelIndex& index);

private:
    QList<Config::Deserializer> deserializers;
};
