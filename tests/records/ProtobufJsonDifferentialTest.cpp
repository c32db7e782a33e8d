// Random messages of a schema with a field of every kind, written one after
// another and with their fields shuffled, shown by the Protocol Buffers
// deserializer beside libprotobuf's own JSON of the message its parser reads
// from the same bytes. The two must be the same JSON (members of an object in
// any order: map entries have none) or both fail.
//
// Where libprotobuf's printer itself departs from protobuf's JSON mapping,
// the messages stay clear of it and other tests pin the deserializer down:
// groups, an empty google.protobuf.Value, an Any holding a well-known type's
// default value, a Duration whose seconds and nanos have different signs. The
// printer leaves extensions out: the reference reads the values with a twin
// of the schema in which every extension is an ordinary field named as the
// JSON mapping names extensions. It drops the numbers that a closed
// enumeration does not define and the bytes of a proto2 string that are no
// UTF-8, which the messages hold: for these the reference is the number on
// the wire (the twin reads Levels as int32) and QString::fromUtf8 of the
// string's bytes (ProtobufEveryKindReference.h).
#include "ProtobufDeserializer.h"
#include "ProtobufEveryKind.h"
#include "ProtobufEveryKindReference.h"
#include "ProtobufLogCapture.h"
#include "Settings.h"

#include <google/protobuf/compiler/parser.h>
#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/util/json_util.h>
#include <google/protobuf/wire_format_lite.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <jansson.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace protobuf = google::protobuf;
using protobuf::FieldDescriptor;

namespace {

class SilentTokenizerErrors : public protobuf::io::ErrorCollector {
    void AddError(int, protobuf::io::ColumnNumber, const std::string&) override { }
};

struct JsonDeleter {
    void operator()(json_t* json) const { json_decref(json); }
};
using Json = std::unique_ptr<json_t, JsonDeleter>;

// The JSON text as a value, or null when it is no JSON or, with
// rejectDuplicates, repeats a member. Without, the last of a member's
// repetitions counts.
Json parseJson(const std::string& text, bool rejectDuplicates)
{
    json_error_t error;
    const std::size_t flags = JSON_DECODE_ANY | JSON_ALLOW_NUL | (rejectDuplicates ? JSON_REJECT_DUPLICATES : 0);
    return Json(json_loadb(text.data(), text.size(), flags, &error));
}

// The value's top-level fields in a shuffled order.
std::string shuffledFields(const std::string& bytes, QRandomGenerator& random)
{
    using protobuf::internal::WireFormatLite;
    protobuf::io::CodedInputStream input(reinterpret_cast<const std::uint8_t*>(bytes.data()), int(bytes.size()));
    std::vector<std::string> fields;
    while (!input.ExpectAtEnd()) {
        const int start = input.CurrentPosition();
        const std::uint32_t tag = input.ReadTag();
        if (tag == 0 || !WireFormatLite::SkipField(&input, tag))
            qFatal("a generated value does not parse");
        fields.push_back(bytes.substr(std::size_t(start), std::size_t(input.CurrentPosition() - start)));
    }
    std::shuffle(fields.begin(), fields.end(), random);
    std::string shuffled;
    for (const std::string& field : fields)
        shuffled += field;
    return shuffled;
}

// Fills messages with random fields, through reflection.
class RandomMessages {
public:
    RandomMessages(const protobuf::DescriptorPool& pool, protobuf::MessageFactory& factory, quint32 seed)
        : m_pool(pool)
        , m_factory(factory)
        , m_random(seed)
    {
    }

    QRandomGenerator& random() { return m_random; }

    // Durations of one sign: merging two of them gives a valid one.
    void setDurationSign(int sign) { m_durationSign = sign; }

    std::unique_ptr<protobuf::Message> make(const char* typeName)
    {
        std::unique_ptr<protobuf::Message> message(m_factory.GetPrototype(m_pool.FindMessageTypeByName(typeName))->New());
        fill(*message, 0);
        return message;
    }

private:
    static constexpr int MaxDepth = 4;

    bool chance(int percent) { return int(m_random.bounded(100)) < percent; }
    int count(int most) { return int(m_random.bounded(most + 1)); }

