#include "ConfigWriter.h"

#include "ConfigEnumeratedValues.h"
#include "PasswordProtection.h"
#include "YamlWriter.h"

namespace {

int addMapping(yaml_document_t& document)
{
    return yaml_document_add_mapping(&document, nullptr, YAML_ANY_MAPPING_STYLE);
}

} // namespace

ConfigWriter::ConfigWriter(const Config& value)
    : config(value)
{
}

std::optional<KafkaError> ConfigWriter::write()
{
    yaml_document_t document;
    yaml_document_initialize(&document, nullptr, nullptr, nullptr, 1, 1);
    m_failure.reset();
    writeRoot(document);
    if (m_failure) {
        yaml_document_delete(&document);
        return m_failure;
    }
    return YamlWriter::writeDocumentToFile(document, config.filePath);
}

int ConfigWriter::writeRoot(yaml_document_t& document)
{
    const int root = addMapping(document);
    YamlWriter::appendMapping(document, root, QStringLiteral("display-name"), YamlWriter::writeString(document, config.displayName));
    YamlWriter::appendMapping(document, root, QStringLiteral("cluster"), writeCluster(document));
    YamlWriter::appendMapping(document, root, QStringLiteral("client-id"), YamlWriter::writeString(document, config.clientId));
    if (!config.deserializers.isEmpty())
        YamlWriter::appendMapping(document, root, QStringLiteral("deserializers"), writeDeserializers(document));
    YamlWriter::appendMapping(document, root, QStringLiteral("protobuf-deserializer"), writeProtobufDeserializer(document));
    return root;
}

int ConfigWriter::writeCluster(yaml_document_t& document)
{
    const Config::Cluster& cluster = config.cluster;
    const int mapping = addMapping(document);
    YamlWriter::appendMapping(document, mapping, QStringLiteral("brokers"), writeBrokers(document));
    YamlWriter::appendMapping(document, mapping, QStringLiteral("protocol"), writeProtocol(document, cluster.protocol));
    YamlWriter::appendMapping(document, mapping, QStringLiteral("ssl"), writeSsl(document));
    YamlWriter::appendMapping(document, mapping, QStringLiteral("authentication"), writeAuthentication(document, cluster.authentication));
    if (cluster.authenticationSasl)
        YamlWriter::appendMapping(
            document, mapping, QStringLiteral("authentication-sasl"), writeAuthenticationSasl(document, *cluster.authenticationSasl));
    return mapping;
}

int ConfigWriter::writeBrokers(yaml_document_t& document)
{
    QList<QString> brokers;
    for (const Config::Broker& broker : config.cluster.brokers)
        brokers.append(QStringLiteral("%1:%2").arg(broker.host, QString::number(broker.port)));
    return YamlWriter::writeStringArray(document, brokers);
}

int ConfigWriter::writeProtocol(yaml_document_t& document, Config::Protocol protocol)
{
    return YamlWriter::writeString(document, QString::fromUtf8(enumeratedValueName(protocolValues, protocol)));
}

int ConfigWriter::writeSsl(yaml_document_t& document)
{
    const Config::Ssl& ssl = config.cluster.ssl;
    const int mapping = addMapping(document);
    YamlWriter::appendMapping(document, mapping, QStringLiteral("server-certificate-validation"),
        writeCertificateValidation(document, ssl.serverCertificateValidation));
    if (!ssl.serverCaCertificatePaths.isEmpty())
        YamlWriter::appendMapping(document, mapping, QStringLiteral("server-ca-certificate-paths"),
            YamlWriter::writeStringArray(document, ssl.serverCaCertificatePaths));
    if (!ssl.clientCertificatePath.isEmpty())
        YamlWriter::appendMapping(
            document, mapping, QStringLiteral("client-certificate-path"), YamlWriter::writeString(document, ssl.clientCertificatePath));
    if (!ssl.clientKeyPath.isEmpty())
        YamlWriter::appendMapping(document, mapping, QStringLiteral("client-key-path"), YamlWriter::writeString(document, ssl.clientKeyPath));
    if (!ssl.clientKeyPassphrase.isEmpty())
        YamlWriter::appendMapping(
            document, mapping, QStringLiteral("client-key-passphrase"), YamlWriter::writeString(document, ssl.clientKeyPassphrase));
    return mapping;
}

int ConfigWriter::writeCertificateValidation(yaml_document_t& document, Config::SslCertificateValidation validation)
{
    return YamlWriter::writeString(document, QString::fromUtf8(enumeratedValueName(sslCertificateValidationValues, validation)));
}

int ConfigWriter::writeAuthentication(yaml_document_t& document, Config::Authentication authentication)
{
    return YamlWriter::writeString(document, QString::fromUtf8(enumeratedValueName(authenticationValues, authentication)));
}

