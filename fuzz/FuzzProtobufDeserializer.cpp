// Feeds arbitrary bytes as a record value to the Protocol Buffers
// deserializer, read as one of the types of a schema that holds what
// libprotobuf reads in ways of its own: nested and recursive messages, packed
// repeated fields, maps, oneofs, enumerations, proto2 groups and required
// fields, Any, Struct and the other well-known types. The first byte picks
// the type and whether it is the rule's type or named by a record header.
#include "FuzzHome.h"
#include "ProtobufDeserializer.h"

#include <QDir>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

const QByteArray nodeProto = R"(syntax = "proto3";
package fuzz;
import "google/protobuf/any.proto";
import "google/protobuf/duration.proto";
import "google/protobuf/field_mask.proto";
import "google/protobuf/struct.proto";
import "google/protobuf/timestamp.proto";
import "google/protobuf/wrappers.proto";
import "legacy.proto";
message Node {
  enum Kind { KIND_UNSPECIFIED = 0; LEAF = 1; BRANCH = 2; }
  message Leaf { string label = 1; bytes data = 2; double weight = 3; }
  Kind kind = 1;
  repeated Node children = 2;
  Leaf leaf = 3;
  repeated int32 ints = 4;
  repeated sint64 sints = 5;
  repeated fixed32 fixeds = 6;
  repeated double doubles = 7;
  repeated bool flags = 8;
  repeated Kind kinds = 9;
  map<string, Node> named = 10;
  map<int64, string> labels = 11;
  oneof choice { string text = 12; uint64 number = 13; Leaf picked = 14; }
  google.protobuf.Any extra = 15;
  google.protobuf.Struct attributes = 16;
  google.protobuf.Value value = 17;
  google.protobuf.Timestamp at = 18;
  google.protobuf.Duration took = 19;
  google.protobuf.Int64Value wrapped = 20;
  google.protobuf.FieldMask mask = 21;
  repeated google.protobuf.Any extras = 22;
  fuzz.legacy.Reading reading = 23;
}
)";

const QByteArray legacyProto = R"(syntax = "proto2";
package fuzz.legacy;
message Reading {
  enum Unit { CELSIUS = 0; FAHRENHEIT = 1; }
  optional string sensor = 1;
  repeated int32 samples = 2 [packed = true];
  repeated group Sample = 3 { optional sint32 delta = 4; optional Reading nested = 5; }
  required int32 id = 6;
  optional Unit unit = 7;
  repeated Unit units = 8;
  extensions 100 to 199;
}
)";

const std::array<QString, 8> typeNames {
    QStringLiteral("fuzz.Node"),
    QStringLiteral("fuzz.Node.Leaf"),
    QStringLiteral("fuzz.legacy.Reading"),
    QStringLiteral("google.protobuf.Any"),
    QStringLiteral("google.protobuf.Struct"),
    QStringLiteral("google.protobuf.Value"),
    QStringLiteral("google.protobuf.ListValue"),
    QStringLiteral("fuzz.Missing"),
};

// Set up once per process: the schema files in the fuzz home, compiled.
ProtobufRecordDeserializer& deserializer()
{
    static const std::unique_ptr<ProtobufRecordDeserializer> instance = [] {
        const QString dir = FuzzHome::instance().configDir() + "/clusters/protobuf";
        QDir().mkpath(dir);
        for (const auto& [name, text] : { std::pair { "/node.proto", &nodeProto }, std::pair { "/legacy.proto", &legacyProto } }) {
            FuzzHome::instance().write(dir + name, reinterpret_cast<const std::uint8_t*>(text->constData()),
                static_cast<std::size_t>(text->size()));
        }
        auto created = ProtobufRecordDeserializer::create(Config::ProtobufDeserializer { { dir } });
        if (!created.hasValue())
            qFatal("the fuzz schemas do not compile: %s", qPrintable(created.error().first().message));
        return std::move(created).value();
    }();
    return *instance;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QString& typeName = typeNames[data[0] % typeNames.size()];
    const bool fromHeader = (data[0] & 0x80) != 0;

    KafkaRecord record;
    record.topic = QStringLiteral("topic");
    record.value = QByteArray(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    if (fromHeader)
        record.headers.append(KafkaHeader { QStringLiteral("type"), typeName.toUtf8() });
    auto decoded = deserializer().deserializeRecord(
        record, fromHeader ? QString() : typeName, fromHeader ? QStringLiteral("type") : QString());
    (void)decoded;
    return 0;
}
