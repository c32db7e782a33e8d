#pragma once

#include "KafkaMetadataResponse.h"
#include "Popover.h"

#include <QList>

class TopicPicker;

// A popover holding a topic picker; it closes once a topic is chosen, after
// emitting topicSelected.
class TopicPickerPopover : public Popover {
    Q_OBJECT

public:
    explicit TopicPickerPopover(QWidget* parent = nullptr);

    void setTopics(QList<KafkaMetadataResponse::Topic> topics);
    void setCurrentTopicName(const QString& name);

signals:
    void topicSelected(KafkaMetadataResponse::Topic topic);

private:
    TopicPicker* topicPicker = nullptr;
};
