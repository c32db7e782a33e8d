#pragma once

#include "RdKafkaPointers.h"

#include <QString>

// librdkafka errors as text for test messages: "<name>: <description>";
// an empty string for no error.
QString rdKafkaErrorText(rd_kafka_resp_err_t error);
QString rdKafkaErrorText(const RdKafkaErrorHandle& error);
