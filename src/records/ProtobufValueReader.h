#pragma once

#include "Error.h"
#include "Result.h"

#include <QByteArrayView>
#include <QStringList>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace google::protobuf {
class Descriptor;
class DescriptorPool;
class DynamicMessageFactory;
class FieldDescriptor;
class Message;
}
class ProtobufEnumNumberDatabase;

// Reads a record value as a message of a given type and writes that message
// again for libprotobuf's binary-to-JSON conversion. The conversion trusts its
// input and renders its bytes as they come: a packed field whose length runs
// past the end of the value makes it loop for ever, bytes that are no message
// of the type come out as made-up fields, and what the parser would merge
// (a field met twice, a map entry's key after its value, a oneof set twice)
// comes out as it lies on the wire.
//
// Here libprotobuf's own parser reads the value into a message of the type
// (required fields may be missing; extensions of the pool are read), with the
// fields of closed enumerations read as numbers (ProtobufEnumNumberDatabase)
// so that a number the enumeration does not define stays where the value put
// it; the conversion shows it as a number. The conversion gets that message,
// written by its reflection:
// - its fields in number order, each once, extensions included; unknown
//   fields left out (the conversion would leave them out too);
// - map entries in key order, each with its key and its value;
// - every group framed as a length-delimited message, to match the group
//   fields that ProtobufJsonTypeResolver presents as message fields;
// - strings as UTF-8, U+FFFD for each sequence that is none (proto2 leaves
//   strings unchecked; the conversion would drop such bytes), map entries
//   with string keys shown alike counting as one key;
// - a google.protobuf.Value that holds nothing as a null value, as protobuf's
//   JSON mapping reads it;
// - the payload of every Any whose type the pool knows under the standard URL
//   prefix read and written in the same way; an empty one of a well-known type
//   with a JSON form of its own with its first field present, so that the
//   conversion shows the type's default value. Other payloads are left to the
//   conversion, which refuses them with its reason before it reads them.
// A google.protobuf.Duration whose seconds and nanos have different signs is
// refused (the conversion checks the other limits of Duration and Timestamp).
// Messages, groups, map entries and Any payloads may nest MaxDepth deep in all.
//
// Keeps no mutable state of its own (the message factory and the pool of
// numbered types guard themselves): read
// may be called from several threads at once.
class ProtobufValueReader {
public:
    static constexpr int MaxDepth = 100;

    // The pool must outlive the reader.
    explicit ProtobufValueReader(const google::protobuf::DescriptorPool& pool);
    ~ProtobufValueReader();

    ProtobufValueReader(const ProtobufValueReader&) = delete;
    ProtobufValueReader& operator=(const ProtobufValueReader&) = delete;
    ProtobufValueReader(ProtobufValueReader&&) = delete;
    ProtobufValueReader& operator=(ProtobufValueReader&&) = delete;

    // The message of the value written as above, or why there is none
    // (KafkaErrorCode::ProtobufInvalidArgument, with libprotobuf's own words
    // where it gave any).
    Result<std::string, KafkaError> read(const google::protobuf::Descriptor& type, QByteArrayView value) const;

private:
    // The value, or an Any payload at depth > 0, parsed and written again.
    Result<std::string, KafkaError> readMessage(
        const google::protobuf::Descriptor& type, std::string_view value, int depth) const;
    // Appends the fields of the message, written as above, to output.
    std::optional<KafkaError> writeMessage(const google::protobuf::Message& message, int depth, std::string& output) const;
    // Appends a message field (or group, or map entry) as a length-delimited
    // field of the number.
    std::optional<KafkaError> writeNested(
        int number, const google::protobuf::Message& message, int depth, std::string& output) const;
    std::optional<KafkaError> writeMap(const google::protobuf::Message& message,
        const google::protobuf::FieldDescriptor& field, int depth, std::string& output) const;
    std::optional<KafkaError> writeAny(const google::protobuf::Message& any, int depth, std::string& output) const;

    const google::protobuf::DescriptorPool& m_pool;
    // The pool's files with closed enumerations' fields as numbers, built as
    // the parser asks for them; messages are read as its types.
    std::unique_ptr<ProtobufEnumNumberDatabase> m_numberDatabase;
    std::unique_ptr<google::protobuf::DescriptorPool> m_numberPool;
    std::unique_ptr<google::protobuf::DynamicMessageFactory> m_factory;
};
