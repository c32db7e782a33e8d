// The cluster client against the real broker: bootstrap and per-broker
// connections, bootstrap failures reported once, teardown with a long poll
// outstanding, per-leader connections on the three-broker cluster. The
// listeners themselves are covered by KafkaConnectionBrokerTest.
#include "KafkaClusterClient.h"
#include "KafkaConnection.h"
#include "KafkaFetchRequest.h"
#include "KafkaListOffsetsRequest.h"
#include "KafkaListOffsetsResponse.h"
#include "QueuedSignalSpy.h"
#include "TestClusterSettings.h"
#include "TestTopicAdmin.h"

#include <QElapsedTimer>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <optional>

namespace {

constexpr auto ClientId = "skelvane-cluster-client-test";
constexpr int Partitions = 3;
constexpr qint64 PromptMs = 3000; // teardown does not wait for the broker's answers

Config::Cluster at(Config::Cluster cluster, const QString& address)
{
    cluster.brokers = { Config::Broker::fromString(address).value() };
    return cluster;
}

} // namespace

Q_DECLARE_METATYPE(Config::Cluster)

class KafkaClusterClientBrokerTest : public QObject {
    Q_OBJECT

    KafkaTestEnvironment m_env = KafkaTestEnvironment::fromProcessEnvironment();
    QString m_topic;

    std::unique_ptr<KafkaClusterClient> bootstrapped(const Config::Cluster& cluster)
    {
        auto client = std::make_unique<KafkaClusterClient>(ClientId, cluster);
        QSignalSpy failed(client.get(), &KafkaClusterClient::bootstrapError);
        client->bootstrap();
        const bool finished = QTest::qWaitFor(
            [&] { return !failed.isEmpty() || client->bootstrapState() == KafkaClusterClient::BootstrapState::Complete; },
            30000);
        if (!failed.isEmpty())
            qWarning("bootstrap failed: %s", qPrintable(errorText(failed.at(0).at(0).value<KafkaError>())));
        return finished && failed.isEmpty() ? std::move(client) : nullptr;
    }

    // The latest offsets of the partitions, asked through the connection.
    KafkaResult<KafkaListOffsetsResponse> listOffsets(KafkaConnection* connection, const QString& topic,
        const QList<int>& partitions)
    {
        QList<KafkaListOffsetsRequest::Partition> asked;
        for (int partition : partitions)
            asked.append({ partition, -1, -1 });
        std::optional<KafkaResult<KafkaRawResponse>> answer;
        connection->send(std::make_unique<KafkaListOffsetsRequest>(connection->nextCorrelationId(), ClientId, -1,
                             IsolationLevel::ReadCommitted, QList<KafkaListOffsetsRequest::Topic> { { topic, asked } }),
            this, [&answer](KafkaResult<KafkaRawResponse> result) { answer = std::move(result); });
        if (!QTest::qWaitFor([&] { return answer.has_value(); }, 30000))
            return KafkaError(KafkaErrorCode::Unknown, QStringLiteral("no answer"));
        if (answer->isError())
            return answer->error();
        return KafkaListOffsetsResponse::parseFromRaw(answer->value());
    }

    // As listOffsets, asked again while a new topic's leader has not yet
    // taken up its partitions (the metadata may name it a moment earlier).
    KafkaResult<KafkaListOffsetsResponse> listOffsetsOnceLed(KafkaConnection* connection, const QString& topic,
        const QList<int>& partitions)
    {
        for (int attempt = 0;; ++attempt) {
            auto offsets = listOffsets(connection, topic, partitions);
            bool settling = false;
            for (const auto& answered : offsets.hasValue() ? offsets.value().topics.value(0).partitions : QList<KafkaListOffsetsResponse::Partition>())
                settling = settling || answered.errorCode == KafkaProtocolError::NotLeaderOrFollower
                    || answered.errorCode == KafkaProtocolError::LeaderNotAvailable;
            if (!settling || attempt == 100)
                return offsets;
            QTest::qWait(100);
        }
    }

private slots:
    void initTestCase()
    {
        SKELVANE_REQUIRE_KAFKA_BROKER(m_env);
        m_topic = KafkaTestEnvironment::uniqueTopicName(QStringLiteral("cluster-client"));
        QCOMPARE(TestTopicAdmin(m_env.plaintext()).createTopic(m_topic, Partitions), QString());
    }

