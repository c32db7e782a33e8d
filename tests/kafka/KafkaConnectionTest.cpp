// The broker connection against a local stand-in broker: queueing until
// Ready, version choice, framing, failures, context objects and teardown.
#include "FakeBroker.h"
#include "KafkaConnection.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

namespace {

constexpr std::int16_t Metadata = 3;

// What a request's callback received.
struct Outcome {
    int calls = 0;
    KafkaResult<KafkaRawResponse> result;
};

auto recordInto(const std::shared_ptr<Outcome>& outcome)
{
    return [outcome](KafkaResult<KafkaRawResponse> result) {
        ++outcome->calls;
        outcome->result = std::move(result);
    };
}

bool waitForCall(const std::shared_ptr<Outcome>& outcome)
{
    return QTest::qWaitFor([&]() { return outcome->calls > 0; }, 5000);
}

KafkaErrorCode errorCode(const std::shared_ptr<Outcome>& outcome)
{
    return outcome->result.isError() ? outcome->result.error().code : KafkaErrorCode {};
}

} // namespace

class KafkaConnectionTest : public QObject {
    Q_OBJECT

private:
    Config::Cluster m_cluster;

    std::unique_ptr<KafkaConnection> connectionTo(quint16 port, const Config::Cluster& cluster)
    {
        return std::make_unique<KafkaConnection>(QStringLiteral("127.0.0.1"), port, QStringLiteral("fake-test"), cluster);
    }

    std::unique_ptr<KafkaConnection> readyConnection(FakeBroker& broker)
    {
        auto connection = connectionTo(broker.port(), m_cluster);
        QSignalSpy ready(connection.get(), &KafkaConnection::connectionReady);
        connection->connectToHost();
        if (!ready.wait(5000))
            return nullptr;
        return connection;
    }

    std::shared_ptr<Outcome> sendTest(KafkaConnection& connection, std::int16_t minVersion = 0,
        std::int16_t maxVersion = 12, QObject* context = nullptr)
    {
        auto outcome = std::make_shared<Outcome>();
        connection.send(std::make_unique<TestRequest>(Metadata, connection.nextCorrelationId(), minVersion, maxVersion),
            context != nullptr ? context : this, recordInto(outcome));
        return outcome;
    }

private slots:
    void requestsWaitForReadyAndKeepTheirOrder()
    {
        FakeBroker broker;
        broker.autoApiVersions = false;
        auto connection = connectionTo(broker.port(), m_cluster);
        QSignalSpy ready(connection.get(), &KafkaConnection::connectionReady);

        QList<std::shared_ptr<Outcome>> outcomes;
        for (int i = 0; i < 3; ++i)
            outcomes.append(sendTest(*connection));
        connection->connectToHost();

        // While the versions are negotiated only ApiVersions goes out.
        QVERIFY(broker.waitForFrames(1));
        QTest::qWait(50);
        QCOMPARE(broker.frames().size(), 1);
        QCOMPARE(broker.frames()[0].apiKey, std::int16_t(18));
        QCOMPARE(connection->state(), KafkaConnection::State::Initializing);
        QCOMPARE(connection->queuedRequestCount(), 3);

        broker.reply(broker.frames()[0].correlationId, FakeBroker::apiVersionsPayload(broker.apiVersions));
        QVERIFY(ready.wait(5000));
        QCOMPARE(connection->state(), KafkaConnection::State::Ready);
        QVERIFY(broker.waitForFrames(4));
        QCOMPARE(connection->inFlightRequestCount(), 3);
        for (int i = 1; i <= 3; ++i) {
            QCOMPARE(broker.frames()[i].apiKey, Metadata);
            QCOMPARE(broker.frames()[i].apiVersion, std::int16_t(12));
            QCOMPARE(broker.frames()[i].correlationId, std::int32_t(i - 1));
            QCOMPARE(broker.frames()[i].clientId, QStringLiteral("fake-test"));
        }

        // Answered out of order; each answer reaches its own request.
        for (int i : { 3, 1, 2 })
            broker.reply(broker.frames()[i].correlationId, QByteArray::number(i));
        for (int i = 0; i < 3; ++i) {
            QVERIFY(waitForCall(outcomes[i]));
            QVERIFY(outcomes[i]->result.hasValue());
            KafkaRawResponse& response = outcomes[i]->result.value();
            QCOMPARE(response.apiKey, Metadata);
            QCOMPARE(response.apiVersion, std::int16_t(12));
            QCOMPARE(response.buffer.position, 0);
            QCOMPARE(response.buffer.readS32(), std::int32_t(i));
            QCOMPARE(response.buffer.readRawBytes(response.buffer.remaining()), QByteArray::number(i + 1));
        }
        QCOMPARE(connection->inFlightRequestCount(), 0);
    }

