#include "ProtobufEnumNumberDatabase.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>

namespace protobuf = google::protobuf;
using protobuf::FieldDescriptor;
using protobuf::FieldDescriptorProto;

namespace {

// A proto3 field keeps every number of its proto3 enumeration; a proto2
// field keeps only the defined ones, of a proto3 enumeration too.
bool isClosedEnum(const FieldDescriptor& field)
{
    constexpr auto proto3 = protobuf::FileDescriptor::SYNTAX_PROTO3;
    return field.type() == FieldDescriptor::TYPE_ENUM
        && (field.file()->syntax() != proto3 || field.enum_type()->file()->syntax() != proto3);
}

void numberField(const FieldDescriptor& field, FieldDescriptorProto& proto)
{
    if (!isClosedEnum(field))
        return;
    proto.set_type(FieldDescriptorProto::TYPE_INT32);
    proto.clear_type_name();
    proto.clear_default_value();
    // A map entry without its value holds the enumeration's default.
    if (!field.is_repeated() && field.default_value_enum() != nullptr)
        proto.set_default_value(std::to_string(field.default_value_enum()->number()));
}

// Descriptor::CopyTo keeps the order of fields, extensions and nested types.
void numberMessage(const protobuf::Descriptor& type, protobuf::DescriptorProto& proto)
{
    for (int index = 0; index < type.field_count() && index < proto.field_size(); ++index)
        numberField(*type.field(index), *proto.mutable_field(index));
    for (int index = 0; index < type.extension_count() && index < proto.extension_size(); ++index)
        numberField(*type.extension(index), *proto.mutable_extension(index));
    for (int index = 0; index < type.nested_type_count() && index < proto.nested_type_size(); ++index)
        numberMessage(*type.nested_type(index), *proto.mutable_nested_type(index));
}

} // namespace

ProtobufEnumNumberDatabase::ProtobufEnumNumberDatabase(const protobuf::DescriptorPool& pool)
    : m_pool(pool)
{
}

bool ProtobufEnumNumberDatabase::FindFileByName(const std::string& filename, protobuf::FileDescriptorProto* output)
{
    return copy(m_pool.FindFileByName(filename), output);
}

bool ProtobufEnumNumberDatabase::FindFileContainingSymbol(const std::string& symbolName, protobuf::FileDescriptorProto* output)
{
    return copy(m_pool.FindFileContainingSymbol(symbolName), output);
}

bool ProtobufEnumNumberDatabase::FindFileContainingExtension(
    const std::string& containingType, int fieldNumber, protobuf::FileDescriptorProto* output)
{
    const protobuf::Descriptor* type = m_pool.FindMessageTypeByName(containingType);
    const FieldDescriptor* extension = type == nullptr ? nullptr : m_pool.FindExtensionByNumber(type, fieldNumber);
    return copy(extension == nullptr ? nullptr : extension->file(), output);
}

bool ProtobufEnumNumberDatabase::copy(const protobuf::FileDescriptor* file, protobuf::FileDescriptorProto* output)
{
    if (file == nullptr)
        return false;
    // Not FileDescriptor::CopyTo: it looks the imports up by their names,
    // which the pool does not know (its files are named after their schema
    // directory). The types are found by their full names, as in the pool.
    output->Clear();
    output->set_name(file->name());
    output->set_package(file->package());
    if (file->syntax() == protobuf::FileDescriptor::SYNTAX_PROTO3)
        output->set_syntax(protobuf::FileDescriptor::SyntaxName(file->syntax()));
    for (int index = 0; index < file->enum_type_count(); ++index)
        file->enum_type(index)->CopyTo(output->add_enum_type());
    for (int index = 0; index < file->message_type_count(); ++index) {
        file->message_type(index)->CopyTo(output->add_message_type());
        numberMessage(*file->message_type(index), *output->mutable_message_type(index));
    }
    for (int index = 0; index < file->extension_count(); ++index) {
        file->extension(index)->CopyTo(output->add_extension());
        numberField(*file->extension(index), *output->mutable_extension(index));
    }
    return true;
}
