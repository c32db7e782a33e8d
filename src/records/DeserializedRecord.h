#pragma once

#include "Config.h"

#include <QByteArray>
#include <QString>

// A record value as it is to be shown: its content type and either its text
// (Text, Json, Xml) or its raw bytes (Binary). Protocol Buffers values come
// back as Json with their JSON rendering as text.
struct DeserializedRecord {
    Config::ContentType contentType = Config::ContentType::Text;
    // The value's bytes, set for Binary and for Xml whose encoding no rule
    // names (its byte-order mark or declaration tell it, for the XML parser
    // to read); null otherwise.
    QByteArray data;
    // The decoded text for Text, Json and Xml; null for Binary.
    QString text;
    // Bytes of the value (or of its rendering) left out of `text` by
    // RecordDeserializer::deserializeRecordPrefix; 0 when the text is whole.
    qsizetype omittedBytes = 0;
};
