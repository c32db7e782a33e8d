#include "TopicListModel.h"

#include <algorithm>
#include <utility>

int TopicListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_topics.size());
}

QVariant TopicListModel::data(const QModelIndex& index, int role) const
{
    // A view asks about the invalid index too (a copy from an empty list).
    if (role != Qt::DisplayRole || !index.isValid()
        || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    return m_topics.at(index.row()).name;
}

void TopicListModel::setTopics(QList<KafkaMetadataResponse::Topic> topics)
{
    std::sort(topics.begin(), topics.end(),
        [](const KafkaMetadataResponse::Topic& left, const KafkaMetadataResponse::Topic& right) {
            return QString::compare(left.name, right.name, Qt::CaseInsensitive) < 0;
        });
    beginResetModel();
    m_topics = std::move(topics);
    endResetModel();
}

QModelIndex TopicListModel::findTopicWithName(const QString& name) const
{
    const auto found = std::find_if(m_topics.cbegin(), m_topics.cend(),
        [&name](const KafkaMetadataResponse::Topic& topic) { return topic.name == name; });
    return found == m_topics.cend() ? QModelIndex() : index(static_cast<int>(found - m_topics.cbegin()));
}

const KafkaMetadataResponse::Topic& TopicListModel::topic(const QModelIndex& index) const
{
    return m_topics.at(index.row());
}
