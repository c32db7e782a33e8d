#include "KafkaTestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>

#include <atomic>

#include <unistd.h>

KafkaTestEnvironment KafkaTestEnvironment::fromProcessEnvironment()
{
    using enum Feature;
    KafkaTestEnvironment e;
    e.m_plaintext = e.read("SKELVANE_KAFKA_PLAINTEXT", Broker);
    e.m_saslPlaintext = e.read("SKELVANE_KAFKA_SASL_PLAINTEXT", Broker);
    e.m_saslPlainOnly = qEnvironmentVariable("SKELVANE_KAFKA_SASL_PLAIN_ONLY");
    e.m_ssl = e.read("SKELVANE_KAFKA_SSL", Broker);
    e.m_saslSsl = e.read("SKELVANE_KAFKA_SASL_SSL", Broker);
    e.m_caFile = e.read("SKELVANE_KAFKA_CA_FILE", Broker);
    e.m_plain = { e.read("SKELVANE_KAFKA_PLAIN_USER", Broker), e.read("SKELVANE_KAFKA_PLAIN_PASSWORD", Broker) };
    e.m_scram256 = { e.read("SKELVANE_KAFKA_SCRAM256_USER", Broker), e.read("SKELVANE_KAFKA_SCRAM256_PASSWORD", Broker) };
    e.m_scram512 = { e.read("SKELVANE_KAFKA_SCRAM512_USER", Broker), e.read("SKELVANE_KAFKA_SCRAM512_PASSWORD", Broker) };
    e.m_scramOdd = { e.read("SKELVANE_KAFKA_SCRAM_ODD_USER", Broker), e.read("SKELVANE_KAFKA_SCRAM_ODD_PASSWORD", Broker) };
    e.m_mtls = e.read("SKELVANE_KAFKA_MTLS", MutualTls);
    e.m_ecClient = { e.read("SKELVANE_KAFKA_CLIENT_EC_CERT", MutualTls), e.read("SKELVANE_KAFKA_CLIENT_EC_KEY", MutualTls), {} };
    e.m_rsaClient = { e.read("SKELVANE_KAFKA_CLIENT_RSA_CERT", MutualTls), e.read("SKELVANE_KAFKA_CLIENT_RSA_KEY", MutualTls),
        e.read("SKELVANE_KAFKA_CLIENT_RSA_KEY_PASSPHRASE", MutualTls) };
    e.m_script = e.read("SKELVANE_KAFKA_SCRIPT", Restart);
    e.m_state = qEnvironmentVariable("SKELVANE_KAFKA_STATE");
    e.m_clusterBootstrap = e.read("SKELVANE_KAFKA_CLUSTER_BOOTSTRAP", Cluster);
    e.m_clusterBrokers = e.read("SKELVANE_KAFKA_CLUSTER_BROKERS", Cluster);
    e.m_clusterScript = e.read("SKELVANE_KAFKA_CLUSTER_SCRIPT", ClusterRestart);
    e.m_clusterState = e.read("SKELVANE_KAFKA_CLUSTER_STATE", ClusterRestart);
    return e;
}

QString KafkaTestEnvironment::read(const char* name, Feature feature)
{
    const QString value = qEnvironmentVariable(name);
    if (value.isEmpty())
        m_missing[size_t(feature)].append(QString::fromLatin1(name));
    return value;
}

QStringList KafkaTestEnvironment::missing(Feature feature) const
{
    if (feature == Feature::Broker || feature == Feature::Cluster)
        return m_missing[size_t(feature)];
    const Feature base = feature == Feature::ClusterRestart ? Feature::Cluster : Feature::Broker;
    return m_missing[size_t(base)] + m_missing[size_t(feature)];
}

QString KafkaTestEnvironment::unavailableReason(Feature feature) const
{
    const bool cluster = feature == Feature::Cluster || feature == Feature::ClusterRestart;
    return QStringLiteral("No %1 (missing %2); start it with scripts/kafka %3 and load its variables with "
                          "eval \"$(scripts/kafka %4)\"")
        .arg(cluster ? "three-broker Kafka test cluster" : "Kafka test broker for this test",
            missing(feature).join(QStringLiteral(", ")), cluster ? "start-cluster" : "start",
            cluster ? "env-cluster" : "env");
}

bool KafkaTestEnvironment::brokerRequired() { return qEnvironmentVariable("SKELVANE_REQUIRE_BROKER") == "1"; }

bool KafkaTestEnvironment::ownBroker() const
{
    const QString shared = QStringLiteral("%1/skelvane-kafka-%2")
                               .arg(qEnvironmentVariable("TMPDIR", QStringLiteral("/tmp")), QString::number(getuid()));
    return !m_state.isEmpty() && QDir::cleanPath(m_state) != QDir::cleanPath(shared);
}

QString KafkaTestEnvironment::restartBroker() const
{
    // Stopping may take the script 40 s and starting 90 s.
    return runScript(m_script, { QStringLiteral("restart") }, 180'000);
}

bool KafkaTestEnvironment::ownCluster() const
{
    const QString shared = QStringLiteral("%1/skelvane-kafka-%2-cluster")
                               .arg(qEnvironmentVariable("TMPDIR", QStringLiteral("/tmp")), QString::number(getuid()));
    return !m_clusterState.isEmpty() && QDir::cleanPath(m_clusterState) != QDir::cleanPath(shared);
}

QString KafkaTestEnvironment::killClusterNode(int node) const
{
    return runScript(m_clusterScript, { QStringLiteral("kill-cluster-node"), QString::number(node) }, 30'000);
}

QString KafkaTestEnvironment::startClusterNode(int node) const
{
    return runScript(m_clusterScript, { QStringLiteral("start-cluster-node"), QString::number(node) }, 120'000);
}

// The script reaches the broker or cluster of the SKELVANE_KAFKA_* variables
// that this process has.
QString KafkaTestEnvironment::runScript(const QString& script, const QStringList& arguments, int timeoutMs) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(script, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QStringLiteral("%1 %2 failed: %3")
            .arg(script, arguments.join(' '), process.errorString() + " " + QString::fromLocal8Bit(process.readAll()).trimmed());
    return {};
}

QString KafkaTestEnvironment::uniqueTopicName(const QString& prefix)
{
    static std::atomic<quint64> counter { 0 };
    return QStringLiteral("%1-%2-%3-%4")
        .arg(prefix, QString::number(QCoreApplication::applicationPid()), QString::number(++counter),
            QString::number(QRandomGenerator::global()->generate(), 16));
}
