// The SASL exchange: the SCRAM computation against the RFC examples, the
// client nonce, and whole exchanges with a stand-in broker.
#include "FakeBroker.h"
#include "KafkaConnection.h"
#include "KafkaSaslScramFinalRequest.h"
#include "KafkaSaslScramFirstRequest.h"
#include "KafkaSaslScramProof.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QPasswordDigestor>
#include <QSignalSpy>
#include <QTest>

namespace {

// The mechanism bytes a SASL request writes (body after the header).
QByteArray requestAuthBytes(const KafkaRequest& request)
{
    KafkaBuffer buffer;
    request.writeToBuffer(buffer, 0);
    buffer.position = 4 + 2 + 2 + 4;
    buffer.readString(); // client id
    return buffer.readBytes();
}

QMap<QByteArray, QByteArray> scramAttributes(const QByteArray& message)
{
    QMap<QByteArray, QByteArray> attributes;
    for (const QByteArray& attribute : message.split(','))
        attributes.insert(attribute.left(1), attribute.mid(2));
    return attributes;
}

} // namespace

class KafkaConnectionSaslTest : public QObject {
    Q_OBJECT

private slots:
    void scramMatchesTheRfcExamples_data()
    {
        QTest::addColumn<int>("algorithm");
        QTest::addColumn<QString>("clientNonce");
        QTest::addColumn<QByteArray>("serverFirst");
        QTest::addColumn<QByteArray>("clientFinal");
        QTest::addColumn<QByteArray>("serverFinal");

        QTest::newRow("RFC 7677, SCRAM-SHA-256")
            << int(QCryptographicHash::Sha256) << "rOprNGfwEbeRWgbNEkqO"
            << QByteArray("r=rOprNGfwEbeRWgbNEkqO%hvYDpWUa2RaTCAfuxFIlj)hNlF$k0,s=W22ZaJ0SNY7soEsUEjb6gQ==,i=4096")
            << QByteArray("c=biws,r=rOprNGfwEbeRWgbNEkqO%hvYDpWUa2RaTCAfuxFIlj)hNlF$k0,"
                          "p=dHzbZapWIk4jUhN+Ute9ytag9zjfMHgsqmmiz7AndVQ=")
            << QByteArray("v=6rriTRBi23WpRR/wtup+mMhUZUn/dB5nLTJRsjl95G4=");
        QTest::newRow("RFC 5802, SCRAM-SHA-1")
            << int(QCryptographicHash::Sha1) << "fyko+d2lbbFgONRv9qkxdawL"
            << QByteArray("r=fyko+d2lbbFgONRv9qkxdawL3rfcNHYJY1ZVvWVs7j,s=QSXCR+Q6sek8bf92,i=4096")
            << QByteArray("c=biws,r=fyko+d2lbbFgONRv9qkxdawL3rfcNHYJY1ZVvWVs7j,p=v0X8v3Bz2T0CJGbJQyF0X+HI4Ts=")
            << QByteArray("v=rmF9pqV8S7suAoZWja4dJRkFsKQ=");
    }

    void scramMatchesTheRfcExamples()
    {
        QFETCH(int, algorithm);
        QFETCH(QString, clientNonce);
        QFETCH(QByteArray, serverFirst);
        QFETCH(QByteArray, clientFinal);
        QFETCH(QByteArray, serverFinal);

        const KafkaSaslScramFirstRequest first(0, "test", "user", clientNonce);
        QCOMPARE(requestAuthBytes(first), "n,,n=user,r=" + clientNonce.toUtf8());

        const QMap<QByteArray, QByteArray> server = scramAttributes(serverFirst);
        const QString nonce = QString::fromUtf8(server["r"]);
        const QByteArray authMessage = first.clientFirstMessageBare + ',' + serverFirst + ','
            + KafkaSaslScramFinalRequest::clientFinalMessageWithoutProof(nonce);
        const KafkaSaslScramProof proof
            = KafkaSaslScramProof::compute(static_cast<QCryptographicHash::Algorithm>(algorithm), "pencil",
                QByteArray::fromBase64(server["s"]), server["i"].toInt(), authMessage);

        QCOMPARE(requestAuthBytes(KafkaSaslScramFinalRequest(0, "test", nonce, proof.clientProof)), clientFinal);
        QCOMPARE("v=" + proof.serverSignature.toBase64(), serverFinal);
    }

