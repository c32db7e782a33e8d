// The cluster client against the real broker: bootstrap and per-broker
// connections on every listener, bootstrap failures reported once, teardown
// while authenticating and with a long poll outstanding, and per-leader
// connections on the three-broker cluster.
#include "KafkaClusterClient.h"
#include "KafkaConnection.h"
#include "KafkaFetchRequest.h"
#include "KafkaListOffsetsRequest.h"
#include "KafkaListOffsetsResponse.h"
#include "KafkaTestEnvironment.h"
#include "TestClusterSettings.h"
#include "TestTopicAdmin.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <optional>

namespace {

constexpr auto ClientId = "skelvane-cluster-client-test";
constexpr int Partitions = 3;
// Teardown must not wait for the broker's answers.
constexpr qint64 PromptMs = 3000;

Config::Broker brokerAt(const QString& address)
{
    const auto broker = Config::Broker::fromString(address);
    return broker.hasValue() ? broker.value() : Config::Broker {};
}

struct Listener {
    QString address;
    Config::Protocol protocol = Config::Protocol::Plaintext;
    std::optional<Config::SaslAuthentication> sasl;
    KafkaTestEnvironment::ClientCertificate clientCertificate;
};

Listener makeListener(const QString& address, Config::Protocol protocol = Config::Protocol::Plaintext,
    std::optional<Config::SaslAuthentication> sasl = std::nullopt,
    KafkaTestEnvironment::ClientCertificate clientCertificate = {})
{
    Listener listener;
    listener.address = address;
    listener.protocol = protocol;
    listener.sasl = std::move(sasl);
    listener.clientCertificate = std::move(clientCertificate);
    return listener;
}

Config::Cluster clusterFor(const Listener& listener, const QString& caFile)
{
    Config::Cluster cluster;
    cluster.brokers = { brokerAt(listener.address) };
    cluster.protocol = listener.protocol;
    if (listener.protocol == Config::Protocol::Ssl) {
        cluster.ssl.serverCaCertificatePaths = { caFile };
        cluster = withClientCertificate(std::move(cluster), listener.clientCertificate);
    }
    if (listener.sasl) {
        cluster.authentication = Config::Authentication::Sasl;
        cluster.authenticationSasl = listener.sasl;
    }
    return cluster;
}

template <typename T>
QString errorText(const KafkaResult<T>& result)
{
    if (!result.isError())
        return QString();
    const KafkaError& error = result.error();
    return error.causes.isEmpty() ? error.message : QStringLiteral("%1 (%2)").arg(error.message, error.causes.last().message);
}

} // namespace

Q_DECLARE_METATYPE(Listener)

class KafkaClusterClientBrokerTest : public QObject {
    Q_OBJECT

private:
    KafkaTestEnvironment m_environment = KafkaTestEnvironment::fromProcessEnvironment();
    QString m_topic;

    std::unique_ptr<KafkaClusterClient> bootstrapped(const Config::Cluster& cluster, QString& failure)
    {
        auto client = std::make_unique<KafkaClusterClient>(ClientId, cluster);
        QSignalSpy complete(client.get(), &KafkaClusterClient::bootstrapComplete);
        QSignalSpy failed(client.get(), &KafkaClusterClient::bootstrapError);
        client->bootstrap();
        if (!QTest::qWaitFor([&] { return complete.count() + failed.count() > 0; }, 30000)) {
            failure = QStringLiteral("the bootstrap did not finish");
            return nullptr;
        }
        if (!failed.isEmpty()) {
            const auto error = failed.at(0).at(0).value<KafkaError>();
            failure = QStringLiteral("bootstrap failed: %1 (%2)")
                          .arg(error.message, error.causes.isEmpty() ? QString() : error.causes.last().message);
            return nullptr;
        }
        return client;
    }

    // The latest offsets of the partitions asked through the connection.
    KafkaResult<KafkaListOffsetsResponse> listOffsets(
        KafkaConnection* connection, const QString& topic, const QList<int>& partitions)
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
    KafkaResult<KafkaListOffsetsResponse> listOffsetsOnceLed(
        KafkaConnection* connection, const QString& topic, const QList<int>& partitions)
    {
        for (int attempt = 0;; ++attempt) {
            auto offsets = listOffsets(connection, topic, partitions);
            bool settling = false;
            if (offsets.hasValue()) {
                for (const auto& answeredTopic : offsets.value().topics) {
                    for (const auto& answered : answeredTopic.partitions) {
                        settling = settling || answered.errorCode == KafkaProtocolError::NotLeaderOrFollower
                            || answered.errorCode == KafkaProtocolError::LeaderNotAvailable;
                    }
                }
            }
            if (!settling || attempt == 100)
                return offsets;
            QTest::qWait(100);
        }
    }