    void versionNegotiation_data()
    {
        QTest::addColumn<int>("clientMin");
        QTest::addColumn<int>("clientMax");
        QTest::addColumn<int>("apiKey");
        QTest::addColumn<int>("sentVersion");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");

        // The stand-in broker speaks Metadata 0..12.
        QTest::newRow("broker range wider") << 4 << 11 << 3 << 11 << 0 << QString();
        QTest::newRow("broker max lower") << 1 << 13 << 3 << 12 << 0 << QString();
        QTest::newRow("touching at the broker max") << 12 << 20 << 3 << 12 << 0 << QString();
        QTest::newRow("client above the broker")
            << 13 << 15 << 3 << -1 << int(KafkaErrorCode::UnsupportedVersion)
            << "No common supported versions for api key 3. The client suported versions are 13 to 15. The broker "
               "supported versions are 0 to 12";
        QTest::newRow("key unknown to the broker") << 0 << 4 << 1 << -1 << int(KafkaErrorCode::InvalidRequest)
                                                    << "The broker does no support api key 1";
    }

    void versionNegotiation()
    {
        QFETCH(int, clientMin);
        QFETCH(int, clientMax);
        QFETCH(int, apiKey);
        QFETCH(int, sentVersion);
        QFETCH(int, code);
        QFETCH(QString, message);

        FakeBroker broker;
        auto connection = readyConnection(broker);
        QVERIFY(connection);
        auto outcome = std::make_shared<Outcome>();
        connection->send(std::make_unique<TestRequest>(static_cast<std::int16_t>(apiKey), connection->nextCorrelationId(),
                             static_cast<std::int16_t>(clientMin), static_cast<std::int16_t>(clientMax)),
            this, recordInto(outcome));
        if (sentVersion >= 0) {
            QVERIFY(broker.waitForFrames(2));
            QCOMPARE(int(broker.frames()[1].apiVersion), sentVersion);
            return;
        }
        QVERIFY(waitForCall(outcome));
        QCOMPARE(int(errorCode(outcome)), code);
        QCOMPARE(outcome->result.error().message, message);
        QVERIFY(outcome->result.error().causes.isEmpty());
        QCOMPARE(connection->state(), KafkaConnection::State::Ready);
    }

    void framesAreSplitJoinedAndMatched()
    {
        FakeBroker broker;
        auto connection = readyConnection(broker);
        QVERIFY(connection);
        QList<std::shared_ptr<Outcome>> outcomes;
        for (int i = 0; i < 3; ++i)
            outcomes.append(sendTest(*connection));
        QVERIFY(broker.waitForFrames(4));
        const std::int32_t first = broker.frames()[1].correlationId;

        // An answer nobody asked for, then two frames in one write.
        broker.writeRaw(FakeBroker::frameBytes(999, "stray") + FakeBroker::frameBytes(first, "one")
            + FakeBroker::frameBytes(first + 1, QByteArray(5000, 'x')));
        QVERIFY(waitForCall(outcomes[0]));
        QVERIFY(waitForCall(outcomes[1]));
        QCOMPARE(outcomes[0]->result.value().buffer.data, FakeBroker::frameBytes(first, "one").mid(4));
        QCOMPARE(outcomes[1]->result.value().buffer.size(), 4 + 5000);

        // A frame arriving a byte at a time.
        const QByteArray split = FakeBroker::frameBytes(first + 2, "split");
        for (char byte : split) {
            broker.writeRaw(QByteArray(1, byte));
            QTest::qWait(1);
        }
        QVERIFY(waitForCall(outcomes[2]));
        QCOMPARE(outcomes[2]->result.value().buffer.data, split.mid(4));
        for (const auto& outcome : outcomes)
            QCOMPARE(outcome->calls, 1);
    }