    void scramNonceIsPrintableWithoutComma()
    {
        QString all;
        for (int i = 0; i < 200; ++i) {
            const QString nonce = KafkaConnection::generateSaslScramNonce(24);
            QCOMPARE(nonce.size(), 24);
            all += nonce;
        }
        for (QChar c : all)
            QVERIFY2(c.unicode() >= 33 && c.unicode() <= 125 && c != u',', qPrintable(QString(c)));
        // 4800 draws over 92 characters: the whole range is used.
        QVERIFY(all.contains(u'!') && all.contains(u'}'));
    }

    // A stand-in broker plays the server side of SCRAM and checks the proof
    // the way a broker does; each row spoils one of its answers.
    void scramExchange_data()
    {
        QTest::addColumn<int>("mechanism");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");

        const QString nonceMessage = "The SASL SCRAM nonce returned by the server in the first response does net "
                                     "match the one sent in the first request";
        const QString signatureMessage = "The SASL SCRAM authentication server signature returned by the server did "
                                         "not match the client side computation";
        const int sha256 = int(Config::SaslMechanism::ScramSha256);
        const int sha512 = int(Config::SaslMechanism::ScramSha512);
        const int sasl = int(KafkaErrorCode::SaslAuthenticationError);
        QTest::newRow("SHA-256") << sha256 << "alice" << "" << 0 << QString();
        QTest::newRow("SHA-512, user with , and =") << sha512 << "we,ird=user" << "" << 0 << QString();
        QTest::newRow("combined nonce equals the client's") << sha256 << "alice" << "nonce equal" << sasl << nonceMessage;
        QTest::newRow("combined nonce not after the client's") << sha256 << "alice" << "nonce foreign" << sasl << nonceMessage;
        QTest::newRow("signature differs in one byte") << sha512 << "alice" << "signature byte" << sasl << signatureMessage;
        QTest::newRow("signature one byte short") << sha256 << "alice" << "signature short" << sasl << signatureMessage;
        QTest::newRow("server error attribute")
            << sha256 << "alice" << "server error" << sasl
            << "The server returned a SASL SCRAM authentication error: invalid-proof";
        QTest::newRow("broker refuses the proof")
            << sha256 << "alice" << "refused" << int(KafkaErrorCode::SaslAuthenticationFailed)
            << "Authentication failed during authentication due to invalid credentials with SASL mechanism SCRAM-SHA-256";
    }

