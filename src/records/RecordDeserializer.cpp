#include "RecordDeserializer.h"

#include <algorithm>
#include <utility>

namespace {

// The bytes that `text` takes in UTF-8; a surrogate pair takes four, two for
// each half.
qsizetype utf8Length(QStringView text)
{
    qsizetype length = 0;
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        length += unit < 0x80 ? 1 : unit < 0x800 || c.isSurrogate() ? 2 : 3;
    }
    return length;
}

} // namespace

Result<DeserializedRecord, KafkaError> RecordDeserializer::deserializeRecordPrefix(
    const KafkaRecord& record, qsizetype maxBytes) const
{
    Result<DeserializedRecord, KafkaError> result = deserializeRecord(record);
    if (result.isError() || result.value().text.size() <= maxBytes) {
        return result;
    }
    DeserializedRecord decoded = std::move(result).value();
    // Not between the two halves of a surrogate pair.
    qsizetype cut = std::max<qsizetype>(maxBytes, 0);
    if (cut > 0 && decoded.text.at(cut - 1).isHighSurrogate()) {
        --cut;
    }
    decoded.omittedBytes = utf8Length(QStringView(decoded.text).sliced(cut));
    decoded.text.truncate(cut);
    return decoded;
}

qsizetype RecordDeserializer::utf8PrefixLength(QByteArrayView bytes, qsizetype maxBytes)
{
    if (maxBytes >= bytes.size()) {
        return bytes.size();
    }
    qsizetype length = std::max<qsizetype>(maxBytes, 0);
    // Continuation bytes (10xxxxxx) belong to the character before them; a
    // character has at most three of them.
    for (int back = 0; back < 3 && length > 0 && (static_cast<unsigned char>(bytes[length]) & 0xC0) == 0x80; ++back) {
        --length;
    }
    return length;
}
