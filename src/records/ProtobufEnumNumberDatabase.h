#pragma once

#include <google/protobuf/descriptor_database.h>

#include <string>

namespace google::protobuf {
class DescriptorPool;
class FileDescriptor;
class FileDescriptorProto;
}

// The files of a descriptor pool, as a database for a second pool that reads
// values exactly as the first would, except that every field of a closed
// enumeration type (one declared in a proto2 file) is an int32 field of the
// same number, with the enumeration's default as its default.
//
// libprotobuf's parser keeps a number that a closed enumeration does not
// define out of the field: it goes to the unknown fields, away from its place
// among the field's other values, a map entry keeps its default value instead
// and a oneof keeps the member set before. Read as an int32 field, the number
// stays where the value put it and counts as the field's value as any other
// would; written back, it is the same varint.
//
// Answers from the pool it is given, which must outlive it and may be used
// from several threads at once; a pool built on it locks its own calls.
class ProtobufEnumNumberDatabase : public google::protobuf::DescriptorDatabase {
public:
    explicit ProtobufEnumNumberDatabase(const google::protobuf::DescriptorPool& pool);

    bool FindFileByName(const std::string& filename, google::protobuf::FileDescriptorProto* output) override;
    bool FindFileContainingSymbol(const std::string& symbolName, google::protobuf::FileDescriptorProto* output) override;
    bool FindFileContainingExtension(
        const std::string& containingType, int fieldNumber, google::protobuf::FileDescriptorProto* output) override;

private:
    static bool copy(const google::protobuf::FileDescriptor* file, google::protobuf::FileDescriptorProto* output);

    const google::protobuf::DescriptorPool& m_pool;
};
