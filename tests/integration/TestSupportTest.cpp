// Checks the librdkafka-based test support against the test broker: what it
// produces (every codec, null and empty fields, headers, timestamps,
// transactions) is read back unchanged, and its consumer group is seen by
// the broker with the offsets it committed.
#include "KafkaTestEnvironment.h"
#include "RdKafkaConfig.h"
#include "RdKafkaErrorText.h"
#include "TestConsumerGroup.h"
#include "TestProducer.h"
#include "TestTopicAdmin.h"
#include "TestTopicReader.h"

#include <QDateTime>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {

constexpr qint64 baseTimestamp = 1'700'000'000'000;

// Records with every kind of key, value and header the codec has to tell
// apart, then enough similar ones for multi-record batches on both partitions.
QList<TestRecord> sampleRecords(const QString& topic)
{
    using Header = TestRecord::Header;
    const std::optional<QByteArray> null;
    const QByteArray empty("");
    QList<TestRecord> records {
        {topic, 0, QByteArray("key"), QByteArray("value"), {}, baseTimestamp},
        {topic, 0, null, QByteArray("null key"), {}, baseTimestamp + 1},
        {topic, 0, empty, null, {}, baseTimestamp + 2},
        {topic, 0, null, empty, {}, baseTimestamp + 3},
        {topic, 0, null, null, {}, baseTimestamp + 4},
        {topic, 0, QByteArray("headers"), QByteArray("v"),
         {Header {"text", QByteArray("a")}, Header {"null", null}, Header {"empty", empty},
          Header {"text", QByteArray("again")}, Header {"", QByteArray("unnamed")}},
         baseTimestamp + 5},
        {topic, 1, QByteArray("binary", 6), QByteArray("\0\x01\x7f\x80\xff", 5), {}, baseTimestamp - 86'400'000},
        {topic, 1, QByteArray("now"), QByteArray("timestamp 0"), {}, 0},
    };
    for (int i = 0; i < 200; ++i) {
        records.append({topic, i % 2, QByteArray::number(i), QByteArray(1000 + i, char('a' + i % 26)),
                        {Header {"index", QByteArray::number(i)}}, baseTimestamp + 10 + i});
    }
    return records;
}

QString produceAll(TestProducer& producer, const QList<TestRecord>& records, QList<TestProducer::Delivery>& deliveries)
{
    for (const TestRecord& record : records) {
        if (QString error = producer.produce(record); !error.isEmpty()) {
            return error;
        }
    }
    deliveries = producer.flush();
    for (const TestProducer::Delivery& delivery : deliveries) {
        if (!delivery.error.isEmpty()) {
            return delivery.error;
        }
    }
    return {};
}

QList<QByteArray> valuesOf(const QList<TestTopicReader::Message>& messages)
{
    QList<QByteArray> values;
    for (const TestTopicReader::Message& message : messages) {
        values.append(message.record.value.value_or("<null>"));
    }
    return values;
}

} // namespace

class TestSupportTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void producedRecordsReadBackUnchanged_data();
    void producedRecordsReadBackUnchanged();
    void logAppendTimeReplacesTimestamps();
    void abortedTransactionsAreHiddenFromReadCommitted();
    void consumerGroupKeepsMemberAndCommittedOffsets();

private:
    QString newTopic(const QString& prefix, int partitions,
                     TestTopicAdmin::TimestampType type = TestTopicAdmin::TimestampType::CreateTime);

    KafkaTestEnvironment m_environment;
    std::unique_ptr<TestTopicAdmin> m_admin;
    QStringList m_topics;
};

void TestSupportTest::initTestCase()
{
    m_environment = KafkaTestEnvironment::fromProcessEnvironment();
    SKELVANE_REQUIRE_KAFKA_BROKER(m_environment);
    m_admin = std::make_unique<TestTopicAdmin>(m_environment.plaintext());
}

void TestSupportTest::cleanupTestCase()
{
    for (const QString& topic : std::as_const(m_topics)) {
        const QString error = m_admin->deleteTopic(topic);
        if (!error.isEmpty()) {
            qWarning("Deleting %s failed: %s", qPrintable(topic), qPrintable(error));
        }
    }
}

QString TestSupportTest::newTopic(const QString& prefix, int partitions, TestTopicAdmin::TimestampType type)
{
    const QString topic = KafkaTestEnvironment::uniqueTopicName(prefix);
    const QString error = m_admin->createTopic(topic, partitions, type);
    if (!error.isEmpty()) {
        qWarning("Creating %s failed: %s", qPrintable(topic), qPrintable(error));
        return {};
    }
    m_topics.append(topic);
    return topic;
}

void TestSupportTest::producedRecordsReadBackUnchanged_data()
{
    QTest::addColumn<QString>("compression");
    for (const char* codec : {"none", "gzip", "snappy", "lz4", "zstd"}) {
        QTest::newRow(codec) << QString::fromLatin1(codec);
    }
}

