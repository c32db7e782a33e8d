// The cluster client against a stand-in broker: bootstrap and its failures,
// one connection per broker id (also under concurrent callers), reopening of
// failed and closed connections, and teardown while connecting, while
// authenticating and with open connections.
#include "FakeBroker.h"
#include "KafkaClusterClient.h"
#include "KafkaConnection.h"
#include "KafkaMetadataRequest.h"
#include "KafkaMetadataResponse.h"
#include "KafkaSaslHandshakeRequest.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace {

// Destruction must not wait for anything the network does not deliver.
constexpr qint64 PromptMs = 3000;

Config::Cluster clusterAt(std::int32_t port)
{
    Config::Cluster cluster;
    cluster.brokers = { Config::Broker { QStringLiteral("127.0.0.1"), port } };
    return cluster;
}

// A port on loopback where a connection attempt neither succeeds nor fails:
// the socket listens but never accepts, and its accept queue is filled first,
// so that further connection requests are dropped.
class BlackholeListener {
public:
    BlackholeListener()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0
            || ::listen(m_listener, 0) != 0 || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        for (int attempt = 0; attempt < 16 && !m_full; ++attempt) {
            const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            m_fillers.push_back(filler);
            ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof(address));
            pollfd waiting { filler, POLLOUT, 0 };
            m_full = ::poll(&waiting, 1, 300) == 0;
        }
    }
    ~BlackholeListener()
    {
        for (int filler : m_fillers)
            ::close(filler);
        if (m_listener >= 0)
            ::close(m_listener);
    }
    BlackholeListener(const BlackholeListener&) = delete;
    BlackholeListener& operator=(const BlackholeListener&) = delete;

    bool isFull() const { return m_full; }
    std::int32_t port() const { return m_port; }

private:
    int m_listener = -1;
    std::vector<int> m_fillers;
    std::int32_t m_port = 0;
    bool m_full = false;
};

// The answer to one request sent through a connection.
struct Answer {
    std::optional<KafkaResult<KafkaRawResponse>> result;
};

std::shared_ptr<Answer> sendMetadataRequest(KafkaConnection* connection, const QString& clientId, QObject* context)
{
    auto answer = std::make_shared<Answer>();
    connection->send(std::make_unique<KafkaMetadataRequest>(
                         connection->nextCorrelationId(), clientId, QStringList(), false, false, false),
        context, [answer](KafkaResult<KafkaRawResponse> result) { answer->result = std::move(result); });
    return answer;
}

} // namespace

class KafkaClusterClientTest : public QObject {
    Q_OBJECT

private:
    // A client bootstrapped against the fake; null after a failed check.
    std::unique_ptr<KafkaClusterClient> bootstrapped(const Config::Cluster& cluster)
    {
        auto client = std::make_unique<KafkaClusterClient>(QStringLiteral("skelvane-test"), cluster);
        QSignalSpy complete(client.get(), &KafkaClusterClient::bootstrapComplete);
        client->bootstrap();
        if (!complete.wait(5000))
            return nullptr;
        return client;
    }

