#pragma once

#include <QString>
#include <QStringList>
#include <QTest>

#include <array>
#include <cstddef>

// The test brokers as `scripts/kafka env` and `scripts/kafka env-cluster`
// describe them through SKELVANE_KAFKA_* variables: one listener address
// (host:port) per security protocol of the single broker, the CA certificate
// of its TLS listeners, its SASL users, its listener that requires a client
// certificate with the certificates to present there, the script that
// restarts it, and the addresses of the three-broker cluster.
class KafkaTestEnvironment {
public:
    struct Credentials {
        QString user;
        QString password;
    };

    // A client certificate and its private key, both PEM files.
    struct ClientCertificate {
        QString certificateFile;
        QString keyFile;
        // Empty when the key is not encrypted.
        QString keyPassphrase;
    };

    // What a test may rely on. Each is there when all of its variables are set;
    // MutualTls and Restart include the variables of Broker.
    enum class Feature {
        Broker,
        MutualTls,
        Restart,
        Cluster,
    };

    // Reads the variables of the running process.
    static KafkaTestEnvironment fromProcessEnvironment();

    bool available(Feature feature = Feature::Broker) const { return missingVariables(feature).isEmpty(); }
    QStringList missingVariables(Feature feature = Feature::Broker) const;
    QString unavailableReason(Feature feature = Feature::Broker) const;

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

    // The TLS listener that accepts only clients presenting a certificate
    // signed by caFile(); ecClient() has an unencrypted P-256 key, rsaClient()
    // an RSA key encrypted with its passphrase.
    QString mtls() const { return m_mtls; }
    ClientCertificate ecClient() const { return m_ecClient; }
    ClientCertificate rsaClient() const { return m_rsaClient; }

    QString script() const { return m_script; }

    // Stops the single broker and starts it again on the same ports with the
    // same data, users and certificates; returns once every listener answers.
    // Other tests using the broker meanwhile see it go away. Returns an error
    // text, empty on success.
    QString restartBroker() const;

    // The cluster's first broker, and all three brokers in node id order.
    QString clusterBootstrap() const { return m_clusterBootstrap; }
    QStringList clusterBrokers() const { return m_clusterBrokers; }

private:
    QString read(const char* name, Feature feature);

    // The unset variables of each feature, indexed by Feature.
    std::array<QStringList, static_cast<std::size_t>(Feature::Cluster) + 1> m_missing;
    QString m_plaintext;
    QString m_saslPlaintext;
    QString m_ssl;
    QString m_saslSsl;
    QString m_caFile;
    Credentials m_plain;
    Credentials m_scram256;
    Credentials m_scram512;
    Credentials m_scramOdd;
    QString m_mtls;
    ClientCertificate m_ecClient;
    ClientCertificate m_rsaClient;
    QString m_script;
    QString m_clusterBootstrap;
    QStringList m_clusterBrokers;
};

// Opens a test that needs a feature (typically in initTestCase): without its
// variables the test is skipped, or fails when SKELVANE_REQUIRE_BROKER=1.
#define SKELVANE_REQUIRE_KAFKA(environment, feature)                                             \
    do {                                                                                         \
        if (!(environment).available(feature)) {                                                 \
            const QByteArray skelvaneBrokerReason = (environment).unavailableReason(feature).toUtf8(); \
            if (KafkaTestEnvironment::brokerRequired()) {                                        \
                QFAIL(skelvaneBrokerReason.constData());                                         \
            }                                                                                    \
            QSKIP(skelvaneBrokerReason.constData());                                             \
        }                                                                                        \
    } while (false)

#define SKELVANE_REQUIRE_KAFKA_BROKER(environment) \
    SKELVANE_REQUIRE_KAFKA(environment, KafkaTestEnvironment::Feature::Broker)
