#include "ProtobufJsonTypeResolver.h"

#include <google/protobuf/type.pb.h>
#include <google/protobuf/util/type_resolver_util.h>

namespace protobuf = google::protobuf;

std::string ProtobufJsonTypeResolver::typeUrl(const QString& typeName)
{
    // Joined as a QString: GCC 12 takes a std::string concatenation in a
    // release build for an overlapping copy of 2^63 bytes (-Wrestrict), a known
    // false positive.
    return (QLatin1StringView(UrlPrefix.data(), static_cast<qsizetype>(UrlPrefix.size())) + typeName).toStdString();
}

ProtobufJsonTypeResolver::ProtobufJsonTypeResolver(const protobuf::DescriptorPool* pool)
    // The library's resolver takes the prefix without its closing "/".
    : m_resolver(protobuf::util::NewTypeResolverForDescriptorPool(
          std::string(UrlPrefix.substr(0, UrlPrefix.size() - 1)), pool))
{
}

ProtobufJsonTypeResolver::~ProtobufJsonTypeResolver() = default;

protobuf::util::Status ProtobufJsonTypeResolver::ResolveMessageType(
    const std::string& typeUrl, protobuf::Type* messageType)
{
    protobuf::util::Status status = m_resolver->ResolveMessageType(typeUrl, messageType);
    if (status.ok()) {
        for (protobuf::Field& field : *messageType->mutable_fields()) {
            if (field.kind() == protobuf::Field::TYPE_GROUP)
                field.set_kind(protobuf::Field::TYPE_MESSAGE);
        }
    }
    return status;
}

protobuf::util::Status ProtobufJsonTypeResolver::ResolveEnumType(const std::string& typeUrl, protobuf::Enum* enumType)
{
    return m_resolver->ResolveEnumType(typeUrl, enumType);
}
