#pragma once

// A Protocol Buffers schema with a field of every kind: each scalar type,
// proto3 optional, enumerations, nested and recursive messages, repeated
// fields packed and unpacked, maps of each key kind, a oneof, the well-known
// types (Any, Struct, Value, ListValue, Duration, Timestamp, FieldMask, the
// wrappers) and proto2 extensions declared beside their message and in a
// message's scope. Shared by the Protocol Buffers deserializer's differential
// test and its fuzz target.

#include <QByteArray>

#include <array>
#include <utility>

namespace ProtobufEveryKind {

inline const QByteArray nodeProto = R"(syntax = "proto3";
package kinds;
import "google/protobuf/any.proto";
import "google/protobuf/duration.proto";
import "google/protobuf/field_mask.proto";
import "google/protobuf/struct.proto";
import "google/protobuf/timestamp.proto";
import "google/protobuf/wrappers.proto";
import "ext.proto";
message Leaf { string label = 1; bytes data = 2; double weight = 3; sint32 delta = 4; }
message Node {
  enum Kind { KIND_UNSPECIFIED = 0; LEAF = 1; BRANCH = 2; }
  int32 f_int32 = 1; int64 f_int64 = 2; uint32 f_uint32 = 3; uint64 f_uint64 = 4;
  sint32 f_sint32 = 5; sint64 f_sint64 = 6; fixed32 f_fixed32 = 7; fixed64 f_fixed64 = 8;
  sfixed32 f_sfixed32 = 9; sfixed64 f_sfixed64 = 10; float f_float = 11; double f_double = 12;
  bool f_bool = 13; string f_string = 14; bytes f_bytes = 15; Kind f_kind = 16;
  Leaf f_leaf = 17; optional int32 o_int32 = 18; optional string o_string = 19;
  repeated int32 r_int32 = 20; repeated sint64 r_sint64 = 21 [packed = false]; repeated double r_double = 22;
  repeated string r_string = 23; repeated Kind r_kind = 24; repeated Leaf r_leaf = 25;
  repeated fixed32 r_fixed32 = 26 [packed = false]; repeated bool r_bool = 27; repeated bytes r_bytes = 28;
  map<string, int32> m_str_int = 30; map<int64, Leaf> m_int_leaf = 31; map<bool, string> m_bool_str = 32;
  map<uint32, Kind> m_uint_kind = 33; map<string, Node> m_str_node = 34; map<sint64, double> m_sint_double = 35;
  map<fixed32, bytes> m_fixed_bytes = 36;
  oneof choice { string c_string = 40; int64 c_int64 = 41; Leaf c_leaf = 42; }
  Node child = 43; repeated Node children = 44;
  google.protobuf.Any any = 50; repeated google.protobuf.Any anys = 51; google.protobuf.Struct struct = 52;
  google.protobuf.Value value = 53; google.protobuf.ListValue list = 54; repeated google.protobuf.Value values = 55;
  google.protobuf.Duration duration = 56; google.protobuf.Timestamp timestamp = 57; google.protobuf.FieldMask mask = 58;
  google.protobuf.Int32Value w_int32 = 60; google.protobuf.Int64Value w_int64 = 61; google.protobuf.UInt32Value w_uint32 = 62;
  google.protobuf.UInt64Value w_uint64 = 63; google.protobuf.FloatValue w_float = 64; google.protobuf.DoubleValue w_double = 65;
  google.protobuf.BoolValue w_bool = 66; google.protobuf.StringValue w_string = 67; google.protobuf.BytesValue w_bytes = 68;
  kinds.legacy.Ext ext = 70; repeated kinds.legacy.Ext exts = 71;
}
)";

// Proto2: extensions, explicit defaults, closed enumerations (which keep a
// number they do not define out of the parsed field), strings that the parser
// leaves unchecked.
inline const QByteArray extProto = R"(syntax = "proto2";
package kinds.legacy;
message Ext {
  // An enumeration of map values must begin with 0.
  enum Level { LEVEL_NONE = 0; LOW = 1; HIGH = 2; }
  optional int32 id = 1; optional string name = 2 [default = "none"]; repeated int32 nums = 3 [packed = true];
  optional Ext child = 4; optional Level level = 5;
  repeated Level levels = 6; repeated Level plevels = 7 [packed = true]; map<string, Level> m_level = 8;
  oneof pick { Level o_level = 9; string o_text = 10; } repeated string texts = 11;
  extensions 100 to 199;
}
extend Ext { optional string note = 100; repeated sint32 deltas = 101 [packed = true]; repeated fixed64 stamps = 102; }
message Scope { extend Ext { optional Ext more = 110; optional Ext.Level grade = 111; } }
)";

// ext.proto with every extension an ordinary field of the message it extends,
// named as protobuf's JSON mapping names extensions, and every Level an int32:
// the number on the wire, which the parser keeps in its place whether Level
// defines it or not. A value parses to the same fields with either;
// libprotobuf's own JSON printer leaves extensions and the numbers that Level
// does not define out but shows these fields.
inline const QByteArray extAsFieldsProto = R"(syntax = "proto2";
package kinds.legacy;
message Ext {
  optional int32 id = 1; optional string name = 2 [default = "none"]; repeated int32 nums = 3 [packed = true];
  optional Ext child = 4; optional int32 level = 5;
  repeated int32 levels = 6; repeated int32 plevels = 7 [packed = true]; map<string, int32> m_level = 8;
  oneof pick { int32 o_level = 9; string o_text = 10; } repeated string texts = 11;
  optional string note = 100 [json_name = "[kinds.legacy.note]"];
  repeated sint32 deltas = 101 [packed = true, json_name = "[kinds.legacy.deltas]"];
  repeated fixed64 stamps = 102 [json_name = "[kinds.legacy.stamps]"];
  optional Ext more = 110 [json_name = "[kinds.legacy.Scope.more]"];
  optional int32 grade = 111 [json_name = "[kinds.legacy.Scope.grade]"];
}
)";

// The members of Ext that hold a Level, as the JSON mapping names them, and
// the map whose values are Levels. No other member of the types has these
// names.
inline constexpr std::array<const char*, 5> levelMembers {
    "level", "levels", "plevels", "oLevel", "[kinds.legacy.Scope.grade]"};
inline constexpr const char* levelMapMember = "mLevel";
// Level's names by number.
inline const char* levelName(long long number)
{
    return number == 0 ? "LEVEL_NONE" : number == 1 ? "LOW" : number == 2 ? "HIGH" : nullptr;
}

// The types a value is read as: the root and some of what it holds.
inline constexpr std::array<const char*, 8> typeNames {
    "kinds.Node",
    "kinds.Leaf",
    "kinds.legacy.Ext",
    "google.protobuf.Any",
    "google.protobuf.Struct",
    "google.protobuf.Value",
    "google.protobuf.Duration",
    "google.protobuf.Timestamp",
};

} // namespace ProtobufEveryKind