    // Waits for the connection of brokerId to answer a request.
    bool answers(KafkaClusterClient& client, int brokerId)
    {
        auto connection = client.brokerConnectionForId(brokerId);
        if (!connection.hasValue())
            return false;
        auto answer = sendMetadataRequest(connection.value(), client.clientId(), this);
        if (!QTest::qWaitFor([&] { return answer->result.has_value(); }, 5000) || !answer->result->hasValue())
            return false;
        return KafkaMetadataResponse::parseFromRaw(answer->result->value()).hasValue();
    }

private slots:
    void bootstrapStoresMetadataAndClosesItsConnection()
    {
        FakeBroker broker(FakeBroker::Mode::Cluster);
        broker.brokers = { { 1, 0 }, { 2, 0 } };
        broker.topics = { { QStringLiteral("orders"), { 1, 2, 1 } }, { QStringLiteral("audit"), { 2 } } };
        KafkaClusterClient client(QStringLiteral("skelvane-test"), clusterAt(broker.port()));
        QCOMPARE(client.bootstrapState(), KafkaClusterClient::BootstrapState::NotStarted);

        QSignalSpy complete(&client, &KafkaClusterClient::bootstrapComplete);
        QSignalSpy failed(&client, &KafkaClusterClient::bootstrapError);
        client.bootstrap();
        QVERIFY(client.bootstrapState() >= KafkaClusterClient::BootstrapState::Connecting);
        QVERIFY(complete.wait(5000));

        QCOMPARE(client.bootstrapState(), KafkaClusterClient::BootstrapState::Complete);
        QCOMPARE(failed.count(), 0);
        QCOMPARE(client.brokers().size(), 2);
        QCOMPARE(client.brokers()[1].nodeId, 2);
        QCOMPARE(client.brokers()[1].port, broker.port());
        QCOMPARE(client.topics().size(), 2);
        QCOMPARE(client.topics()[0].name, QStringLiteral("orders"));
        QCOMPARE(client.topics()[0].partitions.size(), 3);
        QCOMPARE(broker.requestCount(KafkaApiKey::Metadata), 1);
        QTRY_COMPARE(broker.openConnections(), 0);

        // Later requests use a connection of their own, also to the same broker.
        QVERIFY(answers(client, 1));
        QCOMPARE(broker.acceptedConnections(), 2);
    }

    void bootstrapFailsOnce_data()
    {
        QTest::addColumn<int>("hangUpOnApiVersions");
        QTest::addColumn<int>("hangUpOnMetadata");
        QTest::addColumn<bool>("noBrokers");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("state");

        const int connecting = static_cast<int>(KafkaClusterClient::BootstrapState::Connecting);
        QTest::newRow("no broker configured") << 0 << 0 << true << int(KafkaErrorCode::MissingRequiredValue)
                                              << QStringLiteral("The cluster configuration lists no broker to connect to")
                                              << connecting;
        QTest::newRow("hang-up during ApiVersions") << 1 << 0 << false << -1 << QString() << connecting;
        QTest::newRow("hang-up during Metadata")
            << 0 << 1 << false << int(KafkaErrorCode::MetadataError)
            << QStringLiteral("An error occurred while sending the cluster metadata fetch request")
            << static_cast<int>(KafkaClusterClient::BootstrapState::FetchingMetadata);
    }

    void bootstrapFailsOnce()
    {
        QFETCH(int, hangUpOnApiVersions);
        QFETCH(int, hangUpOnMetadata);
        QFETCH(bool, noBrokers);
        QFETCH(int, code);
        QFETCH(QString, message);
        QFETCH(int, state);

        FakeBroker broker(FakeBroker::Mode::Cluster);
        broker.hangUpOnApiVersions = hangUpOnApiVersions;
        broker.hangUpOnMetadata = hangUpOnMetadata;
        Config::Cluster cluster = clusterAt(broker.port());
        if (noBrokers)
            cluster.brokers.clear();
        KafkaClusterClient client(QStringLiteral("skelvane-test"), cluster);
        QSignalSpy complete(&client, &KafkaClusterClient::bootstrapComplete);
        QSignalSpy failed(&client, &KafkaClusterClient::bootstrapError);
        client.bootstrap();
        QVERIFY(failed.wait(5000));
        QTest::qWait(300);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(complete.count(), 0);
        const auto error = failed.at(0).at(0).value<KafkaError>();
        if (code >= 0) {
            QCOMPARE(int(error.code), code);
            QCOMPARE(error.message, message);
        }
        QCOMPARE(static_cast<int>(client.bootstrapState()), state);
        // Nothing is retried.
        QCOMPARE(broker.acceptedConnections(), noBrokers ? 0 : 1);
    }

