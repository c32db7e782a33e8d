#pragma once

#include <QString>
#include <QStringList>
#include <QTest>

#include <array>

// The test brokers as `scripts/kafka env` and `scripts/kafka env-cluster`
// describe them through SKELVANE_KAFKA_* variables: a listener address
// (host:port) per security protocol of the single broker, the CA of its TLS
// listeners, its SASL users, the client certificates of its mutual-TLS
// listener, the script that restarts it, and the three-broker cluster with
// the script that kills and starts its nodes.
class KafkaTestEnvironment {
public:
    struct Credentials {
        QString user;
        QString password;
    };
    // PEM files; keyPassphrase is empty when the key is not encrypted.
    struct ClientCertificate {
        QString certificateFile;
        QString keyFile;
        QString keyPassphrase;
    };
    // Each is there when all of its variables are set; MutualTls and Restart
    // include the variables of Broker, ClusterRestart those of Cluster.
    enum class Feature { Broker, MutualTls, Restart, Cluster, ClusterRestart };

    static KafkaTestEnvironment fromProcessEnvironment();

    bool available(Feature feature = Feature::Broker) const { return missing(feature).isEmpty(); }
    QString unavailableReason(Feature feature = Feature::Broker) const;
    // SKELVANE_REQUIRE_BROKER=1 turns a missing broker from a skip into a failure.
    static bool brokerRequired();
    // Whether the broker has a state directory of its own, so that a test may
    // restart it; the shared default broker is never restarted.
    bool ownBroker() const;
    // Stops the broker and starts it again on the same ports with the same
    // data; returns once every listener answers. An error text, empty on success.
    QString restartBroker() const;
    // Whether the cluster has a state directory of its own, so that a test
    // may kill and start its nodes; the shared default one is left alone.
    bool ownCluster() const;
    // Kills the cluster node (1-3) as a crash does and returns once it is
    // gone; starts it again on the same ports with the same data and returns
    // once it answers. An error text, empty on success.
    QString killClusterNode(int node) const;
    QString startClusterNode(int node) const;

    // A topic or group name of its own: the prefix, the process id, a counter
    // and a random number.
    static QString uniqueTopicName(const QString& prefix);

    QString plaintext() const { return m_plaintext; }
    QString saslPlaintext() const { return m_saslPlaintext; }
    // SASL_PLAINTEXT offering PLAIN alone; empty when not set.
    QString saslPlainOnly() const { return m_saslPlainOnly; }
    QString ssl() const { return m_ssl; }
    QString saslSsl() const { return m_saslSsl; }
    QString caFile() const { return m_caFile; }
    Credentials plain() const { return m_plain; }
    Credentials scram256() const { return m_scram256; }
    Credentials scram512() const { return m_scram512; }
    Credentials scramOdd() const { return m_scramOdd; } // a SCRAM-SHA-256 user with ',' and '='
    // Accepts only clients with a certificate signed by caFile(); the RSA key is encrypted.
    QString mtls() const { return m_mtls; }
    ClientCertificate ecClient() const { return m_ecClient; }
    ClientCertificate rsaClient() const { return m_rsaClient; }
    QString clusterBootstrap() const { return m_clusterBootstrap; }
    // Every node's address, comma-separated, in node id order.
    QString clusterBrokers() const { return m_clusterBrokers; }

private:
    QString read(const char* name, Feature feature);
    QStringList missing(Feature feature) const;

    QString runScript(const QString& script, const QStringList& arguments, int timeoutMs) const;

    std::array<QStringList, 5> m_missing; // by Feature
    QString m_plaintext, m_saslPlaintext, m_saslPlainOnly, m_ssl, m_saslSsl, m_caFile, m_mtls, m_script, m_state;
    QString m_clusterBootstrap, m_clusterBrokers, m_clusterScript, m_clusterState;
    Credentials m_plain, m_scram256, m_scram512, m_scramOdd;
    ClientCertificate m_ecClient, m_rsaClient;
};

// Skips a test whose feature lacks variables, or fails it when SKELVANE_REQUIRE_BROKER=1.
#define SKELVANE_REQUIRE_KAFKA(environment, feature)                                                      \
    do {                                                                                                  \
        if (!(environment).available(feature)) {                                                          \
            const QByteArray skelvaneBrokerReason = (environment).unavailableReason(feature).toUtf8();    \
            if (KafkaTestEnvironment::brokerRequired())                                                   \
                QFAIL(skelvaneBrokerReason.constData());                                                  \
            QSKIP(skelvaneBrokerReason.constData());                                                      \
        }                                                                                                 \
    } while (false)

#define SKELVANE_REQUIRE_KAFKA_BROKER(environment) \
    SKELVANE_REQUIRE_KAFKA(environment, KafkaTestEnvironment::Feature::Broker)

// Opens a test that kills and starts cluster nodes: it skips against the
// shared cluster.
#define SKELVANE_REQUIRE_KAFKA_CLUSTER_RESTART(environment)                                                   \
    do {                                                                                                      \
        SKELVANE_REQUIRE_KAFKA(environment, KafkaTestEnvironment::Feature::ClusterRestart);                   \
        if (!(environment).ownCluster())                                                                      \
            QSKIP("Kills nodes only of a cluster with a state directory of its own, never the shared one");  \
    } while (false)

// Opens a test that restarts the broker: it skips against the shared one.
#define SKELVANE_REQUIRE_KAFKA_RESTART(environment)                                                    \
    do {                                                                                               \
        SKELVANE_REQUIRE_KAFKA(environment, KafkaTestEnvironment::Feature::Restart);                   \
        if (!(environment).ownBroker())                                                                \
            QSKIP("Restarts only a broker with a state directory of its own, never the shared one"); \
    } while (false)