    void scramExchange()
    {
        QFETCH(int, mechanism);
        QFETCH(QString, user);
        QFETCH(QString, fault);
        QFETCH(int, code);
        QFETCH(QString, message);

        const QByteArray password = "p\xc3\xa4ssword"; // UTF-8, no SASLprep
        const auto algorithm = mechanism == int(Config::SaslMechanism::ScramSha512) ? QCryptographicHash::Sha512
                                                                                     : QCryptographicHash::Sha256;
        const QByteArray salt = "0123456789abcdef";
        const int iterations = 4096;

        FakeBroker broker;
        QByteArray clientFirstBare;
        QByteArray serverFirst;
        QString expectedMechanism;
        bool proofValid = false;
        broker.onFrame = [&](const FakeBroker::Frame& frame) {
            if (frame.apiKey == 17) {
                KafkaBuffer body(frame.body);
                expectedMechanism = body.readString();
                broker.reply(frame.correlationId, FakeBroker::handshakePayload(0, { expectedMechanism }));
            } else if (frame.apiKey == 36 && serverFirst.isEmpty()) {
                const QByteArray clientFirst = FakeBroker::authBytes(frame);
                clientFirstBare = clientFirst.mid(3);
                const QByteArray clientNonce = scramAttributes(clientFirstBare)["r"];
                QByteArray nonce = clientNonce + "%server";
                if (fault == "nonce equal")
                    nonce = clientNonce;
                if (fault == "nonce foreign")
                    nonce = "x" + clientNonce;
                serverFirst = "r=" + nonce + ",s=" + salt.toBase64() + ",i=" + QByteArray::number(iterations);
                broker.reply(frame.correlationId, saslAuthenticatePayload(0, QString(), serverFirst));
            } else if (frame.apiKey == 36) {
                const QByteArray clientFinal = FakeBroker::authBytes(frame);
                const qsizetype proofAt = clientFinal.indexOf(",p=");
                const QByteArray authMessage = clientFirstBare + ',' + serverFirst + ',' + clientFinal.left(proofAt);
                const QByteArray proof = QByteArray::fromBase64(clientFinal.mid(proofAt + 3));
                const QByteArray salted = QPasswordDigestor::deriveKeyPbkdf2(
                    algorithm, password, salt, iterations, QCryptographicHash::hashLength(algorithm));
                const QByteArray storedKey = QCryptographicHash::hash(
                    QMessageAuthenticationCode::hash("Client Key", salted, algorithm), algorithm);
                const QByteArray signature = QMessageAuthenticationCode::hash(authMessage, storedKey, algorithm);
                QByteArray clientKey = proof;
                for (qsizetype i = 0; i < clientKey.size() && i < signature.size(); ++i)
                    clientKey[i] = char(clientKey[i] ^ signature[i]);
                proofValid = QCryptographicHash::hash(clientKey, algorithm) == storedKey;
                QByteArray serverSignature = QMessageAuthenticationCode::hash(
                    authMessage, QMessageAuthenticationCode::hash("Server Key", salted, algorithm), algorithm);
                if (fault == "signature byte")
                    serverSignature[5] = char(serverSignature[5] ^ 1);
                if (fault == "signature short")
                    serverSignature.chop(1);
                QByteArray serverFinal = "v=" + serverSignature.toBase64();
                if (fault == "server error")
                    serverFinal = "e=invalid-proof";
                if (fault == "refused")
                    broker.reply(frame.correlationId, saslAuthenticatePayload(58, message, QByteArray()));
                else
                    broker.reply(frame.correlationId, saslAuthenticatePayload(0, QString(), serverFinal));
            } else {
                broker.reply(frame.correlationId, "answer");
            }
        };

        Config::Cluster cluster;
        cluster.authentication = Config::Authentication::Sasl;
        cluster.authenticationSasl = Config::SaslAuthentication {
            static_cast<Config::SaslMechanism>(mechanism), "plain-user", "plain-password", user,
            QString::fromUtf8(password) };
        KafkaConnection connection("127.0.0.1", broker.port(), "fake-test", cluster);
        QSignalSpy ready(&connection, &KafkaConnection::connectionReady);
        QSignalSpy errors(&connection, &KafkaConnection::connectionError);
        int calls = 0;
        KafkaResult<KafkaRawResponse> answer;
        connection.send(std::make_unique<TestRequest>(3, connection.nextCorrelationId(), 0, 12), this,
            [&](KafkaResult<KafkaRawResponse> result) {
                ++calls;
                answer = std::move(result);
            });
        connection.connectToHost();

        if (code == 0) {
            QVERIFY(ready.wait(5000));
            QCOMPARE(connection.state(), KafkaConnection::State::Ready);
            QVERIFY(proofValid);
            QCOMPARE(expectedMechanism,
                mechanism == int(Config::SaslMechanism::ScramSha512) ? "SCRAM-SHA-512" : "SCRAM-SHA-256");
            QString escaped = user;
            escaped.replace("=", "=3D").replace(",", "=2C");
            QVERIFY(clientFirstBare.startsWith("n=" + escaped.toUtf8() + ",r="));
            QTRY_COMPARE(calls, 1);
            // The queued request waited for the whole exchange.
            QList<std::int16_t> keys;
            for (const auto& frame : broker.frames())
                keys.append(frame.apiKey);
            QCOMPARE(keys, QList<std::int16_t>({ 18, 17, 36, 36, 3 }));
            return;
        }
        QTRY_COMPARE(connection.state(), KafkaConnection::State::Disconnected);
        QTest::qWait(50);
        QCOMPARE(ready.size(), 0);
        // The queued request receives the failure, nothing else does.
        QCOMPARE(calls, 1);
        QCOMPARE(errors.size(), 0);
        QVERIFY(answer.isError());
        QCOMPARE(int(answer.error().code), code);
        QCOMPARE(answer.error().message, message);
    }

