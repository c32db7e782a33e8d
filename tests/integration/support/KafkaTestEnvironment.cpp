#include "KafkaTestEnvironment.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRandomGenerator>

#include <atomic>
#include <cstddef>

namespace {

// Stopping may take the script 40 s and starting 90 s before it gives up.
constexpr int RestartTimeoutMs = 180'000;

std::size_t indexOf(KafkaTestEnvironment::Feature feature)
{
    return static_cast<std::size_t>(feature);
}

} // namespace

KafkaTestEnvironment KafkaTestEnvironment::fromProcessEnvironment()
{
    using enum Feature;
    KafkaTestEnvironment environment;
    environment.m_plaintext = environment.read("SKELVANE_KAFKA_PLAINTEXT", Broker);
    environment.m_saslPlaintext = environment.read("SKELVANE_KAFKA_SASL_PLAINTEXT", Broker);
    environment.m_ssl = environment.read("SKELVANE_KAFKA_SSL", Broker);
    environment.m_saslSsl = environment.read("SKELVANE_KAFKA_SASL_SSL", Broker);
    environment.m_caFile = environment.read("SKELVANE_KAFKA_CA_FILE", Broker);
    environment.m_plain = {environment.read("SKELVANE_KAFKA_PLAIN_USER", Broker),
                           environment.read("SKELVANE_KAFKA_PLAIN_PASSWORD", Broker)};
    environment.m_scram256 = {environment.read("SKELVANE_KAFKA_SCRAM256_USER", Broker),
                              environment.read("SKELVANE_KAFKA_SCRAM256_PASSWORD", Broker)};
    environment.m_scram512 = {environment.read("SKELVANE_KAFKA_SCRAM512_USER", Broker),
                              environment.read("SKELVANE_KAFKA_SCRAM512_PASSWORD", Broker)};
    environment.m_scramOdd = {environment.read("SKELVANE_KAFKA_SCRAM_ODD_USER", Broker),
                              environment.read("SKELVANE_KAFKA_SCRAM_ODD_PASSWORD", Broker)};
    environment.m_mtls = environment.read("SKELVANE_KAFKA_MTLS", MutualTls);
    environment.m_ecClient = {environment.read("SKELVANE_KAFKA_CLIENT_EC_CERT", MutualTls),
                              environment.read("SKELVANE_KAFKA_CLIENT_EC_KEY", MutualTls), {}};
    environment.m_rsaClient = {environment.read("SKELVANE_KAFKA_CLIENT_RSA_CERT", MutualTls),
                               environment.read("SKELVANE_KAFKA_CLIENT_RSA_KEY", MutualTls),
                               environment.read("SKELVANE_KAFKA_CLIENT_RSA_KEY_PASSPHRASE", MutualTls)};
    environment.m_script = environment.read("SKELVANE_KAFKA_SCRIPT", Restart);
    environment.m_clusterBootstrap = environment.read("SKELVANE_KAFKA_CLUSTER_BOOTSTRAP", Cluster);
    environment.m_clusterBrokers =
        environment.read("SKELVANE_KAFKA_CLUSTER_BROKERS", Cluster).split(u',', Qt::SkipEmptyParts);
    return environment;
}

QString KafkaTestEnvironment::read(const char* name, Feature feature)
{
    const QString value = qEnvironmentVariable(name);
    if (value.isEmpty()) {
        m_missing[indexOf(feature)].append(QString::fromLatin1(name));
    }
    return value;
}

QStringList KafkaTestEnvironment::missingVariables(Feature feature) const
{
    if (feature == Feature::Broker || feature == Feature::Cluster) {
        return m_missing[indexOf(feature)];
    }
    return m_missing[indexOf(Feature::Broker)] + m_missing[indexOf(feature)];
}

QString KafkaTestEnvironment::unavailableReason(Feature feature) const
{
    const QString missing = missingVariables(feature).join(QStringLiteral(", "));
    switch (feature) {
    case Feature::Broker:
        return QStringLiteral("No Kafka test broker (missing %1); start one with scripts/kafka start "
                              "and load its variables with eval \"$(scripts/kafka env)\"")
            .arg(missing);
    case Feature::MutualTls:
        return QStringLiteral("No Kafka test broker with a client certificate listener (missing %1); start one with "
                              "scripts/kafka start and load its variables with eval \"$(scripts/kafka env)\"")
            .arg(missing);
    case Feature::Restart:
        return QStringLiteral("No restartable Kafka test broker (missing %1); start one with scripts/kafka start "
                              "and load its variables with eval \"$(scripts/kafka env)\"")
            .arg(missing);
    case Feature::Cluster:
        return QStringLiteral("No three-broker Kafka test cluster (missing %1); start one with scripts/kafka "
                              "start-cluster and load its variables with eval \"$(scripts/kafka env-cluster)\"")
            .arg(missing);
    }
    return {};
}

bool KafkaTestEnvironment::brokerRequired()
{
    return qEnvironmentVariable("SKELVANE_REQUIRE_BROKER") == QStringLiteral("1");
}

QString KafkaTestEnvironment::restartBroker() const
{
    if (m_script.isEmpty()) {
        return QStringLiteral("SKELVANE_KAFKA_SCRIPT is not set");
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(m_script, {QStringLiteral("restart")});
    if (!process.waitForStarted()) {
        return QStringLiteral("Running %1 failed: %2").arg(m_script, process.errorString());
    }
    if (!process.waitForFinished(RestartTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return QStringLiteral("%1 restart did not finish within %2 s").arg(m_script, QString::number(RestartTimeoutMs / 1000));
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return QStringLiteral("%1 restart failed: %2")
            .arg(m_script, QString::fromLocal8Bit(process.readAll()).trimmed());
    }
    return {};
}

QString KafkaTestEnvironment::uniqueTopicName(const QString& prefix)
{
    static std::atomic<quint64> counter {0};
    QString cleaned = prefix.left(180);
    for (QChar& c : cleaned) {
        const bool allowed = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')
            || c == u'.' || c == u'_' || c == u'-';
        if (!allowed) {
            c = u'_';
        }
    }
    return QStringLiteral("%1-%2-%3-%4")
        .arg(cleaned, QString::number(QCoreApplication::applicationPid()), QString::number(counter.fetch_add(1) + 1),
             QString::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, u'0'));
}
