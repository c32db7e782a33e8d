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

} // namespace

class ProtobufDeserializerTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    protobuf::DescriptorPool m_pool {protobuf::DescriptorPool::generated_pool()};
    protobuf::DynamicMessageFactory m_factory;
    QByteArray m_order;
    std::unique_ptr<ProtobufRecordDeserializer> m_shop;

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
