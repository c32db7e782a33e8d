// Broker connections against the real broker: every listener and
// authentication, refused credentials and certificates, a broker that goes
// away, and teardown while connecting. Each connection lives on a network
// thread of its own, as in the program.
#include "KafkaConnection.h"
#include "KafkaFetchRequest.h"
#include "KafkaMetadataRequest.h"
#include "KafkaMetadataResponse.h"
#include "KafkaTestEnvironment.h"
#include "TestClusterSettings.h"
#include "TestTopicAdmin.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QHostInfo>
#include <QSignalSpy>
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
        m_thread.setObjectName(QStringLiteral("NetworkThread"));
        m_thread.start();
        m_connection = new KafkaConnection(address.left(colon), address.mid(colon + 1).toInt(), ClientId, m_cluster);
        m_connection->moveToThread(&m_thread);
    }

    ~ThreadedConnection()
    {
        destroy();
        m_thread.quit();
        m_thread.wait();
    }

    ThreadedConnection(const ThreadedConnection&) = delete;
    ThreadedConnection& operator=(const ThreadedConnection&) = delete;

    KafkaConnection* operator->() const { return m_connection; }
    KafkaConnection* get() const { return m_connection; }

    void connectToHost() { QMetaObject::invokeMethod(m_connection, &KafkaConnection::connectToHost, Qt::QueuedConnection); }

    // Milliseconds the destruction took.
    qint64 destroy()
    {
        if (m_connection == nullptr)
            return 0;
        QElapsedTimer timer;
        timer.start();
        QMetaObject::invokeMethod(
            m_connection, [connection = m_connection]() { delete connection; }, Qt::BlockingQueuedConnection);
        m_connection = nullptr;
        return timer.elapsed();
    }

private:
    Config::Cluster m_cluster;
    QThread m_thread;
    KafkaConnection* m_connection = nullptr;
};

Config::Cluster saslCluster(Config::SaslMechanism mechanism, const KafkaTestEnvironment::Credentials& credentials)
{
    Config::Cluster cluster;
    cluster.authentication = Config::Authentication::Sasl;
    cluster.authenticationSasl = saslAuthentication(mechanism, credentials);
    return cluster;
}

Config::Cluster withTls(Config::Cluster cluster, const QString& caFile)
{
    cluster.protocol = Config::Protocol::Ssl;
    cluster.ssl.serverCertificateValidation = Config::SslCertificateValidation::Full;
    if (!caFile.isEmpty())
        cluster.ssl.serverCaCertificatePaths = { caFile };
    return cluster;
}

} // namespace

Q_DECLARE_METATYPE(Config::Cluster)

class KafkaConnectionBrokerTest : public QObject {
    Q_OBJECT

private:
    KafkaTestEnvironment m_env = KafkaTestEnvironment::fromProcessEnvironment();

    // Sends a Metadata request for all topics and waits for its answer.
    KafkaResult<KafkaMetadataResponse> metadata(KafkaConnection& connection)
    {
        bool answered = false;
        KafkaResult<KafkaRawResponse> raw;
        connection.send(std::make_unique<KafkaMetadataRequest>(
                            connection.nextCorrelationId(), ClientId, std::nullopt, false, true, true),
            this, [&](KafkaResult<KafkaRawResponse> result) {
                raw = std::move(result);
                answered = true;
            });
        if (!QTest::qWaitFor([&]() { return answered; }, 30000))
            return KafkaError(KafkaErrorCode::RequestTimedOut, "no answer to the metadata request");
        if (raw.isError())
            return raw.error();
        return KafkaMetadataResponse::parseFromRaw(raw.value());
    }

    // The error of a connection that must fail without a waiting request.
    KafkaError waitForSingleError(ThreadedConnection& connection)
    {
        QSignalSpy errors(connection.get(), &KafkaConnection::connectionError);
        QSignalSpy ready(connection.get(), &KafkaConnection::connectionReady);
        connection.connectToHost();
        if (!errors.wait(30000))
            return KafkaError(KafkaErrorCode::RequestTimedOut, "no connection error");
        // Whatever the broker does after refusing us is not reported again.
        QTest::qWait(500);
        if (errors.size() != 1 || ready.size() != 0)
            return KafkaError(KafkaErrorCode::RequestTimedOut,
                QStringLiteral("%1 errors, %2 ready signals").arg(errors.size()).arg(ready.size()));
        if (connection->state() != KafkaConnection::State::Disconnected)
            return KafkaError(KafkaErrorCode::RequestTimedOut, "the failed connection is not Disconnected");
        return errors[0][0].value<KafkaError>();
    }

private slots:
    void initTestCase() { SKELVANE_REQUIRE_KAFKA_BROKER(m_env); }

