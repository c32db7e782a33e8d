#include "KafkaSaslHandshakeRequest.h"
#include "KafkaSaslHandshakeResponse.h"
#include "KafkaSaslPlainAuthenticateRequest.h"
#include "KafkaSaslPlainAuthenticateResponse.h"
#include "KafkaSaslScramFinalRequest.h"
#include "KafkaSaslScramFinalResponse.h"
#include "KafkaSaslScramFirstRequest.h"
#include "KafkaSaslScramFirstResponse.h"
#include "MessageImages.h"

#include <QTest>

namespace {

// A SaslAuthenticate response with correlation id 7.
QByteArray authenticateImage(const QByteArray& authBytes, std::int16_t errorCode = 0, const QString& errorMessage = QString())
{
    return ResponseImage().s32(7).raw(saslAuthenticatePayload(errorCode, errorMessage, authBytes)).data();
}

} // namespace

class KafkaSaslMessagesTest : public QObject {
    Q_OBJECT

private slots:
    void requests()
    {
        verifyBytes({ { requestFrame(KafkaSaslHandshakeRequest(7, "ab", "PLAIN"), 1),
                          "00 00 00 13  00 11 00 01 00 00 00 07 00 02 61 62  00 05 50 4C 41 49 4E" },
            { requestFrame(KafkaSaslPlainAuthenticateRequest(7, "ab", "", "u", "p"), 0),
                "00 00 00 14  00 24 00 00 00 00 00 07 00 02 61 62  00 00 00 04 00 75 00 70" },
            { requestFrame(KafkaSaslScramFirstRequest(7, "ab", "user", "abc"), 0),
                "00 00 00 1F  00 24 00 00 00 00 00 07 00 02 61 62  00 00 00 0F" + QByteArray("n,,n=user,r=abc").toHex() },
            { requestFrame(KafkaSaslScramFinalRequest(7, "ab", "abcXYZ", hexBytes("01 02 03 04")), 0),
                "00 00 00 2A  00 24 00 00 00 00 00 07 00 02 61 62  00 00 00 1A" + QByteArray("c=biws,r=abcXYZ,p=AQIDBA==").toHex() } });
        // User names escape "=" before ",", once, and are UTF-8.
        const std::pair<QString, QByteArray> names[] = { { "a=b", "n=a=3Db,r=N" }, { "a,b", "n=a=2Cb,r=N" },
            { "=,", "n==3D=2C,r=N" }, { "x=2C", "n=x=3D2C,r=N" }, { QString::fromUtf8("\xC3\xBC"), "n=\xC3\xBC,r=N" } };
        for (const auto& [username, expected] : names)
            QCOMPARE(KafkaSaslScramFirstRequest(1, "c", username, "N").clientFirstMessageBare, expected);
    }

    void responses()
    {
        const QByteArray handshake
            = hexBytes("00 00 00 07  00 00  00 00 00 02  00 05 50 4C 41 49 4E  00 0D 53 43 52 41 4D 2D 53 48 41 2D 32 35 36");
        const auto mechanisms = parseImage<KafkaSaslHandshakeResponse>(1, handshake);
        QVERIFY2(mechanisms.hasValue(), qPrintable(failureText(mechanisms)));
        QCOMPARE(mechanisms.value().mechanisms, (QList<QString> { "PLAIN", "SCRAM-SHA-256" }));
        // The error code is data for the connection, not a parse failure.
        const QByteArray plain = authenticateImage(hexBytes("01 02"), 58, "bad");
        const auto failed = parseImage<KafkaSaslPlainAuthenticateResponse>(0, plain);
        QVERIFY2(failed.hasValue(), qPrintable(failureText(failed)));
        QCOMPARE(failed.value().errorCode, KafkaProtocolError::SaslAuthenticationFailed);
        QCOMPARE(failed.value().errorMessage, QString("bad"));
        QCOMPARE(failed.value().authBytes, hexBytes("01 02"));
        const auto accepted = parseImage<KafkaSaslPlainAuthenticateResponse>(0, authenticateImage(""));
        QVERIFY(accepted.value().errorMessage.isNull() && accepted.value().authBytes.isNull());

        // A later attribute replaces an earlier one.
        const auto first = parseImage<KafkaSaslScramFirstResponse>(0, authenticateImage("r=old,i=1,s=c2FsdA==,r=abcXYZ,i=4096"));
        QVERIFY2(first.hasValue(), qPrintable(failureText(first)));
        QCOMPARE(first.value().nonce, QString("abcXYZ"));
        QCOMPARE(first.value().salt, QByteArray("salt"));
        QCOMPARE(first.value().iterationCount, 4096);
        QCOMPARE(parseImage<KafkaSaslScramFinalResponse>(0, authenticateImage("v=c2lnbmF0dXJl")).value().serverSignature,
            QByteArray("signature"));

        verifyDamagedImageFails<KafkaSaslHandshakeResponse>(1, handshake, "Invalid SaslHandshake response");
        verifyDamagedImageFails<KafkaSaslPlainAuthenticateResponse>(0, plain, "Invalid SaslAuthenticate response");
        verifyDamagedImageFails<KafkaSaslScramFirstResponse>(0, authenticateImage("r=a,s=c2FsdA==,i=1"), "Invalid SaslScramFirst response");
        verifyDamagedImageFails<KafkaSaslScramFinalResponse>(0, authenticateImage("v=c2ln"), "Invalid SaslScramFinal response");
    }