    void scramFailureWithNothingQueuedIsReportedOnce()
    {
        FakeBroker broker;
        broker.onFrame = [&](const FakeBroker::Frame& frame) {
            if (frame.apiKey == 17) {
                broker.reply(frame.correlationId, FakeBroker::handshakePayload(0, { "SCRAM-SHA-256" }));
            } else {
                const QByteArray clientNonce = scramAttributes(FakeBroker::authBytes(frame).mid(3))["r"];
                broker.reply(frame.correlationId,
                    saslAuthenticatePayload(0, QString(), "r=" + clientNonce + ",s=c2FsdA==,i=4096"));
                broker.hangUp();
            }
        };
        Config::Cluster cluster;
        cluster.authentication = Config::Authentication::Sasl;
        cluster.authenticationSasl
            = Config::SaslAuthentication { Config::SaslMechanism::ScramSha256, {}, {}, "user", "secret" };
        KafkaConnection connection("127.0.0.1", broker.port(), "fake-test", cluster);
        QSignalSpy errors(&connection, &KafkaConnection::connectionError);
        connection.connectToHost();
        QVERIFY(errors.wait(5000));
        QTest::qWait(100);
        QCOMPARE(errors.size(), 1);
        const auto error = errors[0][0].value<KafkaError>();
        QCOMPARE(error.code, KafkaErrorCode::SaslAuthenticationError);
        QVERIFY2(error.message.contains("nonce"), qPrintable(error.message));
    }

    void plainExchange_data()
    {
        QTest::addColumn<int>("handshakeError");
        QTest::addColumn<int>("authenticateError");
        QTest::addColumn<bool>("configured");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");

        QTest::newRow("accepted") << 0 << 0 << true << 0 << QString();
        QTest::newRow("wrong password")
            << 0 << 58 << true << int(KafkaErrorCode::SaslAuthenticationFailed)
            << "Authentication failed: Invalid username or password";
        QTest::newRow("mechanism not enabled")
            << 33 << 0 << true << int(KafkaErrorCode::UnsupportedSaslMechanism)
            << "The broker does not support the selected SASL authentication mechanism. The supported mechanisms "
               "are: SCRAM-SHA-256, SCRAM-SHA-512";
        QTest::newRow("other handshake error") << 34 << 0 << true << int(KafkaErrorCode::IllegalSaslState)
                                               << "The broker responded with an error to the SASL handshake.";
        QTest::newRow("no SASL settings") << 0 << 0 << false << int(KafkaErrorCode::SaslAuthenticationError)
                                          << "The SASL authentication configuration was not found.";
    }

    void plainExchange()
    {
        QFETCH(int, handshakeError);
        QFETCH(int, authenticateError);
        QFETCH(bool, configured);
        QFETCH(int, code);
        QFETCH(QString, message);

        FakeBroker broker;
        QByteArray authBytes;
        broker.onFrame = [&](const FakeBroker::Frame& frame) {
            if (frame.apiKey == 17) {
                broker.reply(frame.correlationId,
                    FakeBroker::handshakePayload(std::int16_t(handshakeError), { "SCRAM-SHA-256", "SCRAM-SHA-512" }));
            } else if (frame.apiKey == 36) {
                authBytes = FakeBroker::authBytes(frame);
                broker.reply(frame.correlationId,
                    saslAuthenticatePayload(std::int16_t(authenticateError),
                        authenticateError != 0 ? message : QString(), QByteArray()));
                if (authenticateError != 0)
                    broker.hangUp(); // as a broker does after a failed authentication
            }
        };
        Config::Cluster cluster;
        cluster.authentication = Config::Authentication::Sasl;
        if (configured)
            cluster.authenticationSasl
                = Config::SaslAuthentication { Config::SaslMechanism::Plain, "plain-user", "plain-password", {}, {} };
        KafkaConnection connection("127.0.0.1", broker.port(), "fake-test", cluster);
        QSignalSpy ready(&connection, &KafkaConnection::connectionReady);
        QSignalSpy errors(&connection, &KafkaConnection::connectionError);
        connection.connectToHost();

        if (code == 0) {
            QVERIFY(ready.wait(5000));
            QCOMPARE(authBytes, QByteArray("\0plain-user\0plain-password", 26));
            return;
        }
        QVERIFY(errors.wait(5000));
        QTest::qWait(100);
        QCOMPARE(errors.size(), 1);
        const auto error = errors[0][0].value<KafkaError>();
        QCOMPARE(int(error.code), code);
        QCOMPARE(error.message, message);
        QCOMPARE(connection.state(), KafkaConnection::State::Disconnected);
    }
};

QTEST_GUILESS_MAIN(KafkaConnectionSaslTest)
#include "KafkaConnectionSaslTest.moc"
