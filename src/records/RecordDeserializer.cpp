#include "RecordDeserializer.h"

#include <QRegularExpression>

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

// An XML declaration with an encoding, at the start of the text; the name
// is the first or the second group. Blanks are those of XML (not Unicode's).
const QRegularExpression& xmlDeclarationWithEncoding()
{
    static const QRegularExpression declaration = [] {
        QRegularExpression expression(QStringLiteral(R"re(^<\?xml[ \t\r\n]+version[ \t\r\n]*=[ \t\r\n]*)re"
                                                     R"re((?:"1\.[0-9]+"|'1\.[0-9]+'))re"
                                                     R"re([ \t\r\n]+encoding[ \t\r\n]*=[ \t\r\n]*)re"
                                                     R"re((?:"([A-Za-z][A-Za-z0-9._-]*)"|'([A-Za-z][A-Za-z0-9._-]*)'))re"
                                                     R"re((?:[ \t\r\n]+standalone[ \t\r\n]*=[ \t\r\n]*)re"
                                                     R"re((?:"(?:yes|no)"|'(?:yes|no)'))?[ \t\r\n]*\?>)re"));
        // Compiled now: afterwards it is only read, from any thread.
        expression.optimize();
        return expression;
    }();
    return declaration;
}

} // namespace

QStringDecoder RecordDeserializer::declaredXmlDecoder(QByteArrayView value)
{
    // Most values are not XML with a declaration: they cost one comparison.
    if (!value.startsWith("<?xml")) {
        return QStringDecoder();
    }
    const QByteArrayView start = value.first(std::min(value.size(), XmlDeclarationLength));
    const QRegularExpressionMatch match = xmlDeclarationWithEncoding().match(QString::fromLatin1(start));
    if (!match.hasMatch()) {
        return QStringDecoder();
    }
    const QByteArray name = match.captured(match.hasCaptured(1) ? 1 : 2).toLatin1();
    if (QStringConverter::encodingForName(name.constData()) == QStringConverter::Utf8) {
        return QStringDecoder();
    }
    QStringDecoder probe(name.constData());
    if (!probe.isValid() || probe.decode(start.first(match.capturedLength())) != match.captured()) {
        return QStringDecoder();
    }
    return QStringDecoder(name.constData());
}

std::optional<DeserializedRecord> RecordDeserializer::decodeXmlByItsEncoding(const QByteArray& value, qsizetype maxBytes)
{
    const std::optional<QStringConverter::Encoding> marked = QStringConverter::encodingForData(value);
    QStringDecoder decoder = marked ? QStringDecoder(*marked) : declaredXmlDecoder(value);
    if (!decoder.isValid()) {
        return std::nullopt;
    }
    const qsizetype length = std::clamp<qsizetype>(maxBytes, 0, value.size());
    return DeserializedRecord {
        Config::ContentType::Xml, value, decoder.decode(QByteArrayView(value).first(length)), value.size() - length};
}

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