    void scramRejections_data()
    {
        QTest::addColumn<bool>("final");
        QTest::addColumn<QByteArray>("authBytes");
        QTest::addColumn<KafkaErrorCode>("code");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, bool final, const QByteArray& authBytes, const QString& message,
                             KafkaErrorCode code = KafkaErrorCode::CorruptMessage) {
            QTest::newRow(name) << final << authBytes << code << message;
        };
        const QString unhandled("Unhandled SASL SCRAM attribute in the %1 server response: %2");
        const QString invalidCount("Invalid SASL SCRAM iteration count: %1");
        row("empty payload", false, QByteArray(), "Empty SASL SCRAM first server response payload");
        row("extension attribute", false, "r=abc,s=c2FsdA==,i=4096,m=ext", unhandled.arg("first", "m=ext"));
        row("percent sign stays literal", false, "r=abc,x=%1%2", unhandled.arg("first", "x=%1%2"));
        row("count not a number", false, "r=abc,s=c2FsdA==,i=40x6", invalidCount.arg("i=40x6"));
        row("count beyond 32 bits", false, "r=abc,s=c2FsdA==,i=2147483648", invalidCount.arg("i=2147483648"));
        row("count zero", false, "r=abc,s=c2FsdA==,i=0", "SASL SCRAM iteration count missing in the first server response");
        row("salt empty", false, "r=abc,s=,i=4096", "SASL SCRAM salt missing in the first server response");
        row("nonce and salt absent", false, "i=4096", "SASL SCRAM nonce missing in the first server response");
        const KafkaErrorCode sasl = KafkaErrorCode::SaslAuthenticationError;
        const QString serverError("The server returned a SASL SCRAM authentication error: %1");
        const QString signatureMissing("SASL SCRAM server signature missing in the first server response");
        row("server error", true, "e=invalid-proof", serverError.arg("invalid-proof"), sasl);
        row("server error before a signature", true, "e=other-error,v=c2lnbmF0dXJl", serverError.arg("other-error"), sasl);
        row("percent sign in the server error stays literal", true, "e=bad %1 and %2", QString(serverError).replace("%1", "bad %1 and %2"), sasl);
        row("empty final message", true, QByteArray(), unhandled.arg("final", ""));
        row("signature empty", true, "v=", signatureMissing);
        row("empty server error, no signature", true, "e=", signatureMissing);
        // A broker error fails either parse with the mapped code and the broker's text.
        for (const bool final : { false, true }) {
            row("authentication failed", final, "58", "Authentication failed: %1 invalid credentials", KafkaErrorCode::SaslAuthenticationFailed);
            row("code beyond the table", final, "100", "y", KafkaErrorCode::UnknownServerError);
        }
    }

    void scramRejections()
    {
        QFETCH(bool, final);
        QFETCH(QByteArray, authBytes);
        QFETCH(KafkaErrorCode, code);
        QFETCH(QString, message);
        // A numeric payload stands for a broker error code with the message as its text.
        bool isBrokerError = false;
        const int brokerError = authBytes.toInt(&isBrokerError);
        const QByteArray image = isBrokerError ? authenticateImage(final ? "v=c2lnbmF0dXJl" : "r=abcXYZ,s=c2FsdA==,i=4096",
                                                     std::int16_t(brokerError), message)
                                               : authenticateImage(authBytes);
        const KafkaError error = final ? parseImage<KafkaSaslScramFinalResponse>(0, image).error()
                                       : parseImage<KafkaSaslScramFirstResponse>(0, image).error();
        QCOMPARE(error.code, code);
        QCOMPARE(error.message, message);
        QVERIFY(error.causes.isEmpty());
    }
};

QTEST_GUILESS_MAIN(KafkaSaslMessagesTest)
#include "KafkaSaslMessagesTest.moc"
