#include "ConfigurableDeserializer.h"

#include "KafkaErrorCode.h"
#include "ProtobufDeserializer.h"

#include <QStringDecoder>

#include <algorithm>
#include <optional>
#include <utility>

namespace {

// The encoding that a rule names, if Qt knows it.
std::optional<QStringConverter::Encoding> encodingFromName(const QString& name)
{
    if (name.isEmpty()) {
        return std::nullopt;
    }
    const QByteArray utf8Name = name.toUtf8();
    return QStringConverter::encodingForName(utf8Name.constData());
}

} // namespace

ConfigurableDeserializer::ConfigurableDeserializer(
    Config::Deserializer config, ProtobufRecordDeserializer* protobufDeserializer)
    : m_config(std::move(config))
    , m_protobufDeserializer(protobufDeserializer)
    , m_encoding(encodingFromName(m_config.textEncoding).value_or(QStringConverter::Utf8))
    , m_xmlTellsEncoding(m_config.contentType == Config::ContentType::Xml && !encodingFromName(m_config.textEncoding))
{
    // Compile both patterns now: afterwards they are only read, possibly from
    // several threads at once.
    m_config.topicPattern.optimize();
    m_config.headerPattern.optimize();
}

Result<DeserializedRecord, KafkaError> ConfigurableDeserializer::deserializeRecordPrefix(
    const KafkaRecord& record, qsizetype maxBytes) const
{
    switch (m_config.contentType) {
    case Config::ContentType::Text:
    case Config::ContentType::Json:
    case Config::ContentType::Xml:
        return decodeText(record.value, maxBytes);
    default:
        return RecordDeserializer::deserializeRecordPrefix(record, maxBytes);
    }
}

DeserializedRecord ConfigurableDeserializer::decodeText(const QByteArray& value, qsizetype maxBytes) const
{
    // XML read by its own encoding keeps its bytes for the XML parser; its
    // text follows a byte-order mark, else the encoding it declares, else the
    // rule's (UTF-8).
    if (m_xmlTellsEncoding) {
        if (std::optional<DeserializedRecord> own = decodeXmlByItsEncoding(value, maxBytes)) {
            return *std::move(own);
        }
    }
    // A fresh decoder per call; it is not flushed, so the bytes of a
    // character cut off at the very end are left out. Other encodings than
    // UTF-8 are therefore cut where maxBytes says, and the bytes of a
    // character cut off count as shown.
    QStringDecoder decoder(m_encoding);
    const qsizetype length = m_encoding == QStringConverter::Utf8 ? utf8PrefixLength(value, maxBytes)
                                                                  : std::clamp<qsizetype>(maxBytes, 0, value.size());
    QString text = decoder.decode(QByteArrayView(value).first(length));
    return DeserializedRecord {
        m_config.contentType, m_xmlTellsEncoding ? value : QByteArray(), std::move(text), value.size() - length};
}

bool ConfigurableDeserializer::supportsRecord(const KafkaRecord& record) const
{
    if (!m_config.topicPattern.match(record.topic).hasMatch()) {
        return false;
    }
    if (m_config.headerName.isEmpty()) {
        return true;
    }
    for (const KafkaHeader& header : record.headers) {
        if (header.key == m_config.headerName) {
            // Only the first header of that name counts.
            return !header.value.isEmpty()
                && m_config.headerPattern.match(QString::fromUtf8(header.value)).hasMatch();
        }
    }
    return false;
}

Result<DeserializedRecord, KafkaError> ConfigurableDeserializer::deserializeRecord(const KafkaRecord& record) const
{
    switch (m_config.contentType) {
    case Config::ContentType::Binary:
        return DeserializedRecord {Config::ContentType::Binary, record.value, QString()};
    case Config::ContentType::Text:
    case Config::ContentType::Json:
    case Config::ContentType::Xml:
        return decodeText(record.value, record.value.size());
    case Config::ContentType::Protobuf:
        if (m_protobufDeserializer == nullptr) {
            return KafkaError(KafkaErrorCode::RecordDeserializationError,
                QStringLiteral("No Protocol Buffers deserializer available"));
        }
        return m_protobufDeserializer->deserializeRecord(
            record, m_config.protobufMessageType, m_config.protobufMessageTypeHeader);
    }
    return KafkaError(KafkaErrorCode::RecordDeserializationError,
        QStringLiteral("Unhandled content type %1")
            .arg(QString::fromUtf8(Config::contentTypeName(m_config.contentType))));
}