    void bootstrapAndBrokerConnections_data()
    {
        QTest::addColumn<Config::Cluster>("cluster");
        QTest::newRow("PLAINTEXT") << at({}, m_env.plaintext());
        QTest::newRow("SASL_SSL SCRAM-SHA-512") << at(
            withTls(saslCluster(Config::SaslMechanism::ScramSha512, m_env.scram512()), m_env.caFile()), m_env.saslSsl());
        if (m_env.available(KafkaTestEnvironment::Feature::MutualTls))
            QTest::newRow("SSL client certificate RSA with passphrase")
                << at(withClientCertificate(withTls({}, m_env.caFile()), m_env.rsaClient()), m_env.mtls());
    }

    void bootstrapAndBrokerConnections()
    {
        QFETCH(Config::Cluster, cluster);
        auto client = bootstrapped(cluster);
        QVERIFY(client);
        QVERIFY(!client->brokers().isEmpty());

        const auto partition = client->findTopicPartition(m_topic, Partitions - 1);
        QVERIFY(partition.hasValue());
        const auto missing = client->findTopicPartition(m_topic, Partitions);
        QVERIFY(missing.isError());
        QCOMPARE(missing.error().code, KafkaErrorCode::UnknownTopicOrPartition);

        QueuedSignalSpy ready(client.get(), &KafkaClusterClient::connectionReady);
        const auto connection = client->brokerConnectionForId(partition.value().leaderId);
        QVERIFY(connection.hasValue());
        QCOMPARE(client->brokerConnectionForId(partition.value().leaderId).value(), connection.value());
        const auto offsets = listOffsetsOnceLed(connection.value(), m_topic, { 0, 1, 2 });
        QVERIFY2(offsets.hasValue(), qPrintable(errorText(offsets)));
        QCOMPARE(offsets.value().topics.size(), 1);
        for (const auto& answered : offsets.value().topics[0].partitions)
            QCOMPARE(answered.errorCode, KafkaProtocolError::None);
        QCOMPARE(ready.count(), 1);
        QCOMPARE(ready.at(0).at(0).toInt(), partition.value().leaderId);

        const auto absent = client->brokerConnectionForId(partition.value().leaderId + 1000);
        QVERIFY(absent.isError());
        QCOMPARE(absent.error().code, KafkaErrorCode::BrokerNotAvailable);
    }

    void bootstrapFailureIsReportedOnce_data()
    {
        QTest::addColumn<Config::Cluster>("cluster");
        QTest::addColumn<KafkaErrorCode>("code");
        KafkaTestEnvironment::Credentials wrong = m_env.plain();
        wrong.password += QStringLiteral("-wrong");
        QTest::newRow("PLAIN wrong password") << at(saslCluster(Config::SaslMechanism::Plain, wrong), m_env.saslPlaintext())
                                              << KafkaErrorCode::SaslAuthenticationFailed;
        QTest::newRow("unknown host") << at({}, QStringLiteral("no-such-host.invalid:9092"))
                                      << KafkaErrorCode::HostNotFoundError;
    }

    void bootstrapFailureIsReportedOnce()
    {
        QFETCH(Config::Cluster, cluster);
        QFETCH(KafkaErrorCode, code);
        KafkaClusterClient client(ClientId, cluster);
        QSignalSpy complete(&client, &KafkaClusterClient::bootstrapComplete);
        QSignalSpy failed(&client, &KafkaClusterClient::bootstrapError);
        client.bootstrap();
        QVERIFY(failed.wait(30000));
        // The broker closes the connection after a refused login; that is no second report.
        QTest::qWait(500);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(complete.count(), 0);
        QCOMPARE(failed.at(0).at(0).value<KafkaError>().code, code);
        QCOMPARE(client.bootstrapState(), KafkaClusterClient::BootstrapState::Connecting);
    }

