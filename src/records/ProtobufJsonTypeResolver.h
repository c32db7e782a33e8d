#pragma once

#include <google/protobuf/util/type_resolver.h>

#include <QString>

#include <memory>
#include <string>
#include <string_view>

namespace google::protobuf {
class DescriptorPool;
}

// Type information for libprotobuf's binary-to-JSON conversion: the pool's
// types under the standard type URL prefix, so that Any payloads packed the
// way every library packs them resolve, and the well-known types (Struct and
// its null values, wrappers, Timestamp, ...) come out as protobuf's JSON
// mapping writes them.
//
// Group fields are presented as message fields: the conversion cannot render
// a group and would leave it out without a word. ProtobufValueReader frames
// every group as a length-delimited message to match.
//
// The extensions that the pool knows for a message type are presented as
// fields of the type named as protobuf's JSON mapping names them: the full
// name in brackets, as in "[acme.legacy.note]". The conversion would leave
// them out without a word.
//
// Keeps no state of its own: safe to use from several threads at once, as the
// pool is.
class ProtobufJsonTypeResolver : public google::protobuf::util::TypeResolver {
public:
    static constexpr std::string_view UrlPrefix = "type.googleapis.com/";

    // The type URL of a fully qualified message type name.
    static std::string typeUrl(const QString& typeName);

    // The pool must outlive the resolver.
    explicit ProtobufJsonTypeResolver(const google::protobuf::DescriptorPool* pool);
    ~ProtobufJsonTypeResolver() override;

    google::protobuf::util::Status ResolveMessageType(
        const std::string& typeUrl, google::protobuf::Type* messageType) override;
    google::protobuf::util::Status ResolveEnumType(const std::string& typeUrl, google::protobuf::Enum* enumType) override;

private:
    const google::protobuf::DescriptorPool* m_pool;
    std::unique_ptr<google::protobuf::util::TypeResolver> m_resolver;
};
