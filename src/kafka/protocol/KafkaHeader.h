#pragma once

#include <QByteArray>
#include <QString>

// One header of a record: a UTF-8 key and opaque value bytes. Null and empty
// are distinct for both.
struct KafkaHeader {
    QString key;
    QByteArray value;

    friend bool operator==(const KafkaHeader&, const KafkaHeader&) = default;
};
