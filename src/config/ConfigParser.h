#pragma once

#include "Config.h"
#include "YamlParser.h"

// Reads a cluster configuration file. Every section reader takes the document,
// its value node and the key node that names it (the parent that locates its
// messages), records every problem it meets and goes on, and tells whether its
// part was absent, wrong or read.
class ConfigParser : public YamlParser {
public:
    explicit ConfigParser(QString path);

    // Loads the file; fails with code 51 "Failed to load configuration" when the
    // root cannot be read, the details being in `errors`.
    Result<Config, KafkaError> parse();

    ParseResult<Config> parseRoot(yaml_document_t& document, const yaml_node_t* node, const yaml_node_t* parent);
    ParseResult<Config::Cluster> parseCluster(yaml_document_t& document, const yaml_node_t* node, const yaml_node_t* parent);
    ParseResult<Config::Ssl> parseSsl(yaml_document_t& document, const yaml_node_t* node, const yaml_node_t* parent);
    ParseResult<Config::SaslAuthentication> parseAuthenticationSasl(
        yaml_document_t& document, const yaml_node_t* node, const yaml_node_t* parent);
    // One item of the "deserializers" sequence; `sequence` locates its messages.
    ParseResult<Config::Deserializer> parseDeserializer(yaml_document_t& document, const yaml_node_t* item, const yaml_node_t* sequence);
    ParseResult<Config::ProtobufDeserializer> parseProtobufDeserializer(
        yaml_document_t& document, const yaml_node_t* node, const yaml_node_t* parent);
    // One "host:port" item of the "brokers" sequence.
    ParseResult<Config::Broker> parseBroker(const yaml_node_t* item, const yaml_node_t* sequence);
    ParseResult<QString> parseTextEncoding(const yaml_node_t* node, const yaml_node_t* parent);

    ParseResult<Config::Protocol> parseProtocol(const yaml_node_t* node, const yaml_node_t* parent);
    ParseResult<Config::SslCertificateValidation> parseSslCertificateValidation(const yaml_node_t* node, const yaml_node_t* parent);
    ParseResult<Config::Authentication> parseAuthentication(const yaml_node_t* node, const yaml_node_t* parent);
    ParseResult<Config::SaslMechanism> parseMechanism(const yaml_node_t* node, const yaml_node_t* parent);
    ParseResult<Config::ContentType> parseContentType(const yaml_node_t* node, const yaml_node_t* parent);

private:
    // What the last "authentication-sasl" section read keeps beside its values:
    // the stored form of a password that could not be decrypted, and why.
    struct KeptPasswords {
        QString plainStored;
        QString scramStored;
        std::optional<KafkaError> problem;
    };
    KeptPasswords m_passwords;

    ParseResult<QList<Config::Broker>> parseBrokers(yaml_document_t& document, const yaml_node_t* node, const yaml_node_t* parent);
    ParseResult<QList<Config::Deserializer>> parseDeserializers(
        yaml_document_t& document, const yaml_node_t* node, const yaml_node_t* parent);

    // The pairs of a mapping node in file order, after checking its kind (a node
    // that is not a mapping is reported and read as an empty mapping). Every key
    // that is not a scalar is reported; `visit` gets the key and value of the
    // others and returns false for a key it does not know, which is reported as
    // unexpected. A key met twice is read again, its later value replacing the
    // earlier one. Returns true when every key was a known scalar.
    template <typename Visitor>
    bool readMapping(yaml_document_t& document, const yaml_node_t* node, const yaml_node_t* parent, Visitor&& visit);
};
