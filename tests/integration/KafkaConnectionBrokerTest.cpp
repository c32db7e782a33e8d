// Broker connections against the real broker: every listener and
// authentication, refused credentials, certificates and protocols, and a
// broker that goes away. Each connection lives on a network thread of its own.
#include "KafkaConnection.h"
#include "KafkaFetchRequest.h"
#include "KafkaMetadataRequest.h"
#include "KafkaMetadataResponse.h"
#include "QueuedSignalSpy.h"
#include "TestClusterSettings.h"
#include "TestTopicAdmin.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QTest>
#include <QThread>

#include <future>
#include <memory>

namespace {

constexpr auto ClientId = "skelvane-connection-test";

// A connection on its own thread, destroyed on that thread.
class ThreadedConnection {
public:
    ThreadedConnection(const QString& address, Config::Cluster cluster) : m_cluster(std::move(cluster))
    {
        const qsizetype colon = address.lastIndexOf(':');
        m_thread.start();
        m_connection = new KafkaConnection(address.left(colon), address.mid(colon + 1).toInt(), ClientId, m_cluster);
        m_connection->moveToThread(&m_thread);
    }

    ~ThreadedConnection()
    {
        QMetaObject::invokeMethod(m_connection, [c = m_connection]() { delete c; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    KafkaConnection* operator->() const { return m_connection; }
    KafkaConnection* get() const { return m_connection; }
    void connectToHost() { QMetaObject::invokeMethod(m_connection, &KafkaConnection::connectToHost, Qt::QueuedConnection); }

private:
    Config::Cluster m_cluster;
    QThread m_thread;
    KafkaConnection* m_connection = nullptr;
};

} // namespace

Q_DECLARE_METATYPE(Config::Cluster)

class KafkaConnectionBrokerTest : public QObject {
    Q_OBJECT

    KafkaTestEnvironment m_env = KafkaTestEnvironment::fromProcessEnvironment();

    using Answer = std::shared_ptr<std::optional<KafkaResult<KafkaRawResponse>>>;

    Answer post(KafkaConnection& connection, std::unique_ptr<KafkaRequest> request)
    {
        auto answer = std::make_shared<std::optional<KafkaResult<KafkaRawResponse>>>();
        connection.send(std::move(request), this, [answer](KafkaResult<KafkaRawResponse> result) { *answer = std::move(result); });
        return answer;
    }

    static KafkaResult<KafkaRawResponse> wait(const Answer& answer, int waitMs = 30000)
    {
        if (!QTest::qWaitFor([&]() { return answer->has_value(); }, waitMs))
            return KafkaError(KafkaErrorCode::RequestTimedOut, "no answer");
        return **answer;
    }

    KafkaResult<KafkaMetadataResponse> metadata(KafkaConnection& connection)
    {
        auto raw = wait(post(connection,
            std::make_unique<KafkaMetadataRequest>(connection.nextCorrelationId(), ClientId, std::nullopt, false, true, true)));
        return raw.isError() ? KafkaResult<KafkaMetadataResponse>(raw.error()) : KafkaMetadataResponse::parseFromRaw(raw.value());
    }

private slots:
    void initTestCase() { SKELVANE_REQUIRE_KAFKA_BROKER(m_env); }

    void everyListenerAnswers_data()
    {
        using enum Config::SaslMechanism;
        QTest::addColumn<QString>("address");
        QTest::addColumn<Config::Cluster>("cluster");
        QTest::addColumn<bool>("mutualTls");
        const QString ca = m_env.caFile();
        QTest::newRow("PLAINTEXT") << m_env.plaintext() << Config::Cluster() << false;
        QTest::newRow("SASL PLAIN") << m_env.saslPlaintext() << saslCluster(Plain, m_env.plain()) << false;
        QTest::newRow("SCRAM-SHA-256") << m_env.saslPlaintext() << saslCluster(ScramSha256, m_env.scram256()) << false;
        QTest::newRow("SCRAM-SHA-512") << m_env.saslPlaintext() << saslCluster(ScramSha512, m_env.scram512()) << false;
        QTest::newRow("SCRAM-SHA-256, user with , and =")
            << m_env.saslPlaintext() << saslCluster(ScramSha256, m_env.scramOdd()) << false;
        QTest::newRow("TLS, CA file, full verification") << m_env.ssl() << withTls({}, ca) << false;
        QTest::newRow("SASL PLAIN over TLS") << m_env.saslSsl() << withTls(saslCluster(Plain, m_env.plain()), ca) << false;
        QTest::newRow("SCRAM-SHA-512 over TLS")
            << m_env.saslSsl() << withTls(saslCluster(ScramSha512, m_env.scram512()), ca) << false;
        QTest::newRow("mutual TLS, EC key")
            << m_env.mtls() << withClientCertificate(withTls({}, ca), m_env.ecClient()) << true;
        QTest::newRow("mutual TLS, RSA key with passphrase")
            << m_env.mtls() << withClientCertificate(withTls({}, ca), m_env.rsaClient()) << true;
    }

    void everyListenerAnswers()
    {
        QFETCH(QString, address);
        QFETCH(Config::Cluster, cluster);
        QFETCH(bool, mutualTls);
        if (mutualTls)
            SKELVANE_REQUIRE_KAFKA(m_env, KafkaTestEnvironment::Feature::MutualTls);
        ThreadedConnection connection(address, cluster);
        QueuedSignalSpy ready(connection.get(), &KafkaConnection::connectionReady);
        QueuedSignalSpy errors(connection.get(), &KafkaConnection::connectionError);
        connection.connectToHost();
        QVERIFY2(ready.wait(30000), errors.isEmpty() ? "no signal" : qPrintable(errors[0][0].value<KafkaError>().message));
        QCOMPARE(connection->state(), KafkaConnection::State::Ready);
        KafkaResult<KafkaMetadataResponse> response = metadata(*connection.get());
        QVERIFY2(response.hasValue(), qPrintable(errorText(response)));
        QVERIFY(!response.value().brokers.isEmpty());
        QFuture<void> closed = connection->disconnectFromHost();
        QVERIFY(QTest::qWaitFor([&]() { return closed.isFinished(); }, 10000));
        QCOMPARE(connection->state(), KafkaConnection::State::Disconnected);
        QVERIFY(errors.isEmpty());
    }

    // A connection refused before it is ready reports one error and is left Disconnected.
    void refusedConnectionIsReportedOnce_data()
    {
        using enum Config::SaslMechanism;
        QTest::addColumn<QString>("address");
        QTest::addColumn<Config::Cluster>("cluster");
        QTest::addColumn<KafkaErrorCode>("code"); // Unknown: any socket error
        QTest::addColumn<QString>("message"); // exact, or the start with "*" at its end
        KafkaTestEnvironment::Credentials plain = m_env.plain(), scram512 = m_env.scram512();
        plain.password += "-wrong";
        scram512.password += "-wrong";
        const QString ca = m_env.caFile();
        const QString tls = QStringLiteral("A network error occurred with host '%1': *");
        QTest::newRow("PLAIN wrong password") << m_env.saslPlaintext() << saslCluster(Plain, plain)
            << KafkaErrorCode::SaslAuthenticationFailed << "Authentication failed: Invalid username or password";
        QTest::newRow("SCRAM-SHA-512 wrong password over TLS") << m_env.saslSsl() << withTls(saslCluster(ScramSha512, scram512), ca)
            << KafkaErrorCode::SaslAuthenticationFailed
            << "Authentication failed during authentication due to invalid credentials with SASL mechanism SCRAM-SHA-512";
        QTest::newRow("TLS without the CA file") << m_env.ssl() << withTls({}, QString())
                                                 << KafkaErrorCode::SslHandshakeFailedError << tls.arg(m_env.ssl());
        // A name of this machine that leads to the broker but is not in its certificate.
        const QString name = QHostInfo::localHostName();
        const QString other = name + m_env.ssl().mid(m_env.ssl().lastIndexOf(':'));
        if (name != "localhost" && QHostInfo::fromName(name).addresses().contains(QHostAddress(QHostAddress::LocalHost)))
            QTest::newRow("host name not in the certificate") << other << withTls({}, ca)
                                                              << KafkaErrorCode::SslHandshakeFailedError << tls.arg(other);
        QTest::newRow("plaintext client on the TLS port") << m_env.ssl() << Config::Cluster() << KafkaErrorCode::Unknown << "*";
        QTest::newRow("TLS client on the plaintext port") << m_env.plaintext() << withTls({}, ca) << KafkaErrorCode::Unknown << "*";
        if (m_env.available(KafkaTestEnvironment::Feature::MutualTls))
            QTest::newRow("no client certificate on the mutual TLS port") << m_env.mtls() << withTls({}, ca)
                                                                         << KafkaErrorCode::Unknown << "*";
        if (!m_env.saslPlainOnly().isEmpty())
            QTest::newRow("mechanism not enabled") << m_env.saslPlainOnly() << saslCluster(ScramSha256, m_env.scram256())
                << KafkaErrorCode::UnsupportedSaslMechanism
                << "The broker does not support the selected SASL authentication mechanism. The supported mechanisms are: PLAIN";
    }

    void refusedConnectionIsReportedOnce()
    {
        QFETCH(QString, address);
        QFETCH(Config::Cluster, cluster);
        QFETCH(KafkaErrorCode, code);
        QFETCH(QString, message);
        ThreadedConnection connection(address, cluster);
        QueuedSignalSpy errors(connection.get(), &KafkaConnection::connectionError);
        QueuedSignalSpy ready(connection.get(), &KafkaConnection::connectionReady);
        connection.connectToHost();
        QVERIFY(errors.wait(30000));
        QTest::qWait(500); // whatever the broker does after refusing us is not reported again
        QCOMPARE(errors.size(), 1);
        QCOMPARE(ready.size(), 0);
        QCOMPARE(connection->state(), KafkaConnection::State::Disconnected);
        const KafkaError error = errors[0][0].value<KafkaError>();
        if (code != KafkaErrorCode::Unknown)
            QCOMPARE(error.code, code);
        else
            QVERIFY2(int(error.code) >= 1 && int(error.code) <= 27, qPrintable(error.message));
        if (message.endsWith('*'))
            QVERIFY2(error.message.startsWith(message.chopped(1)), qPrintable(error.message));
        else
            QCOMPARE(error.message, message);
    }

    // The broker goes away under a Ready connection with a long poll in
    // flight and under a connection that waits to connect with a queued
    // request: both requests fail; after the restart the first connection
    // opens again.
    void brokerRestartFailsWaitingRequests()
    {
        SKELVANE_REQUIRE_KAFKA_RESTART(m_env);
        const QString topic = KafkaTestEnvironment::uniqueTopicName("connection-restart");
        QCOMPARE(TestTopicAdmin(m_env.plaintext()).createTopic(topic, 1), QString());
        ThreadedConnection ready(m_env.plaintext(), Config::Cluster());
        QueuedSignalSpy readySignal(ready.get(), &KafkaConnection::connectionReady);
        QueuedSignalSpy readyErrors(ready.get(), &KafkaConnection::connectionError);
        ready.connectToHost();
        QVERIFY(readySignal.wait(30000));
        QVERIFY(metadata(*ready.get()).hasValue());

        // Waits up to a minute for a record that never comes. The new topic's
        // leader may answer the first fetches at once, before it is ready: ask
        // again until one stays waiting.
        Answer longPollAnswer;
        QVERIFY(QTest::qWaitFor([&] {
            longPollAnswer = post(*ready.get(),
                std::make_unique<KafkaFetchRequest>(ready->nextCorrelationId(), ClientId, -1, 60000, 1, 1 << 20,
                    IsolationLevel::ReadCommitted, 0, -1,
                    QList<KafkaFetchRequest::Topic> { { topic, { { 0, -1, 0, 0, 1024 } } } },
                    QList<KafkaFetchRequest::ForgottenTopic>(), QString()));
            QTest::qWait(500);
            return !longPollAnswer->has_value() && ready->inFlightRequestCount() == 1;
        }, 30000));
        auto restart = std::async(std::launch::async, [this]() { return m_env.restartBroker(); });
        const auto longPoll = wait(longPollAnswer, 60000);
        QVERIFY(longPoll.isError());
        // Closed by the stopping broker (a reset would give a socket error).
        QVERIFY2(longPoll.error().code == KafkaErrorCode::ConnectionClosed || int(longPoll.error().code) <= 24,
            qPrintable(longPoll.error().message));
        QCOMPARE(ready->state(), KafkaConnection::State::Disconnected);

        // While the broker is down a new connection fails its queued request.
        ThreadedConnection refused(m_env.plaintext(), Config::Cluster());
        QueuedSignalSpy refusedErrors(refused.get(), &KafkaConnection::connectionError);
        const Answer queuedAnswer = post(*refused.get(),
            std::make_unique<KafkaMetadataRequest>(refused->nextCorrelationId(), ClientId, std::nullopt, false, false, false));
        refused.connectToHost();
        const auto queued = wait(queuedAnswer, 60000);
        QVERIFY(queued.isError());
        QVERIFY2(int(queued.error().code) <= int(KafkaErrorCode::ConnectionClosed), qPrintable(queued.error().message));

        QVERIFY(QTest::qWaitFor([&] { return restart.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 180000));
        QCOMPARE(restart.get(), QString());
        QVERIFY(readyErrors.isEmpty());
        QVERIFY(refusedErrors.isEmpty());
        ready.connectToHost();
        QVERIFY(readySignal.wait(30000));
        QVERIFY2(metadata(*ready.get()).hasValue(), "no metadata after the restart");
    }
};

QTEST_GUILESS_MAIN(KafkaConnectionBrokerTest)
#include "KafkaConnectionBrokerTest.moc"
