// Decoding and filtering records read back from a real broker: values of
// every kind produced with every codec are fetched with the codec, decoded by
// a composite deserializer with a Latin-1 rule and a Protocol Buffers rule,
// and filtered by the filter engine on its thread with one filter per target.
#include "BrokerTestCase.h"
#include "CompositeDeserializer.h"
#include "FilterEngine.h"
#include "KafkaFetchRequest.h"
#include "KafkaFetchResponse.h"
#include "KafkaRecordBatch.h"
#include "ProtobufDeserializer.h"
#include "ProtobufWire.h"
#include "TestProducer.h"
#include "TestTopicAdmin.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>
#include <set>

Q_DECLARE_METATYPE(FilterCondition)

namespace {

constexpr int Partitions = 2;
constexpr int RecordsPerTopic = 40;
constexpr qint64 BaseTimestamp = 1'700'000'000'000;

const char* const Schema = R"(syntax = "proto3";
package skv;
import "google/protobuf/timestamp.proto";
message Order {
  int64 id = 1;
  string name = 2;
  google.protobuf.Timestamp created = 3;
}
)";

// skv.Order { id: n, name: "été", created: 2023-11-14T22:13:20Z + n s }
QByteArray encodedOrder(int n)
{
    using namespace ProtobufWire;
    const QByteArray timestamp = tag(1, 0) + varint(1'700'000'000 + quint64(n));
    return tag(1, 0) + varint(quint64(n)) + lengthDelimited(2, QByteArray("\xC3\xA9t\xC3\xA9"))
        + lengthDelimited(3, timestamp);
}

// A produced record with what decoding it must give.
struct Sample {
    TestRecord record;
    Config::ContentType type = Config::ContentType::Text;
    QString text; // for the text types; Binary gives back the value
};

Sample sample(const QString& topic, int i)
{
    Sample s;
    TestRecord& r = s.record;
    r.topic = topic;
    r.partition = i % Partitions;
    r.timestamp = BaseTimestamp + i * 1000;
    if (i % 7 != 3)
        r.key = "key-" + QByteArray::number(i);
    switch (i % 4) {
    case 0:
        r.headers.append({ "flag", QByteArray("") });
        break;
    case 1:
        r.headers.append({ "flag", QByteArray("on") });
        break;
    case 2:
        r.headers.append({ "flag", std::nullopt });
        break;
    default:
        break;
    }
    switch (i % 8) {
    case 0:
        r.value = "plain text number " + QByteArray::number(i) + " with one \xC3\xA9";
        s.type = Config::ContentType::Text;
        break;
    case 1:
        r.value = "{\"id\": " + QByteArray::number(i) + ", \"name\": \"\xC3\xA9t\xC3\xA9\"}";
        s.type = Config::ContentType::Json;
        break;
    case 2:
        r.value = "  [1, 2, " + QByteArray::number(i) + "]\n";
        s.type = Config::ContentType::Json;
        break;
    case 3:
        r.value = "<?xml version=\"1.0\"?><order id=\"" + QByteArray::number(i) + "\"><item>cr\xC3\xA8me</item></order>";
        s.type = Config::ContentType::Xml;
        break;
    case 4:
        r.value = QByteArray("\x00\x01\x02 binary ", 11) + QByteArray::number(i) + "\xFF\x00";
        s.type = Config::ContentType::Binary;
        break;
    case 5:
        // Without its rule this would sniff as binary (a fifth non-ASCII).
        r.value = "caf\xE9 cr\xE8me " + QByteArray::number(i);
        r.headers.append({ "charset", QByteArray("latin1") });
        s.type = Config::ContentType::Text;
        s.text = QString::fromUtf8("café crème ") + QString::number(i);
        break;
    case 6:
        r.value = encodedOrder(i);
        r.headers.append({ "proto-type", QByteArray("skv.Order") });
        s.type = Config::ContentType::Json;
        s.text = QString::fromUtf8("{\"id\":\"%1\",\"name\":\"été\",\"created\":\"2023-11-14T22:13:%2Z\"}")
                     .arg(QString::number(i), QString::number(20 + i));
        break;
    default:
        r.value = i % 16 == 7 ? QByteArray("") : std::optional<QByteArray>();
        s.type = Config::ContentType::Binary;
        break;
    }
    if (s.type != Config::ContentType::Binary && s.text.isNull())
        s.text = QString::fromUtf8(r.value.value());
    return s;
}

// Reads one partition from offset 0 up to its high watermark.
QString fetchPartition(const QString& address, const QString& topic, std::int32_t partitionIndex, QList<KafkaRecord>& out)
{
    TestBrokerSocket socket(address);
    std::int64_t nextOffset = 0;
    for (int round = 0; round < 100; ++round) {
        KafkaFetchRequest::Partition partition { partitionIndex, -1, nextOffset, -1, 1000000 };
        KafkaFetchRequest request(socket.nextCorrelationId(), BrokerTestCase::ClientId, -1, 500, 1, 1000000,
            IsolationLevel::ReadCommitted, -1, -1, { { topic, { partition } } }, {}, QString());
        auto response = socket.roundTrip<KafkaFetchResponse>(request, 11);
        if (response.isError())
            return response.error().message;
        const KafkaFetchResponse::Partition& answer = response.value().topics.value(0).partitions.value(0);
        if (answer.errorCode != KafkaProtocolError::None)
            return QString("partition error %1").arg(static_cast<int>(answer.errorCode));
        KafkaBuffer recordSet(answer.records);
        while (!recordSet.atEnd()) {
            auto batch = KafkaRecordBatch::parseFromBuffer(recordSet, topic, partitionIndex);
            if (batch.isError()) {
                if (batch.error().code == KafkaErrorCode::IncompleteRecordBatch)
                    break;
                return batch.error().message;
            }
            out.append(batch.value().records);
            nextOffset = batch.value().lastOffset() + 1;
        }
        if (nextOffset >= answer.highWatermark)
            return QString();
    }
    return "the partition was not read to its end";
}

FilterCondition condition(FilterCondition::Target target, FilterCondition::Operator operation)
{
    FilterCondition c;
    c.target = target;
    c.operation = operation;
    return c;
}

// Position of a record: partition and offset.
using Position = std::pair<std::int32_t, std::int64_t>;

} // namespace

