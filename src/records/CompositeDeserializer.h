#pragma once

#include "ConfigurableDeserializer.h"
#include "RecordDeserializer.h"

#include <QList>

// The configured rules of one cluster, tried in order: the first rule that
// applies to a record decides its result (also when it fails). A record that
// no rule covers is classified by its content: Binary, Json, Xml or Text;
// XML also after a byte-order mark (UTF-8, UTF-16 or UTF-32). Text is read
// as UTF-8, except XML after a byte-order mark, read by the mark, and XML
// that declares an encoding Qt reads it by (ISO-8859-1, windows-1252...);
// XML keeps its bytes for the XML parser.
//
// Filled once, before it is shared; afterwards only read, so the GUI thread
// and the filter thread may decode with it at the same time.
class CompositeDeserializer final : public RecordDeserializer {
public:
    CompositeDeserializer() = default;
    explicit CompositeDeserializer(QList<ConfigurableDeserializer> deserializers);

    // Replaces the rules. Only while no other thread uses this object.
    void setDeserializers(QList<ConfigurableDeserializer> deserializers);
    const QList<ConfigurableDeserializer>& deserializers() const { return m_deserializers; }

    // The result of the first applicable rule, else the sniffed content (never
    // an error).
    Result<DeserializedRecord, KafkaError> deserializeRecord(const KafkaRecord& record) const override;
    // The applicable rule's prefix; sniffed text values decode only their
    // first maxBytes bytes (the content type still comes from the whole value).
    Result<DeserializedRecord, KafkaError> deserializeRecordPrefix(
        const KafkaRecord& record, qsizetype maxBytes) const override;

private:
    QList<ConfigurableDeserializer> m_deserializers;
};
