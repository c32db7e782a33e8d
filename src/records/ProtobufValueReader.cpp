#include "ProtobufValueReader.h"

#include "ProtobufEnumNumberDatabase.h"
#include "ProtobufJsonTypeResolver.h"
#include "ProtobufLogCapture.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/wire_format.h>
#include <google/protobuf/wire_format_lite.h>

#include <QString>
#include <QUtf8StringView>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <vector>

namespace protobuf = google::protobuf;
using protobuf::FieldDescriptor;
using protobuf::internal::WireFormat;
using protobuf::internal::WireFormatLite;

namespace {

constexpr std::string_view AnyTypeName = "google.protobuf.Any";
constexpr std::string_view DurationTypeName = "google.protobuf.Duration";
constexpr std::string_view ValueTypeName = "google.protobuf.Value";
constexpr int AnyTypeUrlField = 1;
constexpr int AnyValueField = 2;
constexpr int DurationSecondsField = 1;
constexpr int DurationNanosField = 2;
constexpr int MaxVarint32Bytes = 5;
constexpr int MaxVarint64Bytes = 10;

// The well-known types that protobuf's JSON mapping writes in a form of their
// own; an Any shows that form under "value".
constexpr std::array<std::string_view, 16> OwnJsonFormTypes {
    "google.protobuf.Any",
    "google.protobuf.BoolValue",
    "google.protobuf.BytesValue",
    "google.protobuf.DoubleValue",
    "google.protobuf.Duration",
    "google.protobuf.FieldMask",
    "google.protobuf.FloatValue",
    "google.protobuf.Int32Value",
    "google.protobuf.Int64Value",
    "google.protobuf.ListValue",
    "google.protobuf.StringValue",
    "google.protobuf.Struct",
    "google.protobuf.Timestamp",
    "google.protobuf.UInt32Value",
    "google.protobuf.UInt64Value",
    "google.protobuf.Value",
};

KafkaError nestedTooDeep()
{
    return KafkaError(KafkaErrorCode::ProtobufInvalidArgument,
        QString("Messages nest more than %1 deep").arg(ProtobufValueReader::MaxDepth));
}

KafkaError unparsed(const protobuf::Descriptor& type, bool isPayload, const QStringList& reasons = {})
{
    QString message = QString("%1 does not parse as a message of type %2")
                          .arg(isPayload ? QString("An Any payload") : QString("The value"),
                              QString::fromStdString(type.full_name()));
    if (!reasons.isEmpty())
        message += ": " + reasons.join(QStringLiteral("; "));
    return KafkaError(KafkaErrorCode::ProtobufInvalidArgument, message);
}

// Why a Duration has no JSON form, or nothing. Its seconds and nanos must not
// have different signs; the conversion checks only part of that and makes a
// value up for the rest.
std::optional<KafkaError> durationProblem(const protobuf::Message& duration)
{
    const protobuf::Descriptor& type = *duration.GetDescriptor();
    const FieldDescriptor* secondsField = type.FindFieldByNumber(DurationSecondsField);
    const FieldDescriptor* nanosField = type.FindFieldByNumber(DurationNanosField);
    if (secondsField == nullptr || nanosField == nullptr || secondsField->is_repeated() || nanosField->is_repeated()
        || secondsField->cpp_type() != FieldDescriptor::CPPTYPE_INT64
        || nanosField->cpp_type() != FieldDescriptor::CPPTYPE_INT32)
        return std::nullopt;
    const qint64 seconds = duration.GetReflection()->GetInt64(duration, secondsField);
    const qint32 nanos = duration.GetReflection()->GetInt32(duration, nanosField);
    if ((seconds > 0 && nanos < 0) || (seconds < 0 && nanos > 0)) {
        return KafkaError(KafkaErrorCode::ProtobufInvalidArgument,
            QString("Invalid %1 of %2 seconds and %3 nanoseconds: seconds and nanos have different signs")
                .arg(QLatin1StringView(DurationTypeName.data(), qsizetype(DurationTypeName.size())))
                .arg(seconds)
                .arg(nanos));
    }
    return std::nullopt;
}

bool hasOwnJsonForm(const protobuf::Descriptor& type)
{
    return std::find(OwnJsonFormTypes.begin(), OwnJsonFormTypes.end(), type.full_name()) != OwnJsonFormTypes.end();
}

// Whether the entry's key sorts before the other entry's; keys that are no
// strings.
bool mapKeyLess(const protobuf::Message& entry, const protobuf::Message& other, const FieldDescriptor& key)
{
    const protobuf::Reflection& reflection = *entry.GetReflection();
    switch (key.cpp_type()) {
    case FieldDescriptor::CPPTYPE_INT32:
        return reflection.GetInt32(entry, &key) < reflection.GetInt32(other, &key);
    case FieldDescriptor::CPPTYPE_INT64:
        return reflection.GetInt64(entry, &key) < reflection.GetInt64(other, &key);
    case FieldDescriptor::CPPTYPE_UINT32:
        return reflection.GetUInt32(entry, &key) < reflection.GetUInt32(other, &key);
    case FieldDescriptor::CPPTYPE_UINT64:
        return reflection.GetUInt64(entry, &key) < reflection.GetUInt64(other, &key);
    case FieldDescriptor::CPPTYPE_BOOL:
        return reflection.GetBool(entry, &key) < reflection.GetBool(other, &key);
    default:
        return false;
    }
}

void appendVarint(std::string& output, std::uint32_t value)
{
    std::uint8_t bytes[MaxVarint32Bytes];
    const std::uint8_t* end = protobuf::io::CodedOutputStream::WriteVarint32ToArray(value, bytes);
    output.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(end - bytes));
}

