#include "RdKafkaConfig.h"

#include <array>

RdKafkaConfig::RdKafkaConfig(const QString& bootstrap)
    : m_conf(rd_kafka_conf_new())
{
    set("bootstrap.servers", bootstrap.toUtf8());
    set("client.id", "skelvane-test-support");
}

void RdKafkaConfig::set(const char* name, const QByteArray& value)
{
    std::array<char, 512> reason {};
    if (rd_kafka_conf_set(m_conf.get(), name, value.constData(), reason.data(), reason.size())
            != RD_KAFKA_CONF_OK
        && m_error.isEmpty()) {
        m_error = QStringLiteral("Setting %1=%2 refused: %3")
                      .arg(QString::fromUtf8(name), QString::fromUtf8(value), QString::fromUtf8(reason.data()));
    }
}

RdKafkaHandle RdKafkaConfig::createClient(rd_kafka_type_t type, QString& error)
{
    if (!m_error.isEmpty()) {
        error = m_error;
        return {};
    }
    if (!m_conf) {
        error = QStringLiteral("The settings were already handed to a client");
        return {};
    }
    std::array<char, 512> reason {};
    RdKafkaHandle client(rd_kafka_new(type, m_conf.get(), reason.data(), reason.size()));
    if (!client) {
        error = QStringLiteral("Creating the librdkafka client failed: %1").arg(QString::fromUtf8(reason.data()));
        return {};
    }
    static_cast<void>(m_conf.release()); // owned by the client now
    return client;
}