class RecordDecodingBrokerTest : public QObject {
    Q_OBJECT

    KafkaTestEnvironment m_env = KafkaTestEnvironment::fromProcessEnvironment();
    QTemporaryDir m_schemas;
    std::unique_ptr<ProtobufRecordDeserializer> m_protobuf;
    std::unique_ptr<CompositeDeserializer> m_composite;
    QHash<QString, QString> m_topics; // by codec
    // By codec: the fetched records, and the samples at the same positions.
    QHash<QString, QList<KafkaRecord>> m_fetched;
    QHash<QString, QMap<Position, Sample>> m_samples;

    QList<KafkaRecord> filterOnEngine(const Filter& filter, const QList<KafkaRecord>& records)
    {
        FilterEngine engine;
        engine.deserializer = m_composite.get();
        engine.updateFilter(filter);
        // Answers arrive queued on this thread, as in the records tab.
        QObject receiver;
        QList<KafkaRecord> passed;
        int answers = 0;
        connect(&engine, &FilterEngine::recordsFiltered, &receiver, [&](const QList<KafkaRecord>& filtered) {
            passed.append(filtered);
            ++answers;
        });
        // Posted in batches of partitions as the fetcher delivers them.
        for (std::int32_t partition = 0; partition < Partitions; ++partition) {
            QList<KafkaRecord> batch;
            for (const KafkaRecord& r : records) {
                if (r.partition == partition)
                    batch.append(r);
            }
            QMetaObject::invokeMethod(&engine, "filterRecords", Qt::QueuedConnection, Q_ARG(QList<KafkaRecord>, batch));
        }
        if (!QTest::qWaitFor([&] { return answers == Partitions; }, 10000))
            return {};
        return passed;
    }

private slots:
    void initTestCase()
    {
        SKELVANE_REQUIRE_KAFKA_BROKER(m_env);
        QVERIFY(m_schemas.isValid());
        QFile schema(m_schemas.filePath("orders/order.proto"));
        QVERIFY(QDir().mkpath(m_schemas.filePath("orders")));
        QVERIFY(schema.open(QIODevice::WriteOnly));
        schema.write(Schema);
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
        for (const QString codec : { "none", "gzip", "snappy", "lz4", "zstd" }) {
            const QString topic = KafkaTestEnvironment::uniqueTopicName("decoding-" + codec);
            QCOMPARE(admin.createTopic(topic, Partitions), QString());
            TestProducer producer;
            TestProducer::Options options;
            options.bootstrap = m_env.plaintext();
            options.compression = codec;
            QCOMPARE(producer.open(options), QString());
            QList<Sample> samples;
            for (int i = 0; i < RecordsPerTopic; ++i) {
                samples.append(sample(topic, i));
                QCOMPARE(producer.produce(samples.last().record), QString());
            }
            const QList<TestProducer::Delivery> deliveries = producer.flush();
            QCOMPARE(deliveries.size(), samples.size());
            QMap<Position, Sample> byPosition;
            for (qsizetype i = 0; i < samples.size(); ++i) {
                QCOMPARE(deliveries[i].error, QString());
                byPosition.insert({ deliveries[i].partition, deliveries[i].offset }, samples[i]);
            }
            QList<KafkaRecord> fetched;
            for (std::int32_t partition = 0; partition < Partitions; ++partition)
                QCOMPARE(fetchPartition(m_env.plaintext(), topic, partition, fetched), QString());
            QCOMPARE(fetched.size(), samples.size());
            m_topics.insert(codec, topic);
            m_fetched.insert(codec, fetched);
            m_samples.insert(codec, byPosition);
        }
    }

    void decodeEveryCodec_data()
    {
        QTest::addColumn<QString>("codec");
        for (const char* codec : { "none", "gzip", "snappy", "lz4", "zstd" })
            QTest::newRow(codec) << QString(codec);
    }

