// Decoding and filtering records read back from a real broker: values of
// every kind produced with every codec, fetched with the codec, decoded by a
// composite deserializer with a Latin-1 rule and a Protocol Buffers rule, and
// filtered by the filter engine on its thread with one filter per target.
#include "CompositeDeserializer.h"
#include "FilterEngine.h"
#include "KafkaTestEnvironment.h"
#include "ProtobufDeserializer.h"
#include "ProtobufWire.h"
#include "TestBrokerSocket.h"
#include "TestProducer.h"
#include "TestTopicAdmin.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <set>

Q_DECLARE_METATYPE(FilterCondition)
// Conditions are written with designated initializers, naming only what they use.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

constexpr int Partitions = 2;
constexpr qint64 BaseTimestamp = 1'700'000'000'000;
const QStringList Codecs { "none", "gzip", "snappy", "lz4", "zstd" };

// A produced record with what decoding it must give.
struct Sample {
    TestRecord record;
    Config::ContentType type = Config::ContentType::Text;
    QString text; // for the text types; Binary gives back the value
};

Sample sample(const QString& topic, int i)
{
    using namespace ProtobufWire;
    using enum Config::ContentType;
    const QByteArray n = QByteArray::number(i);
    Sample s { { topic, i % Partitions, "key-" + n, {}, {}, BaseTimestamp + i * 1000 }, Text, {} };
    if (i % 7 == 3)
        s.record.key = std::nullopt;
    const std::optional<QByteArray> flags[] = { QByteArray(""), QByteArray("on"), std::nullopt };
    if (i % 4 < 3)
        s.record.headers.append({ "flag", flags[i % 4] });
    // skv.Order { id: i, name: "été", created: 2023-11-14T22:13:20Z + i s }
    const QByteArray order = tag(1, 0) + varint(quint64(i)) + lengthDelimited(2, "\xC3\xA9t\xC3\xA9")
        + lengthDelimited(3, tag(1, 0) + varint(1'700'000'000 + quint64(i)));
    const std::pair<std::optional<QByteArray>, Config::ContentType> values[] = {
        { "plain text number " + n + " with one \xC3\xA9", Text },
        { "{\"id\": " + n + ", \"name\": \"\xC3\xA9t\xC3\xA9\"}", Json },
        { "  [1, 2, " + n + "]\n", Json },
        { "<?xml version=\"1.0\"?><order id=\"" + n + "\"><item>cr\xC3\xA8me</item></order>", Xml },
        { QByteArray("\x00\x01\x02 binary ", 11) + n + QByteArray("\xFF\x00", 2), Binary },
        { "caf\xE9 cr\xE8me " + n, Text }, // binary by sniffing, text by its rule
        { order, Json },
        { i % 16 == 7 ? QByteArray("") : std::optional<QByteArray>(), Binary },
    };
    std::tie(s.record.value, s.type) = values[i % 8];
    if (i % 8 == 5) {
        s.record.headers.append({ "charset", QByteArray("latin1") });
        s.text = QString::fromUtf8("café crème ") + n;
    } else if (i % 8 == 6) {
        s.record.headers.append({ "proto-type", QByteArray("skv.Order") });
        s.text = QString::fromUtf8("{\"id\":\"%1\",\"name\":\"été\",\"created\":\"2023-11-14T22:13:%2Z\"}")
                     .arg(QString::number(i), QString::number(20 + i));
    } else if (s.type != Binary) {
        s.text = QString::fromUtf8(*s.record.value);
    }
    return s;
}

using Position = std::pair<std::int32_t, std::int64_t>; // partition and offset
using Expectation = std::function<bool(const Sample&, Position)>;

} // namespace

class RecordDecodingBrokerTest : public QObject {
    Q_OBJECT

    KafkaTestEnvironment m_env = KafkaTestEnvironment::fromProcessEnvironment();
    QTemporaryDir m_schemas;
    std::unique_ptr<ProtobufRecordDeserializer> m_protobuf;
    std::unique_ptr<CompositeDeserializer> m_composite;
    QHash<QString, QString> m_topics; // by codec
    QHash<QString, QList<KafkaRecord>> m_fetched; // by codec
    QHash<QString, QMap<Position, Sample>> m_samples; // by codec

    // The records passed in one batch per partition, as the fetcher delivers
    // them, to an engine whose answers arrive queued on this thread.
    QList<KafkaRecord> filterOnEngine(const Filter& filter, const QList<KafkaRecord>& records)
    {
        FilterEngine engine;
        engine.deserializer = m_composite.get();
        engine.updateFilter(filter);
        QObject receiver;
        QList<KafkaRecord> passed;
        int answers = 0;
        connect(&engine, &FilterEngine::recordsFiltered, &receiver, [&](const QList<KafkaRecord>& filtered) {
            passed.append(filtered);
            ++answers;
        });
        for (std::int32_t partition = 0; partition < Partitions; ++partition) {
            QList<KafkaRecord> batch;
            std::copy_if(records.begin(), records.end(), std::back_inserter(batch),
                [&](const KafkaRecord& r) { return r.partition == partition; });
            QMetaObject::invokeMethod(&engine, "filterRecords", Qt::QueuedConnection, Q_ARG(QList<KafkaRecord>, batch));
        }
        return QTest::qWaitFor([&] { return answers == Partitions; }, 10000) ? passed : QList<KafkaRecord>();
    }

private slots:
    void initTestCase()
    {
        SKELVANE_REQUIRE_KAFKA_BROKER(m_env);
        QVERIFY(QDir().mkpath(m_schemas.filePath("orders")));
        QFile schema(m_schemas.filePath("orders/order.proto"));
        QVERIFY(schema.open(QIODevice::WriteOnly));
        schema.write("syntax = \"proto3\";\npackage skv;\nimport \"google/protobuf/timestamp.proto\";\n"
                     "message Order { int64 id = 1; string name = 2; google.protobuf.Timestamp created = 3; }\n");
        schema.close();
        auto created = ProtobufRecordDeserializer::create(Config::ProtobufDeserializer { { m_schemas.path() + "/" } });
        QVERIFY2(created.hasValue(), created.hasValue() ? "" : qPrintable(created.error().value(0).message));
        m_protobuf = std::move(created).value();
        Config::Deserializer latin;
        latin.topicPattern = QRegularExpression("^decoding-");
        latin.headerName = "charset";
        latin.headerPattern = QRegularExpression("^latin1$");
        latin.textEncoding = "ISO-8859-1";
        Config::Deserializer protobuf;
        protobuf.headerName = "proto-type";
        protobuf.headerPattern = QRegularExpression(".");
        protobuf.contentType = Config::ContentType::Protobuf;
        protobuf.protobufMessageTypeHeader = "proto-type";
        m_composite = std::make_unique<CompositeDeserializer>(QList<ConfigurableDeserializer> {
            ConfigurableDeserializer(latin, m_protobuf.get()), ConfigurableDeserializer(protobuf, m_protobuf.get()) });

        TestTopicAdmin admin(m_env.plaintext());
        for (const QString& codec : Codecs) {
            const QString topic = KafkaTestEnvironment::uniqueTopicName("decoding-" + codec);
            QCOMPARE(admin.createTopic(topic, Partitions), QString());
            TestProducer producer;
            TestProducer::Options options;
            options.bootstrap = m_env.plaintext();
            options.compression = codec;
            QCOMPARE(producer.open(options), QString());
            QList<Sample> samples;
            for (int i = 0; i < 40; ++i) {
                samples.append(sample(topic, i));
                QCOMPARE(producer.produce(samples.last().record), QString());
            }
            const QList<TestProducer::Delivery> deliveries = producer.flush();
            for (qsizetype i = 0; i < samples.size(); ++i) {
                QCOMPARE(deliveries[i].error, QString());
                m_samples[codec].insert({ deliveries[i].partition, deliveries[i].offset }, samples[i]);
            }
            for (std::int32_t partition = 0; partition < Partitions; ++partition) {
                const auto fetched = TestBrokerSocket(m_env.plaintext()).fetchAll(topic, partition);
                QCOMPARE(fetched.error, QString());
                m_fetched[codec].append(fetched.records);
            }
            QCOMPARE(m_fetched[codec].size(), samples.size());
            m_topics.insert(codec, topic);
        }
    }

    void decodeEveryCodec_data()
    {
        QTest::addColumn<QString>("codec");
        for (const QString& codec : Codecs)
            QTest::newRow(qPrintable(codec)) << codec;
    }

    void decodeEveryCodec()
    {
        QFETCH(QString, codec);
        for (const KafkaRecord& record : m_fetched.value(codec)) {
            const Sample expected = m_samples.value(codec).value({ record.partition, record.offset });
            const QByteArray where = QString("partition %1 offset %2").arg(record.partition).arg(record.offset).toUtf8();
            QVERIFY2(record.value == expected.record.value.value_or(QByteArray()), where.constData());
            const auto decoded = m_composite->deserializeRecord(record);
            QVERIFY2(decoded.hasValue(), decoded.hasValue() ? where.constData() : qPrintable(decoded.error().message));
            QCOMPARE(decoded.value().contentType, expected.type);
            const bool binary = expected.type == Config::ContentType::Binary;
            QCOMPARE(decoded.value().text, expected.text);
            QCOMPARE(decoded.value().text.isNull(), binary);
            // XML keeps its bytes too, for the XML parser to read its declared encoding.
            const bool keepsBytes = binary || expected.type == Config::ContentType::Xml;
            QCOMPARE(decoded.value().data, keepsBytes ? record.value : QByteArray());
            QVERIFY(keepsBytes || decoded.value().data.isNull());
        }
    }

    void filterEveryTarget_data()
    {
        using enum FilterCondition::Target;
        using enum FilterCondition::Operator;
        QTest::addColumn<FilterCondition>("filterCondition");
        QTest::addColumn<Expectation>("passes"); // whether the sample at a position must pass
        const QRegularExpression key("^key-[0-9]*[05]$");
        QTest::newRow("records") << FilterCondition { .target = Records, .operation = Last, .min = 3 }
                                 << Expectation([](const Sample&, Position) { return true; });
        QTest::newRow("partition") << FilterCondition { .target = Partition, .operation = EqualTo, .value = 1 }
                                   << Expectation([](const Sample&, Position p) { return p.first == 1; });
        QTest::newRow("offset") << FilterCondition { .target = Offset, .operation = Between, .min = 4, .max = 9 }
                                << Expectation([](const Sample&, Position p) { return p.second >= 4 && p.second <= 9; });
        QTest::newRow("timestamp")
            << FilterCondition { .target = Timestamp, .operation = GreaterThan, .min = BaseTimestamp + 25'000 }
            << Expectation([](const Sample& s, Position) { return s.record.timestamp >= BaseTimestamp + 25'000; });
        QTest::newRow("key") << FilterCondition { .target = Key, .operation = Matching, .regex = key }
                             << Expectation([key](const Sample& s, Position) { return s.record.key && key.match(*s.record.key).hasMatch(); });
        QTest::newRow("header empty") << FilterCondition { .target = Header, .operation = EqualTo, .headerName = "flag" }
                                      << Expectation([](const Sample& s, Position) {
                                             return !s.record.headers.isEmpty() && s.record.headers[0].value == QByteArray("");
                                         });
        QTest::newRow("body containing")
            << FilterCondition { .target = Body, .operation = Containing, .expectedString = QString::fromUtf8("é") }
            << Expectation([](const Sample& s, Position) { return s.text.contains(QString::fromUtf8("é")); });
        QTest::newRow("body of protobuf as JSON")
            << FilterCondition { .target = Body, .operation = Matching,
                   .regex = QRegularExpression("\"created\":\"2023-11-14T22:13:[0-9]+Z\"") }
            << Expectation([](const Sample& s, Position) { return s.text.contains("\"created\""); });
    }

    void filterEveryTarget()
    {
        QFETCH(FilterCondition, filterCondition);
        QFETCH(Expectation, passes);
        const QMap<Position, Sample> samples = m_samples.value("zstd");
        std::set<Position> expected;
        for (auto it = samples.cbegin(); it != samples.cend(); ++it) {
            if (passes(it.value(), it.key()))
                expected.insert(it.key());
        }
        QVERIFY(!expected.empty());
        QVERIFY(qsizetype(expected.size()) < samples.size() || filterCondition.target == FilterCondition::Target::Records);
        std::set<Position> actual;
        for (const KafkaRecord& r : filterOnEngine({ 0, m_topics.value("zstd"), { filterCondition } }, m_fetched.value("zstd")))
            QVERIFY(actual.insert({ r.partition, r.offset }).second);
        QCOMPARE(actual, expected);
    }
};

QTEST_GUILESS_MAIN(RecordDecodingBrokerTest)
#include "RecordDecodingBrokerTest.moc"
