#pragma once

#include <QString>
#include <QStringList>
#include <QTest>

// The test broker as `scripts/kafka env` describes it through SKELVANE_KAFKA_*
// variables: one listener address (host:port) per security protocol, the CA
// certificate of the TLS listeners and the SASL users.
class KafkaTestEnvironment {
public:
    struct Credentials {
        QString user;
        QString password;
    };

    // Reads the variables of the running process.
    static KafkaTestEnvironment fromProcessEnvironment();

    // True when every variable is set and not empty.
    bool available() const { return m_missing.isEmpty(); }
    QStringList missingVariables() const { return m_missing; }
    QString unavailableReason() const;

    // SKELVANE_REQUIRE_BROKER=1 turns a missing broker from a skip into a failure.
    static bool brokerRequired();

    // A name of its own for a topic or group: the prefix (characters a topic
    // name may not hold become '_'), the process id, a counter and a random
    // number, joined by '-'.
    static QString uniqueTopicName(const QString& prefix);

    QString plaintext() const { return m_plaintext; }
    QString saslPlaintext() const { return m_saslPlaintext; }
    QString ssl() const { return m_ssl; }
    QString saslSsl() const { return m_saslSsl; }
    QString caFile() const { return m_caFile; }
    Credentials plain() const { return m_plain; }
    Credentials scram256() const { return m_scram256; }
    Credentials scram512() const { return m_scram512; }
    Credentials scramOdd() const { return m_scramOdd; }

private:
    QString read(const char* name);

    QStringList m_missing;
    QString m_plaintext;
    QString m_saslPlaintext;
    QString m_ssl;
    QString m_saslSsl;
    QString m_caFile;
    Credentials m_plain;
    Credentials m_scram256;
    Credentials m_scram512;
    Credentials m_scramOdd;
};

// Opens a broker test (typically in initTestCase): without the broker's
// variables the test is skipped, or fails when SKELVANE_REQUIRE_BROKER=1.
#define SKELVANE_REQUIRE_KAFKA_BROKER(environment)                                          \
    do {                                                                                    \
        if (!(environment).available()) {                                                   \
            const QByteArray skelvaneBrokerReason = (environment).unavailableReason().toUtf8(); \
            if (KafkaTestEnvironment::brokerRequired()) {                                   \
                QFAIL(skelvaneBrokerReason.constData());                                    \
            }                                                                               \
            QSKIP(skelvaneBrokerReason.constData());                                        \
        }                                                                                   \
    } while (false)
