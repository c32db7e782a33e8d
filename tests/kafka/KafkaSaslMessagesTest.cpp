#include "KafkaSaslHandshakeRequest.h"
#include "KafkaSaslHandshakeResponse.h"
#include "KafkaSaslPlainAuthenticateRequest.h"
#include "KafkaSaslPlainAuthenticateResponse.h"
#include "KafkaSaslScramFinalRequest.h"
#include "KafkaSaslScramFinalResponse.h"
#include "KafkaSaslScramFirstRequest.h"
#include "KafkaSaslScramFirstResponse.h"
#include "MessageImages.h"
#include "TestBytes.h"

#include <QTest>

namespace {

QByteArray handshakeImage()
{
    return hexBytes("00 00 00 07"
                    "00 00"
                    "00 00 00 02"
                    "00 05 50 4C 41 49 4E"
                    "00 0D 53 43 52 41 4D 2D 53 48 41 2D 32 35 36");
}

QByteArray plainImage()
{
    return hexBytes("00 00 00 07  00 3A  00 03 62 61 64  00 00 00 02 01 02");
}

// A SaslAuthenticate response with correlation id 7.
QByteArray authenticateImage(std::int16_t errorCode, const QString& errorMessage, const QByteArray& authBytes)
{
    return ResponseImage().s32(7).raw(saslAuthenticatePayload(errorCode, errorMessage, authBytes)).data();
}

QByteArray scramFirstImage()
{
    return hexBytes("00 00 00 07  00 00  FF FF  00 00 00 1A") + QByteArray("r=abcXYZ,s=c2FsdA==,i=4096");
}

QByteArray scramFinalImage()
{
    return hexBytes("00 00 00 07  00 00  FF FF  00 00 00 0E") + QByteArray("v=c2lnbmF0dXJl");
}

void addRejectionColumns()
{
    QTest::addColumn<QByteArray>("authBytes");
    QTest::addColumn<KafkaErrorCode>("code");
    QTest::addColumn<QString>("message");
}

template <typename Response>
void verifyRejection()
{
    QFETCH(QByteArray, authBytes);
    QFETCH(KafkaErrorCode, code);
    QFETCH(QString, message);
    const auto result = parseImage<Response>(0, authenticateImage(0, QString(), authBytes));
    QVERIFY(result.isError());
    QCOMPARE(result.error().code, code);
    QCOMPARE(result.error().message, message);
    QVERIFY(result.error().causes.isEmpty());
}

void addProtocolErrorRows()
{
    QTest::addColumn<qint16>("errorCode");
    QTest::addColumn<QString>("errorMessage");
    QTest::addColumn<KafkaErrorCode>("code");

    QTest::newRow("authentication failed") << qint16(58) << QString("Authentication failed: %1 invalid credentials")
                                           << KafkaErrorCode::SaslAuthenticationFailed;
    QTest::newRow("unsupported mechanism") << qint16(33) << QString("Unsupported") << KafkaErrorCode::UnsupportedSaslMechanism;
    QTest::newRow("unknown server error") << qint16(-1) << QString("x") << KafkaErrorCode::UnknownServerError;
    QTest::newRow("code out of the known range") << qint16(100) << QString("y") << KafkaErrorCode::UnknownServerError;
}

// A broker error fails the parse with the mapped code and the broker's text,
// whatever the SCRAM payload holds.
template <typename Response>
void verifyProtocolError(const QByteArray& validPayload)
{
    QFETCH(qint16, errorCode);
    QFETCH(QString, errorMessage);
    QFETCH(KafkaErrorCode, code);
    const auto result = parseImage<Response>(0, authenticateImage(errorCode, errorMessage, validPayload));
    QVERIFY(result.isError());
    QCOMPARE(result.error().code, code);
    QCOMPARE(result.error().message, errorMessage);
}

} // namespace

