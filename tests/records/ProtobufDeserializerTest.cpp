#include "../integration/ProtobufWire.h"
#include "ProtobufDeserializer.h"
#include "Settings.h"

#include <google/protobuf/compiler/parser.h>
#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/util/json_util.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace protobuf = google::protobuf;

namespace {

using Headers = QList<KafkaHeader>;

class SilentTokenizerErrors : public protobuf::io::ErrorCollector {
    void AddError(int, protobuf::io::ColumnNumber, const std::string&) override { }
};

// A fresh schema directory below the clusters directory, holding the files.
QString schemaDir(const QString& name, const QList<std::pair<QString, QByteArray>>& files)
{
    const QString dir = Settings::clustersDir() + "/" + name;
    QDir(dir).removeRecursively();
    for (const auto& [path, text] : files) {
        QDir().mkpath(QFileInfo(dir + "/" + path).path());
        QFile file(dir + "/" + path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
    }
    return dir;
}

auto create(const QStringList& paths) { return ProtobufRecordDeserializer::create(Config::ProtobufDeserializer {paths}); }

// The JSON, or "error <code>: <message>" and the codes of the causes that carry a text.
QString describe(const Result<DeserializedRecord, KafkaError>& result)
{
    if (result.hasValue())
        return result.value().text;
    QString text = QString("error %1: %2").arg(QString::number(int(result.error().code)), result.error().message);
    for (const KafkaError& cause : result.error().causes)
        text += QString(" [cause %1%2]").arg(QString::number(int(cause.code)), cause.message.isEmpty() ? " empty" : "");
    return text;
}

// As describe, with the message of every cause.
QString describeWithCauses(const Result<DeserializedRecord, KafkaError>& result)
{
    if (result.hasValue())
        return result.value().text;
    QString text = QString("error %1: %2").arg(QString::number(int(result.error().code)), result.error().message);
    for (const KafkaError& cause : result.error().causes)
        text += QString(" [cause %1: %2]").arg(QString::number(int(cause.code)), cause.message);
    return text;
}

KafkaRecord recordWith(const QByteArray& value, const Headers& headers = {})
{
    return KafkaRecord {.topic = "orders", .key = {}, .value = value, .headers = headers};
}

const QByteArray moneyProto = "syntax = \"proto3\";\npackage acme.common;\n"
                              "message Money { int64 cents = 1; string currency = 2; }\n";
const QByteArray orderProto = R"(syntax = "proto3";
package acme.orders;
import "common/money.proto";
import "google/protobuf/timestamp.proto";
message Order {
  enum Status { STATUS_UNSPECIFIED = 0; SHIPPED = 1; }
  message Line { string sku = 1; int32 quantity = 2; }
  int64 id = 1;
  repeated Line lines = 2;
  acme.common.Money total = 3;
  google.protobuf.Timestamp created_at = 4;
  Status status = 5;
}
)";
const char* orderJson = R"({"id":"9007199254740993","lines":[{"sku":"A-1","quantity":2}],)"
                        R"("total":{"cents":"1250","currency":"EUR"},"createdAt":"2024-01-02T03:04:05Z",)"
                        R"("status":"SHIPPED"})";

const QByteArray demoProto = R"(syntax = "proto3";
package demo;
import "google/protobuf/any.proto";
import "google/protobuf/struct.proto";
message Card { string name = 1; int32 rank = 2; }
message Packed { repeated int32 f = 15; repeated fixed32 g = 14; }
message Order { int64 id = 1; string customer = 2; int32 channel = 3; map<string, int32> tags = 4; }
message Event {
  string id = 1;
  google.protobuf.Any payload = 2;
  google.protobuf.Struct attrs = 3;
  google.protobuf.Value v = 4;
}
)";
const QByteArray legacyProto = R"(syntax = "proto2";
package demo.legacy;
message Reading {
  optional string sensor = 1;
  repeated int32 samples = 2 [packed = true];
  optional group Meta = 3 { optional string unit = 4; }
  repeated group Point = 5 { optional int32 x = 6; }
}
)";

// The messages of the values below; extensions declared beside the type they
// extend, in a message's scope and in another file.
const QByteArray allProto = R"(syntax = "proto3";
message All { bool f_bool = 13; Inner f_inner = 17; repeated int32 r_int32 = 23; map<string,int32> m_str_int = 41;
  map<int64,Inner> m_int_inner = 42; oneof choice { string o_string = 50; int64 o_int64 = 52; } }