int ConfigWriter::writeAuthenticationSasl(yaml_document_t& document, const Config::SaslAuthentication& sasl)
{
    const bool plain = sasl.mechanism == Config::SaslMechanism::Plain;
    const QString prefix = plain ? QStringLiteral("plain") : QStringLiteral("scram");
    const QString& username = plain ? sasl.plainUsername : sasl.scramUsername;
    const QString& password = plain ? sasl.plainPassword : sasl.scramPassword;

    const int mapping = addMapping(document);
    YamlWriter::appendMapping(document, mapping, QStringLiteral("mechanism"), writeSaslMechanism(document, sasl.mechanism));
    YamlWriter::appendMapping(document, mapping, prefix + QStringLiteral("-username"), YamlWriter::writeString(document, username));

    // A password that could not be decrypted when the file was read goes back
    // as it was stored, unless a new one was set.
    const QString& stored = plain ? config.plainPasswordStored : config.scramPasswordStored;
    if (password.isEmpty() && !stored.isEmpty()) {
        YamlWriter::appendMapping(document, mapping, prefix + QStringLiteral("-password-dpapi"), YamlWriter::writeString(document, stored));
        return mapping;
    }
    if (!encryptPasswords) {
        YamlWriter::appendMapping(document, mapping, prefix + QStringLiteral("-password"), YamlWriter::writeString(document, password));
        return mapping;
    }
    Result<QString, KafkaError> protectedPassword = encryptWithDPApi(password);
    if (protectedPassword.isError()) {
        KafkaError failure = std::move(protectedPassword).error();
        m_failure = failure.wrap(KafkaErrorCode::DpapiError,
            QStringLiteral("Failed to save configuration: the SASL password cannot be protected, as %1").arg(passwordProblem(failure)));
        return mapping;
    }
    YamlWriter::appendMapping(
        document, mapping, prefix + QStringLiteral("-password-dpapi"), YamlWriter::writeString(document, protectedPassword.value()));
    return mapping;
}

int ConfigWriter::writeSaslMechanism(yaml_document_t& document, Config::SaslMechanism mechanism)
{
    return YamlWriter::writeString(document, QString::fromUtf8(enumeratedValueName(saslMechanismValues, mechanism)));
}

int ConfigWriter::writeDeserializers(yaml_document_t& document)
{
    const int sequence = yaml_document_add_sequence(&document, nullptr, YAML_ANY_SEQUENCE_STYLE);
    for (const Config::Deserializer& deserializer : config.deserializers)
        yaml_document_append_sequence_item(&document, sequence, writeDeserializer(document, deserializer));
    return sequence;
}

int ConfigWriter::writeDeserializer(yaml_document_t& document, const Config::Deserializer& deserializer)
{
    const int mapping = addMapping(document);
    // Written also when empty: the reader accepts a rule with an empty pattern,
    // and such a rule must survive a save.
    YamlWriter::appendMapping(
        document, mapping, QStringLiteral("topic-pattern"), YamlWriter::writeString(document, deserializer.topicPattern.pattern()));
    if (!deserializer.headerName.isEmpty())
        YamlWriter::appendMapping(document, mapping, QStringLiteral("header-name"), YamlWriter::writeString(document, deserializer.headerName));
    if (!deserializer.headerPattern.pattern().isEmpty())
        YamlWriter::appendMapping(
            document, mapping, QStringLiteral("header-pattern"), YamlWriter::writeString(document, deserializer.headerPattern.pattern()));
    YamlWriter::appendMapping(document, mapping, QStringLiteral("content-type"), writeContentType(document, deserializer.contentType));
    if (!deserializer.textEncoding.isEmpty())
        YamlWriter::appendMapping(
            document, mapping, QStringLiteral("text-encoding"), YamlWriter::writeString(document, deserializer.textEncoding));
    if (!deserializer.protobufMessageType.isEmpty())
        YamlWriter::appendMapping(
            document, mapping, QStringLiteral("protobuf-message-type"), YamlWriter::writeString(document, deserializer.protobufMessageType));
    if (!deserializer.protobufMessageTypeHeader.isEmpty())
        YamlWriter::appendMapping(document, mapping, QStringLiteral("protobuf-message-type-header"),
            YamlWriter::writeString(document, deserializer.protobufMessageTypeHeader));
    return mapping;
}

int ConfigWriter::writeContentType(yaml_document_t& document, Config::ContentType contentType)
{
    return YamlWriter::writeString(document, QString::fromUtf8(enumeratedValueName(contentTypeValues, contentType)));
}

int ConfigWriter::writeProtobufDeserializer(yaml_document_t& document)
{
    const int mapping = addMapping(document);
    YamlWriter::appendMapping(document, mapping, QStringLiteral("schema-paths"),
        YamlWriter::writeStringArray(document, config.protobufDeserializer.schemaPaths));
    return mapping;
}
