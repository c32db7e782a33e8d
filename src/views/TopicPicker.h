#pragma once

#include "KafkaMetadataResponse.h"

#include <QList>
#include <QWidget>

#include <memory>

class QSortFilterProxyModel;
class TopicListModel;

namespace Ui {
class TopicPicker;
}

// A filter line above the cluster's topics: the list shows the topics whose
// name contains the filter text (case-sensitive). Activating a topic, or
// Return in the filter line while a topic is current, emits topicSelected.
class TopicPicker : public QWidget {
    Q_OBJECT

public:
    explicit TopicPicker(QWidget* parent = nullptr);
    ~TopicPicker() override;

    void setTopics(QList<KafkaMetadataResponse::Topic> topics);
    // Makes the named topic the current and only selected row; a name not
    // listed leaves no current row. Clears the filter first, so the topic is
    // found even when the last filter hid it.
    void setCurrentTopicName(const QString& name);

signals:
    void topicSelected(KafkaMetadataResponse::Topic topic);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void selectTopicAt(const QModelIndex& proxyIndex);

    std::unique_ptr<Ui::TopicPicker> ui;
    TopicListModel* topicListModel = nullptr;
    QSortFilterProxyModel* proxyModel = nullptr;
};
