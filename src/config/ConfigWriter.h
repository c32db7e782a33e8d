#pragma once

#include "Config.h"

#include <yaml.h>

#include <optional>

// Writes a cluster configuration file through the atomic save of YamlWriter.
// Each write operation adds one node to the document and returns its node id;
// keys are written in the order of the file format.
class ConfigWriter {
public:
    explicit ConfigWriter(const Config& value);

    Config config;
    // Store SASL passwords protected under the "-dpapi" keys. When protection
    // fails, the save fails and writes nothing; passwords are written in plain
    // text only when this is turned off.
    bool encryptPasswords = true;

    // Saves to config.filePath; empty when saved.
    std::optional<KafkaError> write();

    // The root mapping; it is the first node added to the document.
    int writeRoot(yaml_document_t& document);
    int writeCluster(yaml_document_t& document);
    int writeBrokers(yaml_document_t& document);
    int writeProtocol(yaml_document_t& document, Config::Protocol protocol);
    int writeSsl(yaml_document_t& document);
    int writeCertificateValidation(yaml_document_t& document, Config::SslCertificateValidation validation);
    int writeAuthentication(yaml_document_t& document, Config::Authentication authentication);
    int writeAuthenticationSasl(yaml_document_t& document, const Config::SaslAuthentication& sasl);
    int writeSaslMechanism(yaml_document_t& document, Config::SaslMechanism mechanism);
    int writeDeserializers(yaml_document_t& document);
    int writeDeserializer(yaml_document_t& document, const Config::Deserializer& deserializer);
    int writeContentType(yaml_document_t& document, Config::ContentType contentType);
    int writeProtobufDeserializer(yaml_document_t& document);

private:
    // Why the document being written must not be saved.
    std::optional<KafkaError> m_failure;
};
