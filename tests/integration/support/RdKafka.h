#pragma once

// librdkafka for the test support: owning pointers for its C objects, client
// creation and error texts.

#include <librdkafka/rdkafka.h>

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <utility>

template <auto destroy>
struct RdKafkaDeleter {
    template <typename T>
    void operator()(T* object) const noexcept { destroy(object); }
};

template <typename T, auto destroy>
using RdKafkaPointer = std::unique_ptr<T, RdKafkaDeleter<destroy>>;
using RdKafkaHandle = RdKafkaPointer<rd_kafka_t, rd_kafka_destroy>;
using RdKafkaConfHandle = RdKafkaPointer<rd_kafka_conf_t, rd_kafka_conf_destroy>;
using RdKafkaHeadersHandle = RdKafkaPointer<rd_kafka_headers_t, rd_kafka_headers_destroy>;
using RdKafkaMessageHandle = RdKafkaPointer<rd_kafka_message_t, rd_kafka_message_destroy>;
using RdKafkaMetadataHandle = RdKafkaPointer<const rd_kafka_metadata_t, rd_kafka_metadata_destroy>;
using RdKafkaPartitionListHandle = RdKafkaPointer<rd_kafka_topic_partition_list_t, rd_kafka_topic_partition_list_destroy>;
using RdKafkaQueueHandle = RdKafkaPointer<rd_kafka_queue_t, rd_kafka_queue_destroy>;
using RdKafkaEventHandle = RdKafkaPointer<rd_kafka_event_t, rd_kafka_event_destroy>;
using RdKafkaAdminOptionsHandle = RdKafkaPointer<rd_kafka_AdminOptions_t, rd_kafka_AdminOptions_destroy>;
using RdKafkaNewTopicHandle = RdKafkaPointer<rd_kafka_NewTopic_t, rd_kafka_NewTopic_destroy>;

using RdKafkaSettings = QList<std::pair<const char*, QByteArray>>;

// A client of the broker address with the settings, after `prepare` has seen
// them; null with error set when librdkafka refuses a setting or the client.
RdKafkaHandle rdKafkaClient(rd_kafka_type_t type, const QString& bootstrap, const RdKafkaSettings& settings,
    QString& error, const std::function<void(rd_kafka_conf_t*)>& prepare = {});

// "<name>: <description>", empty for no error. The second takes the error over.
QString rdKafkaErrorText(rd_kafka_resp_err_t error);
QString rdKafkaErrorText(rd_kafka_error_t* error);