bool isUtf8(std::string_view bytes)
{
    return QUtf8StringView(bytes.data(), static_cast<qsizetype>(bytes.size())).isValidUtf8();
}

// The bytes of a string field as UTF-8 with U+FFFD for each sequence that is
// none, as Qt's decoder reads them. The parser leaves proto2 strings
// unchecked, and the conversion would drop such bytes without a mark.
std::string shownUtf8(std::string_view bytes)
{
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())).toUtf8().toStdString();
}

void appendLengthDelimited(std::string& output, int number, std::string_view bytes)
{
    appendVarint(output, WireFormatLite::MakeTag(number, WireFormatLite::WIRETYPE_LENGTH_DELIMITED));
    appendVarint(output, static_cast<std::uint32_t>(bytes.size()));
    output.append(bytes);
}

// A length-delimited field whose content is appended next, so that nothing
// is copied twice: its length is a varint padded to five bytes (as the wire
// format allows), filled in by endLengthDelimited. Returns where the content
// begins.
std::size_t beginLengthDelimited(std::string& output, int number)
{
    appendVarint(output, WireFormatLite::MakeTag(number, WireFormatLite::WIRETYPE_LENGTH_DELIMITED));
    output.append(MaxVarint32Bytes, '\0');
    return output.size();
}

void endLengthDelimited(std::string& output, std::size_t contentStart)
{
    const auto length = static_cast<std::uint32_t>(output.size() - contentStart);
    char* varint = output.data() + contentStart - MaxVarint32Bytes;
    for (int i = 0; i < 4; ++i)
        varint[i] = static_cast<char>(((length >> (7 * i)) & 0x7F) | 0x80);
    varint[4] = static_cast<char>(length >> 28);
}

void appendVarint64(std::string& output, std::uint64_t value)
{
    std::uint8_t bytes[MaxVarint64Bytes];
    const std::uint8_t* end = protobuf::io::CodedOutputStream::WriteVarint64ToArray(value, bytes);
    output.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(end - bytes));
}

