#pragma once

#include "DeserializedRecord.h"
#include "Error.h"
#include "KafkaRecord.h"
#include "Result.h"

#include <QByteArrayView>
#include <QStringDecoder>

#include <optional>

// Reads a record's value for display and for body filters.
//
// Implementations keep no mutable state: deserializeRecord may be called from
// several threads at once on the same object.
class RecordDeserializer {
public:
    virtual ~RecordDeserializer() = default;

    // Failures carry KafkaErrorCode::RecordDeserializationError, or the
    // errors of the Protocol Buffers deserializer unchanged.
    virtual Result<DeserializedRecord, KafkaError> deserializeRecord(const KafkaRecord& record) const = 0;

    // As deserializeRecord, for showing no more than about `maxBytes` of a
    // value as text: where the rule allows, only the first maxBytes bytes of a
    // Text, Json or Xml value are decoded (cut back to a character boundary);
    // otherwise the whole value is decoded and its text cut after maxBytes
    // characters. The result's omittedBytes tells how much was left out.
    // Binary results keep every byte.
    virtual Result<DeserializedRecord, KafkaError> deserializeRecordPrefix(
        const KafkaRecord& record, qsizetype maxBytes) const;

    // The length of the longest prefix of `bytes`, at most maxBytes long, that
    // does not end inside a UTF-8 character.
    static qsizetype utf8PrefixLength(QByteArrayView bytes, qsizetype maxBytes);

protected:
    // The decoder for the encoding that the XML declaration at the very start
    // of `value` names, read from its first XmlDeclarationLength bytes at
    // most. Invalid when there is no well-formed declaration there or it
    // names no encoding, when it names UTF-8 (which is read without one),
    // when Qt does not know the name, and when that encoding does not read
    // the declaration itself back as written (UTF-8 bytes labelled UTF-16,
    // as some serializers write them). A byte-order mark decides before any
    // declaration; callers look for one first.
    static QStringDecoder declaredXmlDecoder(QByteArrayView value);
    // XML that tells its own encoding, by a byte-order mark or else by its
    // declaration (declaredXmlDecoder): its first maxBytes bytes at most
    // decoded by it, as Xml that keeps the value's bytes for the XML parser.
    // The decoder leaves out a character cut off at the end; its bytes count
    // as shown. Nothing when the value tells no encoding that Qt reads.
    static std::optional<DeserializedRecord> decodeXmlByItsEncoding(const QByteArray& value, qsizetype maxBytes);

    static constexpr qsizetype XmlDeclarationLength = 200;

    RecordDeserializer() = default;
    RecordDeserializer(const RecordDeserializer&) = default;
    RecordDeserializer& operator=(const RecordDeserializer&) = default;
    RecordDeserializer(RecordDeserializer&&) = default;
    RecordDeserializer& operator=(RecordDeserializer&&) = default;
};