    // A Fetch the broker holds for a long time does not hold up teardown.
    void destroyWithLongPollOutstanding()
    {
        auto client = bootstrapped(at(saslCluster(Config::SaslMechanism::ScramSha256, m_env.scram256()), m_env.saslPlaintext()));
        QVERIFY(client);
        const auto partition = client->findTopicPartition(m_topic, 0);
        QVERIFY(partition.hasValue());
        const auto connection = client->brokerConnectionForId(partition.value().leaderId);
        QVERIFY(connection.hasValue());
        QVERIFY(listOffsets(connection.value(), m_topic, { 0 }).hasValue());

        std::optional<KafkaResult<KafkaRawResponse>> answer;
        KafkaFetchRequest::Partition fetchPartition { 0, partition.value().leaderEpoch, 0, -1, 500000 };
        connection.value()->send(std::make_unique<KafkaFetchRequest>(connection.value()->nextCorrelationId(), ClientId,
                                     -1, 30000, 1, 500000, IsolationLevel::ReadCommitted, -1, -1,
                                     QList<KafkaFetchRequest::Topic> { { m_topic, { fetchPartition } } },
                                     QList<KafkaFetchRequest::ForgottenTopic> {}, QString()),
            this, [&answer](KafkaResult<KafkaRawResponse> result) { answer = std::move(result); });
        QTest::qWait(300);
        QVERIFY(!answer.has_value());

        QElapsedTimer timer;
        timer.start();
        client.reset();
        QVERIFY2(timer.elapsed() < PromptMs, qPrintable(QString::number(timer.elapsed())));
        // The request fails with the closed connection; no response comes.
        QTRY_VERIFY(answer.has_value());
        QVERIFY(answer->isError());
        QCOMPARE(answer->error().code, KafkaErrorCode::ConnectionClosed);
    }

    // Partitions led by different brokers are reached through their leaders'
    // connections; a broker that does not lead a partition refuses it.
    void perLeaderConnectionsOnThreeBrokers()
    {
        SKELVANE_REQUIRE_KAFKA(m_env, KafkaTestEnvironment::Feature::Cluster);
        const QString topic = KafkaTestEnvironment::uniqueTopicName(QStringLiteral("cluster-leaders"));
        constexpr int LeaderPartitions = 9;
        QCOMPARE(TestTopicAdmin(m_env.clusterBootstrap()).createTopic(topic, LeaderPartitions), QString());
        auto client = bootstrapped(at({}, m_env.clusterBootstrap()));
        QVERIFY(client);
        QCOMPARE(client->brokers().size(), 3);

        QHash<int, QList<int>> partitionsByLeader;
        for (int index = 0; index < LeaderPartitions; ++index) {
            const auto partition = client->findTopicPartition(topic, index);
            QVERIFY(partition.hasValue());
            partitionsByLeader[partition.value().leaderId].append(index);
        }
        QVERIFY2(partitionsByLeader.size() >= 2, "the partition leaders are not spread over the brokers");

        QSet<KafkaConnection*> connections;
        for (auto it = partitionsByLeader.cbegin(); it != partitionsByLeader.cend(); ++it) {
            const auto connection = client->brokerConnectionForId(it.key());
            QVERIFY(connection.hasValue());
            connections.insert(connection.value());
            const auto offsets = listOffsetsOnceLed(connection.value(), topic, it.value());
            QVERIFY2(offsets.hasValue(), qPrintable(errorText(offsets)));
            QCOMPARE(offsets.value().topics.size(), 1);
            QCOMPARE(offsets.value().topics[0].partitions.size(), it.value().size());
            for (const auto& answered : offsets.value().topics[0].partitions)
                QCOMPARE(answered.errorCode, KafkaProtocolError::None);
        }
        QCOMPARE(connections.size(), partitionsByLeader.size());

        // The first leader's partitions asked of another leader.
        const auto other = client->brokerConnectionForId(std::next(partitionsByLeader.cbegin()).key());
        const auto refused = listOffsets(other.value(), topic, partitionsByLeader.cbegin().value());
        QVERIFY(refused.hasValue());
        for (const auto& answered : refused.value().topics[0].partitions)
            QVERIFY(answered.errorCode != KafkaProtocolError::None);
    }
};

QTEST_GUILESS_MAIN(KafkaClusterClientBrokerTest)
#include "KafkaClusterClientBrokerTest.moc"
