#pragma once

#include "Config.h"
#include "RecordDeserializer.h"

#include <QStringConverter>

class ProtobufRecordDeserializer;

// One configured deserializer rule: which records it applies to (topic and
// header patterns) and how it decodes their values.
class ConfigurableDeserializer final : public RecordDeserializer {
public:
    // Takes the rule over. Text values are decoded as UTF-8 unless the rule
    // names another encoding that Qt knows; an unknown name keeps UTF-8.
    // Xml values of a rule that names no encoding (or an unknown one) tell
    // their own, by a byte-order mark or their declaration, and their text is
    // decoded by it (as UTF-8 when they tell none that Qt reads them by);
    // their results keep the value's bytes as `data`.
    // protobufDeserializer is shared by the rules of one records tab and must
    // outlive them; null when no schemas could be loaded.
    ConfigurableDeserializer(Config::Deserializer config, ProtobufRecordDeserializer* protobufDeserializer);

    // Whether the rule applies: its topic pattern matches somewhere in the
    // topic and, when it names a header, the first header of that name has a
    // non-empty value in which the header pattern matches (read as UTF-8).
    bool supportsRecord(const KafkaRecord& record) const;

    // Decodes the value by the rule's content type, whether or not the rule
    // applies to the record.
    Result<DeserializedRecord, KafkaError> deserializeRecord(const KafkaRecord& record) const override;
    // Text, Json and Xml rules decode only the value's first maxBytes bytes.
    Result<DeserializedRecord, KafkaError> deserializeRecordPrefix(
        const KafkaRecord& record, qsizetype maxBytes) const override;

    QStringConverter::Encoding encoding() const { return m_encoding; }

private:
    // The value's first maxBytes bytes at most decoded as the rule's content
    // type with its encoding (cut back to a character boundary in UTF-8),
    // the bytes left out counted.
    DeserializedRecord decodeText(const QByteArray& value, qsizetype maxBytes) const;

    Config::Deserializer m_config;
    ProtobufRecordDeserializer* m_protobufDeserializer = nullptr;
    QStringConverter::Encoding m_encoding = QStringConverter::Utf8;
    // An Xml rule that names no encoding Qt knows.
    bool m_xmlTellsEncoding = false;
};
