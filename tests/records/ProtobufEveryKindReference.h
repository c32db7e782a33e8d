#pragma once

// What libprotobuf's own JSON printer shows of a message of the schema with a
// field of every kind (ProtobufEveryKind.h) read with extAsFieldsProto, made
// into what the deserializer must show where the printer drops a value:
// - every Level is read as the number on the wire; the printed numbers that
//   Level defines get their names, the others stay numbers;
// - the bytes of a string that are no UTF-8 become U+FFFD as Qt's decoder
//   reads them (the printer drops them, and more);
// - unknown fields are dropped (the printer would read them as the fields of
//   their numbers).
// Shared by the differential test and the fuzz target.

#include "ProtobufEveryKind.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/message.h>

#include <QString>

#include <jansson.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace ProtobufEveryKindReference {

namespace detail {

inline void prepareFields(google::protobuf::Message& message);

inline void prepareAny(google::protobuf::Message& any)
{
    namespace protobuf = google::protobuf;
    const protobuf::Reflection& r = *any.GetReflection();
    const protobuf::FieldDescriptor* valueField = any.GetDescriptor()->FindFieldByNumber(2);
    const std::string typeUrl = r.GetString(any, any.GetDescriptor()->FindFieldByNumber(1));
    const std::string prefix = "type.googleapis.com/";
    if (typeUrl.compare(0, prefix.size(), prefix) != 0)
        return;
    const protobuf::Descriptor* type = any.GetDescriptor()->file()->pool()->FindMessageTypeByName(typeUrl.substr(prefix.size()));
    if (type == nullptr)
        return;
    protobuf::DynamicMessageFactory factory(type->file()->pool());
    std::unique_ptr<protobuf::Message> payload(factory.GetPrototype(type)->New());
    if (!payload->ParsePartialFromString(r.GetString(any, valueField)))
        return;
    payload->DiscardUnknownFields();
    prepareFields(*payload);
    r.SetString(&any, valueField, payload->SerializePartialAsString());
}

inline void prepareFields(google::protobuf::Message& message)
{
    namespace protobuf = google::protobuf;
    using protobuf::FieldDescriptor;
    const protobuf::Descriptor& type = *message.GetDescriptor();
    if (type.full_name() == "google.protobuf.Any")
        return prepareAny(message);
    const protobuf::Reflection& r = *message.GetReflection();
    std::vector<const FieldDescriptor*> fields;
    r.ListFields(message, &fields);
    for (const FieldDescriptor* field : fields) {
        const bool repeated = field->is_repeated();
        for (int index = 0, count = repeated ? r.FieldSize(message, field) : 1; index < count; ++index) {
            if (field->type() == FieldDescriptor::TYPE_STRING) {
                const std::string bytes = repeated ? r.GetRepeatedString(message, field, index) : r.GetString(message, field);
                const std::string shown = QString::fromUtf8(bytes.data(), qsizetype(bytes.size())).toUtf8().toStdString();
                if (shown != bytes)
                    repeated ? r.SetRepeatedString(&message, field, index, shown) : r.SetString(&message, field, shown);
            } else if (field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE) {
                prepareFields(repeated ? *r.MutableRepeatedMessage(&message, field, index) : *r.MutableMessage(&message, field));
            }
        }
    }
}

// A new reference to Level's name for the value, or null.
inline json_t* levelName(const json_t* value)
{
    const char* name = json_is_integer(value) ? ProtobufEveryKind::levelName(json_integer_value(value)) : nullptr;
    return name == nullptr ? nullptr : json_string(name);
}

// Names the Level or the Levels of an array.
inline void nameLevel(json_t* object, const char* key, json_t* value)
{
    if (json_t* name = levelName(value)) {
        json_object_set_new(object, key, name);
        return;
    }
    for (std::size_t index = 0; json_is_array(value) && index < json_array_size(value); ++index) {
        if (json_t* name = levelName(json_array_get(value, index)))
            json_array_set_new(value, index, name);
    }
}

} // namespace detail

// Prepares a parsed message for the library's printer as above.
inline void prepare(google::protobuf::Message& message)
{
    message.DiscardUnknownFields();
    detail::prepareFields(message);
}

// Gives the Levels in the printed JSON their names.
inline void nameLevels(json_t* json)
{
    if (json_is_array(json)) {
        for (std::size_t index = 0; index < json_array_size(json); ++index)
            nameLevels(json_array_get(json, index));
        return;
    }
    const char* key = nullptr;
    json_t* value = nullptr;
    void* next = nullptr;
    json_object_foreach_safe(json, next, key, value)
    {
        for (const char* member : ProtobufEveryKind::levelMembers) {
            if (std::strcmp(key, member) == 0)
                detail::nameLevel(json, key, value);
        }
        if (std::strcmp(key, ProtobufEveryKind::levelMapMember) == 0 && json_is_object(value)) {
            const char* entryKey = nullptr;
            json_t* entryValue = nullptr;
            void* entryNext = nullptr;
            json_object_foreach_safe(value, entryNext, entryKey, entryValue)
            {
                detail::nameLevel(value, entryKey, entryValue);
            }
        }
        nameLevels(json_object_get(json, key));
    }
}

} // namespace ProtobufEveryKindReference