    void closedReadyConnectionFailsWhatIsWaiting_data()
    {
        QTest::addColumn<int>("inFlight");
        QTest::newRow("nothing waiting") << 0;
        QTest::newRow("two requests written") << 2;
    }

    void closedReadyConnectionFailsWhatIsWaiting()
    {
        QFETCH(int, inFlight);
        FakeBroker broker;
        auto connection = readyConnection(broker);
        QVERIFY(connection);
        QSignalSpy errors(connection.get(), &KafkaConnection::connectionError);
        QList<std::shared_ptr<Outcome>> outcomes;
        for (int i = 0; i < inFlight; ++i)
            outcomes.append(sendTest(*connection));
        QVERIFY(broker.waitForFrames(1 + inFlight));

        broker.hangUp();
        QTRY_COMPARE(connection->state(), KafkaConnection::State::Disconnected);
        for (const auto& outcome : outcomes) {
            QVERIFY(waitForCall(outcome));
            QCOMPARE(errorCode(outcome), KafkaErrorCode::ConnectionClosed);
            QCOMPARE(outcome->result.error().message,
                QStringLiteral("The connection to the kafka broker 127.0.0.1:%1 was closed").arg(broker.port()));
        }
        QTest::qWait(50);
        QCOMPARE(errors.size(), 0);
        QCOMPARE(connection->inFlightRequestCount(), 0);

        // A closed connection refuses requests until it is opened again.
        auto refused = sendTest(*connection);
        QVERIFY(waitForCall(refused));
        QCOMPARE(errorCode(refused), KafkaErrorCode::ConnectionClosed);
        QCOMPARE(refused->result.error().message,
            QStringLiteral("Unable to send message (key 3) to the kafka broker 127.0.0.1:%1: The connection is closed")
                .arg(broker.port()));

        QSignalSpy ready(connection.get(), &KafkaConnection::connectionReady);
        connection->connectToHost();
        QVERIFY(ready.wait(5000));
        QCOMPARE(broker.acceptedConnections(), 2);
        auto again = sendTest(*connection);
        QVERIFY(broker.waitForFrames(3 + inFlight));
        broker.reply(broker.frames().last().correlationId, "again");
        QVERIFY(waitForCall(again));
        QVERIFY(again->result.hasValue());
    }

    void failureBeforeReadyIsReportedOnce_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<bool>("queued");
        QTest::addColumn<int>("code");