    void fill(protobuf::Message& message, int depth)
    {
        const std::string& name = message.GetDescriptor()->full_name();
        if (name == "google.protobuf.Any")
            return fillAny(message, depth);
        if (name == "google.protobuf.Value")
            return fillValue(message, depth);
        if (name == "google.protobuf.Duration")
            return fillSecondsAndNanos(message, m_durationSign * m_random.bounded(315'576'000'001.0), m_durationSign);
        if (name == "google.protobuf.Timestamp")
            return fillSecondsAndNanos(message, -62'135'596'800.0 + m_random.bounded(315'537'897'600.0), 1);
        if (name == "google.protobuf.FieldMask") {
            const FieldDescriptor* paths = message.GetDescriptor()->FindFieldByName("paths");
            for (int n = 1 + count(2); n > 0; --n)
                message.GetReflection()->AddString(&message, paths, pick({"a", "foo_bar", "x.y_z", "deep.er.path"}));
            return;
        }
        const protobuf::Descriptor& type = *message.GetDescriptor();
        const int percent = depth == 0 ? 40 : 25;
        for (int index = 0; index < type.field_count(); ++index) {
            if (chance(percent))
                fillField(message, *type.field(index), depth);
        }
    }

    void fillField(protobuf::Message& message, const FieldDescriptor& field, int depth)
    {
        const protobuf::Reflection& reflection = *message.GetReflection();
        const bool isMessage = field.cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE;
        if (isMessage && depth >= MaxDepth)
            return;
        if (!field.is_repeated()) {
            if (isMessage)
                fill(*reflection.MutableMessage(&message, &field, &m_factory), depth + 1);
            else
                setScalar(message, field, -1);
            return;
        }
        for (int n = 1 + count(2); n > 0; --n) {
            if (field.is_map()) {
                protobuf::Message& entry = *reflection.AddMessage(&message, &field, &m_factory);
                setScalar(entry, *field.message_type()->map_key(), -1, true);
                fillField(entry, *field.message_type()->map_value(), depth);
            } else if (isMessage) {
                fill(*reflection.AddMessage(&message, &field, &m_factory), depth + 1);
            } else {
                setScalar(message, field, reflection.FieldSize(message, &field));
            }
        }
    }

    // Sets the field, or adds an element when index is not -1.
    void setScalar(protobuf::Message& message, const FieldDescriptor& field, int index, bool isMapKey = false)
    {
        const protobuf::Reflection& r = *message.GetReflection();
        const bool add = index >= 0;
        const auto anyInt = [this](qint64 low, qint64 high, qint64 small) {
            const qint64 edges[] = {0, 1, -1, small, low, high};
            return chance(50) ? edges[m_random.bounded(6)] : qint64(m_random.generate64());
        };
        switch (field.cpp_type()) {
        case FieldDescriptor::CPPTYPE_INT32: {
            const auto v = isMapKey ? qint32(count(4)) - 2
                : isLevel(field)    ? pickLevel()
                                    : qint32(anyInt(INT32_MIN, INT32_MAX, 300));
            add ? r.AddInt32(&message, &field, v) : r.SetInt32(&message, &field, v);
            break;
        }
        case FieldDescriptor::CPPTYPE_INT64: {
            const auto v = isMapKey ? qint64(count(4)) - 2 : anyInt(INT64_MIN, INT64_MAX, 1LL << 53);
            add ? r.AddInt64(&message, &field, v) : r.SetInt64(&message, &field, v);
            break;
        }
        case FieldDescriptor::CPPTYPE_UINT32: {
            const auto v = isMapKey ? quint32(count(4)) : quint32(anyInt(0, UINT32_MAX, 300));
            add ? r.AddUInt32(&message, &field, v) : r.SetUInt32(&message, &field, v);
            break;
        }
        case FieldDescriptor::CPPTYPE_UINT64: {
            const auto v = quint64(anyInt(0, -1, 1LL << 53));
            add ? r.AddUInt64(&message, &field, v) : r.SetUInt64(&message, &field, v);
            break;
        }
        case FieldDescriptor::CPPTYPE_DOUBLE: {
            const double v = anyDouble();
            add ? r.AddDouble(&message, &field, v) : r.SetDouble(&message, &field, v);
            break;
        }
        case FieldDescriptor::CPPTYPE_FLOAT: {
            const auto v = float(anyDouble());
            add ? r.AddFloat(&message, &field, v) : r.SetFloat(&message, &field, v);
            break;
        }
        case FieldDescriptor::CPPTYPE_BOOL: {
            const bool v = chance(50);
            add ? r.AddBool(&message, &field, v) : r.SetBool(&message, &field, v);
            break;
        }
        case FieldDescriptor::CPPTYPE_ENUM: {
            // Open enumerations keep numbers they do not name.
            const protobuf::EnumDescriptor& type = *field.enum_type();
            const bool open = type.file()->syntax() == protobuf::FileDescriptor::SYNTAX_PROTO3;
            const int v = open && chance(20) ? 7 : type.value(count(type.value_count() - 1))->number();
            add ? r.AddEnumValue(&message, &field, v) : r.SetEnumValue(&message, &field, v);
            break;
        }
        case FieldDescriptor::CPPTYPE_STRING: {
            // Proto2 leaves strings unchecked.
            const bool unchecked = field.file()->syntax() == protobuf::FileDescriptor::SYNTAX_PROTO2;
            const std::string v = isMapKey && unchecked ? pick({"", "a", "\xff", "\xfe", "b\x80"})
                : isMapKey                                    ? pick({"", "a", "b", "key"})
                : field.type() == FieldDescriptor::TYPE_BYTES ? anyBytes()
                                                              : anyText(unchecked);
            add ? r.AddString(&message, &field, v) : r.SetString(&message, &field, v);
            break;
        }
        case FieldDescriptor::CPPTYPE_MESSAGE:
            break;
        }
    }

    double anyDouble()
    {
        const double edges[] = {0.0, -0.0, 1.5, -2.25e-7, 1e300, std::numeric_limits<double>::quiet_NaN(),
            std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
            std::numeric_limits<double>::denorm_min(), 0.1 + 0.7};
        if (chance(60))
            return edges[m_random.bounded(int(std::size(edges)))];
        return (m_random.generateDouble() - 0.5) * std::pow(10.0, double(count(40)) - 20);
    }

    // With bytes that are no UTF-8 when the string may hold them.
    std::string anyText(bool unchecked = false)
    {
        const char* pieces[] = {"a", "Z", " ", "\"", "\\", "/", "<", ">", "&", "\n", "\t", "\x01", "\x7f", "é", "€",
            "😀", "\u2028", "ß", "0"};
        const char* notUtf8[] = {"\xff", "\x80", "\xc3", "\xe2\x82", "\xed\xa0\x80", "\xc0\xaf", "\xf4\x90\x80\x80"};
        std::string text;
        for (int n = count(6); n > 0; --n) {
            text += unchecked && chance(20) ? notUtf8[m_random.bounded(int(std::size(notUtf8)))]
                                            : pieces[m_random.bounded(int(std::size(pieces)))];
        }
        return text;
    }

    // The reference's int32 fields that stand for a Level.
    static bool isLevel(const FieldDescriptor& field)
    {
        const std::string& type = field.containing_type()->full_name();
        if (type == "kinds.legacy.Ext.MLevelEntry")
            return field.number() == 2;
        const auto& members = ProtobufEveryKind::levelMembers;
        return type == "kinds.legacy.Ext"
            && std::find(members.begin(), members.end(), field.json_name()) != members.end();
    }

    // Level's numbers and others.
    qint32 pickLevel()
    {
        const qint32 levels[] = {1, 2, 1, 2, 0, 3, 99, -1, INT32_MAX, INT32_MIN};
        return levels[m_random.bounded(int(std::size(levels)))];
    }

    std::string anyBytes()
    {
        std::string bytes;
        for (int n = count(6); n > 0; --n)
            bytes += char(m_random.bounded(256));
        return bytes;
    }

    std::string pick(std::initializer_list<const char*> choices)
    {
        return *(choices.begin() + m_random.bounded(int(choices.size())));
    }

    void fillSecondsAndNanos(protobuf::Message& message, double seconds, int sign)
    {
        const protobuf::Reflection& r = *message.GetReflection();
        const protobuf::Descriptor& type = *message.GetDescriptor();
        if (chance(80))
            r.SetInt64(&message, type.FindFieldByName("seconds"), qint64(seconds));
        if (chance(60))
            r.SetInt32(&message, type.FindFieldByName("nanos"), sign * int(m_random.bounded(1'000'000'000)));
    }

    // Always one kind: an empty Value is left to other tests.
    void fillValue(protobuf::Message& value, int depth)
    {
        const protobuf::Reflection& r = *value.GetReflection();
        const protobuf::Descriptor& type = *value.GetDescriptor();
        switch (m_random.bounded(depth < MaxDepth ? 6 : 4)) {
        case 0:
            r.SetEnumValue(&value, type.FindFieldByName("null_value"), 0);
            break;
        case 1:
            r.SetDouble(&value, type.FindFieldByName("number_value"), std::isfinite(anyDouble()) ? anyDouble() : 2.5);
            break;
        case 2:
            r.SetString(&value, type.FindFieldByName("string_value"), anyText());
            break;
        case 3:
            r.SetBool(&value, type.FindFieldByName("bool_value"), chance(50));
            break;
        case 4: {
            protobuf::Message& fields = *r.MutableMessage(&value, type.FindFieldByName("struct_value"), &m_factory);
            fillField(fields, *fields.GetDescriptor()->FindFieldByName("fields"), depth + 1);
            break;
        }
        default: {
            protobuf::Message& list = *r.MutableMessage(&value, type.FindFieldByName("list_value"), &m_factory);
            fillField(list, *list.GetDescriptor()->FindFieldByName("values"), depth + 1);
            break;
        }
        }
    }

    // A payload that is never empty: the library's printer leaves out the
    // default value of a well-known type.
    void fillAny(protobuf::Message& any, int depth)
    {
        // The last three need room for what they hold.
        const char* types[] = {"kinds.Leaf", "kinds.legacy.Ext", "google.protobuf.Duration", "google.protobuf.Timestamp",
            "google.protobuf.Int32Value", "google.protobuf.StringValue", "google.protobuf.Value",
            "google.protobuf.FieldMask", "google.protobuf.Struct", "kinds.Node", "google.protobuf.Any"};
        const int choices = depth < MaxDepth - 2 ? int(std::size(types)) : int(std::size(types)) - 3;
        const char* typeName = types[m_random.bounded(choices)];
        std::unique_ptr<protobuf::Message> payload(m_factory.GetPrototype(m_pool.FindMessageTypeByName(typeName))->New());
        for (int attempt = 0; payload->ByteSizeLong() == 0; ++attempt) {
            if (attempt == 100)
                qFatal("no payload of type %s", typeName);
            fill(*payload, depth + 1);
        }
        const protobuf::Reflection& r = *any.GetReflection();
        r.SetString(&any, any.GetDescriptor()->FindFieldByName("type_url"), std::string("type.googleapis.com/") + typeName);
        r.SetString(&any, any.GetDescriptor()->FindFieldByName("value"), payload->SerializeAsString());
    }

    const protobuf::DescriptorPool& m_pool;
    protobuf::MessageFactory& m_factory;
    QRandomGenerator m_random;
    int m_durationSign = 1;
};

} // namespace

class ProtobufJsonDifferentialTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    // The schema with its extensions as ordinary fields, for the reference,
    // and the well-known types: the library's printer resolves the types of
    // Any payloads in the pool of the message it prints.
    protobuf::DescriptorPool m_referencePool;
    protobuf::DynamicMessageFactory m_referenceFactory {&m_referencePool};
    std::unique_ptr<ProtobufRecordDeserializer> m_deserializer;

    void buildReference(const char* name, const QByteArray& text)
    {
        protobuf::io::ArrayInputStream input(text.constData(), int(text.size()));
        SilentTokenizerErrors errors;
        protobuf::io::Tokenizer tokenizer(&input, &errors);
        protobuf::FileDescriptorProto proto;
        QVERIFY(protobuf::compiler::Parser().Parse(&tokenizer, &proto));
        proto.set_name(name);
        QVERIFY(m_referencePool.BuildFile(proto) != nullptr);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
        QCoreApplication::setApplicationName("skelvane");
        const QString dir = Settings::clustersDir() + "/kinds";
        QVERIFY(QDir().mkpath(dir));
        for (const auto& [name, text] : {std::pair {"/node.proto", &ProtobufEveryKind::nodeProto},
                 std::pair {"/ext.proto", &ProtobufEveryKind::extProto}}) {
            QFile file(dir + name);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(*text) == text->size());
        }
        auto created = ProtobufRecordDeserializer::create(Config::ProtobufDeserializer {{dir}});
        QVERIFY(created.hasValue());
        m_deserializer = std::move(created).value();
        for (const char* wellKnown : {"any", "duration", "field_mask", "struct", "timestamp", "wrappers"}) {
            const std::string name = std::string("google/protobuf/") + wellKnown + ".proto";
            protobuf::FileDescriptorProto proto;
            protobuf::DescriptorPool::generated_pool()->FindFileByName(name)->CopyTo(&proto);
            QVERIFY(m_referencePool.BuildFile(proto) != nullptr);
        }
        buildReference("ext.proto", ProtobufEveryKind::extAsFieldsProto);
        buildReference("node.proto", ProtobufEveryKind::nodeProto);
    }

    void showsWhatTheLibraryShows_data()
    {
        QTest::addColumn<QString>("typeName");
        QTest::addColumn<int>("messages");
        QTest::addColumn<bool>("shuffled");
        QTest::addColumn<int>("durationSign");
        QTest::newRow("Node") << "kinds.Node" << 1 << false << 1;
        QTest::newRow("Node, fields shuffled") << "kinds.Node" << 1 << true << -1;
        QTest::newRow("Node, three one after another") << "kinds.Node" << 3 << false << -1;
        QTest::newRow("Node, two shuffled one after another") << "kinds.Node" << 2 << true << 1;
        QTest::newRow("proto2 with extensions, two shuffled") << "kinds.legacy.Ext" << 2 << true << 1;
        QTest::newRow("Any, two") << "google.protobuf.Any" << 2 << false << 1;
        QTest::newRow("Struct, two shuffled") << "google.protobuf.Struct" << 2 << true << 1;
        QTest::newRow("Value, two") << "google.protobuf.Value" << 2 << false << 1;
    }

    void showsWhatTheLibraryShows()
    {
        QFETCH(QString, typeName);
        QFETCH(int, messages);
        QFETCH(bool, shuffled);
        QFETCH(int, durationSign);
        constexpr int Cases = 150;
        const std::string type = typeName.toStdString();
        RandomMessages generator(m_referencePool, m_referenceFactory, quint32(qHash(QString(QTest::currentDataTag()))));
        generator.setDurationSign(durationSign);
        int shown = 0;
        for (int n = 0; n < Cases; ++n) {
            // The library logs every proto2 string that is no UTF-8.
            const ProtobufLogCapture quiet;
            std::string value;
            for (int m = 0; m < messages; ++m) {
                const std::string bytes = generator.make(type.c_str())->SerializeAsString();
                value += shuffled ? shuffledFields(bytes, generator.random()) : bytes;
            }

            std::unique_ptr<protobuf::Message> parsed(
                m_referenceFactory.GetPrototype(m_referencePool.FindMessageTypeByName(type))->New());
            QVERIFY(parsed->ParsePartialFromString(value));
            ProtobufEveryKindReference::prepare(*parsed);
            std::string expected;
            const protobuf::util::Status status = protobuf::util::MessageToJsonString(*parsed, &expected);
            const bool printed = status.ok();

            const auto result = m_deserializer->deserializeRecord(
                KafkaRecord {.topic = "t", .key = {}, .value = QByteArray::fromStdString(value), .headers = {}}, typeName, "");
            const std::string actual = result.hasValue() ? result.value().text.toStdString() : std::string();
            // The library's printer shows a parsed map as the wire had it,
            // repeated keys included; the parsed map holds the last of each.
            const Json expectedJson = parseJson(expected, false);
            ProtobufEveryKindReference::nameLevels(expectedJson.get());
            const Json actualJson = parseJson(actual, true);
            const bool same = printed ? result.hasValue() && expectedJson && actualJson && json_equal(expectedJson.get(), actualJson.get())
                                      : result.isError();
            if (!same) {
                const QString shownError = result.hasValue() ? QString() : result.error().message + " / "
                        + (result.error().causes.isEmpty() ? QString() : result.error().causes.first().message);
                qWarning("case %d, value %s\n shown:    %s%s\n expected: %s", n,
                    QByteArray::fromStdString(value).toHex().constData(), actual.c_str(), qPrintable(shownError),
                    printed ? expected.c_str() : status.ToString().c_str());
                QFAIL("the shown JSON differs from the library's");
            }
            shown += printed;
        }
        // The comparison is not over failures alone.
        QVERIFY2(shown > Cases * 9 / 10, qPrintable(QString("%1 of %2 shown").arg(shown).arg(Cases)));
    }
};

QTEST_GUILESS_MAIN(ProtobufJsonDifferentialTest)
#include "ProtobufJsonDifferentialTest.moc"
