#include "CompilerErrorCollector.h"
#include "ProtobufDeserializer.h"
#include "Settings.h"

#include <google/protobuf/compiler/parser.h>
#include <google/protobuf/descriptor.h>
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
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace protobuf = google::protobuf;

namespace {

class SilentTokenizerErrors : public protobuf::io::ErrorCollector {
public:
    void AddError(int, protobuf::io::ColumnNumber, const std::string&) override { }
};

// The test's own pool, built from the same schema texts with the well-known
// types underneath, to encode messages written as JSON through DynamicMessage.
class MessageEncoder {
public:
    MessageEncoder() : m_pool(protobuf::DescriptorPool::generated_pool()) { }

    bool add(const QString& name, const QByteArray& text)
    {
        protobuf::io::ArrayInputStream input(text.constData(), static_cast<int>(text.size()));
        SilentTokenizerErrors errors;
        protobuf::io::Tokenizer tokenizer(&input, &errors);
        protobuf::FileDescriptorProto proto;
        protobuf::compiler::Parser parser;
        if (!parser.Parse(&tokenizer, &proto))
            return false;
        proto.set_name(name.toStdString());
        return m_pool.BuildFile(proto) != nullptr;
    }

    QByteArray encode(const char* type, const char* json)
    {
        const protobuf::Descriptor* descriptor = m_pool.FindMessageTypeByName(type);
        if (descriptor == nullptr)
            return "<unknown type>";
        std::unique_ptr<protobuf::Message> message(m_factory.GetPrototype(descriptor)->New());
        if (!protobuf::util::JsonStringToMessage(json, message.get()).ok())
            return "<bad json>";
        return QByteArray::fromStdString(message->SerializeAsString());
    }

private:
    protobuf::DescriptorPool m_pool;
    protobuf::DynamicMessageFactory m_factory;
};

bool writeFile(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

QStringList messages(const QList<KafkaError>& errors)
{
    QStringList texts;
    for (const KafkaError& error : errors)
        texts.append(error.message);
    return texts;
}

KafkaRecord recordWith(const QByteArray& value, const QList<KafkaHeader>& headers = {})
{
    KafkaRecord record;
    record.topic = "orders";
    record.value = value;
    record.headers = headers;
    return record;
}

const QByteArray commonProto = R"(syntax = "proto3";
package acme.common;
message Money {
  int64 cents = 1;
  string currency = 2;
}
)";

const QByteArray orderProto = R"(syntax = "proto3";
package acme.orders;
import "common/money.proto";
import "google/protobuf/timestamp.proto";
message Order {
  enum Status {
    STATUS_UNSPECIFIED = 0;
    SHIPPED = 1;
  }
  message Line {
    string sku = 1;
    int32 quantity = 2;
  }
  int64 id = 1;
  repeated Line lines = 2;
  acme.common.Money total = 3;
  google.protobuf.Timestamp created_at = 4;
  Status status = 5;
  uint64 weight_grams = 6;
}
)";

const char* orderJson = R"({"id":"9007199254740993","lines":[{"sku":"A-1","quantity":2}],)"
                        R"("total":{"cents":"1250","currency":"EUR"},"createdAt":"2024-01-02T03:04:05Z",)"
                        R"("status":"SHIPPED"})";

} // namespace

class ProtobufDeserializerTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_home;
    MessageEncoder m_encoder;
    QByteArray m_order;
    std::unique_ptr<ProtobufRecordDeserializer> m_shop;

    QString clustersDir() const { return Settings::clustersDir(); }

    // A fresh schema directory below the clusters directory.
    QString schemaDir(const QString& name) const
    {
        const QString dir = clustersDir() + "/" + name;
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
        return dir;
    }

    std::unique_ptr<ProtobufRecordDeserializer> load(const QStringList& paths)
    {
        auto result = ProtobufRecordDeserializer::create(Config::ProtobufDeserializer { paths });
        if (result.isError()) {
            qWarning() << messages(result.error());
            return nullptr;
        }
        return std::move(result).value();
    }

    QList<KafkaError> loadErrors(const QStringList& paths)
    {
        auto result = ProtobufRecordDeserializer::create(Config::ProtobufDeserializer { paths });
        return result.isError() ? result.error() : QList<KafkaError>();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
        QCoreApplication::setApplicationName("skelvane");
        QVERIFY(QDir().mkpath(clustersDir()));

        const QString dir = schemaDir("shop");
        QVERIFY(writeFile(dir + "/common/money.proto", commonProto));
        QVERIFY(writeFile(dir + "/orders/order.proto", orderProto));
        QVERIFY(m_encoder.add("common/money.proto", commonProto));
        QVERIFY(m_encoder.add("orders/order.proto", orderProto));
        m_order = m_encoder.encode("acme.orders.Order", orderJson);
        QVERIFY(m_order.size() > 20);
        m_shop = load({ "shop" });
        QVERIFY(m_shop);
    }

    // Imports from subdirectories, nested messages, enums, 64-bit integers as
    // strings and a Timestamp the schema does not ship, whatever form the
    // schema path takes.
    void convertsWithEverySchemaPathForm_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("relative") << "shop";
        QTest::newRow("relative with ./") << "./shop";
        QTest::newRow("relative with trailing /") << "shop/";
        QTest::newRow("relative unclean") << "./shop//../shop/.";
        QTest::newRow("absolute") << clustersDir() + "/shop";
        QTest::newRow("absolute with trailing /") << clustersDir() + "/shop/";
        QTest::newRow("absolute with doubled /") << clustersDir() + "//shop//";
    }

    void convertsWithEverySchemaPathForm()
    {
        QFETCH(QString, path);
        const auto deserializer = load({ path });
        QVERIFY(deserializer);

        const auto result = deserializer->deserializeRecord(recordWith(m_order), "acme.orders.Order", "");
        QVERIFY2(result.hasValue(), qPrintable(result.isError() ? result.error().message : QString()));
        QCOMPARE(result.value().contentType, Config::ContentType::Json);
        QVERIFY(result.value().data.isNull());
        QCOMPARE(result.value().text, QString::fromUtf8(orderJson));
    }

    // Type from the rule or from a header, and the per-record failures.
    void typeSelection_data()
    {
        QTest::addColumn<QString>("messageType");
        QTest::addColumn<QString>("typeHeader");
        QTest::addColumn<QList<KafkaHeader>>("headers");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("expected"); // JSON, or the error message
        QTest::addColumn<int>("causeCode"); // -1: success or no cause

        const QByteArray money = m_encoder.encode("acme.common.Money", R"({"cents":"-5","currency":"NOK"})");
        const QString moneyJson = R"({"cents":"-5","currency":"NOK"})";
        const QString headerMissing = "The Protocol Buffers message type header was not found: x-type";
        const QString noType = "No Protocol Buffers message type was found when attempting to deserialize the record";

        QTest::newRow("type from rule") << "acme.common.Money" << "" << QList<KafkaHeader>() << money << moneyJson << -1;
        QTest::newRow("type from header")
            << "" << "x-type" << QList<KafkaHeader> { { "other", "x" }, { "x-type", "acme.common.Money" } } << money
            << moneyJson << -1;
        QTest::newRow("header wins over rule type")
            << "acme.orders.Order" << "x-type" << QList<KafkaHeader> { { "x-type", "acme.common.Money" } } << money
            << moneyJson << -1;
        QTest::newRow("header missing") << "acme.common.Money" << "x-type"
                                        << QList<KafkaHeader> { { "X-Type", "acme.common.Money" } } << money
                                        << headerMissing << -1;
        QTest::newRow("header empty") << "" << "x-type" << QList<KafkaHeader> { { "x-type", "" } } << money
                                      << headerMissing << -1;
        QTest::newRow("only first header of the name counts")
            << "" << "x-type" << QList<KafkaHeader> { { "x-type", "" }, { "x-type", "acme.common.Money" } } << money
            << headerMissing << -1;
        QTest::newRow("no type") << "" << "" << QList<KafkaHeader>() << money << noType << -1;
        QTest::newRow("unknown type from rule")
            << "acme.Nope" << "" << QList<KafkaHeader>() << money
            << "Protobuf deserialization failed for record with message type acme.Nope"
            << int(KafkaErrorCode::ProtobufNotFound);
        QTest::newRow("unknown type from header")
            << "" << "x-type" << QList<KafkaHeader> { { "x-type", "acme.Nöpe" } } << money
            << QString::fromUtf8("Protobuf deserialization failed for record with message type acme.Nöpe")
            << int(KafkaErrorCode::ProtobufNotFound);
        QTest::newRow("timestamp out of range")
            << "google.protobuf.Timestamp" << "" << QList<KafkaHeader>()
            << QByteArray("\x08\x80\xc0\xca\xf3\x84\xa3\x02", 8)
            << "Protobuf deserialization failed for record with message type google.protobuf.Timestamp"
            << int(KafkaErrorCode::ProtobufInternal);
        QTest::newRow("empty value") << "acme.orders.Order" << "" << QList<KafkaHeader>() << QByteArray() << "{}" << -1;
        QTest::newRow("well-known type without schema")
            << "google.protobuf.Timestamp" << "" << QList<KafkaHeader>() << QByteArray("\x08\x01", 2)
            << R"("1970-01-01T00:00:01Z")" << -1;
    }

    void typeSelection()
    {
        QFETCH(QString, messageType);
        QFETCH(QString, typeHeader);
        QFETCH(QList<KafkaHeader>, headers);
        QFETCH(QByteArray, value);
        QFETCH(QString, expected);
        QFETCH(int, causeCode);

        const auto result = m_shop->deserializeRecord(recordWith(value, headers), messageType, typeHeader);
        if (result.hasValue()) {
            QCOMPARE(result.value().text, expected);
            QCOMPARE(causeCode, -1);
            return;
        }
        QCOMPARE(result.error().code, KafkaErrorCode::RecordDeserializationError);
        QCOMPARE(result.error().message, expected);
        if (causeCode < 0) {
            QVERIFY(result.error().causes.isEmpty());
        } else {
            QCOMPARE(result.error().causes.size(), 1);
            QCOMPARE(int(result.error().causes.first().code), causeCode);
            QVERIFY(!result.error().causes.first().message.isEmpty());
        }
    }

    void loadingErrors()
    {
        const QString broken = schemaDir("broken");
        // Imported by two files and found by the walk: one message only.
        QVERIFY(writeFile(broken + "/b/syntax.proto", "syntax = \"proto3\";\nmessage M {\n  int32 a = ;\n}\n"));
        QVERIFY(writeFile(broken + "/a.proto", "syntax = \"proto3\";\nimport \"b/syntax.proto\";\nmessage A {}\n"));
        QVERIFY(writeFile(broken + "/c.proto", "syntax = \"proto3\";\nimport \"b/syntax.proto\";\nmessage C {}\n"));
        // A build error in a file found after the others in sorted order.
        QVERIFY(writeFile(broken + "/d/fields.proto",
            "syntax = \"proto3\";\npackage d;\nmessage Twice {\n  int32 a = 1;\n  int32 b = 1;\n}\n"));
        // An import that does not exist is skipped silently, and so is a hidden file.
        QVERIFY(writeFile(broken + "/e.proto", "syntax = \"proto3\";\nimport \"missing/nowhere.proto\";\n"));
        QVERIFY(writeFile(broken + "/.hidden.proto", "not a schema"));

        const QList<KafkaError> errors = loadErrors({ "nowhere", "broken/", clustersDir() + "/gone/" });
        for (const KafkaError& error : errors) {
            QCOMPARE(error.code, KafkaErrorCode::ProtobufSchemaError);
            QVERIFY(error.causes.isEmpty());
        }
        const QStringList expected {
            QString("The Protocol Buffers schema path '%1/nowhere' does not exist").arg(clustersDir()),
            QString("The Protocol Buffers schema path '%1/gone' does not exist").arg(clustersDir()),
            "Protocol Buffers schema compilation failed for file 'b/syntax.proto' at line 2: Expected field number.",
            QString("Protocol Buffers schema compilation failed for file '%1/d/fields.proto' at line 4: "
                    "Field number 1 has already been used in \"d.Twice\" by field \"a\".")
                .arg(broken),
        };
        QCOMPARE(messages(errors), expected);
    }

    // Texts of the collector itself: the line is the compiler's zero-based
    // number, -1 leaves it out; each text is kept once, in first-seen order.
    void collectorTexts()
    {
        CompilerErrorCollector collector;
        collector.AddError("a.proto", 0, 4, "first");
        collector.AddError("dir/b.proto", -1, 0, "no line");
        collector.AddError("a.proto", 0, 9, "first");
        collector.AddError("a.proto", 3, 0, "first");
        collector.AddWarning("a.proto", 1, 0, "ignored");
        const QStringList expected {
            "Protocol Buffers schema compilation failed for file 'a.proto' at line 0: first",
            "Protocol Buffers schema compilation failed for file 'dir/b.proto': no line",
            "Protocol Buffers schema compilation failed for file 'a.proto' at line 3: first",
        };
        QCOMPARE(collector.messages(), expected);
    }

    // The walk stops at a file already on the chain of imports and reports the
    // cycle once, without a line.
    void importCycleIsReported()
    {
        const QString dir = schemaDir("cycle");
        QVERIFY(writeFile(dir + "/a.proto",
            "syntax = \"proto3\";\npackage cyc;\nimport \"sub/b.proto\";\nmessage A { B b = 1; }\n"));
        QVERIFY(writeFile(dir + "/sub/b.proto",
            "syntax = \"proto3\";\npackage cyc;\nimport \"a.proto\";\nmessage B { A a = 1; int32 n = 2; }\n"));
        QVERIFY(writeFile(dir + "/c.proto",
            "syntax = \"proto3\";\npackage cyc;\nimport \"a.proto\";\nimport \"sub/b.proto\";\n"));
        QVERIFY(writeFile(dir + "/self.proto", "syntax = \"proto3\";\nimport \"self.proto\";\n"));

        const QStringList expected {
            "Protocol Buffers schema compilation failed for file 'a.proto': "
            "File recursively imports itself: a.proto -> sub/b.proto -> a.proto",
            "Protocol Buffers schema compilation failed for file 'self.proto': "
            "File recursively imports itself: self.proto -> self.proto",
        };
        QCOMPARE(messages(loadErrors({ "cycle" })), expected);
    }

    // A file may use a type that only another schema directory defines, and a
    // directory may ship its own copy of a well-known type.
    void typesAcrossDirectories()
    {
        const QString first = schemaDir("first");
        const QString second = schemaDir("second");
        QVERIFY(writeFile(first + "/event.proto",
            "syntax = \"proto3\";\npackage ev;\nimport \"shared.proto\";\n"
            "import \"google/protobuf/timestamp.proto\";\n"
            "message Event { shared.Tag tag = 1; google.protobuf.Timestamp at = 2; }\n"));
        QVERIFY(writeFile(second + "/shared.proto", "syntax = \"proto3\";\npackage shared;\nmessage Tag { string name = 1; }\n"));
        QVERIFY(writeFile(second + "/google/protobuf/timestamp.proto",
            "syntax = \"proto3\";\npackage google.protobuf;\nmessage Timestamp { int64 seconds = 1; int32 nanos = 2; }\n"));
        const auto deserializer = load({ "first", "second" });
        QVERIFY(deserializer);

        // Event { tag: { name: "x" }, at: { seconds: 60 } }
        const QByteArray value("\x0a\x03\x0a\x01x\x12\x02\x08\x3c", 9);
        const auto result = deserializer->deserializeRecord(recordWith(value), "ev.Event", "");
        QVERIFY2(result.hasValue(), qPrintable(result.isError() ? result.error().message : QString()));
        QCOMPARE(result.value().text, QString(R"({"tag":{"name":"x"},"at":"1970-01-01T00:01:00Z"})"));
    }

    void emptyConfigurationGivesEmptyPool()
    {
        const auto deserializer = load({});
        QVERIFY(deserializer);
        const auto result = deserializer->deserializeRecord(recordWith(m_order), "acme.orders.Order", "");
        QVERIFY(result.isError());
        QCOMPARE(result.error().causes.size(), 1);
        QCOMPARE(result.error().causes.first().code, KafkaErrorCode::ProtobufNotFound);
    }

    // One deserializer serves the GUI thread and the filter thread at once;
    // the first conversions also resolve the lazily built types.
    void convertsFromSeveralThreads()
    {
        const auto deserializer = load({ "shop" });
        QVERIFY(deserializer);
        const KafkaRecord record = recordWith(m_order);
        std::atomic<int> failures = 0;
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&] {
                for (int i = 0; i < 200; ++i) {
                    const auto result = deserializer->deserializeRecord(record, "acme.orders.Order", "");
                    if (!result.hasValue() || result.value().text != QString::fromUtf8(orderJson))
                        ++failures;
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        QCOMPARE(failures.load(), 0);
    }
};

QTEST_GUILESS_MAIN(ProtobufDeserializerTest)
#include "ProtobufDeserializerTest.moc"
