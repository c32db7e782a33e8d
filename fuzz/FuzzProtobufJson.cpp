// Feeds arbitrary bytes as a record value to the Protocol Buffers
// deserializer, read as one of the types of the schema with a field of every
// kind (tests/records/ProtobufEveryKind.h); the first byte picks the type.
// Beside crashes and hangs it stops on a value that libprotobuf's parser
// refuses but the deserializer shows, and on shown JSON that is no JSON or
// repeats a member of an object. A proto2 value (kinds.legacy.Ext, with
// closed enumerations and unchecked strings) must be shown as libprotobuf's
// own printer shows the message its parser reads, where that printer drops
// nothing (ProtobufEveryKindReference.h): the numbers on the wire for Levels,
// QString::fromUtf8 of the bytes for strings.
#include "FuzzHome.h"
#include "ProtobufDeserializer.h"
#include "ProtobufEveryKind.h"
#include "ProtobufEveryKindReference.h"
#include "ProtobufLogCapture.h"

#include <google/protobuf/compiler/parser.h>
#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/util/json_util.h>

#include <QDir>

#include <jansson.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace protobuf = google::protobuf;

namespace {

class SilentTokenizerErrors : public protobuf::io::ErrorCollector {
    void AddError(int, protobuf::io::ColumnNumber, const std::string&) override { }
};

struct Schemas {
    std::unique_ptr<ProtobufRecordDeserializer> deserializer;
    // The same schema in a pool of its own, for the library's parser.
    protobuf::DescriptorPool pool { protobuf::DescriptorPool::generated_pool() };
    protobuf::DynamicMessageFactory factory { &pool };
    // ext.proto with extensions as fields and Levels as numbers, for the
    // library's printer.
    protobuf::DescriptorPool referencePool;
    protobuf::DynamicMessageFactory referenceFactory { &referencePool };
};

void build(protobuf::DescriptorPool& pool, const char* name, const QByteArray& text)
{
    protobuf::io::ArrayInputStream input(text.constData(), static_cast<int>(text.size()));
    SilentTokenizerErrors errors;
    protobuf::io::Tokenizer tokenizer(&input, &errors);
    protobuf::FileDescriptorProto proto;
    if (!protobuf::compiler::Parser().Parse(&tokenizer, &proto))
        qFatal("%s does not parse", name);
    proto.set_name(name);
    if (pool.BuildFile(proto) == nullptr)
        qFatal("%s does not build", name);
}

// Set up once per process: the schema files in the fuzz home, compiled.
Schemas& schemas()
{
    static const std::unique_ptr<Schemas> instance = [] {
        auto made = std::make_unique<Schemas>();
        const QString dir = FuzzHome::instance().configDir() + "/clusters/kinds";
        QDir().mkpath(dir);
        for (const auto& [name, text] : { std::pair { "/node.proto", &ProtobufEveryKind::nodeProto },
                 std::pair { "/ext.proto", &ProtobufEveryKind::extProto } }) {
            FuzzHome::instance().write(dir + name, reinterpret_cast<const std::uint8_t*>(text->constData()),
                static_cast<std::size_t>(text->size()));
        }
        auto created = ProtobufRecordDeserializer::create(Config::ProtobufDeserializer { { dir } });
        if (!created.hasValue())
            qFatal("the fuzz schemas do not compile: %s", qPrintable(created.error().first().message));
        made->deserializer = std::move(created).value();
        build(made->pool, "ext.proto", ProtobufEveryKind::extProto);
        build(made->pool, "node.proto", ProtobufEveryKind::nodeProto);
        build(made->referencePool, "ext.proto", ProtobufEveryKind::extAsFieldsProto);
        return made;
    }();
    return *instance;
}

struct JsonDeleter {
    void operator()(json_t* json) const { json_decref(json); }
};
using Json = std::unique_ptr<json_t, JsonDeleter>;

// Jansson cannot hold a member name with a zero character: such a text
// passes unchecked.
bool isJsonWithoutRepeatedMembers(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    json_error_t error;
    const Json json(json_loadb(utf8.constData(), static_cast<std::size_t>(utf8.size()),
        JSON_DECODE_ANY | JSON_REJECT_DUPLICATES | JSON_ALLOW_NUL, &error));
    return json != nullptr || json_error_code(&error) == json_error_null_byte_in_key;
}

// Whether the shown JSON of a kinds.legacy.Ext value is the library's, as
// above. Of repeated map keys in the library's JSON the last one counts.
bool isReferenceJson(Schemas& s, const QByteArray& value, const QString& shown)
{
    const std::unique_ptr<protobuf::Message> parsed(
        s.referenceFactory.GetPrototype(s.referencePool.FindMessageTypeByName("kinds.legacy.Ext"))->New());
    std::string printed;
    {
        const ProtobufLogCapture quiet;
        if (!parsed->ParsePartialFromArray(value.constData(), static_cast<int>(value.size())))
            qFatal("the reference schema refuses a kinds.legacy.Ext value");
        ProtobufEveryKindReference::prepare(*parsed);
        if (!protobuf::util::MessageToJsonString(*parsed, &printed).ok())
            return true;
    }
    const QByteArray utf8 = shown.toUtf8();
    const Json expected(json_loadb(printed.data(), printed.size(), JSON_DECODE_ANY | JSON_ALLOW_NUL, nullptr));
    const Json actual(json_loadb(utf8.constData(), static_cast<std::size_t>(utf8.size()), JSON_DECODE_ANY | JSON_ALLOW_NUL, nullptr));
    if (expected == nullptr || actual == nullptr)
        return expected == nullptr && actual == nullptr;
    ProtobufEveryKindReference::nameLevels(expected.get());
    return json_equal(expected.get(), actual.get());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const char* typeName = ProtobufEveryKind::typeNames[data[0] % ProtobufEveryKind::typeNames.size()];
    const QByteArray value(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    Schemas& s = schemas();
    KafkaRecord record;
    record.topic = QStringLiteral("topic");
    record.value = value;
    const auto shown = s.deserializer->deserializeRecord(record, QString::fromLatin1(typeName), QString());

    const std::unique_ptr<protobuf::Message> parsed(
        s.factory.GetPrototype(s.pool.FindMessageTypeByName(typeName))->New());
    bool parses = false;
    {
        const ProtobufLogCapture quiet;
        parses = parsed->ParsePartialFromArray(value.constData(), static_cast<int>(value.size()));
    }
    if (shown.hasValue() && !parses)
        qFatal("a value that libprotobuf refuses as %s is shown as %s", typeName, qPrintable(shown.value().text));
    if (shown.hasValue() && !isJsonWithoutRepeatedMembers(shown.value().text))
        qFatal("no JSON or repeated members: %s", qPrintable(shown.value().text));
    if (shown.hasValue() && std::strcmp(typeName, "kinds.legacy.Ext") == 0 && !isReferenceJson(s, value, shown.value().text))
        qFatal("a kinds.legacy.Ext value %s is shown as %s", value.toHex().constData(), qPrintable(shown.value().text));
    return 0;
}
