#include "CompositeDeserializer.h"

#include <QByteArrayView>
#include <QStringDecoder>

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

namespace {

// Sniffing looks at no more than this many leading bytes.
constexpr qsizetype SniffLength = 200;

bool isPrintable(char byte)
{
    const auto value = static_cast<unsigned char>(byte);
    return (value >= 0x20 && value <= 0x7F) || value == '\t' || value == '\n' || value == '\r';
}

// Empty, a zero byte, or at least a fifth of non-printable bytes among the
// first SniffLength bytes.
bool isProbablyBinary(const QByteArray& value)
{
    if (value.isEmpty()) {
        return true;
    }
    const qsizetype scanned = std::min(value.size(), SniffLength);
    qsizetype printable = 0;
    for (qsizetype i = 0; i < scanned; ++i) {
        const char byte = value.at(i);
        if (byte == '\0') {
            return true;
        }
        if (isPrintable(byte)) {
            ++printable;
        }
    }
    return (scanned - printable) * 100 >= scanned * 20;
}

bool isProbablyJson(QByteArrayView bytes)
{
    if (bytes.isEmpty()) {
        return false;
    }
    const char first = bytes.front();
    const char last = bytes.back();
    return (first == '{' && last == '}') || (first == '[' && last == ']');
}

bool isProbablyXml(QByteArrayView bytes)
{
    if (bytes.startsWith("<?xml")) {
        return true;
    }
    return !bytes.isEmpty() && bytes.front() == '<' && bytes.back() == '>';
}

// The text of `bytes` in `encoding`, a byte-order mark at the start left out.
QString decoded(QStringConverter::Encoding encoding, QByteArrayView bytes)
{
    QStringDecoder decoder(encoding);
    return decoder.decode(bytes);
}

// Whether a value that starts with a byte-order mark for `encoding` holds XML:
// its text, blanks around it left out, starts with "<?xml", or with '<' and
// ends with '>'. Only the first SniffLength and the last few bytes are read.
bool isXmlAfterByteOrderMark(QByteArrayView value, QStringConverter::Encoding encoding)
{
    const QString start = decoded(encoding, value.first(std::min(value.size(), SniffLength))).trimmed();
    if (start.startsWith(QLatin1String("<?xml"))) {
        return true;
    }
    // Whole UTF-16 and UTF-32 code units from the end, enough for '>' and a
    // few blanks after it.
    constexpr qsizetype EndLength = 32;
    const QString end = decoded(encoding, value.last(std::min(value.size(), EndLength))).trimmed();
    return start.startsWith(QLatin1Char('<')) && end.endsWith(QLatin1Char('>'));
}

Config::ContentType sniffTextType(const QByteArray& value)
{
    if (isProbablyJson(value)) {
        return Config::ContentType::Json;
    }
    if (isProbablyXml(value)) {
        return Config::ContentType::Xml;
    }
    const QByteArrayView trimmed = QByteArrayView(value).trimmed();
    if (isProbablyJson(trimmed)) {
        return Config::ContentType::Json;
    }
    if (isProbablyXml(trimmed)) {
        return Config::ContentType::Xml;
    }
    return Config::ContentType::Text;
}

} // namespace

CompositeDeserializer::CompositeDeserializer(QList<ConfigurableDeserializer> deserializers)
    : m_deserializers(std::move(deserializers))
{
}

void CompositeDeserializer::setDeserializers(QList<ConfigurableDeserializer> deserializers)
{
    m_deserializers = std::move(deserializers);
}

Result<DeserializedRecord, KafkaError> CompositeDeserializer::deserializeRecord(const KafkaRecord& record) const
{
    // A prefix that no value outgrows is the whole value, nothing omitted.
    return deserializeRecordPrefix(record, std::numeric_limits<qsizetype>::max());
}

Result<DeserializedRecord, KafkaError> CompositeDeserializer::deserializeRecordPrefix(
    const KafkaRecord& record, qsizetype maxBytes) const
{
    for (const ConfigurableDeserializer& deserializer : m_deserializers) {
        if (deserializer.supportsRecord(record)) {
            return deserializer.deserializeRecordPrefix(record, maxBytes);
        }
    }
    // XML in UTF-16, say, is full of zero bytes; its byte-order mark shows it
    // is text, decoded by the mark, whatever a declaration says. XML keeps
    // its bytes for the XML parser.
    const std::optional<QStringConverter::Encoding> marked = QStringConverter::encodingForData(record.value);
    if (marked && isXmlAfterByteOrderMark(record.value, *marked)) {
        return *decodeXmlByItsEncoding(record.value, maxBytes);
    }
    if (isProbablyBinary(record.value)) {
        return DeserializedRecord {Config::ContentType::Binary, record.value, QString()};
    }
    const Config::ContentType type = sniffTextType(record.value);
    if (type == Config::ContentType::Xml) {
        // The encoding that XML declares, when Qt reads it by.
        if (std::optional<DeserializedRecord> declared = decodeXmlByItsEncoding(record.value, maxBytes)) {
            return *std::move(declared);
        }
    }
    const qsizetype length = utf8PrefixLength(record.value, maxBytes);
    return DeserializedRecord {type, type == Config::ContentType::Xml ? record.value : QByteArray(),
        QString::fromUtf8(QByteArrayView(record.value).first(length)), record.value.size() - length};
}
