#include "ProtobufValueReader.h"

#include "ProtobufJsonTypeResolver.h"
#include "ProtobufLogCapture.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/wire_format.h>
#include <google/protobuf/wire_format_lite.h>

#include <QString>

#include <limits>
#include <optional>

namespace protobuf = google::protobuf;
using protobuf::internal::WireFormat;
using protobuf::internal::WireFormatLite;

namespace {

constexpr std::string_view AnyTypeName = "google.protobuf.Any";
constexpr int AnyTypeUrlField = 1;
constexpr int AnyValueField = 2;
constexpr int MaxVarint32Bytes = 5;
constexpr auto MaxLength = static_cast<std::uint32_t>(std::numeric_limits<int>::max());

KafkaError nestedTooDeep()
{
    return KafkaError(KafkaErrorCode::ProtobufInvalidArgument,
        QString("Messages nest more than %1 deep").arg(ProtobufValueReader::MaxDepth));
}

// Whether the wire type is one the field can come in (packable fields in
// either form).
bool wireTypeFits(const protobuf::FieldDescriptor& field, WireFormatLite::WireType wireType)
{
    return WireFormat::WireTypeForFieldType(field.type()) == wireType
        || (field.is_packable() && wireType == WireFormatLite::WIRETYPE_LENGTH_DELIMITED);
}

// Whether the bytes of a packed field are whole elements of the wire type
// (the conversion reads a packed field until its end and never gets there
// when the last element is cut).
bool packedElementsWhole(std::string_view bytes, WireFormatLite::WireType elementType)
{
    protobuf::io::CodedInputStream input(reinterpret_cast<const std::uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
    std::uint64_t varint = 0;
    std::uint32_t fixed32 = 0;
    std::uint64_t fixed64 = 0;
    while (input.CurrentPosition() < static_cast<int>(bytes.size())) {
        bool read = false;
        if (elementType == WireFormatLite::WIRETYPE_VARINT)
            read = input.ReadVarint64(&varint);
        else if (elementType == WireFormatLite::WIRETYPE_FIXED32)
            read = input.ReadLittleEndian32(&fixed32);
        else if (elementType == WireFormatLite::WIRETYPE_FIXED64)
            read = input.ReadLittleEndian64(&fixed64);
        if (!read)
            return false;
    }
    return true;
}

void appendVarint(std::string& output, std::uint32_t value)
{
    std::uint8_t bytes[MaxVarint32Bytes];
    const std::uint8_t* end = protobuf::io::CodedOutputStream::WriteVarint32ToArray(value, bytes);
    output.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(end - bytes));
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

} // namespace

ProtobufValueReader::ProtobufValueReader(const protobuf::DescriptorPool& pool)
    : m_pool(pool)
    , m_factory(std::make_unique<protobuf::DynamicMessageFactory>(&pool))
{
}

ProtobufValueReader::~ProtobufValueReader() = default;

KafkaError ProtobufValueReader::unparsed(const Scope& scope, const QStringList& reasons)
{
    QString message = QString("%1 does not parse as a message of type %2")
                          .arg(scope.isPayload ? QString("An Any payload") : QString("The value"),
                              QString::fromStdString(scope.type.full_name()));
    if (!reasons.isEmpty())
        message += ": " + reasons.join(QStringLiteral("; "));
    return KafkaError(KafkaErrorCode::ProtobufInvalidArgument, message);
}

Result<std::string, KafkaError> ProtobufValueReader::read(const protobuf::Descriptor& type, QByteArrayView value) const
{
    return readMessage(type, std::string_view(value.data(), static_cast<std::size_t>(value.size())), 0);
}

Result<std::string, KafkaError> ProtobufValueReader::readMessage(
    const protobuf::Descriptor& type, std::string_view value, int depth) const
{
    if (depth > MaxDepth)
        return nestedTooDeep();
    const Scope scope { type, depth > 0, value };
    if (value.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return unparsed(scope, { QStringLiteral("too large") });

    // libprotobuf's parser decides what is a message of the type. The factory
    // hands out prototypes to several threads at once.
    {
        const std::unique_ptr<protobuf::Message> message(m_factory->GetPrototype(&type)->New());
        ProtobufLogCapture capture;
        if (!message->ParsePartialFromArray(value.data(), static_cast<int>(value.size())))
            return unparsed(scope, capture.messages());
    }
    protobuf::io::CodedInputStream input(reinterpret_cast<const std::uint8_t*>(value.data()), static_cast<int>(value.size()));
    std::string rewritten;
    rewritten.reserve(value.size());
    if (std::optional<KafkaError> error = rewriteMessage(scope, type, input, 0, depth, rewritten))
        return std::move(*error);
    return rewritten;
}

std::optional<KafkaError> ProtobufValueReader::rewriteMessage(const Scope& scope, const protobuf::Descriptor& type,
    protobuf::io::CodedInputStream& input, std::uint32_t endTag, int depth, std::string& output) const
{
    if (depth > MaxDepth)
        return nestedTooDeep();
    if (type.full_name() == AnyTypeName)
        return rewriteAny(scope, input, depth, output);

    for (;;) {
        const int fieldStart = input.CurrentPosition();
        const std::uint32_t tag = input.ReadTag();
        if (tag == endTag)
            break;
        if (tag == 0)
            return unparsed(scope);
        const int number = WireFormatLite::GetTagFieldNumber(tag);
        const WireFormatLite::WireType wireType = WireFormatLite::GetTagWireType(tag);
        const protobuf::FieldDescriptor* field = type.FindFieldByNumber(number);
        if (field == nullptr || !wireTypeFits(*field, wireType)) {
            if (!WireFormatLite::SkipField(&input, tag))
                return unparsed(scope);
            continue;
        }
        const WireFormatLite::WireType fieldWireType = WireFormat::WireTypeForFieldType(field->type());
        if (field->type() == protobuf::FieldDescriptor::TYPE_GROUP) {
            const std::size_t contentStart = beginLengthDelimited(output, number);
            if (std::optional<KafkaError> error = rewriteMessage(scope, *field->message_type(), input,
                    WireFormatLite::MakeTag(number, WireFormatLite::WIRETYPE_END_GROUP), depth + 1, output))
                return error;
            endLengthDelimited(output, contentStart);
        } else if (field->type() == protobuf::FieldDescriptor::TYPE_MESSAGE) {
            std::uint32_t length = 0;
            if (!input.ReadVarint32(&length) || length > MaxLength)
                return unparsed(scope);
            const protobuf::io::CodedInputStream::Limit limit = input.PushLimit(static_cast<int>(length));
            const std::size_t contentStart = beginLengthDelimited(output, number);
            if (std::optional<KafkaError> error = rewriteMessage(scope, *field->message_type(), input, 0, depth + 1, output))
                return error;
            endLengthDelimited(output, contentStart);
            input.PopLimit(limit);
        } else {
            if (wireType != fieldWireType) {
                // Packed: whole elements only.
                std::uint32_t length = 0;
                if (!input.ReadVarint32(&length))
                    return unparsed(scope);
                const auto contentStart = static_cast<std::size_t>(input.CurrentPosition());
                if (length > MaxLength || !input.Skip(static_cast<int>(length))
                    || !packedElementsWhole(scope.bytes.substr(contentStart, length), fieldWireType))
                    return unparsed(scope);
            } else if (!WireFormatLite::SkipField(&input, tag)) {
                return unparsed(scope);
            }
            // The field as it came, tag included.
            output.append(scope.bytes.substr(
                static_cast<std::size_t>(fieldStart), static_cast<std::size_t>(input.CurrentPosition() - fieldStart)));
        }
    }
    if (endTag == 0 && !input.ConsumedEntireMessage())
        return unparsed(scope);
    return std::nullopt;
}

std::optional<KafkaError> ProtobufValueReader::rewriteAny(
    const Scope& scope, protobuf::io::CodedInputStream& input, int depth, std::string& output) const
{
    std::string typeUrl;
    std::string payload;
    for (std::uint32_t tag = input.ReadTag(); tag != 0; tag = input.ReadTag()) {
        bool read = false;
        if (tag == WireFormatLite::MakeTag(AnyTypeUrlField, WireFormatLite::WIRETYPE_LENGTH_DELIMITED))
            read = WireFormatLite::ReadString(&input, &typeUrl);
        else if (tag == WireFormatLite::MakeTag(AnyValueField, WireFormatLite::WIRETYPE_LENGTH_DELIMITED))
            read = WireFormatLite::ReadBytes(&input, &payload);
        else
            read = WireFormatLite::SkipField(&input, tag);
        if (!read)
            return unparsed(scope);
    }
    if (!input.ConsumedEntireMessage())
        return unparsed(scope);

    const std::string_view prefix = ProtobufJsonTypeResolver::UrlPrefix;
    if (!payload.empty() && std::string_view(typeUrl).substr(0, prefix.size()) == prefix) {
        if (const protobuf::Descriptor* payloadType = m_pool.FindMessageTypeByName(typeUrl.substr(prefix.size()))) {
            Result<std::string, KafkaError> read = readMessage(*payloadType, payload, depth + 1);
            if (read.isError())
                return std::move(read).error();
            payload = std::move(read).value();
        }
    }
    if (!typeUrl.empty())
        appendLengthDelimited(output, AnyTypeUrlField, typeUrl);
    if (!payload.empty())
        appendLengthDelimited(output, AnyValueField, payload);
    return std::nullopt;
}
