#pragma once

// Cluster settings for the test broker's users and client certificates.

#include "Config.h"
#include "KafkaTestEnvironment.h"
#include "Result.h"

// A SASL login as `credentials` with `mechanism`.
inline Config::Cluster saslCluster(Config::SaslMechanism mechanism, const KafkaTestEnvironment::Credentials& credentials)
{
    Config::Cluster cluster;
    cluster.authentication = Config::Authentication::Sasl;
    cluster.authenticationSasl = Config::SaslAuthentication {};
    Config::SaslAuthentication& sasl = *cluster.authenticationSasl;
    sasl.mechanism = mechanism;
    (mechanism == Config::SaslMechanism::Plain ? sasl.plainUsername : sasl.scramUsername) = credentials.user;
    (mechanism == Config::SaslMechanism::Plain ? sasl.plainPassword : sasl.scramPassword) = credentials.password;
    return cluster;
}

// TLS with full verification, against the CA file when given.
inline Config::Cluster withTls(Config::Cluster cluster, const QString& caFile)
{
    cluster.protocol = Config::Protocol::Ssl;
    cluster.ssl.serverCertificateValidation = Config::SslCertificateValidation::Full;
    if (!caFile.isEmpty())
        cluster.ssl.serverCaCertificatePaths = { caFile };
    return cluster;
}

// The cluster presenting `client` on its TLS connections.
inline Config::Cluster withClientCertificate(Config::Cluster cluster, const KafkaTestEnvironment::ClientCertificate& client)
{
    cluster.ssl.clientCertificatePath = client.certificateFile;
    cluster.ssl.clientKeyPath = client.keyFile;
    cluster.ssl.clientKeyPassphrase = client.keyPassphrase;
    return cluster;
}

inline QString errorText(const KafkaError& error)
{
    QStringList parts { error.message };
    for (const KafkaError& cause : error.causes)
        parts.append(cause.message);
    return parts.join(QStringLiteral(" / "));
}

// The error of a result, empty for a value.
template <typename T>
QString errorText(const KafkaResult<T>& result)
{
    return result.isError() ? errorText(result.error()) : QString();
}
