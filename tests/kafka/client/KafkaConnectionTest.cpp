// The broker connection against a local stand-in broker.
#include "FakeBroker.h"
#include "KafkaConnection.h"
#include "KafkaSaslScramFinalRequest.h"
#include "KafkaSaslScramFirstRequest.h"
#include "KafkaSaslScramProof.h"
#include "Settings.h"

#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>

using namespace std::chrono_literals;

namespace {

constexpr std::int16_t Metadata = 3;
constexpr KafkaConnection::Limits ShortLimits { 1000ms, 1000ms, 1000ms };

struct Outcome {
    int calls = 0;
    KafkaResult<KafkaRawResponse> result;
};

bool waitForCall(const std::shared_ptr<Outcome>& outcome)
{
    return QTest::qWaitFor([&]() { return outcome->calls > 0; }, 5000);
}

KafkaErrorCode errorCode(const std::shared_ptr<Outcome>& outcome)
{
    return outcome->result.isError() ? outcome->result.error().code : KafkaErrorCode {};
}

QByteArray requestAuthBytes(const KafkaRequest& request)
{
    KafkaBuffer buffer;
    request.writeToBuffer(buffer, 0);
    buffer.position = 4 + 2 + 2 + 4;
    buffer.readString(); // client id
    return buffer.readBytes();
}

std::unique_ptr<KafkaConnection> connectionTo(
    quint16 port, const Config::Cluster& cluster, KafkaConnection::Limits limits = KafkaConnection::DefaultLimits)
{
    return std::make_unique<KafkaConnection>(
        QStringLiteral("127.0.0.1"), port, QStringLiteral("fake-test"), cluster, limits);
}

} // namespace

class KafkaConnectionTest : public QObject {
    Q_OBJECT

    Config::Cluster m_cluster;
    QTemporaryDir m_dir;

    std::unique_ptr<KafkaConnection> readyConnection(FakeBroker& broker)
    {
        auto connection = connectionTo(broker.port(), m_cluster);
        QSignalSpy ready(connection.get(), &KafkaConnection::connectionReady);
        connection->connectToHost();
        return ready.wait(5000) ? std::move(connection) : nullptr;
    }

    std::shared_ptr<Outcome> sendTest(KafkaConnection& connection, std::int16_t apiKey = Metadata,
        std::int16_t minVersion = 0, std::int16_t maxVersion = 12, std::int64_t responseLimit = 0,
        std::chrono::milliseconds wait = 0ms, const QByteArray& body = "body")
    {
        auto request = std::make_unique<TestRequest>(apiKey, connection.nextCorrelationId(), minVersion, maxVersion);
        if (responseLimit > 0)
            request->responseLimit = responseLimit;
        request->wait = wait;
        request->body = body;
        auto outcome = std::make_shared<Outcome>();
        connection.send(std::move(request), this, [outcome](KafkaResult<KafkaRawResponse> result) {
            ++outcome->calls;
            outcome->result = std::move(result);
        });
        return outcome;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
        QFile garbage(m_dir.filePath("garbage.pem"));
        QVERIFY(garbage.open(QIODevice::WriteOnly) && garbage.write("not PEM\n") > 0);
    }