void appendFixed32(std::string& output, std::uint32_t value)
{
    std::uint8_t bytes[sizeof value];
    protobuf::io::CodedOutputStream::WriteLittleEndian32ToArray(value, bytes);
    output.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

void appendFixed64(std::string& output, std::uint64_t value)
{
    std::uint8_t bytes[sizeof value];
    protobuf::io::CodedOutputStream::WriteLittleEndian64ToArray(value, bytes);
    output.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

// Appends one value of a field that holds no message, with its tag, also
// when it is the field's default: the element `index` of a repeated field, or
// the value of a singular one (index -1). Repeated fields come unpacked, which
// the conversion reads as it reads packed ones.
void appendValue(std::string& output, const protobuf::Message& message, const FieldDescriptor& field, int index)
{
    using Type = FieldDescriptor::Type;
    const protobuf::Reflection& r = *message.GetReflection();
    const FieldDescriptor* f = &field;
    const bool element = index >= 0;
    appendVarint(output, WireFormatLite::MakeTag(field.number(), WireFormat::WireTypeForFieldType(field.type())));
    switch (field.type()) {
    case Type::TYPE_DOUBLE:
        return appendFixed64(output,
            WireFormatLite::EncodeDouble(element ? r.GetRepeatedDouble(message, f, index) : r.GetDouble(message, f)));
    case Type::TYPE_FLOAT:
        return appendFixed32(
            output, WireFormatLite::EncodeFloat(element ? r.GetRepeatedFloat(message, f, index) : r.GetFloat(message, f)));
    case Type::TYPE_INT64:
    case Type::TYPE_SFIXED64:
    case Type::TYPE_SINT64: {
        const std::int64_t value = element ? r.GetRepeatedInt64(message, f, index) : r.GetInt64(message, f);
        if (field.type() == Type::TYPE_SFIXED64)
            return appendFixed64(output, static_cast<std::uint64_t>(value));
        return appendVarint64(output,
            field.type() == Type::TYPE_SINT64 ? WireFormatLite::ZigZagEncode64(value) : static_cast<std::uint64_t>(value));
    }
    case Type::TYPE_UINT64:
    case Type::TYPE_FIXED64: {
        const std::uint64_t value = element ? r.GetRepeatedUInt64(message, f, index) : r.GetUInt64(message, f);
        return field.type() == Type::TYPE_FIXED64 ? appendFixed64(output, value) : appendVarint64(output, value);
    }
    case Type::TYPE_INT32:
    case Type::TYPE_SFIXED32:
    case Type::TYPE_SINT32: {
        const std::int32_t value = element ? r.GetRepeatedInt32(message, f, index) : r.GetInt32(message, f);
        if (field.type() == Type::TYPE_SFIXED32)
            return appendFixed32(output, static_cast<std::uint32_t>(value));
        if (field.type() == Type::TYPE_SINT32)
            return appendVarint(output, WireFormatLite::ZigZagEncode32(value));
        return appendVarint64(output, static_cast<std::uint64_t>(static_cast<std::int64_t>(value)));
    }
    case Type::TYPE_UINT32:
    case Type::TYPE_FIXED32: {
        const std::uint32_t value = element ? r.GetRepeatedUInt32(message, f, index) : r.GetUInt32(message, f);
        return field.type() == Type::TYPE_FIXED32 ? appendFixed32(output, value) : appendVarint(output, value);
    }
    case Type::TYPE_BOOL:
        return appendVarint(output, (element ? r.GetRepeatedBool(message, f, index) : r.GetBool(message, f)) ? 1 : 0);
    case Type::TYPE_ENUM: {
        const int value = element ? r.GetRepeatedEnumValue(message, f, index) : r.GetEnumValue(message, f);
        return appendVarint64(output, static_cast<std::uint64_t>(static_cast<std::int64_t>(value)));
    }
    case Type::TYPE_STRING:
    case Type::TYPE_BYTES: {
        std::string scratch;
        const std::string& read
            = element ? r.GetRepeatedStringReference(message, f, index, &scratch) : r.GetStringReference(message, f, &scratch);
        const std::string shown = field.type() == Type::TYPE_STRING && !isUtf8(read) ? shownUtf8(read) : std::string();
        const std::string& value = shown.empty() ? read : shown;
        appendVarint(output, static_cast<std::uint32_t>(value.size()));
        output.append(value);
        return;
    }
    case Type::TYPE_GROUP:
    case Type::TYPE_MESSAGE:
        return;
    }
}

// Appends every value of a field that holds no message.
void appendField(std::string& output, const protobuf::Message& message, const FieldDescriptor& field)
{
    if (!field.is_repeated())
        return appendValue(output, message, field, -1);
    for (int index = 0, count = message.GetReflection()->FieldSize(message, &field); index < count; ++index)
        appendValue(output, message, field, index);
}

// Appends the field holding the zero of its wire type: 0, or no bytes.
void appendZeroField(std::string& output, const FieldDescriptor& field)
{
    const bool nested = field.cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE;
    const WireFormatLite::WireType wireType
        = nested ? WireFormatLite::WIRETYPE_LENGTH_DELIMITED : WireFormat::WireTypeForFieldType(field.type());
    appendVarint(output, WireFormatLite::MakeTag(field.number(), wireType));
    if (wireType == WireFormatLite::WIRETYPE_FIXED64)
        output.append(8, '\0');
    else if (wireType == WireFormatLite::WIRETYPE_FIXED32)
        output.append(4, '\0');
    else
        output.push_back('\0');
}

} // namespace

ProtobufValueReader::ProtobufValueReader(const protobuf::DescriptorPool& pool)
    : m_pool(pool)
    , m_numberDatabase(std::make_unique<ProtobufEnumNumberDatabase>(pool))
    , m_numberPool(std::make_unique<protobuf::DescriptorPool>(m_numberDatabase.get()))
{
    // Imports are resolved by type name, as in the pool the files come from.
    m_numberPool->InternalSetLazilyBuildDependencies();
    m_factory = std::make_unique<protobuf::DynamicMessageFactory>(m_numberPool.get());
}

ProtobufValueReader::~ProtobufValueReader() = default;

Result<std::string, KafkaError> ProtobufValueReader::read(const protobuf::Descriptor& type, QByteArrayView value) const
{
    return readMessage(type, std::string_view(value.data(), static_cast<std::size_t>(value.size())), 0);
}

Result<std::string, KafkaError> ProtobufValueReader::readMessage(
    const protobuf::Descriptor& type, std::string_view value, int depth) const
{
    if (depth > MaxDepth)
        return nestedTooDeep();
    if (value.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return unparsed(type, depth > 0, { QStringLiteral("too large") });

    // The type with its closed enumerations' fields read as numbers; the
    // type itself where the files do not build so.
    const protobuf::Descriptor* numbered = m_numberPool->FindMessageTypeByName(type.full_name());
    // The factory hands out prototypes to several threads at once.
    const std::unique_ptr<protobuf::Message> message(
        m_factory->GetPrototype(numbered != nullptr ? numbered : &type)->New());
    {
        ProtobufLogCapture capture;
        if (!message->ParsePartialFromArray(value.data(), static_cast<int>(value.size())))
            return unparsed(type, depth > 0, capture.messages());
    }
    std::string written;
    written.reserve(value.size());
    if (std::optional<KafkaError> error = writeMessage(*message, depth, written))
        return std::move(*error);
    return written;
}

std::optional<KafkaError> ProtobufValueReader::writeMessage(
    const protobuf::Message& message, int depth, std::string& output) const
{
    if (depth > MaxDepth)
        return nestedTooDeep();
    const protobuf::Descriptor& type = *message.GetDescriptor();
    if (type.full_name() == AnyTypeName)
        return writeAny(message, depth, output);
    if (type.full_name() == DurationTypeName) {
        if (std::optional<KafkaError> problem = durationProblem(message))
            return problem;
    }

    const protobuf::Reflection& reflection = *message.GetReflection();
    std::vector<const FieldDescriptor*> fields;
    reflection.ListFields(message, &fields);
    if (fields.empty() && type.full_name() == ValueTypeName) {
        // null_value, the first of the kinds.
        if (const FieldDescriptor* first = type.FindFieldByNumber(1))
            appendZeroField(output, *first);
        return std::nullopt;
    }
    for (const FieldDescriptor* field : fields) {
        std::optional<KafkaError> error;
        if (field->cpp_type() != FieldDescriptor::CPPTYPE_MESSAGE) {
            appendField(output, message, *field);
        } else if (field->is_map()) {
            error = writeMap(message, *field, depth, output);
        } else if (field->is_repeated()) {
            for (int index = 0, count = reflection.FieldSize(message, field); index < count && !error; ++index)
                error = writeNested(field->number(), reflection.GetRepeatedMessage(message, field, index), depth + 1, output);
        } else {
            error = writeNested(field->number(), reflection.GetMessage(message, field, m_factory.get()), depth + 1, output);
        }
        if (error)
            return error;
    }
    return std::nullopt;
}

std::optional<KafkaError> ProtobufValueReader::writeNested(
    int number, const protobuf::Message& message, int depth, std::string& output) const
{
    const std::size_t contentStart = beginLengthDelimited(output, number);
    if (std::optional<KafkaError> error = writeMessage(message, depth, output))
        return error;
    endLengthDelimited(output, contentStart);
    return std::nullopt;
}

std::optional<KafkaError> ProtobufValueReader::writeMap(
    const protobuf::Message& message, const FieldDescriptor& field, int depth, std::string& output) const
{
    if (depth + 1 > MaxDepth)
        return nestedTooDeep();
    const protobuf::Reflection& reflection = *message.GetReflection();
    const FieldDescriptor& key = *field.message_type()->map_key();
    const FieldDescriptor& value = *field.message_type()->map_value();
    const bool stringKeys = key.cpp_type() == FieldDescriptor::CPPTYPE_STRING;
    // Each entry with its key as shown, for string keys.
    using Entry = std::pair<const protobuf::Message*, std::string>;
    std::vector<Entry> entries(static_cast<std::size_t>(reflection.FieldSize(message, &field)));
    for (std::size_t index = 0; index < entries.size(); ++index) {
        entries[index].first = &reflection.GetRepeatedMessage(message, &field, static_cast<int>(index));
        if (stringKeys) {
            std::string scratch;
            const std::string& read = entries[index].first->GetReflection()->GetStringReference(*entries[index].first, &key, &scratch);
            entries[index].second = isUtf8(read) ? read : shownUtf8(read);
        }
    }
    // A parsed map may still hold every entry of the wire, in wire order; of
    // entries with the same key the last one counts, as in the library's map.
    // So it does of keys that are shown alike: an object has each member once.
    const auto keyLess = [&key, stringKeys](const Entry& entry, const Entry& other) {
        return stringKeys ? entry.second < other.second : mapKeyLess(*entry.first, *other.first, key);
    };
    std::stable_sort(entries.begin(), entries.end(), keyLess);

    for (std::size_t index = 0; index < entries.size(); ++index) {
        const protobuf::Message* entry = entries[index].first;
        if (index + 1 < entries.size() && !keyLess(entries[index], entries[index + 1]))
            continue;
        const std::size_t contentStart = beginLengthDelimited(output, field.number());
        appendValue(output, *entry, key, -1);
        if (value.cpp_type() != FieldDescriptor::CPPTYPE_MESSAGE) {
            appendValue(output, *entry, value, -1);
        } else if (std::optional<KafkaError> error = writeNested(
                       value.number(), entry->GetReflection()->GetMessage(*entry, &value), depth + 2, output)) {
            return error;
        }
        endLengthDelimited(output, contentStart);
    }
    return std::nullopt;
}

std::optional<KafkaError> ProtobufValueReader::writeAny(const protobuf::Message& any, int depth, std::string& output) const
{
    const protobuf::Descriptor& type = *any.GetDescriptor();
    const FieldDescriptor* typeUrlField = type.FindFieldByNumber(AnyTypeUrlField);
    const FieldDescriptor* valueField = type.FindFieldByNumber(AnyValueField);
    for (const FieldDescriptor* field : { typeUrlField, valueField }) {
        if (field == nullptr || field->is_repeated() || field->cpp_type() != FieldDescriptor::CPPTYPE_STRING)
            return KafkaError(KafkaErrorCode::ProtobufInvalidArgument,
                QString("The schemas' %1 has no type URL and value fields of type string or bytes")
                    .arg(QString::fromStdString(type.full_name())));
    }
    const protobuf::Reflection& reflection = *any.GetReflection();
    const std::string typeUrl = reflection.GetString(any, typeUrlField);
    std::string payload = reflection.GetString(any, valueField);

    const std::string_view prefix = ProtobufJsonTypeResolver::UrlPrefix;
    const protobuf::Descriptor* payloadType = std::string_view(typeUrl).substr(0, prefix.size()) == prefix
        ? m_pool.FindMessageTypeByName(typeUrl.substr(prefix.size()))
        : nullptr;
    if (payloadType != nullptr) {
        if (!payload.empty()) {
            Result<std::string, KafkaError> read = readMessage(*payloadType, payload, depth + 1);
            if (read.isError())
                return std::move(read).error();
            payload = std::move(read).value();
        }
        // The conversion shows no "value" for an empty payload.
        const FieldDescriptor* first = payloadType->FindFieldByNumber(1);
        if (payload.empty() && hasOwnJsonForm(*payloadType) && first != nullptr)
            appendZeroField(payload, *first);
    }
    if (!typeUrl.empty())
        appendLengthDelimited(output, AnyTypeUrlField, typeUrl);
    if (!payload.empty())
        appendLengthDelimited(output, AnyValueField, payload);
    return std::nullopt;
}
