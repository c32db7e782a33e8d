#include "ProtobufJsonTypeResolver.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/type.pb.h>
#include <google/protobuf/util/type_resolver_util.h>

#include <vector>

namespace protobuf = google::protobuf;

namespace {

// The conversion's form of a field, groups as messages.
protobuf::Field::Kind fieldKind(protobuf::FieldDescriptor::Type type)
{
    if (type == protobuf::FieldDescriptor::TYPE_GROUP)
        return protobuf::Field::TYPE_MESSAGE;
    return static_cast<protobuf::Field::Kind>(type);
}

// The extension as a field of the type it extends.
void appendExtension(protobuf::Type& type, const protobuf::FieldDescriptor& extension)
{
    protobuf::Field& field = *type.add_fields();
    field.set_kind(fieldKind(extension.type()));
    field.set_cardinality(static_cast<protobuf::Field::Cardinality>(extension.label()));
    field.set_number(extension.number());
    field.set_name(extension.full_name());
    field.set_json_name("[" + extension.full_name() + "]");
    field.set_packed(extension.is_packed());
    if (extension.message_type() != nullptr)
        field.set_type_url(ProtobufJsonTypeResolver::typeUrl(QString::fromStdString(extension.message_type()->full_name())));
    else if (extension.enum_type() != nullptr)
        field.set_type_url(ProtobufJsonTypeResolver::typeUrl(QString::fromStdString(extension.enum_type()->full_name())));
}

} // namespace

std::string ProtobufJsonTypeResolver::typeUrl(const QString& typeName)
{
    // Joined as a QString: GCC 12 takes a std::string concatenation in a
    // release build for an overlapping copy of 2^63 bytes (-Wrestrict), a known
    // false positive.
    return (QLatin1StringView(UrlPrefix.data(), static_cast<qsizetype>(UrlPrefix.size())) + typeName).toStdString();
}

ProtobufJsonTypeResolver::ProtobufJsonTypeResolver(const protobuf::DescriptorPool* pool)
    : m_pool(pool)
    // The library's resolver takes the prefix without its closing "/".
    , m_resolver(protobuf::util::NewTypeResolverForDescriptorPool(
          std::string(UrlPrefix.substr(0, UrlPrefix.size() - 1)), pool))
{
}

ProtobufJsonTypeResolver::~ProtobufJsonTypeResolver() = default;

protobuf::util::Status ProtobufJsonTypeResolver::ResolveMessageType(
    const std::string& typeUrl, protobuf::Type* messageType)
{
    protobuf::util::Status status = m_resolver->ResolveMessageType(typeUrl, messageType);
    if (!status.ok())
        return status;
    for (protobuf::Field& field : *messageType->mutable_fields()) {
        if (field.kind() == protobuf::Field::TYPE_GROUP)
            field.set_kind(protobuf::Field::TYPE_MESSAGE);
    }
    // The library's resolver found the type under the prefix.
    if (const protobuf::Descriptor* type = m_pool->FindMessageTypeByName(typeUrl.substr(UrlPrefix.size()))) {
        std::vector<const protobuf::FieldDescriptor*> extensions;
        m_pool->FindAllExtensions(type, &extensions);
        for (const protobuf::FieldDescriptor* extension : extensions)
            appendExtension(*messageType, *extension);
    }
    return status;
}

protobuf::util::Status ProtobufJsonTypeResolver::ResolveEnumType(const std::string& typeUrl, protobuf::Enum* enumType)
{
    return m_resolver->ResolveEnumType(typeUrl, enumType);
}
