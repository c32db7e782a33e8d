#pragma once

#include "Error.h"
#include "Result.h"

#include <QList>
#include <QRegularExpression>
#include <QString>

#include <cstdint>
#include <optional>

// One cluster configuration as the user keeps it: where its file lies, how it
// is shown, how to reach and authenticate with the brokers, which client id to
// send, how to decode record values and where the Protocol Buffers schemas are.
// A plain value: every holder keeps its own copy.
struct Config {
    // Content types above Xml are binary and take no text encoding.
    enum class ContentType : std::int32_t { Text = 0, Json = 1, Xml = 2, Binary = 3, Protobuf = 4 };
    enum class SaslMechanism : std::int32_t { Plain = 0, ScramSha256 = 1, ScramSha512 = 2 };
    enum class Authentication : std::int32_t { None = 0, Sasl = 1 };
    enum class SslCertificateValidation : std::int32_t { None = 0, Full = 1 };
    enum class Protocol : std::int32_t { Plaintext = 0, Ssl = 1 };

    struct Broker {
        QString host; // as written, neither trimmed nor validated
        std::int32_t port = 0;

        // Parses "host:port"; the port must be a decimal number in 1..65535.
        static Result<Broker, KafkaError> fromString(const QString& text);

        friend bool operator==(const Broker&, const Broker&) = default;
    };

    // Used when the protocol is Ssl, but kept (and stored) whatever the protocol.
    // Relative paths are relative to the clusters directory.
    struct Ssl {
        SslCertificateValidation serverCertificateValidation = SslCertificateValidation::Full;
        QList<QString> serverCaCertificatePaths;
        QString clientCertificatePath; // empty = none
        QString clientKeyPath; // empty = none
        QString clientKeyPassphrase; // stored in plain text; empty = none

        friend bool operator==(const Ssl&, const Ssl&) = default;
    };

    // Both user name and password pairs are kept; only the pair of the chosen
    // mechanism is stored in the file.
    struct SaslAuthentication {
        SaslMechanism mechanism = SaslMechanism::Plain;
        QString plainUsername;
        QString plainPassword;
        QString scramUsername; // SCRAM-SHA-256 and SCRAM-SHA-512
        QString scramPassword;

        friend bool operator==(const SaslAuthentication&, const SaslAuthentication&) = default;
    };

    struct Cluster {
        QList<Broker> brokers; // element 0 is contacted first
        Protocol protocol = Protocol::Plaintext;
        Ssl ssl;
        Authentication authentication = Authentication::None;
        // Required when authentication is Sasl, kept if present otherwise.
        std::optional<SaslAuthentication> authenticationSasl;

        friend bool operator==(const Cluster&, const Cluster&) = default;
    };

    // One rule for decoding record values; the first rule that matches wins.
    struct Deserializer {
        QRegularExpression topicPattern;
        QString headerName; // empty = the rule does not look at headers
        QRegularExpression headerPattern;
        ContentType contentType = ContentType::Text;
        QString textEncoding; // text types only; empty = the decoder's default
        QString protobufMessageType; // Protobuf only
        QString protobufMessageTypeHeader; // Protobuf only, exclusive with the previous field

        friend bool operator==(const Deserializer&, const Deserializer&) = default;
    };

    struct ProtobufDeserializer {
        QList<QString> schemaPaths; // directories of .proto files

        friend bool operator==(const ProtobufDeserializer&, const ProtobufDeserializer&) = default;
    };

    QString filePath; // identity of the configuration; not stored in the file
    QString displayName;
    Cluster cluster;
    QString clientId;
    QList<Deserializer> deserializers;
    ProtobufDeserializer protobufDeserializer;

    // The protected form of a SASL password exactly as the file held it, when
    // it could not be decrypted on loading (the key file is missing or was
    // replaced, or the file comes from another machine); empty otherwise. One
    // per user name and password pair: plain for PLAIN, scram for both SCRAM
    // mechanisms. While the password of its pair is empty, a save writes this
    // form back unchanged, so that the password is never lost; whoever sets a
    // new password (also an empty one) clears it.
    QString plainPasswordStored;
    QString scramPasswordStored;
    // Problems that the user must see although the configuration loaded, such
    // as a password that could not be decrypted. Not stored, not compared.
    QList<KafkaError> loadErrors;

    // Every field but loadErrors.
    friend bool operator==(const Config& a, const Config& b)
    {
        return a.filePath == b.filePath && a.displayName == b.displayName && a.cluster == b.cluster && a.clientId == b.clientId
            && a.deserializers == b.deserializers && a.protobufDeserializer == b.protobufDeserializer
            && a.plainPasswordStored == b.plainPasswordStored && a.scramPasswordStored == b.scramPasswordStored;
    }

    // Loads a configuration file. On success filePath is the given path and
    // loadErrors holds what the user must still be told; on failure the list
    // holds every problem found (at most YamlParser::MaxProblems and a last one
    // saying there were more).
    static Result<Config, QList<KafkaError>> parseFromFile(QString filePath);
    // Writes the configuration to its filePath, SASL passwords protected. Fails,
    // writing nothing, when a password cannot be protected.
    static std::optional<KafkaError> saveToFile(const Config& config);
    // A path in the clusters directory for a new configuration file that neither
    // exists nor collides with an existing per-configuration directory. Creates
    // nothing.
    static QString findAvailableFilePath(const QString& displayName);
    // The configuration's own directory for files copied for it.
    QString extraPath() const;
    // Display name of a content type; the empty text for a value outside the
    // enumeration.
    static const char* contentTypeName(ContentType contentType);
};