    void everyListenerAnswers_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<Config::Cluster>("cluster");
        QTest::addColumn<bool>("mutualTls");

        const QString ca = m_env.caFile();
        QTest::newRow("PLAINTEXT") << m_env.plaintext() << Config::Cluster() << false;
        QTest::newRow("SASL PLAIN") << m_env.saslPlaintext() << saslCluster(Config::SaslMechanism::Plain, m_env.plain())
                                    << false;
        QTest::newRow("SCRAM-SHA-256")
            << m_env.saslPlaintext() << saslCluster(Config::SaslMechanism::ScramSha256, m_env.scram256()) << false;
        QTest::newRow("SCRAM-SHA-512")
            << m_env.saslPlaintext() << saslCluster(Config::SaslMechanism::ScramSha512, m_env.scram512()) << false;
        QTest::newRow("SCRAM-SHA-256, user with , and =")
            << m_env.saslPlaintext() << saslCluster(Config::SaslMechanism::ScramSha256, m_env.scramOdd()) << false;
        QTest::newRow("TLS, CA file, full verification") << m_env.ssl() << withTls({}, ca) << false;
        QTest::newRow("SASL PLAIN over TLS")
            << m_env.saslSsl() << withTls(saslCluster(Config::SaslMechanism::Plain, m_env.plain()), ca) << false;
        QTest::newRow("SCRAM-SHA-512 over TLS")
            << m_env.saslSsl() << withTls(saslCluster(Config::SaslMechanism::ScramSha512, m_env.scram512()), ca) << false;
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
        QSignalSpy ready(connection.get(), &KafkaConnection::connectionReady);
        QSignalSpy errors(connection.get(), &KafkaConnection::connectionError);
        connection.connectToHost();
        QVERIFY2(ready.wait(30000),
            errors.isEmpty() ? "no signal" : qPrintable(errors[0][0].value<KafkaError>().message));
        QCOMPARE(connection->state(), KafkaConnection::State::Ready);

        KafkaResult<KafkaMetadataResponse> response = metadata(*connection.get());
        QVERIFY2(response.hasValue(), response.isError() ? qPrintable(response.error().message) : "");
        QVERIFY(!response.value().brokers.isEmpty());

