#include "TopicPickerPopover.h"

#include "TopicPicker.h"

#include <QVBoxLayout>

#include <utility>

TopicPickerPopover::TopicPickerPopover(QWidget* parent)
    : Popover(parent)
    , topicPicker(new TopicPicker(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(topicPicker);
    connect(topicPicker, &TopicPicker::topicSelected, this, [this](const KafkaMetadataResponse::Topic& topic) {
        emit topicSelected(topic);
        close();
    });
}

void TopicPickerPopover::setTopics(QList<KafkaMetadataResponse::Topic> topics)
{
    topicPicker->setTopics(std::move(topics));
}

void TopicPickerPopover::setCurrentTopicName(const QString& name)
{
    topicPicker->setCurrentTopicName(name);
}
