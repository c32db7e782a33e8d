#pragma once

#include <QByteArray>
#include <QCryptographicHash>

// The client's proof and the server signature it expects, computed as SCRAM
// (RFC 5802) defines them from the password, the salt and iteration count the
// server sent and the auth message of the exchange.
struct KafkaSaslScramProof {
    // The key derivation costs one HMAC per iteration on the caller's thread:
    // a count above this is refused rather than computed. Kafka itself takes
    // 4096 to 16384.
    static constexpr int MaxIterationCount = 100'000;

    QByteArray clientProof;
    QByteArray serverSignature;

    // `password` is used as it is (no SASLprep). `iterationCount` is at most
    // MaxIterationCount. `authMessage` is
    // client-first-message-bare + "," + server-first-message + "," +
    // client-final-message-without-proof.
    static KafkaSaslScramProof compute(QCryptographicHash::Algorithm algorithm, const QByteArray& password,
        const QByteArray& salt, int iterationCount, const QByteArray& authMessage);
};
