#pragma once

// Cluster settings for the test broker's users and client certificates.

#include "Config.h"
#include "KafkaTestEnvironment.h"

// A SASL login as `credentials` with `mechanism`.
inline Config::SaslAuthentication saslAuthentication(
    Config::SaslMechanism mechanism, const KafkaTestEnvironment::Credentials& credentials)
{
    Config::SaslAuthentication authentication;
    authentication.mechanism = mechanism;
    if (mechanism == Config::SaslMechanism::Plain) {
        authentication.plainUsername = credentials.user;
        authentication.plainPassword = credentials.password;
    } else {
        authentication.scramUsername = credentials.user;
        authentication.scramPassword = credentials.password;
    }
    return authentication;
}

// The cluster presenting `client` on its TLS connections.
inline Config::Cluster withClientCertificate(Config::Cluster cluster, const KafkaTestEnvironment::ClientCertificate& client)
{
    cluster.ssl.clientCertificatePath = client.certificateFile;
    cluster.ssl.clientKeyPath = client.keyFile;
    cluster.ssl.clientKeyPassphrase = client.keyPassphrase;
    return cluster;
}