void TestSupportTest::producedRecordsReadBackUnchanged()
{
    QFETCH(QString, compression);
    // Characters a topic name may not hold are replaced.
    const QString topic = newTopic(QStringLiteral("support codec/%1").arg(compression), 2);
    QVERIFY(!topic.isEmpty());

    TestProducer producer;
    QCOMPARE(producer.open({m_environment.plaintext(), compression, {}, 100}), QString());
    const QList<TestRecord> expected = sampleRecords(topic);
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    QList<TestProducer::Delivery> deliveries;
    QCOMPARE(produceAll(producer, expected, deliveries), QString());
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    QCOMPARE(deliveries.size(), expected.size());

    const TestTopicReader::Result read = TestTopicReader(m_environment.plaintext()).readAll(topic, 2);
    QCOMPARE(read.error, QString());
    QCOMPARE(read.messages.size(), expected.size());

    // Offsets count from 0 per partition in the order produced.
    QList<qint64> nextOffset {0, 0};
    QList<TestTopicReader::Message> wanted;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const qint32 partition = expected[i].partition;
        QCOMPARE(deliveries[i].partition, partition);
        QCOMPARE(deliveries[i].offset, nextOffset[partition]++);
        wanted.append({expected[i], deliveries[i].offset, false});
    }
    // The reader lists partition 0 before partition 1.
    std::stable_sort(wanted.begin(), wanted.end(), [](const auto& a, const auto& b) {
        return a.record.partition < b.record.partition;
    });
    for (qsizetype i = 0; i < wanted.size(); ++i) {
        const TestTopicReader::Message& message = read.messages[i];
        QCOMPARE(message.offset, wanted[i].offset);
        QVERIFY(!message.logAppendTime);
        if (wanted[i].record.timestamp == 0) {
            QVERIFY2(message.record.timestamp >= before && message.record.timestamp <= after,
                     qPrintable(QString::number(message.record.timestamp)));
            wanted[i].record.timestamp = message.record.timestamp;
        }
        QVERIFY2(message.record == wanted[i].record,
                 qPrintable(QStringLiteral("partition %1 offset %2 differs")
                                .arg(QString::number(message.record.partition), QString::number(message.offset))));
    }
}

void TestSupportTest::logAppendTimeReplacesTimestamps()
{
    const QString topic = newTopic(QStringLiteral("support-append-time"), 1, TestTopicAdmin::TimestampType::LogAppendTime);
    QVERIFY(!topic.isEmpty());
    TestProducer producer;
    QCOMPARE(producer.open({m_environment.plaintext(), QStringLiteral("lz4"), {}, 50}), QString());
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    QList<TestProducer::Delivery> deliveries;
    QCOMPARE(produceAll(producer,
                        {{topic, 0, QByteArray("a"), QByteArray("1"), {}, baseTimestamp},
                         {topic, 0, QByteArray("b"), QByteArray("2"), {}, baseTimestamp + 1}},
                        deliveries),
             QString());
    const qint64 after = QDateTime::currentMSecsSinceEpoch();

    const TestTopicReader::Result read = TestTopicReader(m_environment.plaintext()).readAll(topic, 1);
    QCOMPARE(read.error, QString());
    QCOMPARE(read.messages.size(), 2);
    for (const TestTopicReader::Message& message : read.messages) {
        QVERIFY(message.logAppendTime);
        QVERIFY(message.record.timestamp >= before && message.record.timestamp <= after);
    }
}

