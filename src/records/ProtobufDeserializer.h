#pragma once

#include "Config.h"
#include "DeserializedRecord.h"
#include "Error.h"
#include "KafkaRecord.h"
#include "Result.h"

#include <QList>
#include <QString>

#include <memory>

class ProtobufJsonTypeResolver;
class ProtobufValueReader;

namespace google::protobuf {
class DescriptorPool;
}

// Decodes record values that are Protocol Buffers messages and renders them as
// compact JSON. The schemas are the ".proto" files below the configured schema
// directories, compiled at run time into one descriptor pool; there is no
// generated code. Protocol Buffers' well-known types (google/protobuf/*.proto)
// resolve from the library's own pool when a schema directory does not ship
// them. Every import must resolve, to a file below one of the schema
// directories or to one the library ships; any other import is a load error.
//
// After creation nothing changes: deserializeRecord may be called from several
// threads at once.
class ProtobufRecordDeserializer {
public:
    // Compiles every ".proto" file below each schema path (relative paths are
    // relative to the clusters directory). Every path and file is tried; any
    // problem fails the whole load and all problems come back together, missing
    // paths first (in path order), then compiler messages (first-seen order,
    // each text once). All errors carry KafkaErrorCode::ProtobufSchemaError.
    static Result<std::unique_ptr<ProtobufRecordDeserializer>, QList<KafkaError>> create(
        const Config::ProtobufDeserializer& config);

    // Takes the compiled pool over.
    explicit ProtobufRecordDeserializer(std::unique_ptr<google::protobuf::DescriptorPool> pool);
    ~ProtobufRecordDeserializer();

    ProtobufRecordDeserializer(const ProtobufRecordDeserializer&) = delete;
    ProtobufRecordDeserializer& operator=(const ProtobufRecordDeserializer&) = delete;
    ProtobufRecordDeserializer(ProtobufRecordDeserializer&&) = delete;
    ProtobufRecordDeserializer& operator=(ProtobufRecordDeserializer&&) = delete;

    // Converts the record's value, read as a message of the fully qualified type
    // messageType, or, when messageTypeHeader is not empty, of the type named by
    // the first header of that key. The result is Config::ContentType::Json with
    // protobuf's JSON mapping of the message that libprotobuf parses from the
    // value as text (well-known types included; groups as nested objects;
    // extensions under their full name in brackets; map entries in key
    // order). Failures are KafkaErrorCode::RecordDeserializationError;
    // a failed conversion carries one cause saying why: an unknown type, a
    // value that is no message of the type (ProtobufValueReader), or the
    // library's status.
    // Changes nothing (safe to call from several threads at once).
    Result<DeserializedRecord, KafkaError> deserializeRecord(
        const KafkaRecord& record, const QString& messageType, const QString& messageTypeHeader);

private:
    std::unique_ptr<google::protobuf::DescriptorPool> m_pool;
    std::unique_ptr<ProtobufJsonTypeResolver> m_typeResolver;
    std::unique_ptr<ProtobufValueReader> m_valueReader;
};