        const int closed = int(KafkaErrorCode::RemoteHostClosedError);
        for (bool queued : { false, true }) {
            const char* suffix = queued ? ", request queued" : ", nothing queued";
            QTest::addRow("refused%s", suffix) << "refused" << queued << int(KafkaErrorCode::ConnectionRefusedError);
            QTest::addRow("hang-up during ApiVersions%s", suffix) << "hang-up" << queued << closed;
            QTest::addRow("ApiVersions refused%s", suffix) << "api-error" << queued << int(KafkaErrorCode::UnsupportedVersion);
            QTest::addRow("garbage answer%s", suffix) << "garbage" << queued << int(KafkaErrorCode::ApiVersionsError);
        }
    }

    void failureBeforeReadyIsReportedOnce()
    {
        QFETCH(QString, failure);
        QFETCH(bool, queued);
        QFETCH(int, code);

        FakeBroker broker;
        broker.autoApiVersions = false;
        quint16 port = broker.port();
        if (failure == "refused")
            broker.server().close();
        broker.onFrame = [&](const FakeBroker::Frame& frame) {
            if (failure == "hang-up")
                broker.hangUp();
            else if (failure == "api-error")
                broker.reply(frame.correlationId, FakeBroker::apiVersionsPayload({}, 35));
            else
                broker.reply(frame.correlationId, "xy");
        };
        auto connection = connectionTo(port, m_cluster);
        QSignalSpy errors(connection.get(), &KafkaConnection::connectionError);
        std::shared_ptr<Outcome> outcome = queued ? sendTest(*connection) : nullptr;
        connection->connectToHost();

        QTRY_COMPARE(connection->state(), KafkaConnection::State::Disconnected);
        QTest::qWait(100);
        KafkaError error;
        if (queued) {
            QCOMPARE(outcome->calls, 1);
            error = outcome->result.error();
            QCOMPARE(errors.size(), 0);
        } else {
            QCOMPARE(errors.size(), 1);
            error = errors[0][0].value<KafkaError>();
        }
        QCOMPARE(int(error.code), code);
        if (failure == "api-error")
            QCOMPARE(error.message, QStringLiteral("The broker responded with an error to the API versions request."));
        if (failure == "garbage")
            QCOMPARE(error.message, QStringLiteral("An error occurred while parsing the API versions response"));
        if (failure == "refused" || failure == "hang-up")
            QVERIFY2(error.message.startsWith(QStringLiteral("A network error occurred with host '127.0.0.1:%1': ").arg(port)),
                qPrintable(error.message));
    }

    void destroyedContextNeverSeesItsCallback()
    {
        FakeBroker broker;
        auto connection = readyConnection(broker);
        QVERIFY(connection);
        auto context = std::make_unique<QObject>();
        auto outcome = sendTest(*connection, 0, 12, context.get());
        auto witness = sendTest(*connection);
        QVERIFY(broker.waitForFrames(3));
        context.reset();
        broker.reply(broker.frames()[1].correlationId, "gone");
        broker.reply(broker.frames()[2].correlationId, "here");
        QVERIFY(waitForCall(witness));
        QTest::qWait(20);
        QCOMPARE(outcome->calls, 0);
    }

    // Contexts on a worker thread are destroyed while their answers are being
    // posted; no callback may run on a destroyed context.
    void contextsDestroyedOnTheirThreadWhileAnswersArrive()
    {
        FakeBroker broker;
        broker.onFrame = [&](const FakeBroker::Frame& frame) { broker.reply(frame.correlationId, "x"); };
        auto connection = readyConnection(broker);
        QVERIFY(connection);

        QThread worker;
        worker.start();
        std::atomic<int> callsAfterDestruction { 0 };
        std::atomic<int> destroyed { 0 };
        constexpr int Contexts = 20;
        constexpr int RequestsPerContext = 30;
        for (int c = 0; c < Contexts; ++c) {
            auto* context = new QObject;
            auto dead = std::make_shared<std::atomic<bool>>(false);
            QObject::connect(context, &QObject::destroyed, context, [dead, &destroyed]() {
                dead->store(true);
                ++destroyed;
            }, Qt::DirectConnection);
            context->moveToThread(&worker);
            // Context c goes after its (c + 1)th answer, the rest race with it.
            auto count = std::make_shared<int>(0);
            const int lastCall = c % RequestsPerContext + 1;
            for (int r = 0; r < RequestsPerContext; ++r) {
                connection->send(std::make_unique<TestRequest>(Metadata, connection->nextCorrelationId(), 0, 12), context,
                    [context, dead, count, lastCall, &callsAfterDestruction](KafkaResult<KafkaRawResponse>) {
                        if (dead->load())
                            ++callsAfterDestruction;
                        if (++*count == lastCall)
                            context->deleteLater();
                    });
            }
        }
        QVERIFY(QTest::qWaitFor([&]() { return destroyed.load() == Contexts; }, 10000));
        QTest::qWait(50);
        worker.quit();
        worker.wait();
        QCOMPARE(callsAfterDestruction.load(), 0);
    }

    void disconnectFinishesEveryFuture()
    {
        FakeBroker broker;
        auto connection = readyConnection(broker);
        QVERIFY(connection);
        auto waiting = sendTest(*connection);
        QVERIFY(broker.waitForFrames(2));

        QFuture<void> first = connection->disconnectFromHost();
        QFuture<void> second = connection->disconnectFromHost();
        QCOMPARE(connection->state(), KafkaConnection::State::Disconnecting);
        QTRY_VERIFY(first.isFinished() && second.isFinished());
        QCOMPARE(connection->state(), KafkaConnection::State::Disconnected);
        QVERIFY(waitForCall(waiting));
        QCOMPARE(errorCode(waiting), KafkaErrorCode::ConnectionClosed);
        QTRY_VERIFY(!broker.peer() || broker.peer()->state() == QAbstractSocket::UnconnectedState);

        // Closing a closed connection finishes at once.
        QFuture<void> third = connection->disconnectFromHost();
        QTRY_VERIFY(third.isFinished());
    }

    // A connection stuck in the TLS handshake, in ApiVersions or in SASL is
    // closed or destroyed at once, and its futures finish.
    void teardownWhileConnectingIsPrompt_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::addColumn<bool>("destroy");
        for (const char* stage : { "tls handshake", "api versions", "sasl" }) {
            QTest::addRow("%s, disconnect", stage) << QString(stage) << false;
            QTest::addRow("%s, destroy", stage) << QString(stage) << true;
        }
    }

    void teardownWhileConnectingIsPrompt()
    {
        QFETCH(QString, stage);
        QFETCH(bool, destroy);

        FakeBroker broker;
        broker.autoApiVersions = stage != "api versions";
        Config::Cluster cluster;
        if (stage == "tls handshake") {
            cluster.protocol = Config::Protocol::Ssl;
            cluster.ssl.serverCertificateValidation = Config::SslCertificateValidation::None;
        }
        if (stage == "sasl") {
            cluster.authentication = Config::Authentication::Sasl;
            cluster.authenticationSasl = Config::SaslAuthentication { Config::SaslMechanism::ScramSha512, {}, {}, "u", "p" };
        }
        auto connection = connectionTo(broker.port(), cluster);
        QSignalSpy errors(connection.get(), &KafkaConnection::connectionError);
        auto queued = sendTest(*connection);
        connection->connectToHost();
        if (stage == "tls handshake")
            QTRY_COMPARE(broker.acceptedConnections(), 1);
        else
            QVERIFY(broker.waitForFrames(stage == "sasl" ? 2 : 1));

        QElapsedTimer timer;
        timer.start();
        QFuture<void> closed = connection->disconnectFromHost();
        if (destroy) {
            connection.reset();
            QVERIFY(closed.isFinished());
        } else {
            QTRY_VERIFY(closed.isFinished());
            QCOMPARE(connection->state(), KafkaConnection::State::Disconnected);
            QVERIFY(waitForCall(queued));
            QCOMPARE(errorCode(queued), KafkaErrorCode::ConnectionClosed);
            QCOMPARE(errors.size(), 0);
        }
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QTRY_VERIFY(!broker.peer() || broker.peer()->state() == QAbstractSocket::UnconnectedState);
        if (destroy) {
            QTest::qWait(20);
            QCOMPARE(queued->calls, 0);
        }
    }
};

QTEST_GUILESS_MAIN(KafkaConnectionTest)
#include "KafkaConnectionTest.moc"