    void addListenerRows()
    {
        QTest::addColumn<Listener>("listener");
        const auto& e = m_environment;
        QTest::newRow("PLAINTEXT") << makeListener(e.plaintext());
        QTest::newRow("SASL_PLAINTEXT PLAIN")
            << makeListener(e.saslPlaintext(), Config::Protocol::Plaintext, saslAuthentication(Config::SaslMechanism::Plain, e.plain()));
        QTest::newRow("SASL_PLAINTEXT SCRAM-SHA-256") << makeListener(e.saslPlaintext(), Config::Protocol::Plaintext,
            saslAuthentication(Config::SaslMechanism::ScramSha256, e.scram256()));
        QTest::newRow("SASL_PLAINTEXT SCRAM-SHA-512") << makeListener(e.saslPlaintext(), Config::Protocol::Plaintext,
            saslAuthentication(Config::SaslMechanism::ScramSha512, e.scram512()));
        QTest::newRow("SASL_PLAINTEXT SCRAM escaped user") << makeListener(e.saslPlaintext(), Config::Protocol::Plaintext,
            saslAuthentication(Config::SaslMechanism::ScramSha256, e.scramOdd()));
        QTest::newRow("SSL") << makeListener(e.ssl(), Config::Protocol::Ssl);
        QTest::newRow("SASL_SSL PLAIN")
            << makeListener(e.saslSsl(), Config::Protocol::Ssl, saslAuthentication(Config::SaslMechanism::Plain, e.plain()));
        QTest::newRow("SASL_SSL SCRAM-SHA-512")
            << makeListener(e.saslSsl(), Config::Protocol::Ssl, saslAuthentication(Config::SaslMechanism::ScramSha512, e.scram512()));
        if (e.available(KafkaTestEnvironment::Feature::MutualTls)) {
            QTest::newRow("SSL client certificate EC")
                << makeListener(e.mtls(), Config::Protocol::Ssl, std::nullopt, e.ecClient());
            QTest::newRow("SSL client certificate RSA with passphrase")
                << makeListener(e.mtls(), Config::Protocol::Ssl, std::nullopt, e.rsaClient());
        }
    }

private slots:
    void initTestCase()
    {
        SKELVANE_REQUIRE_KAFKA_BROKER(m_environment);
        m_topic = KafkaTestEnvironment::uniqueTopicName(QStringLiteral("cluster-client"));
        TestTopicAdmin admin(m_environment.plaintext());
        const QString error = admin.createTopic(m_topic, Partitions);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void cleanupTestCase()
    {
        if (!m_topic.isEmpty())
            TestTopicAdmin(m_environment.plaintext()).deleteTopic(m_topic);
    }

    void bootstrapAndBrokerConnections_data() { addListenerRows(); }

    void bootstrapAndBrokerConnections()
    {
        QFETCH(Listener, listener);
        QString failure;
        auto client = bootstrapped(clusterFor(listener, m_environment.caFile()), failure);
        QVERIFY2(client, qPrintable(failure));
        QCOMPARE(client->bootstrapState(), KafkaClusterClient::BootstrapState::Complete);
        QVERIFY(!client->brokers().isEmpty());

        const auto partition = client->findTopicPartition(m_topic, Partitions - 1);
        QVERIFY(partition.hasValue());
        const auto missing = client->findTopicPartition(m_topic, Partitions);
        QVERIFY(missing.isError());
        QCOMPARE(missing.error().code, KafkaErrorCode::UnknownTopicOrPartition);

        QSignalSpy ready(client.get(), &KafkaClusterClient::connectionReady);
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
        QTest::addColumn<Listener>("listener");
        QTest::addColumn<bool>("withoutCa");
        QTest::addColumn<int>("code");
        const auto& e = m_environment;
        auto wrongPassword = [](KafkaTestEnvironment::Credentials credentials) {
            credentials.password += QStringLiteral("-wrong");
            return credentials;
        };
        QTest::newRow("PLAIN wrong password")
            << makeListener(e.saslPlaintext(), Config::Protocol::Plaintext, saslAuthentication(Config::SaslMechanism::Plain, wrongPassword(e.plain())))
            << false << int(KafkaErrorCode::SaslAuthenticationFailed);
        QTest::newRow("SCRAM-SHA-512 wrong password")
            << makeListener(e.saslPlaintext(), Config::Protocol::Plaintext, saslAuthentication(Config::SaslMechanism::ScramSha512, wrongPassword(e.scram512())))
            << false << -1;
        QTest::newRow("SASL_SSL SCRAM-SHA-256 wrong password")
            << makeListener(e.saslSsl(), Config::Protocol::Ssl, saslAuthentication(Config::SaslMechanism::ScramSha256, wrongPassword(e.scram256())))
            << false << -1;
        QTest::newRow("SSL without the CA") << makeListener(e.ssl(), Config::Protocol::Ssl) << true
                                            << int(KafkaErrorCode::SslHandshakeFailedError);
        QTest::newRow("unknown host") << makeListener(QStringLiteral("no-such-host.invalid:9092")) << false
                                      << int(KafkaErrorCode::HostNotFoundError);
    }

    void bootstrapFailureIsReportedOnce()
    {
        QFETCH(Listener, listener);
        QFETCH(bool, withoutCa);
        QFETCH(int, code);
        Config::Cluster cluster = clusterFor(listener, m_environment.caFile());
        if (withoutCa)
            cluster.ssl.serverCaCertificatePaths.clear();
        KafkaClusterClient client(ClientId, cluster);
        QSignalSpy complete(&client, &KafkaClusterClient::bootstrapComplete);
        QSignalSpy failed(&client, &KafkaClusterClient::bootstrapError);
        client.bootstrap();
        QVERIFY(failed.wait(30000));
        // The broker closes the connection after a refused login; that is no
        // second report.
        QTest::qWait(500);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(complete.count(), 0);
        const auto error = failed.at(0).at(0).value<KafkaError>();
        if (code >= 0)
            QCOMPARE(int(error.code), code);
        QVERIFY(!error.message.isEmpty());
        QCOMPARE(client.bootstrapState(), KafkaClusterClient::BootstrapState::Connecting);
    }

    void destroyWhileAuthenticating_data()
    {
        QTest::addColumn<int>("delayMs");
        for (int delay : { 0, 2, 5, 10, 20, 40 })
            QTest::addRow("%d ms", delay) << delay;
    }

    // Teardown wherever the SCRAM exchange over TLS has got to.
    void destroyWhileAuthenticating()
    {
        QFETCH(int, delayMs);
        const Listener listener = makeListener(m_environment.saslSsl(), Config::Protocol::Ssl,
            saslAuthentication(Config::SaslMechanism::ScramSha512, m_environment.scram512()));
        auto client = std::make_unique<KafkaClusterClient>(ClientId, clusterFor(listener, m_environment.caFile()));
        client->bootstrap();
        QTest::qWait(delayMs);
        QElapsedTimer timer;
        timer.start();
        client.reset();
        QVERIFY2(timer.elapsed() < PromptMs, qPrintable(QString::number(timer.elapsed())));
    }

    // A Fetch the broker holds for a long time does not hold up teardown.
    void destroyWithLongPollOutstanding()
    {
        const Listener listener = makeListener(m_environment.saslPlaintext(), Config::Protocol::Plaintext,
            saslAuthentication(Config::SaslMechanism::ScramSha256, m_environment.scram256()));
        QString failure;
        auto client = bootstrapped(clusterFor(listener, m_environment.caFile()), failure);
        QVERIFY2(client, qPrintable(failure));
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
        SKELVANE_REQUIRE_KAFKA(m_environment, KafkaTestEnvironment::Feature::Cluster);
        const QString topic = KafkaTestEnvironment::uniqueTopicName(QStringLiteral("cluster-leaders"));
        constexpr int LeaderPartitions = 9;
        TestTopicAdmin admin(m_environment.clusterBootstrap());
        const QString created = admin.createTopic(topic, LeaderPartitions);
        QVERIFY2(created.isEmpty(), qPrintable(created));

        Config::Cluster cluster;
        cluster.brokers = { brokerAt(m_environment.clusterBootstrap()) };
        QString failure;
        auto client = bootstrapped(cluster, failure);
        QVERIFY2(client, qPrintable(failure));
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
        const int leader = partitionsByLeader.cbegin().key();
        const int other = std::next(partitionsByLeader.cbegin()).key();
        const auto refused = listOffsets(client->brokerConnectionForId(other).value(), topic, partitionsByLeader.value(leader));
        QVERIFY(refused.hasValue());
        for (const auto& answered : refused.value().topics[0].partitions)
            QVERIFY(answered.errorCode != KafkaProtocolError::None);

        client.reset();
        admin.deleteTopic(topic);
    }
};

QTEST_GUILESS_MAIN(KafkaClusterClientBrokerTest)
#include "KafkaClusterClientBrokerTest.moc"