    // Queued before Ready; answers split, joined, out of order, one exactly at its limit.
    void framesAreQueuedSplitJoinedAndMatched()
    {
        FakeBroker broker;
        auto connection = connectionTo(broker.port(), m_cluster);
        QList<std::shared_ptr<Outcome>> outcomes;
        for (int i = 0; i < 3; ++i)
            outcomes.append(sendTest(*connection, Metadata, 0, 12, i == 1 ? 4 + 5000 : 0));
        connection->connectToHost();
        QVERIFY(broker.waitForFrames(4));
        const std::int32_t first = broker.frames()[1].correlationId;

        broker.writeRaw(FakeBroker::frameBytes(first + 1, QByteArray(5000, 'x'))
            + FakeBroker::frameBytes(first, "one"));
        QVERIFY(waitForCall(outcomes[0]) && waitForCall(outcomes[1]));
        QCOMPARE(outcomes[0]->result.value().buffer.data, FakeBroker::frameBytes(first, "one").mid(4));
        QCOMPARE(outcomes[1]->result.value().buffer.size(), 4 + 5000);

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

    void versionNegotiation()
    {
        FakeBroker broker;
        auto connection = readyConnection(broker);
        QVERIFY(connection);
        sendTest(*connection, Metadata, 4, 11);
        sendTest(*connection, Metadata, 1, 13);
        auto above = sendTest(*connection, Metadata, 13, 15);
        auto unknown = sendTest(*connection, 1, 0, 4);
        QVERIFY(waitForCall(above) && waitForCall(unknown) && broker.waitForFrames(3));
        QCOMPARE(broker.frames()[1].apiVersion, std::int16_t(11));
        QCOMPARE(broker.frames()[2].apiVersion, std::int16_t(12));
        QCOMPARE(errorCode(above), KafkaErrorCode::UnsupportedVersion);
        QCOMPARE(errorCode(unknown), KafkaErrorCode::InvalidRequest);
        QCOMPARE(connection->state(), KafkaConnection::State::Ready);
    }

    // A Ready connection that closes fails what it has written, then refuses requests.
    void closedReadyConnectionFailsWhatIsWaiting()
    {
        constexpr int inFlight = 2;
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
        }
        QTest::qWait(50);
        QCOMPARE(errors.size(), 0);

        auto refused = sendTest(*connection);
        QVERIFY(waitForCall(refused) && refused->result.isError());
    }

    // A failure before Ready reaches the queued request, or else connectionError, once.
    void failureBeforeReadyIsReportedOnce_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<bool>("queued");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");

