#pragma once

#include <librdkafka/rdkafka.h>

#include <memory>

// Owning pointers for librdkafka's C objects, each released with its own
// destroy function.
template <auto destroy>
struct RdKafkaDeleter {
    template <typename T>
    void operator()(T* object) const noexcept
    {
        if (object != nullptr) {
            destroy(object);
        }
    }
};

using RdKafkaHandle = std::unique_ptr<rd_kafka_t, RdKafkaDeleter<rd_kafka_destroy>>;
using RdKafkaConfHandle = std::unique_ptr<rd_kafka_conf_t, RdKafkaDeleter<rd_kafka_conf_destroy>>;
using RdKafkaErrorHandle = std::unique_ptr<rd_kafka_error_t, RdKafkaDeleter<rd_kafka_error_destroy>>;
using RdKafkaHeadersHandle = std::unique_ptr<rd_kafka_headers_t, RdKafkaDeleter<rd_kafka_headers_destroy>>;
using RdKafkaMessageHandle = std::unique_ptr<rd_kafka_message_t, RdKafkaDeleter<rd_kafka_message_destroy>>;
using RdKafkaMetadataHandle =
    std::unique_ptr<const rd_kafka_metadata_t, RdKafkaDeleter<rd_kafka_metadata_destroy>>;
using RdKafkaPartitionListHandle =
    std::unique_ptr<rd_kafka_topic_partition_list_t, RdKafkaDeleter<rd_kafka_topic_partition_list_destroy>>;
using RdKafkaQueueHandle = std::unique_ptr<rd_kafka_queue_t, RdKafkaDeleter<rd_kafka_queue_destroy>>;
using RdKafkaEventHandle = std::unique_ptr<rd_kafka_event_t, RdKafkaDeleter<rd_kafka_event_destroy>>;
using RdKafkaAdminOptionsHandle =
    std::unique_ptr<rd_kafka_AdminOptions_t, RdKafkaDeleter<rd_kafka_AdminOptions_destroy>>;
using RdKafkaNewTopicHandle = std::unique_ptr<rd_kafka_NewTopic_t, RdKafkaDeleter<rd_kafka_NewTopic_destroy>>;
using RdKafkaDeleteTopicHandle =
    std::unique_ptr<rd_kafka_DeleteTopic_t, RdKafkaDeleter<rd_kafka_DeleteTopic_destroy>>;