    void decodeEveryCodec()
    {
        QFETCH(QString, codec);
        const QMap<Position, Sample> samples = m_samples.value(codec);
        for (const KafkaRecord& record : m_fetched.value(codec)) {
            const Sample expected = samples.value({ record.partition, record.offset });
            const QByteArray where = QString("partition %1 offset %2").arg(record.partition).arg(record.offset).toUtf8();
            QVERIFY2(record.value == expected.record.value.value_or(QByteArray()), where.constData());
            const auto decoded = m_composite->deserializeRecord(record);
            QVERIFY2(decoded.hasValue(), decoded.hasValue() ? where.constData() : qPrintable(decoded.error().message));
            QCOMPARE(decoded.value().contentType, expected.type);
            if (expected.type == Config::ContentType::Binary) {
                QCOMPARE(decoded.value().data, record.value);
                QVERIFY(decoded.value().text.isNull());
            } else {
                QCOMPARE(decoded.value().text, expected.text);
                QVERIFY(decoded.value().data.isNull());
            }
        }
    }

    void filterEveryTarget_data()
    {
        using Target = FilterCondition::Target;
        using Operator = FilterCondition::Operator;
        QTest::addColumn<QString>("codec");
        QTest::addColumn<FilterCondition>("filterCondition");
        // Whether the sample at a partition and offset must pass.
        QTest::addColumn<std::function<bool(const Sample&, Position)>>("passes");

        struct Case {
            const char* name;
            FilterCondition condition;
            std::function<bool(const Sample&, Position)> passes;
        };
        QList<Case> cases;
        FilterCondition c = condition(Target::Records, Operator::Last);
        c.min = 3;
        cases.append({ "records", c, [](const Sample&, Position) { return true; } });
        c = condition(Target::Partition, Operator::EqualTo);
        c.value = 1;
        cases.append({ "partition", c, [](const Sample&, Position p) { return p.first == 1; } });
        c = condition(Target::Offset, Operator::Between);
        c.min = 4;
        c.max = 9;
        cases.append({ "offset", c, [](const Sample&, Position p) { return p.second >= 4 && p.second <= 9; } });
        c = condition(Target::Timestamp, Operator::GreaterThan);
        c.min = BaseTimestamp + 25'000;
        cases.append({ "timestamp", c, [](const Sample& s, Position) { return s.record.timestamp >= BaseTimestamp + 25'000; } });
        c = condition(Target::Key, Operator::Matching);
        c.regex = QRegularExpression("^key-[0-9]*[05]$");
        cases.append({ "key", c, [](const Sample& s, Position) {
                         return s.record.key.has_value() && QRegularExpression("^key-[0-9]*[05]$").match(*s.record.key).hasMatch();
                     } });
        c = condition(Target::Header, Operator::EqualTo);
        c.headerName = "flag";
        cases.append({ "header empty", c, [](const Sample& s, Position) {
                         return !s.record.headers.isEmpty() && s.record.headers[0].value == QByteArray("");
                     } });
        c = condition(Target::Body, Operator::Containing);
        c.expectedString = QString::fromUtf8("é");
        cases.append({ "body containing", c, [](const Sample& s, Position) { return s.text.contains(QString::fromUtf8("é")); } });
        c = condition(Target::Body, Operator::Matching);
        c.regex = QRegularExpression("\"created\":\"2023-11-14T22:13:[0-9]+Z\"");
        cases.append({ "body of protobuf as JSON", c, [](const Sample& s, Position) { return s.text.contains("\"created\""); } });

        for (const char* codec : { "none", "gzip", "snappy", "lz4", "zstd" }) {
            for (const Case& each : cases)
                QTest::addRow("%s %s", codec, each.name) << QString(codec) << each.condition << each.passes;
        }
    }

    void filterEveryTarget()
    {
        QFETCH(QString, codec);
        QFETCH(FilterCondition, filterCondition);
        QFETCH(std::function<bool(const Sample&, Position)>, passes);
        const QMap<Position, Sample> samples = m_samples.value(codec);
        std::set<Position> expected;
        for (auto it = samples.cbegin(); it != samples.cend(); ++it) {
            if (passes(it.value(), it.key()))
                expected.insert(it.key());
        }
        QVERIFY(!expected.empty());
        QVERIFY(qsizetype(expected.size()) < samples.size() || filterCondition.target == FilterCondition::Target::Records);

        const QList<KafkaRecord> passed
            = filterOnEngine(Filter { 0, m_topics.value(codec), { filterCondition } }, m_fetched.value(codec));
        std::set<Position> actual;
        for (const KafkaRecord& r : passed)
            QVERIFY(actual.insert({ r.partition, r.offset }).second);
        QCOMPARE(actual, expected);
    }

    void cleanupTestCase()
    {
        if (m_topics.isEmpty())
            return;
        TestTopicAdmin admin(m_env.plaintext());
        for (const QString& topic : std::as_const(m_topics))
            admin.deleteTopic(topic);
    }
};

QTEST_GUILESS_MAIN(RecordDecodingBrokerTest)

#include "RecordDecodingBrokerTest.moc"