        QTest::newRow("refused") << "refused" << false << int(KafkaErrorCode::ConnectionRefusedError)
                                 << "A network error occurred with host '127.0.0.1:{port}': ";
        QTest::newRow("hang-up during ApiVersions") << "hang-up" << true << int(KafkaErrorCode::RemoteHostClosedError)
                                                    << "A network error occurred with host '127.0.0.1:{port}': ";
        QTest::newRow("ApiVersions refused") << "api-error" << false << int(KafkaErrorCode::UnsupportedVersion)
                                             << "The broker responded with an error to the API versions request.";
        QTest::newRow("garbage answer") << "garbage" << true << int(KafkaErrorCode::ApiVersionsError)
                                        << "An error occurred while parsing the API versions response";
    }

    void failureBeforeReadyIsReportedOnce()
    {
        QFETCH(QString, failure);
        QFETCH(bool, queued);
        QFETCH(int, code);
        QFETCH(QString, message);

        FakeBroker broker;
        broker.autoApiVersions = false;
        const quint16 port = broker.port();
        if (failure == "refused")
            broker.server().close();
        broker.onFrame = [&](const FakeBroker::Frame& frame) {
            if (failure == "hang-up")
                broker.hangUp();
            else
                broker.reply(frame.correlationId, failure == "api-error" ? FakeBroker::apiVersionsPayload({}, 35) : "xy");
        };
        auto connection = connectionTo(port, m_cluster);
        QSignalSpy errors(connection.get(), &KafkaConnection::connectionError);
        std::shared_ptr<Outcome> outcome = queued ? sendTest(*connection) : nullptr;
        connection->connectToHost();

        QTRY_COMPARE(connection->state(), KafkaConnection::State::Disconnected);
        QTest::qWait(100);
        QCOMPARE(errors.size(), queued ? 0 : 1);
        if (queued)
            QCOMPARE(outcome->calls, 1);
        const KafkaError error = queued ? outcome->result.error() : errors[0][0].value<KafkaError>();
        QCOMPARE(int(error.code), code);
        QVERIFY2(error.message.startsWith(message.replace("{port}", QString::number(port))), qPrintable(error.message));
    }

    // Each misbehaviour fails the waiting request in time, buffers nothing claimed,
    // and a second connection on the same network thread completes meanwhile.
    void misbehavingBrokerFailsTheConnectionInTime_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("limitMs"); // that must pass first

        const int timeout = int(KafkaErrorCode::SocketTimeoutError);
        const QString setUp = "The connection to the kafka broker 127.0.0.1:{port} was not set up within 1 s "
                              "(waiting for %1)";
        const QString tooLarge = "The kafka broker 127.0.0.1:{port} sent a response frame of %1 bytes to a Metadata "
                                 "request (correlation id 0); the limit is 1048576 bytes";
        QTest::newRow("silence after accept") << "silence" << timeout << setUp.arg("the answer to ApiVersions") << 1000;
        QTest::newRow("silence after accept, TLS") << "tls" << timeout << setUp.arg("the TLS handshake") << 1000;
        QTest::newRow("silence during SASL") << "sasl" << timeout << setUp.arg("the SASL authentication") << 1000;
        QTest::newRow("one byte a second, wait 500 ms asked")
            << "trickle" << timeout
            << "The kafka broker 127.0.0.1:{port} did not answer a Metadata request (correlation id 0) within 1.5 s"
            << 1500;
        QTest::newRow("unknown correlation id")
            << "stray" << int(KafkaErrorCode::CorruptMessage)
            << "Protocol violation: the kafka broker 127.0.0.1:{port} sent a response with correlation id 100, which "
               "answers no request waiting on the connection"
            << 0;
        QTest::newRow("2 GB length prefix") << "2 GB" << int(KafkaErrorCode::MessageTooLarge)
                                            << tooLarge.arg(2147483647) << 0;
        QTest::newRow("one byte above the limit") << "limit + 1" << int(KafkaErrorCode::MessageTooLarge)
                                                  << tooLarge.arg(1048577) << 0;
        QTest::newRow("SCRAM i=2147483647")
            << "iterations" << int(KafkaErrorCode::SaslAuthenticationError)
            << "The SASL SCRAM iteration count 2147483647 asked for by the server is above the limit of 100000" << 0;
    }

    void misbehavingBrokerFailsTheConnectionInTime()
    {
        QFETCH(QString, fault);
        QFETCH(int, code);
        QFETCH(QString, message);
        QFETCH(int, limitMs);
        constexpr std::int32_t ResponseLimit = 1 << 20;

        FakeBroker broker;
        broker.autoApiVersions = fault != "silence";
        bool misbehaved = fault == "tls"; // the handshake goes unanswered
        broker.onFrame = [&](const FakeBroker::Frame& frame) {
            const QByteArray bare = frame.apiKey == 36 ? FakeBroker::authBytes(frame) : QByteArray();
            misbehaved = fault != "iterations" || !bare.isEmpty();
            if (fault == "iterations" && frame.apiKey == 17)
                broker.reply(frame, FakeBroker::handshakePayload(0, { "SCRAM-SHA-512" }));
            else if (fault == "iterations")
                broker.reply(frame,
                    saslAuthenticatePayload(0, {}, "r=" + bare.mid(bare.indexOf(",r=") + 3) + "x,s=c2FsdA==,i=2147483647"));
            else if (fault == "trickle")
                FakeBroker::trickle(frame, FakeBroker::frameBytes(frame.correlationId, "late"), 1s);
            else if (fault == "stray")
                broker.reply(frame.correlationId + 100, "x");
            else if (fault != "silence" && fault != "sasl") // a frame claimed too large, followed by data
                broker.writeRaw(ResponseImage()
                                    .s32(fault == "2 GB" ? INT32_MAX : ResponseLimit + 1)
                                    .s32(frame.correlationId)
                                    .data()
                    + QByteArray(4 << 20, 'x'));
        };
        FakeBroker healthyBroker;
        healthyBroker.onFrame = [&](const FakeBroker::Frame& frame) { healthyBroker.reply(frame, "fine"); };
        Config::Cluster cluster;
        if (fault == "tls") {
            cluster.protocol = Config::Protocol::Ssl;
            cluster.ssl.serverCertificateValidation = Config::SslCertificateValidation::None;
        }
        if (fault == "sasl" || fault == "iterations") {
            cluster.authentication = Config::Authentication::Sasl;
            cluster.authenticationSasl = Config::SaslAuthentication { Config::SaslMechanism::ScramSha512, {}, {}, "u", "p" };
        }

        auto connection = connectionTo(broker.port(), cluster, ShortLimits);
        auto healthy = connectionTo(healthyBroker.port(), m_cluster, ShortLimits);
        QThread network;
        const auto stop = qScopeGuard([&]() {
            connection.release()->deleteLater();
            healthy.release()->deleteLater();
            network.quit();
            network.wait();
        });
        connection->moveToThread(&network);
        healthy->moveToThread(&network);
        network.start();

        auto outcome = sendTest(*connection, Metadata, 0, 12, ResponseLimit, 500ms);
        const qint64 peakBefore = peakResidentBytes();
        QElapsedTimer timer;
        timer.start();
        QMetaObject::invokeMethod(connection.get(), &KafkaConnection::connectToHost, Qt::QueuedConnection);
        QVERIFY(QTest::qWaitFor([&]() { return misbehaved && broker.acceptedConnections() > 0; }, 5000));
        auto answered = sendTest(*healthy);
        QMetaObject::invokeMethod(healthy.get(), &KafkaConnection::connectToHost, Qt::QueuedConnection);
        QVERIFY(waitForCall(answered) && answered->result.hasValue());
        if (limitMs > 0)
            QCOMPARE(outcome->calls, 0);

        QVERIFY(waitForCall(outcome));
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(elapsed >= limitMs && elapsed < limitMs + 1000, qPrintable(QString::number(elapsed)));
        QVERIFY(peakResidentBytes() - peakBefore < ResponseLimit + 100'000'000);
        QCOMPARE(int(errorCode(outcome)), code);
        QCOMPARE(outcome->result.error().message, message.replace("{port}", QString::number(broker.port())));
    }

    // No callback runs on a context destroyed while its answers are posted.
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
        for (int c = 0; c < Contexts; ++c) {
            auto* context = new QObject;
            auto dead = std::make_shared<std::atomic<bool>>(false);
            QObject::connect(context, &QObject::destroyed, context, [dead, &destroyed]() {
                dead->store(true);
                ++destroyed;
            }, Qt::DirectConnection);
            context->moveToThread(&worker);
            auto count = std::make_shared<int>(0);
            for (int r = 0; r < 30; ++r) {
                connection->send(std::make_unique<TestRequest>(Metadata, connection->nextCorrelationId(), 0, 12), context,
                    [context, dead, count, c, &callsAfterDestruction](KafkaResult<KafkaRawResponse>) {
                        if (dead->load())
                            ++callsAfterDestruction;
                        if (++*count == c + 1)
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

    // Closing or destroying at any stage is prompt; a stalled graceful close is cut off at the limit.
    void teardownIsPrompt_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::addColumn<bool>("destroy");
        QTest::newRow("ready, disconnect") << "ready" << false;
        QTest::newRow("ready, broker reads nothing, disconnect") << "ready, stalled" << false;
        QTest::newRow("tls handshake, disconnect") << "tls handshake" << false;
        QTest::newRow("api versions, destroy") << "api versions" << true;
        QTest::newRow("sasl, destroy") << "sasl" << true;
    }

    void teardownIsPrompt()
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
        auto connection = connectionTo(broker.port(), cluster, KafkaConnection::Limits { 30s, 30s, 300ms });
        QSignalSpy errors(connection.get(), &KafkaConnection::connectionError);
        auto queued = sendTest(*connection);
        connection->connectToHost();
        if (stage == "tls handshake")
            QTRY_COMPARE(broker.acceptedConnections(), 1);
        else
            QVERIFY(broker.waitForFrames(stage == "api versions" ? 1 : 2));
        if (stage == "ready, stalled") {
            broker.peer()->setReadBufferSize(1);
            broker.peer()->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4096);
            QObject::disconnect(broker.peer(), &QIODevice::readyRead, nullptr, nullptr);
            sendTest(*connection, Metadata, 0, 12, 0, 0ms, QByteArray(32 << 20, 'b'));
            QTest::qWait(200);
        }

        QElapsedTimer timer;
        timer.start();
        QFuture<void> first = connection->disconnectFromHost();
        QFuture<void> second = stage == "ready, stalled" ? first : connection->disconnectFromHost();
        if (destroy) {
            connection.reset();
            QVERIFY(first.isFinished() && second.isFinished());
        } else {
            QTRY_VERIFY(first.isFinished() && second.isFinished());
            QCOMPARE(connection->state(), KafkaConnection::State::Disconnected);
            QVERIFY(waitForCall(queued));
            QCOMPARE(errorCode(queued), KafkaErrorCode::ConnectionClosed);
            QCOMPARE(errors.size(), 0);
            QFuture<void> third = connection->disconnectFromHost();
            QTRY_VERIFY(third.isFinished());
        }
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        if (stage != "ready, stalled") // that broker notices nothing
            QTRY_VERIFY(!broker.peer() || broker.peer()->state() == QAbstractSocket::UnconnectedState);
        if (destroy) {
            QTest::qWait(20);
            QCOMPARE(queued->calls, 0);
        }
    }

    void tlsSettingsFailures()
    {
        const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
        if (system.isEmpty())
            QSKIP("No system certificate to stand for a valid client certificate");
        const QString dir = m_dir.path() + "/";
        QFile valid(dir + "valid.crt");
        QVERIFY(valid.open(QIODevice::WriteOnly) && valid.write(system.first().toPem()) > 0);
        valid.close();
        const struct {
            QString ca, certificate, key, message;
        } rows[] = {
            { "./certs/ca.pem", "", "",
                QStringLiteral("Unable to read PEM encoded CA certificates from '%1'").arg(Settings::clustersDir() + "/certs/ca.pem") },
            { "", dir + "none.crt", dir + "valid.crt", "The client SSL certificate file does not exist" },
            { "", dir + "garbage.pem", dir + "valid.crt", "Unable to load the client SSL certificate. Make sure it is PEM encoded." },
            { "", dir + "valid.crt", dir + "garbage.pem",
                "Unable to load the client SSL key. Make sure it is PEM encoded and that the passphrase (if required) is correct." },
        };
        for (const auto& row : rows) {
            Config::Ssl ssl;
            if (!row.ca.isEmpty())
                ssl.serverCaCertificatePaths = { row.ca };
            ssl.clientCertificatePath = row.certificate;
            ssl.clientKeyPath = row.key;
            const KafkaResult<QSslConfiguration> result = KafkaConnection::makeSslConfiguration(ssl);
            QVERIFY2(result.isError(), qPrintable(row.message));
            QCOMPARE(result.error().code, KafkaErrorCode::InvalidValue);
            QCOMPARE(result.error().message, row.message);
        }
    }

    void scramMatchesRfc7677()
    {
        const QString clientNonce = "rOprNGfwEbeRWgbNEkqO";
        const QString nonce = clientNonce + "%hvYDpWUa2RaTCAfuxFIlj)hNlF$k0";
        const KafkaSaslScramFirstRequest first(0, "test", "user", clientNonce);
        QCOMPARE(requestAuthBytes(first), "n,,n=user,r=" + clientNonce.toUtf8());
        const QByteArray authMessage = first.clientFirstMessageBare + ",r=" + nonce.toUtf8()
            + ",s=W22ZaJ0SNY7soEsUEjb6gQ==,i=4096," + KafkaSaslScramFinalRequest::clientFinalMessageWithoutProof(nonce);
        const KafkaSaslScramProof proof = KafkaSaslScramProof::compute(
            QCryptographicHash::Sha256, "pencil", QByteArray::fromBase64("W22ZaJ0SNY7soEsUEjb6gQ=="), 4096, authMessage);
        QCOMPARE(requestAuthBytes(KafkaSaslScramFinalRequest(0, "test", nonce, proof.clientProof)),
            "c=biws,r=" + nonce.toUtf8() + ",p=dHzbZapWIk4jUhN+Ute9ytag9zjfMHgsqmmiz7AndVQ=");
        QCOMPARE(proof.serverSignature.toBase64(), QByteArray("6rriTRBi23WpRR/wtup+mMhUZUn/dB5nLTJRsjl95G4="));
    }

    // Each row spoils one step of SCRAM-SHA-512; only the queued request gets the failure.
    void saslFailures_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");

        const int sasl = int(KafkaErrorCode::SaslAuthenticationError);
        const QString nonce = "The SASL SCRAM nonce returned by the server in the first response does net match the one "
                              "sent in the first request";
        QTest::newRow("combined nonce equals the client's") << "nonce equal" << sasl << nonce;
        QTest::newRow("combined nonce not after the client's") << "nonce foreign" << sasl << nonce;
        QTest::newRow("signature differs in one byte")
            << "signature" << sasl
            << "The SASL SCRAM authentication server signature returned by the server did not match the client side "
               "computation";
        QTest::newRow("server error attribute") << "server error" << sasl
                                                << "The server returned a SASL SCRAM authentication error: invalid-proof";
        QTest::newRow("handshake error") << "handshake" << int(KafkaErrorCode::IllegalSaslState)
                                         << "The broker responded with an error to the SASL handshake.";
        QTest::newRow("no SASL settings") << "no settings" << sasl << "The SASL authentication configuration was not found.";
    }

    void saslFailures()
    {
        QFETCH(QString, fault);
        QFETCH(int, code);
        QFETCH(QString, message);

        const QByteArray salt = "0123456789abcdef";
        FakeBroker broker;
        QByteArray clientFirstBare;
        QByteArray serverFirst;
        broker.onFrame = [&](const FakeBroker::Frame& frame) {
            if (frame.apiKey == 17) {
                broker.reply(frame.correlationId, FakeBroker::handshakePayload(fault == "handshake" ? 34 : 0, { "SCRAM-SHA-512" }));
            } else if (serverFirst.isEmpty()) {
                clientFirstBare = FakeBroker::authBytes(frame).mid(3);
                const QByteArray clientNonce = clientFirstBare.mid(clientFirstBare.indexOf(",r=") + 3);
                const QByteArray nonce
                    = fault == "nonce equal" ? clientNonce : (fault == "nonce foreign" ? "x" : "") + clientNonce + "%server";
                serverFirst = "r=" + nonce + ",s=" + salt.toBase64() + ",i=4096";
                broker.reply(frame.correlationId, saslAuthenticatePayload(0, QString(), serverFirst));
            } else {
                const QByteArray clientFinal = FakeBroker::authBytes(frame);
                QByteArray signature = KafkaSaslScramProof::compute(QCryptographicHash::Sha512, "secret", salt, 4096,
                    clientFirstBare + ',' + serverFirst + ',' + clientFinal.left(clientFinal.indexOf(",p=")))
                                           .serverSignature;
                if (fault == "signature")
                    signature[5] = char(signature[5] ^ 1);
                const QByteArray serverFinal = fault == "server error" ? "e=invalid-proof" : "v=" + signature.toBase64();
                broker.reply(frame.correlationId, saslAuthenticatePayload(0, QString(), serverFinal));
            }
        };
        Config::Cluster cluster;
        cluster.authentication = Config::Authentication::Sasl;
        if (fault != "no settings")
            cluster.authenticationSasl = Config::SaslAuthentication { Config::SaslMechanism::ScramSha512, {}, {}, "user", "secret" };
        auto connection = connectionTo(broker.port(), cluster);
        QSignalSpy ready(connection.get(), &KafkaConnection::connectionReady);
        QSignalSpy errors(connection.get(), &KafkaConnection::connectionError);
        auto outcome = sendTest(*connection);
        connection->connectToHost();

        QTRY_COMPARE(connection->state(), KafkaConnection::State::Disconnected);
        QTest::qWait(50);
        QCOMPARE(ready.size(), 0);
        QCOMPARE(errors.size(), 0);
        QCOMPARE(outcome->calls, 1);
        QCOMPARE(int(errorCode(outcome)), code);
        QCOMPARE(outcome->result.error().message, message);
    }
};

QTEST_GUILESS_MAIN(KafkaConnectionTest)
#include "KafkaConnectionTest.moc"
