#include "RdKafkaErrorText.h"

QString rdKafkaErrorText(rd_kafka_resp_err_t error)
{
    if (error == RD_KAFKA_RESP_ERR_NO_ERROR) {
        return {};
    }
    return QStringLiteral("%1: %2").arg(QString::fromUtf8(rd_kafka_err2name(error)),
                                        QString::fromUtf8(rd_kafka_err2str(error)));
}

QString rdKafkaErrorText(const RdKafkaErrorHandle& error)
{
    if (!error) {
        return {};
    }
    return QStringLiteral("%1: %2").arg(QString::fromUtf8(rd_kafka_error_name(error.get())),
                                        QString::fromUtf8(rd_kafka_error_string(error.get())));
}
