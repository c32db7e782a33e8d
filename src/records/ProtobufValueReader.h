#pragma once

#include "Error.h"
#include "Result.h"

#include <QByteArrayView>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace google::protobuf {
class Descriptor;
class DescriptorPool;
class DynamicMessageFactory;
namespace io {
class CodedInputStream;
}
}

// Reads a record value as a message of a given type before libprotobuf's
// binary-to-JSON conversion sees it. That conversion trusts its input: a
// packed field whose length runs past the end of the value makes it loop for
// ever, and bytes that are no message of the type come out as made-up fields.
//
// Here the value must parse whole as a message of the type, as libprotobuf's
// own parser takes it (required fields may be missing). It is then written
// again as it came, field by field in the same order, with these changes:
// - fields whose number or wire type the schema does not know are left out
//   (the conversion leaves them out too, except where it stumbles on them);
// - a packed field must hold whole elements;
// - every group is framed as a length-delimited message, to match the group
//   fields that ProtobufJsonTypeResolver presents as message fields;
// - the payload of every Any whose type the pool knows under the standard URL
//   prefix is read in the same way; other payloads are left to the conversion,
//   which refuses them with its reason.
// Messages, groups and Any payloads may nest MaxDepth deep in all.
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

    // The value written again as above, or why it is no message of the type
    // (KafkaErrorCode::ProtobufInvalidArgument, with libprotobuf's own words
    // where it gave any).
    Result<std::string, KafkaError> read(const google::protobuf::Descriptor& type, QByteArrayView value) const;

private:
    // The message that readMessage reads: the record's value or an Any
    // payload.
    struct Scope {
        const google::protobuf::Descriptor& type;
        bool isPayload;
        std::string_view bytes;
    };
    static KafkaError unparsed(const Scope& scope, const QStringList& reasons = {});

    Result<std::string, KafkaError> readMessage(
        const google::protobuf::Descriptor& type, std::string_view value, int depth) const;
    // The fields of one message up to endTag (0: the end of the input or of
    // its limit), written again.
    // Append the fields of one message of scope.bytes, read from input up to
    // endTag (0: the end of the input or of its limit), rewritten, to output.
    std::optional<KafkaError> rewriteMessage(const Scope& scope, const google::protobuf::Descriptor& type,
        google::protobuf::io::CodedInputStream& input, std::uint32_t endTag, int depth, std::string& output) const;
    std::optional<KafkaError> rewriteAny(
        const Scope& scope, google::protobuf::io::CodedInputStream& input, int depth, std::string& output) const;

    const google::protobuf::DescriptorPool& m_pool;
    std::unique_ptr<google::protobuf::DynamicMessageFactory> m_factory;
};