        QFuture<void> closed = connection->disconnectFromHost();
        QVERIFY(QTest::qWaitFor([&]() { return closed.isFinished(); }, 10000));
        QCOMPARE(connection->state(), KafkaConnection::State::Disconnected);
        QVERIFY(errors.isEmpty());
    }

    void wrongPasswordIsReportedOnce_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<Config::Cluster>("cluster");
        QTest::addColumn<QString>("message");

        const auto wrong = [](KafkaTestEnvironment::Credentials credentials) {
            credentials.password += "-wrong";
            return credentials;
        };
        const QString scramMessage
            = "Authentication failed during authentication due to invalid credentials with SASL mechanism %1";
        QTest::newRow("PLAIN") << m_env.saslPlaintext()
                               << saslCluster(Config::SaslMechanism::Plain, wrong(m_env.plain()))
                               << "Authentication failed: Invalid username or password";
        QTest::newRow("SCRAM-SHA-256") << m_env.saslPlaintext()
                                       << saslCluster(Config::SaslMechanism::ScramSha256, wrong(m_env.scram256()))
                                       << scramMessage.arg("SCRAM-SHA-256");
        QTest::newRow("SCRAM-SHA-512 over TLS")
            << m_env.saslSsl()
            << withTls(saslCluster(Config::SaslMechanism::ScramSha512, wrong(m_env.scram512())), m_env.caFile())
            << scramMessage.arg("SCRAM-SHA-512");
    }

    void wrongPasswordIsReportedOnce()
    {
        QFETCH(QString, address);
        QFETCH(Config::Cluster, cluster);
        QFETCH(QString, message);

        ThreadedConnection connection(address, cluster);
        const KafkaError error = waitForSingleError(connection);
        QCOMPARE(error.message, message);
        QCOMPARE(error.code, KafkaErrorCode::SaslAuthenticationFailed);
    }

    void unverifiableServerFailsTheHandshake_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<Config::Cluster>("cluster");

        QTest::newRow("no CA file") << m_env.ssl() << withTls({}, QString());
        // A name of this machine that leads to the broker but is not among the
        // names of its certificate (localhost and 127.0.0.1).
        const QString name = QHostInfo::localHostName();
        const QHostInfo lookup = QHostInfo::fromName(name);
        const QString port = m_env.ssl().mid(m_env.ssl().lastIndexOf(':') + 1);
        if (name != "localhost" && lookup.addresses().contains(QHostAddress(QHostAddress::LocalHost)))
            QTest::newRow("host name not in the certificate") << name + ":" + port << withTls({}, m_env.caFile());
        QTest::newRow("SASL over TLS, no CA file")
            << m_env.saslSsl() << withTls(saslCluster(Config::SaslMechanism::Plain, m_env.plain()), QString());
    }

    void unverifiableServerFailsTheHandshake()
    {
        QFETCH(QString, address);
        QFETCH(Config::Cluster, cluster);

        ThreadedConnection connection(address, cluster);
        const KafkaError error = waitForSingleError(connection);
        QCOMPARE(error.code, KafkaErrorCode::SslHandshakeFailedError);
        QVERIFY2(error.message.startsWith(QStringLiteral("A network error occurred with host '%1': ").arg(address)),
            qPrintable(error.message));
    }

    void wrongProtocolEndsWithAnError_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<Config::Cluster>("cluster");
        QTest::addColumn<bool>("mutualTls");

        QTest::newRow("plaintext client on the TLS port") << m_env.ssl() << Config::Cluster() << false;
        QTest::newRow("TLS client on the plaintext port") << m_env.plaintext() << withTls({}, m_env.caFile()) << false;
        QTest::newRow("no client certificate on the mutual TLS port")
            << m_env.mtls() << withTls({}, m_env.caFile()) << true;
    }

    void wrongProtocolEndsWithAnError()
    {
        QFETCH(QString, address);
        QFETCH(Config::Cluster, cluster);
        QFETCH(bool, mutualTls);
        if (mutualTls)
            SKELVANE_REQUIRE_KAFKA(m_env, KafkaTestEnvironment::Feature::MutualTls);

        ThreadedConnection connection(address, cluster);
        const KafkaError error = waitForSingleError(connection);
        QVERIFY2(error.code != KafkaErrorCode::RequestTimedOut, qPrintable(error.message));
        QVERIFY2(int(error.code) >= 1 && int(error.code) <= 27, qPrintable(error.message));
    }

    void disabledMechanismListsTheEnabledOnes()
    {
        const QString address = qEnvironmentVariable("SKELVANE_KAFKA_SASL_PLAIN_ONLY");
        if (address.isEmpty())
            QSKIP("SKELVANE_KAFKA_SASL_PLAIN_ONLY (a listener with only PLAIN enabled) is not set");
        ThreadedConnection connection(address, saslCluster(Config::SaslMechanism::ScramSha256, m_env.scram256()));
        const KafkaError error = waitForSingleError(connection);
        QCOMPARE(error.code, KafkaErrorCode::UnsupportedSaslMechanism);
        QCOMPARE(error.message,
            QStringLiteral("The broker does not support the selected SASL authentication mechanism. The supported "
                           "mechanisms are: PLAIN"));
    }

    // Destroyed while the socket connects, and while the SCRAM exchange runs.
    void destructionWhileConnectingIsPrompt()
    {
        const Config::Cluster scram = saslCluster(Config::SaslMechanism::ScramSha512, m_env.scram512());
        for (int round = 0; round < 5; ++round) {
            ThreadedConnection connecting(m_env.saslSsl(), withTls(scram, m_env.caFile()));
            connecting.connectToHost();
            QVERIFY(connecting.destroy() < 1000);

            ThreadedConnection authenticating(m_env.saslPlaintext(), scram);
            authenticating.connectToHost();
            QVERIFY(QTest::qWaitFor(
                [&]() { return authenticating->state() == KafkaConnection::State::Authenticating; }, 30000));
            QThread::usleep(static_cast<unsigned long>(round * 1000));
            QVERIFY(authenticating.destroy() < 1000);
        }
    }

    // The broker goes away under a Ready connection with a long poll in
    // flight and under a connection that waits to connect with a queued
    // request: both requests fail; after the restart the first connection
    // opens again.
    void brokerRestartFailsWaitingRequests()
    {
        SKELVANE_REQUIRE_KAFKA(m_env, KafkaTestEnvironment::Feature::Restart);
        const QString topic = KafkaTestEnvironment::uniqueTopicName("connection-restart");
        QCOMPARE(TestTopicAdmin(m_env.plaintext()).createTopic(topic, 1), QString());

        ThreadedConnection ready(m_env.plaintext(), Config::Cluster());
        QSignalSpy readySignal(ready.get(), &KafkaConnection::connectionReady);
        QSignalSpy readyErrors(ready.get(), &KafkaConnection::connectionError);
        ready.connectToHost();
        QVERIFY(readySignal.wait(30000));
        QVERIFY(metadata(*ready.get()).hasValue());

        // Waits up to a minute for a record that never comes.
        KafkaFetchRequest::Partition partition { 0, -1, 0, 0, 1024 };
        KafkaResult<KafkaRawResponse> longPoll;
        bool longPollAnswered = false;
        ready->send(std::make_unique<KafkaFetchRequest>(ready->nextCorrelationId(), ClientId, -1, 60000, 1, 1 << 20,
                        IsolationLevel::ReadCommitted, 0, -1, QList<KafkaFetchRequest::Topic> { { topic, { partition } } },
                        QList<KafkaFetchRequest::ForgottenTopic>(), QString()),
            this, [&](KafkaResult<KafkaRawResponse> result) {
                longPoll = std::move(result);
                longPollAnswered = true;
            });
        QTRY_COMPARE(ready->inFlightRequestCount(), 1);

        auto restart = std::async(std::launch::async, [this]() { return m_env.restartBroker(); });
        QVERIFY(QTest::qWaitFor([&]() { return longPollAnswered; }, 60000));
        QVERIFY(longPoll.isError());
        // Closed by the stopping broker (a reset would give a socket error).
        QVERIFY2(longPoll.error().code == KafkaErrorCode::ConnectionClosed || int(longPoll.error().code) <= 24,
            qPrintable(longPoll.error().message));
        QCOMPARE(ready->state(), KafkaConnection::State::Disconnected);

        // While the broker is down a new connection fails its queued request.
        ThreadedConnection refused(m_env.plaintext(), Config::Cluster());
        QSignalSpy refusedErrors(refused.get(), &KafkaConnection::connectionError);
        KafkaResult<KafkaRawResponse> queued;
        bool queuedAnswered = false;
        refused->send(std::make_unique<KafkaMetadataRequest>(refused->nextCorrelationId(), ClientId, std::nullopt, false,
                          false, false),
            this, [&](KafkaResult<KafkaRawResponse> result) {
                queued = std::move(result);
                queuedAnswered = true;
            });
        refused.connectToHost();
        QVERIFY(QTest::qWaitFor([&]() { return queuedAnswered; }, 60000));
        QVERIFY(queued.isError());
        QVERIFY2(int(queued.error().code) <= int(KafkaErrorCode::ConnectionClosed), qPrintable(queued.error().message));

        while (restart.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
            QTest::qWait(100);
        QCOMPARE(restart.get(), QString());
        QVERIFY(readyErrors.isEmpty());
        QVERIFY(refusedErrors.isEmpty());

        ready.connectToHost();
        QVERIFY(readySignal.wait(30000));
        KafkaResult<KafkaMetadataResponse> again = metadata(*ready.get());
        QVERIFY2(again.hasValue(), again.isError() ? qPrintable(again.error().message) : "");
    }
};

QTEST_GUILESS_MAIN(KafkaConnectionBrokerTest)
#include "KafkaConnectionBrokerTest.moc"
