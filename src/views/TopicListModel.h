#pragma once

#include "KafkaMetadataResponse.h"

#include <QAbstractListModel>
#include <QList>

// The cluster's topics as known from its metadata, sorted by name
// (case-insensitively); internal topics are listed like any other.
class TopicListModel : public QAbstractListModel {
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    // The topic's name for the display role; nothing for other roles.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    void setTopics(QList<KafkaMetadataResponse::Topic> topics);
    // The first topic with exactly this name (case-sensitive), or an invalid
    // index.
    QModelIndex findTopicWithName(const QString& name) const;
    // The topic at a valid index of this model.
    const KafkaMetadataResponse::Topic& topic(const QModelIndex& index) const;

private:
    QList<KafkaMetadataResponse::Topic> m_topics;
};