void TestSupportTest::abortedTransactionsAreHiddenFromReadCommitted()
{
    const QString topic = newTopic(QStringLiteral("support-transactions"), 1);
    QVERIFY(!topic.isEmpty());
    TestProducer producer;
    QCOMPARE(producer.open({m_environment.plaintext(), QStringLiteral("gzip"),
                            KafkaTestEnvironment::uniqueTopicName(QStringLiteral("support-tx")), 50}),
             QString());
    QCOMPARE(producer.initTransactions(), QString());

    const auto record = [&topic](const char* value) {
        return TestRecord {topic, 0, std::nullopt, QByteArray(value), {}, 0};
    };
    QList<TestProducer::Delivery> committed;
    QList<TestProducer::Delivery> aborted;
    QList<TestProducer::Delivery> last;
    QCOMPARE(producer.beginTransaction(), QString());
    QCOMPARE(produceAll(producer, {record("committed 1"), record("committed 2")}, committed), QString());
    QCOMPARE(producer.commitTransaction(), QString());
    QCOMPARE(producer.beginTransaction(), QString());
    QCOMPARE(produceAll(producer, {record("aborted 1"), record("aborted 2")}, aborted), QString());
    QCOMPARE(producer.abortTransaction(), QString());
    QCOMPARE(producer.beginTransaction(), QString());
    QCOMPARE(produceAll(producer, {record("committed 3")}, last), QString());
    QCOMPARE(producer.commitTransaction(), QString());

    // Each transaction ends with a control record that takes an offset.
    QCOMPARE(committed[0].offset, 0);
    QCOMPARE(committed[1].offset, 1);
    QCOMPARE(aborted[0].offset, 3);
    QCOMPARE(aborted[1].offset, 4);
    QCOMPARE(last[0].offset, 6);

    const TestTopicReader reader(m_environment.plaintext());
    const TestTopicReader::Result readCommitted = reader.readAll(topic, 1, TestTopicReader::Isolation::ReadCommitted);
    QCOMPARE(readCommitted.error, QString());
    QCOMPARE(valuesOf(readCommitted.messages),
             (QList<QByteArray> {"committed 1", "committed 2", "committed 3"}));
    QCOMPARE(readCommitted.messages.last().offset, 6);

    const TestTopicReader::Result readUncommitted =
        reader.readAll(topic, 1, TestTopicReader::Isolation::ReadUncommitted);
    QCOMPARE(readUncommitted.error, QString());
    QCOMPARE(valuesOf(readUncommitted.messages),
             (QList<QByteArray> {"committed 1", "committed 2", "aborted 1", "aborted 2", "committed 3"}));
}

void TestSupportTest::consumerGroupKeepsMemberAndCommittedOffsets()
{
    const QString topic = newTopic(QStringLiteral("support-group"), 3);
    QVERIFY(!topic.isEmpty());
    const QString groupId = KafkaTestEnvironment::uniqueTopicName(QStringLiteral("support-group"));
    const QByteArray group = groupId.toUtf8();

    RdKafkaConfig config(m_environment.plaintext());
    QString error;
    const RdKafkaHandle observer = config.createClient(RD_KAFKA_PRODUCER, error);
    QVERIFY2(observer, qPrintable(error));
    const auto describe = [&observer, &group](QByteArray& state, QByteArray& protocolType, int& members) {
        const rd_kafka_group_list* raw = nullptr;
        const rd_kafka_resp_err_t result = rd_kafka_list_groups(observer.get(), group.constData(), &raw, 10000);
        const std::unique_ptr<const rd_kafka_group_list, RdKafkaDeleter<rd_kafka_group_list_destroy>> list(raw);
        if (result != RD_KAFKA_RESP_ERR_NO_ERROR) {
            return rdKafkaErrorText(result);
        }
        if (list->group_cnt != 1) {
            return QStringLiteral("%1 groups listed").arg(list->group_cnt);
        }
        state = list->groups[0].state;
        protocolType = list->groups[0].protocol_type;
        members = list->groups[0].member_cnt;
        return QString();
    };

    const QList<TestConsumerGroup::PartitionOffset> offsets {{topic, 0, 5}, {topic, 1, 0}, {topic, 2, 123}};
    QByteArray state;
    QByteArray protocolType;
    int members = -1;
    {
        TestConsumerGroup consumer;
        QCOMPARE(consumer.join(m_environment.plaintext(), groupId, {topic}), QString());
        QCOMPARE(consumer.assignment(),
                 (QList<TestConsumerGroup::PartitionOffset> {{topic, 0, -1}, {topic, 1, -1}, {topic, 2, -1}}));
        QCOMPARE(consumer.commit(offsets), QString());

        QCOMPARE(describe(state, protocolType, members), QString());
        QCOMPARE(state, QByteArray("Stable"));
        QCOMPARE(protocolType, QByteArray("consumer"));
        QCOMPARE(members, 1);
    }
    QCOMPARE(describe(state, protocolType, members), QString());
    QCOMPARE(state, QByteArray("Empty"));
    QCOMPARE(members, 0);

    // The committed offsets as another client of the group sees them.
    RdKafkaConfig readerConfig(m_environment.plaintext());
    readerConfig.set("group.id", group);
    const RdKafkaHandle reader = readerConfig.createClient(RD_KAFKA_CONSUMER, error);
    QVERIFY2(reader, qPrintable(error));
    RdKafkaPartitionListHandle list(rd_kafka_topic_partition_list_new(3));
    for (qint32 partition = 0; partition < 3; ++partition) {
        rd_kafka_topic_partition_list_add(list.get(), topic.toUtf8().constData(), partition);
    }
    QCOMPARE(rdKafkaErrorText(rd_kafka_committed(reader.get(), list.get(), 10000)), QString());
    for (int i = 0; i < list->cnt; ++i) {
        QCOMPARE(list->elems[i].offset, offsets[i].offset);
    }
    rd_kafka_consumer_close(reader.get());
}

QTEST_GUILESS_MAIN(TestSupportTest)
#include "TestSupportTest.moc"
