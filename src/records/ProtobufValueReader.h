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

// Reads a record value as a message of a given type and writes that message
// again for libprotobuf's binary-to-JSON conversion. The conversion trusts its
// input and renders its bytes as they come: a packed field whose length runs
// past the end of the value makes it loop for ever, bytes that are no message
// of the type come out as made-up fields, and what the parser would merge
// (a field met twice, a map entry's key after its value, a oneof set twice)
// comes out as it lies on the wire.
//
// Here libprotobuf's own parser reads the value into a message of the type
// (required fields may be missing; extensions of the pool are read), and the
// conversion gets that message, written by its reflection:
// - its fields in number order, each once, extensions included; unknown
//   fields left out (the conversion would leave them out too);
// - map entries in key order, each with its key and its value;
// - every group framed as a length-delimited message, to match the group
//   fields that ProtobufJsonTypeResolver presents as message fields;
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
// Keeps no mutable state of its own (the message factory guards itself): read
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
    std::unique_ptr<google::protobuf::DynamicMessageFactory> m_factory;
};