class KafkaSaslMessagesTest : public QObject {
    Q_OBJECT

private slots:
    void requestFrames_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("handshake PLAIN")
            << requestFrame(KafkaSaslHandshakeRequest(7, "ab", "PLAIN"), 1)
            << hexBytes("00 00 00 13  00 11 00 01 00 00 00 07 00 02 61 62  00 05 50 4C 41 49 4E");
        QTest::newRow("handshake SCRAM-SHA-512")
            << requestFrame(KafkaSaslHandshakeRequest(7, "ab", "SCRAM-SHA-512"), 1)
            << hexBytes("00 00 00 1B  00 11 00 01 00 00 00 07 00 02 61 62"
                        "00 0D 53 43 52 41 4D 2D 53 48 41 2D 35 31 32");
        QTest::newRow("PLAIN one-letter credentials")
            << requestFrame(KafkaSaslPlainAuthenticateRequest(7, "ab", "", "u", "p"), 0)
            << hexBytes("00 00 00 14  00 24 00 00 00 00 00 07 00 02 61 62  00 00 00 04 00 75 00 70");
        QTest::newRow("PLAIN with authorization id")
            << requestFrame(KafkaSaslPlainAuthenticateRequest(7, "ab", "a", "user", "pw"), 0)
            << hexBytes("00 00 00 19  00 24 00 00 00 00 00 07 00 02 61 62  00 00 00 09 61 00 75 73 65 72 00 70 77");
        QTest::newRow("SCRAM client-first")
            << requestFrame(KafkaSaslScramFirstRequest(7, "ab", "user", "abc"), 0)
            << hexBytes("00 00 00 1F  00 24 00 00 00 00 00 07 00 02 61 62  00 00 00 0F") + QByteArray("n,,n=user,r=abc");
        QTest::newRow("SCRAM client-final")
            << requestFrame(KafkaSaslScramFinalRequest(7, "ab", "abcXYZ", hexBytes("01 02 03 04")), 0)
            << hexBytes("00 00 00 2A  00 24 00 00 00 00 00 07 00 02 61 62  00 00 00 1A")
                + QByteArray("c=biws,r=abcXYZ,p=AQIDBA==");
    }

    void requestFrames()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, expected);
        QCOMPARE(spacedHex(frame), spacedHex(expected));
    }

    void onlySaslRequestsMayAuthenticate()
    {
        QVERIFY(KafkaSaslHandshakeRequest(1, "c", "PLAIN").isAuthenticationRequest());
        QVERIFY(KafkaSaslPlainAuthenticateRequest(1, "c", "", "u", "p").isAuthenticationRequest());
        QVERIFY(KafkaSaslScramFirstRequest(1, "c", "u", "n").isAuthenticationRequest());
        QVERIFY(KafkaSaslScramFinalRequest(1, "c", "n", "p").isAuthenticationRequest());
    }

    void clientFirstMessageBare_data()
    {
        QTest::addColumn<QString>("username");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("plain name") << QString("user") << QByteArray("n=user,r=N0nce");
        QTest::newRow("equals sign") << QString("a=b") << QByteArray("n=a=3Db,r=N0nce");
        QTest::newRow("comma") << QString("a,b") << QByteArray("n=a=2Cb,r=N0nce");
        QTest::newRow("both, equals first") << QString("=,") << QByteArray("n==3D=2C,r=N0nce");
        QTest::newRow("escape already present") << QString("x=2C") << QByteArray("n=x=3D2C,r=N0nce");
        QTest::newRow("UTF-8") << QString::fromUtf8("\xC3\xBC") << QByteArray("n=\xC3\xBC,r=N0nce");
    }

    void clientFirstMessageBare()
    {
        QFETCH(QString, username);
        QFETCH(QByteArray, expected);
        QCOMPARE(KafkaSaslScramFirstRequest(1, "c", username, "N0nce").clientFirstMessageBare, expected);
    }

    void clientFinalMessageWithoutProof()
    {
        QCOMPARE(KafkaSaslScramFinalRequest::clientFinalMessageWithoutProof("abcXYZ"), QByteArray("c=biws,r=abcXYZ"));
    }

    void handshakeResponse()
    {
        const auto result = parseImage<KafkaSaslHandshakeResponse>(1, handshakeImage());
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        QCOMPARE(result.value().correlationId, 7);
        QCOMPARE(result.value().errorCode, KafkaProtocolError::None);
        QCOMPARE(result.value().mechanisms, (QList<QString> { "PLAIN", "SCRAM-SHA-256" }));

        // The error code is data for the connection, not a parse failure.
        const auto rejected = parseImage<KafkaSaslHandshakeResponse>(1, hexBytes("00 00 00 08  00 21  00 00 00 00"));
        QVERIFY2(rejected.hasValue(), qPrintable(failureText(rejected)));
        QCOMPARE(rejected.value().errorCode, KafkaProtocolError::UnsupportedSaslMechanism);
        QVERIFY(rejected.value().mechanisms.isEmpty());
    }

    void plainResponse()
    {
        const auto failed = parseImage<KafkaSaslPlainAuthenticateResponse>(0, plainImage());
        QVERIFY2(failed.hasValue(), qPrintable(failureText(failed)));
        QCOMPARE(failed.value().correlationId, 7);
        QCOMPARE(failed.value().errorCode, KafkaProtocolError::SaslAuthenticationFailed);
        QCOMPARE(failed.value().errorMessage, QString("bad"));
        QCOMPARE(failed.value().authBytes, hexBytes("01 02"));

        const auto accepted = parseImage<KafkaSaslPlainAuthenticateResponse>(0, hexBytes("00 00 00 07  00 00  FF FF  00 00 00 00"));
        QVERIFY2(accepted.hasValue(), qPrintable(failureText(accepted)));
        QCOMPARE(accepted.value().errorCode, KafkaProtocolError::None);
        QVERIFY(accepted.value().errorMessage.isNull());
        QVERIFY(accepted.value().authBytes.isNull());
    }

    void damagedHandshakeResponse_data()
    {
        addDamagedImageColumns();
        addDamagedImageRows("v1", 1, handshakeImage());
    }

    void damagedHandshakeResponse() { verifyDamagedImageFails<KafkaSaslHandshakeResponse>("Invalid SaslHandshake response"); }

    void damagedPlainResponse_data()
    {
        addDamagedImageColumns();
        addDamagedImageRows("v0", 0, plainImage());
    }

    void damagedPlainResponse() { verifyDamagedImageFails<KafkaSaslPlainAuthenticateResponse>("Invalid SaslAuthenticate response"); }

    void damagedScramFirstResponse_data()
    {
        addDamagedImageColumns();
        addDamagedImageRows("v0", 0, scramFirstImage());
    }

    void damagedScramFirstResponse() { verifyDamagedImageFails<KafkaSaslScramFirstResponse>("Invalid SaslScramFirst response"); }

    void damagedScramFinalResponse_data()
    {
        addDamagedImageColumns();
        addDamagedImageRows("v0", 0, scramFinalImage());
    }

    void damagedScramFinalResponse() { verifyDamagedImageFails<KafkaSaslScramFinalResponse>("Invalid SaslScramFinal response"); }

    void scramFirstAccepted_data()
    {
        QTest::addColumn<QByteArray>("authBytes");

        QTest::newRow("r s i") << QByteArray("r=abcXYZ,s=c2FsdA==,i=4096");
        QTest::newRow("i s r") << QByteArray("i=4096,s=c2FsdA==,r=abcXYZ");
        QTest::newRow("s i r") << QByteArray("s=c2FsdA==,i=4096,r=abcXYZ");
        QTest::newRow("later attribute replaces earlier") << QByteArray("r=old,i=1,s=c2FsdA==,r=abcXYZ,i=4096");
    }

    void scramFirstAccepted()
    {
        QFETCH(QByteArray, authBytes);
        const auto result = parseImage<KafkaSaslScramFirstResponse>(0, authenticateImage(0, QString(), authBytes));
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        QCOMPARE(result.value().correlationId, 7);
        QCOMPARE(result.value().authBytes, authBytes);
        QCOMPARE(result.value().nonce, QString("abcXYZ"));
        QCOMPARE(result.value().salt, QByteArray("salt"));
        QCOMPARE(result.value().iterationCount, 4096);
    }

    void scramFirstRejected_data()
    {
        addRejectionColumns();
        const KafkaErrorCode corrupt = KafkaErrorCode::CorruptMessage;
        const QString unhandled("Unhandled SASL SCRAM attribute in the first server response: %1");
        const QString invalidCount("Invalid SASL SCRAM iteration count: %1");
        const QString countMissing("SASL SCRAM iteration count missing in the first server response");

        QTest::newRow("empty payload") << QByteArray() << corrupt << QString("Empty SASL SCRAM first server response payload");
        QTest::newRow("extension attribute") << QByteArray("r=abc,s=c2FsdA==,i=4096,m=ext") << corrupt << unhandled.arg("m=ext");
        QTest::newRow("unhandled attribute stops the parse") << QByteArray("x=1,i=nan") << corrupt << unhandled.arg("x=1");
        QTest::newRow("percent sign in an attribute stays literal")
            << QByteArray("r=abc,x=%1%2") << corrupt << QString("Unhandled SASL SCRAM attribute in the first server response: x=%1%2");
        QTest::newRow("count not a number") << QByteArray("r=abc,s=c2FsdA==,i=40x6") << corrupt << invalidCount.arg("i=40x6");
        QTest::newRow("count empty") << QByteArray("r=abc,s=c2FsdA==,i=") << corrupt << invalidCount.arg("i=");
        QTest::newRow("count beyond 32 bits") << QByteArray("r=abc,s=c2FsdA==,i=2147483648") << corrupt
                                              << invalidCount.arg("i=2147483648");
        QTest::newRow("count zero") << QByteArray("r=abc,s=c2FsdA==,i=0") << corrupt << countMissing;
        QTest::newRow("count negative") << QByteArray("r=abc,s=c2FsdA==,i=-4096") << corrupt << countMissing;
        QTest::newRow("count absent") << QByteArray("r=abc,s=c2FsdA==") << corrupt << countMissing;
        QTest::newRow("salt absent") << QByteArray("r=abc,i=4096") << corrupt
                                     << QString("SASL SCRAM salt missing in the first server response");
        QTest::newRow("salt empty") << QByteArray("r=abc,s=,i=4096") << corrupt
                                    << QString("SASL SCRAM salt missing in the first server response");
        QTest::newRow("nonce and salt absent") << QByteArray("i=4096") << corrupt
                                               << QString("SASL SCRAM nonce missing in the first server response");
    }

    void scramFirstRejected() { verifyRejection<KafkaSaslScramFirstResponse>(); }

    void scramFirstProtocolError_data() { addProtocolErrorRows(); }

    void scramFirstProtocolError() { verifyProtocolError<KafkaSaslScramFirstResponse>("r=abcXYZ,s=c2FsdA==,i=4096"); }

    void scramFinalAccepted()
    {
        const auto result = parseImage<KafkaSaslScramFinalResponse>(0, scramFinalImage());
        QVERIFY2(result.hasValue(), qPrintable(failureText(result)));
        QCOMPARE(result.value().correlationId, 7);
        QCOMPARE(result.value().authBytes, QByteArray("v=c2lnbmF0dXJl"));
        QCOMPARE(result.value().serverSignature, QByteArray("signature"));
    }

    void scramFinalRejected_data()
    {
        addRejectionColumns();
        const KafkaErrorCode corrupt = KafkaErrorCode::CorruptMessage;
        const KafkaErrorCode sasl = KafkaErrorCode::SaslAuthenticationError;
        const QString serverError("The server returned a SASL SCRAM authentication error: %1");
        const QString signatureMissing("SASL SCRAM server signature missing in the first server response");

        QTest::newRow("server error") << QByteArray("e=invalid-proof") << sasl << serverError.arg("invalid-proof");
        QTest::newRow("server error after a signature") << QByteArray("v=c2lnbmF0dXJl,e=other-error") << sasl
                                                        << serverError.arg("other-error");
        QTest::newRow("server error before a signature") << QByteArray("e=other-error,v=c2lnbmF0dXJl") << sasl
                                                         << serverError.arg("other-error");
        QTest::newRow("percent sign in the server error stays literal")
            << QByteArray("e=bad %1 and %2") << sasl
            << QString("The server returned a SASL SCRAM authentication error: bad %1 and %2");
        QTest::newRow("empty message") << QByteArray() << corrupt
                                       << QString("Unhandled SASL SCRAM attribute in the final server response: ");
        QTest::newRow("unhandled attribute") << QByteArray("v=c2ln,x=1") << corrupt
                                             << QString("Unhandled SASL SCRAM attribute in the final server response: x=1");
        QTest::newRow("signature empty") << QByteArray("v=") << corrupt << signatureMissing;
        QTest::newRow("empty server error, no signature") << QByteArray("e=") << corrupt << signatureMissing;
    }

    void scramFinalRejected() { verifyRejection<KafkaSaslScramFinalResponse>(); }

    void scramFinalProtocolError_data() { addProtocolErrorRows(); }

    void scramFinalProtocolError() { verifyProtocolError<KafkaSaslScramFinalResponse>("v=c2lnbmF0dXJl"); }
};

QTEST_GUILESS_MAIN(KafkaSaslMessagesTest)
#include "KafkaSaslMessagesTest.moc"
