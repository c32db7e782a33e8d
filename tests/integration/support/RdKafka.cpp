#include "RdKafka.h"

#include <array>

RdKafkaHandle rdKafkaClient(rd_kafka_type_t type, const QString& bootstrap, const RdKafkaSettings& settings,
    QString& error, const std::function<void(rd_kafka_conf_t*)>& prepare)
{
    RdKafkaConfHandle conf(rd_kafka_conf_new());
    std::array<char, 512> reason {};
    const RdKafkaSettings common { { "bootstrap.servers", bootstrap.toUtf8() }, { "client.id", "skelvane-test-support" } };
    for (const auto& [name, value] : common + settings) {
        if (rd_kafka_conf_set(conf.get(), name, value.constData(), reason.data(), reason.size()) != RD_KAFKA_CONF_OK) {
            error = QStringLiteral("Setting %1=%2 refused: %3")
                        .arg(QString::fromUtf8(name), QString::fromUtf8(value), QString::fromUtf8(reason.data()));
            return {};
        }
    }
    if (prepare)
        prepare(conf.get());
    RdKafkaHandle client(rd_kafka_new(type, conf.get(), reason.data(), reason.size()));
    if (!client) {
        error = QStringLiteral("Creating the librdkafka client failed: %1").arg(QString::fromUtf8(reason.data()));
        return {};
    }
    static_cast<void>(conf.release()); // owned by the client now
    return client;
}

QString rdKafkaErrorText(rd_kafka_resp_err_t error)
{
    if (error == RD_KAFKA_RESP_ERR_NO_ERROR)
        return {};
    return QStringLiteral("%1: %2").arg(
        QString::fromUtf8(rd_kafka_err2name(error)), QString::fromUtf8(rd_kafka_err2str(error)));
}

QString rdKafkaErrorText(rd_kafka_error_t* error)
{
    const RdKafkaPointer<rd_kafka_error_t, rd_kafka_error_destroy> owned(error);
    if (!owned)
        return {};
    return QStringLiteral("%1: %2").arg(
        QString::fromUtf8(rd_kafka_error_name(error)), QString::fromUtf8(rd_kafka_error_string(error)));
}
