#include "KafkaSaslScramProof.h"

#include <QMessageAuthenticationCode>
#include <QPasswordDigestor>

KafkaSaslScramProof KafkaSaslScramProof::compute(QCryptographicHash::Algorithm algorithm, const QByteArray& password,
    const QByteArray& salt, int iterationCount, const QByteArray& authMessage)
{
    const int length = QCryptographicHash::hashLength(algorithm);
    const QByteArray saltedPassword
        = QPasswordDigestor::deriveKeyPbkdf2(algorithm, password, salt, iterationCount, static_cast<quint64>(length));
    const QByteArray clientKey = QMessageAuthenticationCode::hash("Client Key", saltedPassword, algorithm);
    const QByteArray storedKey = QCryptographicHash::hash(clientKey, algorithm);
    const QByteArray clientSignature = QMessageAuthenticationCode::hash(authMessage, storedKey, algorithm);

    KafkaSaslScramProof proof;
    proof.clientProof = clientKey;
    for (qsizetype i = 0; i < proof.clientProof.size() && i < clientSignature.size(); ++i)
        proof.clientProof[i] = static_cast<char>(clientKey[i] ^ clientSignature[i]);

    const QByteArray serverKey = QMessageAuthenticationCode::hash("Server Key", saltedPassword, algorithm);
    proof.serverSignature = QMessageAuthenticationCode::hash(authMessage, serverKey, algorithm);
    return proof;
}
