#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// One record as the tests produce it. An absent key, value or header value
// (std::nullopt) is null on the wire, distinct from an empty one.
struct TestRecord {
    struct Header {
        QByteArray name;
        std::optional<QByteArray> value;
    };

    QString topic;
    qint32 partition = -1; // -1: the producer's partitioner chooses
    std::optional<QByteArray> key;
    std::optional<QByteArray> value;
    QList<Header> headers;
    qint64 timestamp = 0; // milliseconds since the epoch; 0: now
};
