#include "KafkaTestEnvironment.h"

#include <QCoreApplication>
#include <QRandomGenerator>

#include <atomic>

KafkaTestEnvironment KafkaTestEnvironment::fromProcessEnvironment()
{
    KafkaTestEnvironment environment;
    environment.m_plaintext = environment.read("SKELVANE_KAFKA_PLAINTEXT");
    environment.m_saslPlaintext = environment.read("SKELVANE_KAFKA_SASL_PLAINTEXT");
    environment.m_ssl = environment.read("SKELVANE_KAFKA_SSL");
    environment.m_saslSsl = environment.read("SKELVANE_KAFKA_SASL_SSL");
    environment.m_caFile = environment.read("SKELVANE_KAFKA_CA_FILE");
    environment.m_plain = {environment.read("SKELVANE_KAFKA_PLAIN_USER"),
                           environment.read("SKELVANE_KAFKA_PLAIN_PASSWORD")};
    environment.m_scram256 = {environment.read("SKELVANE_KAFKA_SCRAM256_USER"),
                              environment.read("SKELVANE_KAFKA_SCRAM256_PASSWORD")};
    environment.m_scram512 = {environment.read("SKELVANE_KAFKA_SCRAM512_USER"),
                              environment.read("SKELVANE_KAFKA_SCRAM512_PASSWORD")};
    environment.m_scramOdd = {environment.read("SKELVANE_KAFKA_SCRAM_ODD_USER"),
                              environment.read("SKELVANE_KAFKA_SCRAM_ODD_PASSWORD")};
    return environment;
}

QString KafkaTestEnvironment::read(const char* name)
{
    const QString value = qEnvironmentVariable(name);
    if (value.isEmpty()) {
        m_missing.append(QString::fromLatin1(name));
    }
    return value;
}

QString KafkaTestEnvironment::unavailableReason() const
{
    return QStringLiteral("No Kafka test broker (missing %1); start one with scripts/kafka start "
                          "and load its variables with eval \"$(scripts/kafka env)\"")
        .arg(m_missing.join(QStringLiteral(", ")));
}

bool KafkaTestEnvironment::brokerRequired()
{
    return qEnvironmentVariable("SKELVANE_REQUIRE_BROKER") == QStringLiteral("1");
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