message Inner { int32 a = 1; string s = 2; }
)";
const QByteArray taggedProto = R"(syntax = "proto2";
package ext;
message Tagged { optional int32 id = 1; optional Tagged child = 2; extensions 100 to 199; }
extend Tagged { optional string note = 100; repeated sint32 deltas = 101 [packed = true]; }
message Extra { extend Tagged { optional Extra extra = 102; } optional string label = 1; }
)";
const QByteArray levelProto = R"(syntax = "proto2";
package ext.more;
import "tagged.proto";
enum Level { LOW = 1; HIGH = 2; }
extend ext.Tagged { optional Level level = 103; }
)";
// Closed enumerations and strings that proto2 leaves unchecked.
const QByteArray closedProto = R"(syntax = "proto2";
enum Level { LOW = 1; HIGH = 2; }
message N {
  required int32 id = 1; optional Level level = 2; repeated Level levels = 3; repeated Level plevels = 4 [packed = true];
  map<string, Level> m = 5; optional string s = 6; oneof pick { Level o_level = 7; string o_text = 8; }
  repeated string texts = 9;
}
)";

// Bytes written as a string literal, zero bytes included.
template <qsizetype N>
QByteArray bytes(const char (&literal)[N])
{
    return QByteArray(literal, N - 1);
}

// An Any holding the value, packed under the standard type URL prefix.
QByteArray packedAny(const QByteArray& typeName, const QByteArray& value)
{
    return ProtobufWire::lengthDelimited(1, "type.googleapis.com/" + typeName) + ProtobufWire::lengthDelimited(2, value);
}

const QString failedAs = "error 44: Protobuf deserialization failed for record with message type %1 [cause %2: %3]";

} // namespace

class ProtobufDeserializerTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    protobuf::DescriptorPool m_pool {protobuf::DescriptorPool::generated_pool()};
    protobuf::DynamicMessageFactory m_factory;
    QByteArray m_order;
    std::unique_ptr<ProtobufRecordDeserializer> m_shop;
    std::unique_ptr<ProtobufRecordDeserializer> m_demo;
    std::unique_ptr<ProtobufRecordDeserializer> m_parsed;

    // Encodes a message written as JSON with the test's own pool of the same schemas.
    QByteArray encode(const char* type, const char* json)
    {
        const protobuf::Descriptor* descriptor = m_pool.FindMessageTypeByName(type);
        if (descriptor == nullptr)
            return "<unknown type>";
        std::unique_ptr<protobuf::Message> message(m_factory.GetPrototype(descriptor)->New());
        const bool parsed = protobuf::util::JsonStringToMessage(json, message.get()).ok();
        return parsed ? QByteArray::fromStdString(message->SerializeAsString()) : "<bad json>";
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
        QCoreApplication::setApplicationName("skelvane");
        const QList<std::pair<QString, QByteArray>> files {{"common/money.proto", moneyProto}, {"orders/order.proto", orderProto}};
        schemaDir("shop", files);
        for (const auto& [name, text] : files) {
            protobuf::io::ArrayInputStream input(text.constData(), int(text.size()));
            SilentTokenizerErrors errors;
            protobuf::io::Tokenizer tokenizer(&input, &errors);
            protobuf::FileDescriptorProto proto;
            QVERIFY(protobuf::compiler::Parser().Parse(&tokenizer, &proto));
            proto.set_name(name.toStdString());
            QVERIFY(m_pool.BuildFile(proto) != nullptr);
        }
        m_order = encode("acme.orders.Order", orderJson);
        QVERIFY(m_order.size() > 20);
        auto shop = create({"shop"});
        QVERIFY(shop.hasValue());
        m_shop = std::move(shop).value();
        schemaDir("demo", {{"demo.proto", demoProto}, {"legacy/reading.proto", legacyProto}});
        auto demo = create({"demo"});
        QVERIFY(demo.hasValue());
        m_demo = std::move(demo).value();
        schemaDir("parsed", {{"all.proto", allProto}, {"tagged.proto", taggedProto}, {"more/level.proto", levelProto},
            {"closed.proto", closedProto}});
        auto parsed = create({"parsed"});
        QVERIFY(parsed.hasValue());
        m_parsed = std::move(parsed).value();
    }

    // Imports from subdirectories, nested messages, enums, 64-bit integers as
    // strings and a Timestamp the schema does not ship, whatever form the path
    // takes. The fresh deserializer converts from several threads at once, as
    // the GUI and filter threads do, while it resolves its lazily built types.
    void convertsWithEverySchemaPathForm_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("relative with ./") << "./shop";
        QTest::newRow("relative with trailing /") << "shop/";
        QTest::newRow("relative unclean") << "./shop//../shop/.";
        QTest::newRow("absolute with doubled and trailing /") << Settings::clustersDir() + "//shop//";
    }

    void convertsWithEverySchemaPathForm()
    {
        QFETCH(QString, path);
        auto created = create({path});
        QVERIFY(created.hasValue());
        std::atomic<int> failures = 0;
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&] {
                for (int i = 0; i < 100; ++i) {
                    const auto result = created.value()->deserializeRecord(recordWith(m_order), "acme.orders.Order", "");
                    failures += describe(result) != QString::fromUtf8(orderJson)
                        || result.value().contentType != Config::ContentType::Json || !result.value().data.isNull();
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        QCOMPARE(failures.load(), 0);
    }

    // Type from the rule or from a header, and the per-record failures.
    void typeSelection_data()
    {
        QTest::addColumn<QString>("messageType");
        QTest::addColumn<QString>("typeHeader");
        QTest::addColumn<Headers>("headers");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("expected");

        const QByteArray money = encode("acme.common.Money", R"({"cents":"-5","currency":"NOK"})");
        const QString moneyJson = R"({"cents":"-5","currency":"NOK"})";
        const QString headerMissing = "error 44: The Protocol Buffers message type header was not found: x-type";
        const QString failed = "error 44: Protobuf deserialization failed for record with message type ";
        QTest::newRow("type from rule") << "acme.common.Money" << "" << Headers() << money << moneyJson;
        QTest::newRow("type from header") << "" << "x-type" << Headers {{"other", "x"}, {"x-type", "acme.common.Money"}}
                                          << money << moneyJson;
        QTest::newRow("header wins over rule type")
            << "acme.orders.Order" << "x-type" << Headers {{"x-type", "acme.common.Money"}} << money << moneyJson;
        QTest::newRow("header missing") << "acme.common.Money" << "x-type" << Headers {{"X-Type", "acme.common.Money"}}
                                        << money << headerMissing;
        QTest::newRow("only first header of the name counts, empty")
            << "" << "x-type" << Headers {{"x-type", ""}, {"x-type", "acme.common.Money"}} << money << headerMissing;
        QTest::newRow("no type") << "" << "" << Headers() << money
                                 << "error 44: No Protocol Buffers message type was found when attempting to "
                                    "deserialize the record";
        QTest::newRow("unknown type from header") << "" << "x-type" << Headers {{"x-type", "acme.Nöpe"}} << money
                                                  << failed + QString::fromUtf8("acme.Nöpe [cause 165]");
        QTest::newRow("well-known type without schema")
            << "google.protobuf.Timestamp" << "" << Headers() << QByteArray("\x08\x01", 2) << R"("1970-01-01T00:00:01Z")";
    }

    void typeSelection()
    {
        QFETCH(QString, messageType);
        QFETCH(QString, typeHeader);
        QFETCH(Headers, headers);
        QFETCH(QByteArray, value);
        QFETCH(QString, expected);
        QCOMPARE(describe(m_shop->deserializeRecord(recordWith(value, headers), messageType, typeHeader)), expected);
    }

    // Values that are no message of their type are refused with the reason,
    // quickly, whatever the library's conversion would have made of them
    // (looped for ever on a packed field running past the end, made fields
    // up from random bytes); what the schema does not know is left out.
    void malformedValuesAnswerAtOnce_data()
    {
        using namespace ProtobufWire;
        QTest::addColumn<QString>("messageType");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("expected");

        const auto unparsed = [](const QString& type, const QString& reason = QString()) {
            return failedAs.arg(type, "163", "The value does not parse as a message of type " + type + reason);
        };
        QTest::newRow("packed field runs past the end") << "demo.Packed" << bytes("\x7a\x01") << unparsed("demo.Packed");
        QTest::newRow("packed field runs past its one element")
            << "demo.Packed" << bytes("\x7a\x05\x01") << unparsed("demo.Packed");
        QTest::newRow("packed field") << "demo.Packed" << bytes("\x7a\x02\x02\x04") << R"({"f":[2,4]})";
        QTest::newRow("packed fixed-size field cut") << "demo.Packed" << bytes("\x72\x03\x01\x02\x03") << unparsed("demo.Packed");
        QTest::newRow("packable field unpacked") << "demo.Packed" << bytes("\x78\x02\x78\x04") << R"({"f":[2,4]})";
        QTest::newRow("string runs past the end") << "demo.Card" << bytes("\x0a\x05\x41") << unparsed("demo.Card");
        QTest::newRow("string not UTF-8")
            << "demo.Card" << bytes("\x0a\x02\xc3\x28")
            << unparsed("demo.Card", ": String field 'demo.Card.name' contains invalid UTF-8 data when parsing a protocol "
                                     "buffer. Use the 'bytes' type if you intend to send raw bytes.");
        QTest::newRow("end of a group never begun") << "demo.Card" << bytes("\x0c") << unparsed("demo.Card");
        // protoc --decode=demo.Order refuses these; the conversion alone showed {"channel":70}.
        QTest::newRow("64 random bytes")
            << "demo.Order"
            << bytes("\xc1\x92\x9b\x18\xce\x54\x87\xd7\xb1\x8d\x0d\x35\xed\x12\xfa\x58\x38\x37\x18\x46\xe0\x75"
                          "\xcb\xbe\xe8\xfe\x88\xc4\xa4\xf5\x3c\x6b\x47\xaa\xb1\x10\x03\xee\x11\x0a\xe6\xcc\x9f\x5b"
                          "\x6c\x79\x61\xbe\xd7\xcb\xe0\x33\x86\xf0\x17\x72\x3b\xf5\x17\xfa\xd8\x88\x20\xf5")
            << unparsed("demo.Order");
        QTest::newRow("Any payload runs past the end")
            << "demo.Event" << lengthDelimited(2, packedAny("demo.Packed", bytes("\x7a\x01")))
            << failedAs.arg("demo.Event", "163", "An Any payload does not parse as a message of type demo.Packed");
        QByteArray deepAny = packedAny("demo.Card", lengthDelimited(1, "x"));
        for (int depth = 0; depth < 120; ++depth)
            deepAny = packedAny("google.protobuf.Any", deepAny);
        QTest::newRow("Any payloads nested too deep")
            << "demo.Event" << lengthDelimited(2, deepAny) << failedAs.arg("demo.Event", "163", "Messages nest more than 100 deep");
        QTest::newRow("unknown number, mismatched wire type")
            << "demo.Card" << lengthDelimited(1, "A") + tag(11, 0) + varint(1) + tag(2, 5) + QByteArray(4, '\x01')
            << R"({"name":"A"})";
        QTest::newRow("empty value") << "demo.Card" << QByteArray() << "{}";
    }

    void malformedValuesAnswerAtOnce()
    {
        QFETCH(QString, messageType);
        QFETCH(QByteArray, value);
        QFETCH(QString, expected);
        // A conversion that hangs is left behind on its thread; the test stops.
        auto answer = std::make_shared<std::promise<QString>>();
        std::future<QString> answered = answer->get_future();
        std::thread([deserializer = m_demo.get(), answer, messageType, value] {
            answer->set_value(describeWithCauses(deserializer->deserializeRecord(recordWith(value), messageType, "")));
        }).detach();
        if (answered.wait_for(std::chrono::seconds(1)) != std::future_status::ready)
            qFatal("%s: no answer within a second", QTest::currentDataTag());
        QCOMPARE(answered.get(), expected);
    }

    // Well-known types come out as protobuf's JSON mapping writes them, groups
    // as nested objects; a failure says why.
    void jsonMapping_data()
    {
        QTest::addColumn<QString>("messageType");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("expected");

        // The values are protoc --encode of the text in each comment.
        // id: "e1" payload { [type.googleapis.com/demo.Card] { name: "ace" rank: 1 } }
        QTest::newRow("Any")
            << "demo.Event"
            << bytes("\x0a\x02\x65\x31\x12\x28\x0a\x1d\x74\x79\x70\x65\x2e\x67\x6f\x6f\x67\x6c\x65\x61\x70\x69"
                          "\x73\x2e\x63\x6f\x6d\x2f\x64\x65\x6d\x6f\x2e\x43\x61\x72\x64\x12\x07\x0a\x03\x61\x63\x65\x10\x01")
            << R"({"id":"e1","payload":{"@type":"type.googleapis.com/demo.Card","name":"ace","rank":1}})";
        // payload { [type.googleapis.com/google.protobuf.Any] { [type.googleapis.com/demo.Card] { name: "ace" } } }
        QTest::newRow("Any in an Any")
            << "demo.Event"
            << bytes("\x12\x51\x0a\x27\x74\x79\x70\x65\x2e\x67\x6f\x6f\x67\x6c\x65\x61\x70\x69\x73\x2e\x63\x6f"
                          "\x6d\x2f\x67\x6f\x6f\x67\x6c\x65\x2e\x70\x72\x6f\x74\x6f\x62\x75\x66\x2e\x41\x6e\x79\x12\x26"
                          "\x0a\x1d\x74\x79\x70\x65\x2e\x67\x6f\x6f\x67\x6c\x65\x61\x70\x69\x73\x2e\x63\x6f\x6d\x2f\x64"
                          "\x65\x6d\x6f\x2e\x43\x61\x72\x64\x12\x05\x0a\x03\x61\x63\x65")
            << R"({"payload":{"@type":"type.googleapis.com/google.protobuf.Any",)"
               R"("value":{"@type":"type.googleapis.com/demo.Card","name":"ace"}}})";
        // payload { type_url: "type.googleapis.com/demo.Nope" value: "\x08\x01" }
        QTest::newRow("Any of an unknown type")
            << "demo.Event"
            << bytes("\x12\x23\x0a\x1d\x74\x79\x70\x65\x2e\x67\x6f\x6f\x67\x6c\x65\x61\x70\x69\x73\x2e\x63\x6f"
                          "\x6d\x2f\x64\x65\x6d\x6f\x2e\x4e\x6f\x70\x65\x12\x02\x08\x01")
            << failedAs.arg("demo.Event", "174", "Invalid type URL, unknown type: demo.Nope");
        // attrs { fields { key: "z" value { null_value: NULL_VALUE } }
        //         fields { key: "l" value { list_value { values { null_value: NULL_VALUE } values { string_value: "x" } } } } }
        // Struct members in key order, as maps.
        QTest::newRow("Struct with nulls")
            << "demo.Event"
            << bytes("\x1a\x1b\x0a\x07\x0a\x01\x7a\x12\x02\x08\x00\x0a\x10\x0a\x01\x6c\x12\x0b\x32\x09\x0a\x02"
                          "\x08\x00\x0a\x03\x1a\x01\x78")
            << R"({"attrs":{"l":[null,"x"],"z":null}})";
        // v { struct_value { fields { key: "n" value { number_value: 1.5 } } fields { key: "b" value { bool_value: true } } } }
        QTest::newRow("Value field")
            << "demo.Event"
            << bytes("\x22\x1b\x2a\x19\x0a\x0e\x0a\x01\x6e\x12\x09\x11\x00\x00\x00\x00\x00\x00\xf8\x3f\x0a\x07"
                          "\x0a\x01\x62\x12\x02\x20\x01")
            << R"({"v":{"b":true,"n":1.5}})";
        // list_value { values { null_value: NULL_VALUE } values { number_value: 2 } }
        QTest::newRow("Value as the record's type")
            << "google.protobuf.Value"
            << bytes("\x32\x0f\x0a\x02\x08\x00\x0a\x09\x11\x00\x00\x00\x00\x00\x00\x00\x40") << "[null,2]";
        // sensor: "t1" samples: 1 samples: 2 Meta { unit: "C" }
        QTest::newRow("proto2 group")
            << "demo.legacy.Reading" << bytes("\x0a\x02\x74\x31\x12\x02\x01\x02\x1b\x22\x01\x43\x1c")
            << R"({"sensor":"t1","samples":[1,2],"meta":{"unit":"C"}})";
        // Point { x: 1 } Point { x: 2 } Meta { }
        QTest::newRow("proto2 groups, repeated and empty")
            << "demo.legacy.Reading" << bytes("\x1b\x1c\x2b\x30\x01\x2c\x2b\x30\x02\x2c")
            << R"({"meta":{},"point":[{"x":1},{"x":2}]})";
        QTest::newRow("unknown message type") << "demo.Nope" << bytes("\x08\x01")
                                              << failedAs.arg("demo.Nope", "165", "Unknown message type demo.Nope");
    }

    void jsonMapping()
    {
        QFETCH(QString, messageType);
        QFETCH(QByteArray, value);
        QFETCH(QString, expected);
        QCOMPARE(describeWithCauses(m_demo->deserializeRecord(recordWith(value), messageType, "")), expected);
    }

    // What is shown is the JSON of the message that libprotobuf parses from the
    // value: map entries whole and in key order, repeated and message fields
    // merged, the last oneof member, extensions under their bracketed full
    // names, null for an empty Value, an Any's default well-known value, and
    // an error for a Duration that has none.
    void showsTheMessageTheValueParsesTo_data()
    {
        using namespace ProtobufWire;
        QTest::addColumn<QString>("messageType");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("expected");

        const auto hex = [](const char* digits) { return QByteArray::fromHex(digits); };
        QTest::newRow("map entry without its value") << "All" << hex("ca02030a0161") << R"({"mStrInt":{"a":0}})";
        QTest::newRow("map entry with its value first") << "All" << hex("ca020510050a0161") << R"({"mStrInt":{"a":5}})";
        QTest::newRow("map entry with a message value first")
            << "All" << hex("d20206120208010807") << R"({"mIntInner":{"7":{"a":1}}})";
        QTest::newRow("packed field in two runs") << "All" << hex("ba0101016801ba010102") << R"({"fBool":true,"rInt32":[1,2]})";
        QTest::newRow("message field twice") << "All" << hex("8a010208018a0103120178") << R"({"fInner":{"a":1,"s":"x"}})";
        QTest::newRow("two members of a oneof") << "All" << hex("92030173a00305") << R"({"oInt64":"5"})";
        const QByteArray entryB = lengthDelimited(1, "b") + tag(2, 0) + varint(2);
        const QByteArray entryA = lengthDelimited(1, "a") + tag(2, 0) + varint(1);
        const auto intEntry = [](qint64 key, int a) {
            return tag(1, 0) + varint(quint64(key)) + lengthDelimited(2, tag(1, 0) + varint(quint64(a)));
        };
        QTest::newRow("map entries in key order")
            << "All"
            << lengthDelimited(41, entryB) + lengthDelimited(42, intEntry(10, 1)) + lengthDelimited(41, entryA)
                + lengthDelimited(42, intEntry(-1, 2)) + lengthDelimited(42, intEntry(2, 3))
            << R"({"mStrInt":{"a":1,"b":2},"mIntInner":{"-1":{"a":2},"2":{"a":3},"10":{"a":1}}})";
        QTest::newRow("map key repeated: the last entry counts")
            << "All"
            << lengthDelimited(42, intEntry(7, 1)) + lengthDelimited(41, entryA) + lengthDelimited(42, intEntry(7, 2))
                + lengthDelimited(41, entryB) + lengthDelimited(41, lengthDelimited(1, "a") + tag(2, 0) + varint(3))
            << R"({"mStrInt":{"a":3,"b":2},"mIntInner":{"7":{"a":2}}})";

        QTest::newRow("Struct member without a value") << "google.protobuf.Struct" << hex("0a030a0161") << R"({"a":null})";
        QTest::newRow("empty Value") << "google.protobuf.Value" << QByteArray() << "null";
        QTest::newRow("list of an empty Value") << "google.protobuf.ListValue" << hex("0a00") << "[null]";

        const auto invalidDuration = [](const QString& type, const QString& seconds, const QString& nanos) {
            return failedAs.arg(type, "163",
                QString("Invalid google.protobuf.Duration of %1 seconds and %2 nanoseconds: seconds and nanos have "
                        "different signs")
                    .arg(seconds, nanos));
        };
        QTest::newRow("Duration of 1 s and -5 ns") << "google.protobuf.Duration" << hex("080110fbffffffffffffffff01")
                                                   << invalidDuration("google.protobuf.Duration", "1", "-5");
        QTest::newRow("Duration of -1 s and 5 ns")
            << "google.protobuf.Duration" << tag(1, 0) + varint(quint64(-1)) + tag(2, 0) + varint(5)
            << invalidDuration("google.protobuf.Duration", "-1", "5");
        QTest::newRow("Duration of -1 s and -5 ns")
            << "google.protobuf.Duration" << tag(1, 0) + varint(quint64(-1)) + tag(2, 0) + varint(quint64(-5))
            << R"("-1.000000005s")";
        QTest::newRow("invalid Duration in an Any")
            << "google.protobuf.Any" << packedAny("google.protobuf.Duration", hex("080110fbffffffffffffffff01"))
            << invalidDuration("google.protobuf.Any", "1", "-5");

        const QString anyOf = R"({"@type":"type.googleapis.com/%1"%2})";
        const auto emptyAny = [](const QByteArray& typeName) {
            return lengthDelimited(1, "type.googleapis.com/" + typeName);
        };
        const std::pair<const char*, const char*> defaults[] = {{"google.protobuf.Duration", R"("0s")"},
            {"google.protobuf.Timestamp", R"("1970-01-01T00:00:00Z")"}, {"google.protobuf.Int32Value", "0"},
            {"google.protobuf.DoubleValue", "0"}, {"google.protobuf.FloatValue", "0"},
            {"google.protobuf.StringValue", R"("")"}, {"google.protobuf.FieldMask", R"("")"},
            {"google.protobuf.Struct", "{}"}, {"google.protobuf.ListValue", "[]"}, {"google.protobuf.Value", "null"},
            {"google.protobuf.Any", "{}"}};
        for (const auto& [typeName, json] : defaults) {
            QTest::addRow("Any of a default %s", typeName)
                << "google.protobuf.Any" << emptyAny(typeName) << anyOf.arg(typeName, QString(",\"value\":") + json);
        }
        QTest::newRow("Any of a default Int32Value written out")
            << "google.protobuf.Any" << packedAny("google.protobuf.Int32Value", hex("0800"))
            << anyOf.arg("google.protobuf.Int32Value", R"(,"value":0)");
        QTest::newRow("Any of a default message") << "google.protobuf.Any" << emptyAny("Inner") << anyOf.arg("Inner", "");

        const QByteArray note = lengthDelimited(100, "n");
        QTest::newRow("extensions")
            << "ext.Tagged"
            << tag(103, 0) + varint(2) + lengthDelimited(102, lengthDelimited(1, "x")) + note
                + lengthDelimited(101, varint(1) + varint(4)) + lengthDelimited(2, lengthDelimited(100, "c"))
                + tag(1, 0) + varint(1) + tag(150, 0) + varint(7)
            << R"({"id":1,"child":{"[ext.note]":"c"},"[ext.note]":"n","[ext.deltas]":[-1,2],)"
               R"("[ext.Extra.extra]":{"label":"x"},"[ext.more.level]":"HIGH"})";
    }

    void showsTheMessageTheValueParsesTo()
    {
        QFETCH(QString, messageType);
        QFETCH(QByteArray, value);
        QFETCH(QString, expected);
        QCOMPARE(describeWithCauses(m_parsed->deserializeRecord(recordWith(value), messageType, "")), expected);
    }

    // A number that a closed (proto2) enumeration does not define is shown as
    // that number wherever it stands, in its place on the wire and as the
    // value that counts where the parser keeps one of several; the bytes of a
    // proto2 string that are no UTF-8 are shown as U+FFFD, one for each
    // sequence that Qt's UTF-8 decoder replaces.
    void showsEveryNumberAndByte_data()
    {
        using namespace ProtobufWire;
        QTest::addColumn<QString>("messageType");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("expected");

        const auto hex = [](const char* digits) { return QByteArray::fromHex(digits); };
        const QString r = QString(QChar(QChar::ReplacementCharacter));
        QTest::newRow("undefined number") << "N" << hex("08011063") << R"({"id":1,"level":99})";
        QTest::newRow("undefined number after a defined one") << "N" << hex("080110011063") << R"({"id":1,"level":99})";
        QTest::newRow("defined number after an undefined one")
            << "N" << hex("080110631002") << R"({"id":1,"level":"HIGH"})";
        QTest::newRow("negative undefined number")
            << "N" << hex("080110ffffffffffffffffff01") << R"({"id":1,"level":-1})";
        QTest::newRow("repeated, undefined last") << "N" << hex("080118011863") << R"({"id":1,"levels":["LOW",99]})";
        QTest::newRow("repeated, undefined first") << "N" << hex("080118631802") << R"({"id":1,"levels":[99,"HIGH"]})";
        QTest::newRow("repeated, packed on the wire")
            << "N" << hex("08011a03630102") << R"({"id":1,"levels":[99,"LOW","HIGH"]})";
        QTest::newRow("packed") << "N" << hex("080122020263") << R"({"id":1,"plevels":["HIGH",99]})";
        QTest::newRow("packed, undefined between defined ones")
            << "N" << hex("08012203016302") << R"({"id":1,"plevels":["LOW",99,"HIGH"]})";
        QTest::newRow("packed, unpacked and packed runs")
            << "N" << hex("0801206322020162") << R"({"id":1,"plevels":[99,"LOW",98]})";
        QTest::newRow("map value") << "N" << hex("08012a050a016b1063") << R"({"id":1,"m":{"k":99}})";
        QTest::newRow("map value before its key") << "N" << hex("08012a0510630a016b") << R"({"id":1,"m":{"k":99}})";
        QTest::newRow("map values defined and not, in key order")
            << "N" << hex("08012a050a016b10632a050a01611001") << R"({"id":1,"m":{"a":"LOW","k":99}})";
        QTest::newRow("map key repeated, undefined last")
            << "N" << hex("08012a050a016b10012a050a016b1063") << R"({"id":1,"m":{"k":99}})";
        QTest::newRow("map key repeated, defined last")
            << "N" << hex("08012a050a016b10632a050a016b1002") << R"({"id":1,"m":{"k":"HIGH"}})";
        QTest::newRow("map entry without its value") << "N" << hex("08012a030a016b") << R"({"id":1,"m":{"k":"LOW"}})";
        QTest::newRow("oneof, undefined number last")
            << "N" << hex("0801420178" "3863") << R"({"id":1,"oLevel":99})";
        QTest::newRow("oneof, undefined number first")
            << "N" << hex("08013863" "420178") << R"({"id":1,"oText":"x"})";
        QTest::newRow("oneof, defined then undefined number") << "N" << hex("080138013863") << R"({"id":1,"oLevel":99})";
        QTest::newRow("extension") << "ext.Tagged" << tag(103, 0) + varint(99) << R"({"[ext.more.level]":99})";
        QTest::newRow("extension, undefined then defined")
            << "ext.Tagged" << tag(103, 0) + varint(99) + tag(103, 0) + varint(1) << R"({"[ext.more.level]":"LOW"})";

        QTest::newRow("string with a byte that is no UTF-8")
            << "N" << hex("080132036162ff") << QString(R"({"id":1,"s":"ab%1"})").arg(r);
        QTest::newRow("string with a bad continuation") << "N" << hex("08013202c328") << QString("{\"id\":1,\"s\":\"%1(\"}").arg(r);
        QTest::newRow("string cut in a sequence") << "N" << hex("08013203e2826a") << QString(R"({"id":1,"s":"%1%1j"})").arg(r);
        QTest::newRow("string with a surrogate") << "N" << hex("08013203eda080") << QString(R"({"id":1,"s":"%1%1%1"})").arg(r);
        QTest::newRow("string with an overlong sequence")
            << "N" << hex("08013202c0af") << QString(R"({"id":1,"s":"%1%1"})").arg(r);
        QTest::newRow("repeated strings") << "N" << hex("08014a026f6b4a01ff") << QString(R"({"id":1,"texts":["ok","%1"]})").arg(r);
        QTest::newRow("oneof string") << "N" << hex("08014201fe") << QString(R"({"id":1,"oText":"%1"})").arg(r);
        QTest::newRow("map key") << "N" << hex("08012a050a01ff1002") << QString(R"({"id":1,"m":{"%1":"HIGH"}})").arg(r);
        QTest::newRow("map keys shown alike: the last entry counts")
            << "N" << hex("08012a050a01ff10022a050a01611001" "2a050a01fe1063")
            << QString(R"({"id":1,"m":{"a":"LOW","%1":99}})").arg(r);
        QTest::newRow("string extension") << "ext.Tagged" << lengthDelimited(100, hex("6e80"))
                                          << QString(R"({"[ext.note]":"n%1"})").arg(r);
    }

    void showsEveryNumberAndByte()
    {
        QFETCH(QString, messageType);
        QFETCH(QByteArray, value);
        QFETCH(QString, expected);
        QCOMPARE(describeWithCauses(m_parsed->deserializeRecord(recordWith(value), messageType, "")), expected);
    }

    // Missing paths first, then compiler messages in sorted file order, each
    // once (b/syntax.proto is imported twice and found by the walk), with and
    // without a line; an import that no schema directory holds, or one that is
    // not a plain relative path, fails the load of its file (with the
    // compiler's zero-based line); hidden files are skipped; cycles end.
    void loadingErrors()
    {
        const QString broken = schemaDir("broken",
            {{"b/syntax.proto", "syntax = \"proto3\";\nmessage M {\n  int32 a = ;\n}\n"},
                {"a.proto", "syntax = \"proto3\";\nimport \"b/syntax.proto\";\nmessage A {}\n"},
                {"c.proto", "syntax = \"proto3\";\nimport \"b/syntax.proto\";\nmessage C {}\n"},
                {"d/fields.proto", "syntax = \"proto3\";\npackage d;\nmessage Twice {\n  int32 a = 1;\n  int32 b = 1;\n}\n"},
                {"e.proto", "syntax = \"proto3\";\nimport \"missing/nowhere.proto\";\n"},
                {"f.proto", "syntax = \"proto3\";\n\nimport \"../shop/common/money.proto\";\nimport \"/etc/x.proto\";\n"
                            "import \"./a.proto\";\nmessage F { acme.common.Money m = 1; }\n"},
                {".hidden.proto", "not a schema"}});
        schemaDir("cycle",
            {{"p.proto", "syntax = \"proto3\";\npackage cyc;\nimport \"sub/q.proto\";\nmessage P { Q q = 1; }\n"},
                {"sub/q.proto", "syntax = \"proto3\";\npackage cyc;\nimport \"p.proto\";\nmessage Q { P p = 1; }\n"},
                {"self.proto", "syntax = \"proto3\";\nimport \"self.proto\";\n"}});

        auto created = create({"nowhere", "broken/", Settings::clustersDir() + "/gone/", "cycle"});
        QVERIFY(created.isError());
        QStringList messages;
        for (const KafkaError& error : created.error()) {
            QCOMPARE(error.code, KafkaErrorCode::ProtobufSchemaError);
            QVERIFY(error.causes.isEmpty());
            messages.append(error.message);
        }
        const QString failed = "Protocol Buffers schema compilation failed for file ";
        const QString notPlain = " is not a plain relative path below the schema directories";
        const QStringList expected {
            QString("The Protocol Buffers schema path '%1/nowhere' does not exist").arg(Settings::clustersDir()),
            QString("The Protocol Buffers schema path '%1/gone' does not exist").arg(Settings::clustersDir()),
            failed + "'b/syntax.proto' at line 2: Expected field number.",
            failed + QString("'%1/d/fields.proto' at line 4: ").arg(broken)
                + "Field number 1 has already been used in \"d.Twice\" by field \"a\".",
            failed + QString("'%1/e.proto' at line 1: Import \"missing/nowhere.proto\" was not found in any schema directory").arg(broken),
            failed + QString("'%1/f.proto' at line 2: ").arg(broken) + "Import \"../shop/common/money.proto\"" + notPlain,
            failed + QString("'%1/f.proto' at line 3: Import \"/etc/x.proto\"").arg(broken) + notPlain,
            failed + QString("'%1/f.proto' at line 4: Import \"./a.proto\"").arg(broken) + notPlain,
            failed + "'p.proto': File recursively imports itself: p.proto -> sub/q.proto -> p.proto",
            failed + "'self.proto': File recursively imports itself: self.proto -> self.proto",
        };
        QCOMPARE(messages, expected);
    }

    // A file may use a type that only another schema directory defines, and a
    // directory may ship its own copy of a well-known type.
    void typesAcrossDirectories()
    {
        schemaDir("first", {{"event.proto", "syntax = \"proto3\";\npackage ev;\nimport \"shared.proto\";\n"
                                            "import \"google/protobuf/timestamp.proto\";\n"
                                            "message Event { shared.Tag tag = 1; google.protobuf.Timestamp at = 2; }\n"}});
        schemaDir("second",
            {{"shared.proto", "syntax = \"proto3\";\npackage shared;\nmessage Tag { string name = 1; }\n"},
                {"google/protobuf/timestamp.proto", "syntax = \"proto3\";\npackage google.protobuf;\n"
                                                    "message Timestamp { int64 seconds = 1; int32 nanos = 2; }\n"}});
        auto created = create({"first", "second"});
        QVERIFY(created.hasValue());
        // Event { tag: { name: "x" }, at: { seconds: 60 } }
        const QByteArray value("\x0a\x03\x0a\x01x\x12\x02\x08\x3c", 9);
        QCOMPARE(describe(created.value()->deserializeRecord(recordWith(value), "ev.Event", "")),
            QString(R"({"tag":{"name":"x"},"at":"1970-01-01T00:01:00Z"})"));
    }
};

QTEST_GUILESS_MAIN(ProtobufDeserializerTest)
#include "ProtobufDeserializerTest.moc"
