#pragma once

#include "RdKafkaPointers.h"

#include <QByteArray>
#include <QString>

// librdkafka client settings for one broker address. The first setting that
// librdkafka refuses is kept and reported when the client is created.
class RdKafkaConfig {
public:
    explicit RdKafkaConfig(const QString& bootstrap);

    void set(const char* name, const QByteArray& value);
    rd_kafka_conf_t* get() const { return m_conf.get(); }

    // Creates the client, which takes the settings over; on failure returns
    // null and sets error.
    RdKafkaHandle createClient(rd_kafka_type_t type, QString& error);

private:
    RdKafkaConfHandle m_conf;
    QString m_error;
};