    void bootstrapAgainstClosedPortFailsOnce()
    {
        std::int32_t port = 0;
        {
            QTcpServer server;
            QVERIFY(server.listen(QHostAddress::LocalHost, 0));
            port = server.serverPort();
        }
        Config::Cluster cluster = clusterAt(port);
        cluster.brokers.append(Config::Broker { QStringLiteral("127.0.0.1"), port + 1 });
        KafkaClusterClient client(QStringLiteral("skelvane-test"), cluster);
        QSignalSpy failed(&client, &KafkaClusterClient::bootstrapError);
        client.bootstrap();
        QVERIFY(failed.wait(5000));
        QTest::qWait(300);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).value<KafkaError>().code, KafkaErrorCode::ConnectionRefusedError);
    }

    void connectionsPerBroker()
    {
        FakeBroker broker(FakeBroker::Mode::Cluster);
        broker.brokers = { { 1, 0 }, { 2, 0 }, { 3, 0 } };
        broker.topics = { { QStringLiteral("orders"), { 1, 2, 3, 2 } } };
        auto client = bootstrapped(clusterAt(broker.port()));
        QVERIFY(client);
        QSignalSpy ready(client.get(), &KafkaClusterClient::connectionReady);

        // Missing topic or partition, and a broker absent from the metadata.
        for (const auto& [topic, partition] : { std::pair { QStringLiteral("orders"), 4 }, std::pair { QStringLiteral("Orders"), 0 } }) {
            const auto missing = client->findTopicPartition(topic, partition);
            QVERIFY(missing.isError());
            QCOMPARE(missing.error().code, KafkaErrorCode::UnknownTopicOrPartition);
            QCOMPARE(missing.error().message,
                QStringLiteral("Topic %1 with partition index %2 not found in cluster metadata").arg(topic, QString::number(partition)));
        }
        const auto absent = client->brokerConnectionForId(7);
        QVERIFY(absent.isError());
        QCOMPARE(absent.error().code, KafkaErrorCode::BrokerNotAvailable);
        QCOMPARE(absent.error().message, QStringLiteral("Broker 7 not found in cluster metadata"));

        // One connection per partition leader, each answering.
        QHash<int, KafkaConnection*> byLeader;
        for (int partition = 0; partition < 4; ++partition) {
            const auto metadata = client->findTopicPartition(QStringLiteral("orders"), partition);
            QVERIFY(metadata.hasValue());
            const auto connection = client->brokerConnectionForId(metadata.value().leaderId);
            QVERIFY(connection.hasValue());
            if (byLeader.contains(metadata.value().leaderId))
                QCOMPARE(connection.value(), byLeader.value(metadata.value().leaderId));
            byLeader.insert(metadata.value().leaderId, connection.value());
        }
        QCOMPARE(byLeader.size(), 3);
        QCOMPARE(QSet<KafkaConnection*>(byLeader.cbegin(), byLeader.cend()).size(), 3);
        for (int leader : byLeader.keys())
            QVERIFY(answers(*client, leader));
        QTRY_COMPARE(ready.count(), 3);
        QList<int> readyIds;
        for (const auto& arguments : ready)
            readyIds.append(arguments.at(0).toInt());
        std::sort(readyIds.begin(), readyIds.end());
        QCOMPARE(readyIds, (QList<int> { 1, 2, 3 }));
        QCOMPARE(broker.acceptedConnections(), 1 + 3);

        // The absent broker id created nothing.
        const auto available = client->findAvailableBrokerConnection();
        QVERIFY(available.hasValue());
        QVERIFY(QSet<KafkaConnection*>(byLeader.cbegin(), byLeader.cend()).contains(available.value()));
    }

    void concurrentCallersShareOneConnection()
    {
        FakeBroker broker(FakeBroker::Mode::Cluster);
        broker.brokers.clear();
        for (int id = 1; id <= 40; ++id)
            broker.brokers.append({ id, 0 });
        auto client = bootstrapped(clusterAt(broker.port()));
        QVERIFY(client);

        constexpr int Callers = 4;
        std::vector<std::vector<KafkaConnection*>> seen(Callers);
        std::atomic<int> waiting { Callers };
        std::vector<std::thread> callers;
        for (int caller = 0; caller < Callers; ++caller) {
            callers.emplace_back([&, caller] {
                --waiting;
                while (waiting.load() > 0) { }
                for (int id = 1; id <= 40; ++id) {
                    auto connection = client->brokerConnectionForId(id);
                    seen[caller].push_back(connection.hasValue() ? connection.value() : nullptr);
                }
            });
        }
        for (auto& caller : callers)
            caller.join();
        for (int index = 0; index < 40; ++index) {
            QVERIFY(seen[0][index] != nullptr);
            for (int caller = 1; caller < Callers; ++caller)
                QCOMPARE(seen[caller][index], seen[0][index]);
        }
        QTRY_COMPARE(broker.acceptedConnections(), 1 + 40);
    }

    void connectionFailedBeforeReadyIsReopened()
    {
        FakeBroker broker(FakeBroker::Mode::Cluster);
        auto client = bootstrapped(clusterAt(broker.port()));
        QVERIFY(client);
        QSignalSpy ready(client.get(), &KafkaClusterClient::connectionReady);
        QSignalSpy failed(client.get(), &KafkaClusterClient::connectionError);

        broker.hangUpOnApiVersions = 1;
        const auto first = client->brokerConnectionForId(1);
        QVERIFY(first.hasValue());
        QVERIFY(failed.wait(5000));
        QCOMPARE(failed.at(0).at(0).toInt(), 1);
        QCOMPARE(ready.count(), 0);
        QTRY_COMPARE(first.value()->state(), KafkaConnection::State::Disconnected);
        const int acceptedBefore = broker.acceptedConnections();

        // Several threads ask at once: one reopening, one new socket.
        std::vector<std::thread> callers;
        std::atomic<int> waiting { 4 };
        std::vector<KafkaConnection*> seen(4, nullptr);
        for (int caller = 0; caller < 4; ++caller) {
            callers.emplace_back([&, caller] {
                --waiting;
                while (waiting.load() > 0) { }
                for (int round = 0; round < 50; ++round) {
                    const auto again = client->brokerConnectionForId(1);
                    seen[caller] = again.hasValue() ? again.value() : nullptr;
                }
            });
        }
        for (auto& caller : callers)
            caller.join();
        for (KafkaConnection* connection : seen)
            QCOMPARE(connection, first.value());
        QVERIFY(ready.wait(5000));
        QCOMPARE(ready.at(0).at(0).toInt(), 1);
        QVERIFY(answers(*client, 1));
        QCOMPARE(broker.acceptedConnections(), acceptedBefore + 1);
        QCOMPARE(failed.count(), 1);
    }

    void closedConnectionIsReopened()
    {
        FakeBroker broker(FakeBroker::Mode::Cluster);
        auto client = bootstrapped(clusterAt(broker.port()));
        QVERIFY(client);
        QVERIFY(answers(*client, 1));
        const auto connection = client->brokerConnectionForId(1);
        QCOMPARE(connection.value()->state(), KafkaConnection::State::Ready);

        broker.closeAll();
        QTRY_COMPARE(connection.value()->state(), KafkaConnection::State::Disconnected);
        const int acceptedBefore = broker.acceptedConnections();
        QVERIFY(answers(*client, 1));
        QCOMPARE(client->brokerConnectionForId(1).value(), connection.value());
        QCOMPARE(broker.acceptedConnections(), acceptedBefore + 1);
    }

    void destroyWhileConnecting()
    {
        BlackholeListener blackhole;
        if (!blackhole.isFull())
            QSKIP("The accept queue of the listening socket could not be filled");

        // The bootstrap connection still connecting.
        {
            auto client = std::make_unique<KafkaClusterClient>(QStringLiteral("skelvane-test"), clusterAt(blackhole.port()));
            client->bootstrap();
            QTest::qWait(200);
            QCOMPARE(client->bootstrapState(), KafkaClusterClient::BootstrapState::Connecting);
            QElapsedTimer timer;
            timer.start();
            client.reset();
            QVERIFY2(timer.elapsed() < PromptMs, qPrintable(QString::number(timer.elapsed())));
        }

        // A broker connection still connecting.
        FakeBroker broker(FakeBroker::Mode::Cluster);
        broker.brokers = { { 1, 0 }, { 2, blackhole.port() } };
        auto client = bootstrapped(clusterAt(broker.port()));
        QVERIFY(client);
        QVERIFY(answers(*client, 1));
        const auto stuck = client->brokerConnectionForId(2);
        QVERIFY(stuck.hasValue());
        auto pending = sendMetadataRequest(stuck.value(), client->clientId(), this);
        QTest::qWait(200);
        QCOMPARE(stuck.value()->state(), KafkaConnection::State::Connecting);
        QElapsedTimer timer;
        timer.start();
        client.reset();
        QVERIFY2(timer.elapsed() < PromptMs, qPrintable(QString::number(timer.elapsed())));
        QTRY_COMPARE(broker.openConnections(), 0);
        QTest::qWait(100);
        QVERIFY(!pending->result.has_value() || pending->result->isError());
    }

    void destroyWhileAuthenticating()
    {
        FakeBroker broker(FakeBroker::Mode::Cluster);
        Config::Cluster cluster = clusterAt(broker.port());
        cluster.authentication = Config::Authentication::Sasl;
        cluster.authenticationSasl = Config::SaslAuthentication { Config::SaslMechanism::ScramSha512, {}, {},
            QStringLiteral("user"), QStringLiteral("secret") };
        auto client = std::make_unique<KafkaClusterClient>(QStringLiteral("skelvane-test"), cluster);
        client->bootstrap();
        QTRY_COMPARE(broker.requestCount(KafkaApiKey::SaslHandshake), 1);
        QCOMPARE(client->bootstrapState(), KafkaClusterClient::BootstrapState::Connecting);
        QElapsedTimer timer;
        timer.start();
        client.reset();
        QVERIFY2(timer.elapsed() < PromptMs, qPrintable(QString::number(timer.elapsed())));
        QTRY_COMPARE(broker.openConnections(), 0);
    }

    void destroyWithOpenConnectionsClosesThem()
    {
        FakeBroker broker(FakeBroker::Mode::Cluster);
        broker.brokers = { { 1, 0 }, { 2, 0 } };
        auto client = bootstrapped(clusterAt(broker.port()));
        QVERIFY(client);
        QVERIFY(answers(*client, 1));
        QVERIFY(answers(*client, 2));
        // A request the broker never answers stays outstanding.
        const auto connection = client->brokerConnectionForId(2);
        auto unanswered = std::make_shared<Answer>();
        connection.value()->send(std::make_unique<KafkaSaslHandshakeRequest>(
                                           connection.value()->nextCorrelationId(), client->clientId(), QStringLiteral("PLAIN")),
            this, [unanswered](KafkaResult<KafkaRawResponse> result) { unanswered->result = std::move(result); });
        QTRY_COMPARE(broker.requestCount(KafkaApiKey::SaslHandshake), 1);
        QCOMPARE(broker.openConnections(), 2);

        QElapsedTimer timer;
        timer.start();
        client.reset();
        QVERIFY2(timer.elapsed() < PromptMs, qPrintable(QString::number(timer.elapsed())));
        QTRY_COMPARE(broker.openConnections(), 0);
    }
};

QTEST_GUILESS_MAIN(KafkaClusterClientTest)
#include "KafkaClusterClientTest.moc"
