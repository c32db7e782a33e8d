#include "ConfigParser.h"

#include "ConfigEnumeratedValues.h"
#include "PasswordProtection.h"

#include <QFileInfo>
#include <QStringConverter>

namespace {

// The value read, or the default for an absent or wrong one.
template <typename T>
T valueOr(const ParseResult<T>& result, T fallback = T())
{
    return result.isPresent() ? result.value : std::move(fallback);
}

bool isGiven(const ParseResult<QString>& result)
{
    return result.isPresent() && !result.value.isEmpty();
}

bool isGivenPattern(const ParseResult<QRegularExpression>& result)
{
    return result.isPresent() && !result.value.pattern().isEmpty();
}

} // namespace

ConfigParser::ConfigParser(QString path)
    : YamlParser(std::move(path))
{
}

Result<Config, KafkaError> ConfigParser::parse()
{
    return load<Config>([this](yaml_document_t& document, const yaml_node_t* root) { return parseRoot(document, root, nullptr); },
        QStringLiteral("Failed to load configuration"));
}

template <typename Visitor>
bool ConfigParser::readMapping(yaml_document_t& document, const yaml_node_t* node, const yaml_node_t* parent, Visitor&& visit)
{
    if (!checkNodeType(node, YAML_MAPPING_NODE, parent))
        return true;

    bool keysValid = true;
    for (const yaml_node_pair_t* pair = node->data.mapping.pairs.start; pair < node->data.mapping.pairs.top; ++pair) {
        const yaml_node_t* key = yaml_document_get_node(&document, pair->key);
        const yaml_node_t* value = yaml_document_get_node(&document, pair->value);
        if (!checkNodeType(key, YAML_SCALAR_NODE, parent)) {
            keysValid = false;
            continue;
        }
        if (!visit(key, value)) {
            registerUnexpectedNode(key, parent);
            keysValid = false;
        }
    }
    return keysValid;
}

ParseResult<Config> ConfigParser::parseRoot(yaml_document_t& document, const yaml_node_t* node, const yaml_node_t* parent)
{
    ParseResult<QString> displayName;
    ParseResult<Config::Cluster> cluster;
    ParseResult<QString> clientId;
    ParseResult<QList<Config::Deserializer>> deserializers;
    ParseResult<Config::ProtobufDeserializer> protobufDeserializer;

    const bool keysValid = readMapping(document, node, parent, [&](const yaml_node_t* key, const yaml_node_t* value) {
        if (isScalarEqualTo(key, "display-name"))
            displayName = parseString(value, key);
        else if (isScalarEqualTo(key, "cluster"))
            cluster = parseCluster(document, value, key);
        else if (isScalarEqualTo(key, "client-id"))
            clientId = parseString(value, key);
        else if (isScalarEqualTo(key, "deserializers"))
            deserializers = parseDeserializers(document, value, key);
        else if (isScalarEqualTo(key, "protobuf-deserializer"))
            protobufDeserializer = parseProtobufDeserializer(document, value, key);
        else
            return false;
        return true;
    });

    if (displayName.isAbsent())
        displayName = ParseResult<QString>::present(QFileInfo(filePath).baseName());
    if (cluster.isAbsent())
        registerMissingRequiredKey("cluster", nullptr);
    if (clientId.isAbsent())
        registerMissingRequiredKey("client-id", nullptr);
    if (deserializers.isAbsent())
        deserializers = ParseResult<QList<Config::Deserializer>>::present({});
    if (protobufDeserializer.isAbsent())
        registerMissingRequiredKey("protobuf-deserializer", nullptr);

    if (!keysValid || !displayName.isPresent() || !cluster.isPresent() || !clientId.isPresent() || !deserializers.isPresent()
        || !protobufDeserializer.isPresent())
        return ParseResult<Config>::invalid();

    Config config;
    config.filePath = filePath;
    config.displayName = std::move(displayName.value);
    config.cluster = std::move(cluster.value);
    config.clientId = std::move(clientId.value);
    config.deserializers = std::move(deserializers.value);
    config.protobufDeserializer = std::move(protobufDeserializer.value);
    config.plainPasswordStored = m_passwords.plainStored;
    config.scramPasswordStored = m_passwords.scramStored;
    if (m_passwords.problem)
        config.loadErrors.append(*m_passwords.problem);
    return ParseResult<Config>::present(std::move(config));
}

ParseResult<Config::Cluster> ConfigParser::parseCluster(yaml_document_t& document, const yaml_node_t* node, const yaml_node_t* parent)
{
    ParseResult<QList<Config::Broker>> brokers;
    ParseResult<Config::Protocol> protocol;
    ParseResult<Config::Ssl> ssl;
    ParseResult<Config::Authentication> authentication;
    ParseResult<Config::SaslAuthentication> authenticationSasl;
    m_passwords = {};

    const bool keysValid = readMapping(document, node, parent, [&](const yaml_node_t* key, const yaml_node_t* value) {
        if (isScalarEqualTo(key, "brokers"))
            brokers = parseBrokers(document, value, key);
        else if (isScalarEqualTo(key, "protocol"))
            protocol = parseProtocol(value, key);
        else if (isScalarEqualTo(key, "ssl"))
            ssl = parseSsl(document, value, key);
        else if (isScalarEqualTo(key, "authentication"))
            authentication = parseAuthentication(value, key);
        else if (isScalarEqualTo(key, "authentication-sasl"))
            authenticationSasl = parseAuthenticationSasl(document, value, key);
        else
            return false;
        return true;
    });

    bool valid = keysValid;
    if (brokers.isAbsent() || (brokers.isPresent() && brokers.value.isEmpty()))
        registerMissingRequiredKey("brokers", parent);
    if (protocol.isAbsent())
        registerMissingRequiredKey("protocol", parent);
    if (ssl.isAbsent())
        ssl = ParseResult<Config::Ssl>::present({});
    if (authentication.isAbsent())
        authentication = ParseResult<Config::Authentication>::present(Config::Authentication::None);
    if (authentication.isInvalid()) {
        valid = false;
    } else if (authentication.value == Config::Authentication::Sasl && authenticationSasl.isAbsent()) {
        registerMissingRequiredKey("authentication-sasl", parent);
        valid = false;
    }

    if (!valid || !brokers.isPresent() || !protocol.isPresent() || !ssl.isPresent() || authenticationSasl.isInvalid())
        return ParseResult<Config::Cluster>::invalid();

    Config::Cluster cluster;
    cluster.brokers = std::move(brokers.value);
    cluster.protocol = protocol.value;
    cluster.ssl = std::move(ssl.value);
    cluster.authentication = authentication.value;
    if (authenticationSasl.isPresent())
        cluster.authenticationSasl = std::move(authenticationSasl.value);
    return ParseResult<Config::Cluster>::present(std::move(cluster));
}

ParseResult<QList<Config::Broker>> ConfigParser::parseBrokers(yaml_document_t& document, const yaml_node_t* node, const yaml_node_t* parent)
{
    if (!checkNodeType(node, YAML_SEQUENCE_NODE, parent))
        return ParseResult<QList<Config::Broker>>::invalid();

    QList<Config::Broker> brokers;
    bool valid = true;
    for (const yaml_node_item_t* item = node->data.sequence.items.start; item < node->data.sequence.items.top; ++item) {
        ParseResult<Config::Broker> broker = parseBroker(yaml_document_get_node(&document, *item), node);
        if (broker.isPresent())
            brokers.append(std::move(broker.value));
        else
            valid = false;
    }
    if (!valid)
        return ParseResult<QList<Config::Broker>>::invalid();
    return ParseResult<QList<Config::Broker>>::present(std::move(brokers));
}

ParseResult<Config::Broker> ConfigParser::parseBroker(const yaml_node_t* item, const yaml_node_t* sequence)
{
    if (!checkNodeType(item, YAML_SCALAR_NODE, sequence))
        return ParseResult<Config::Broker>::invalid();

    Result<Config::Broker, KafkaError> broker = Config::Broker::fromString(scalarText(item));
    if (broker.isError()) {
        addError(KafkaError(KafkaErrorCode::InvalidYamlContent, QStringLiteral("Invalid value at line %1").arg(nodeLine(item)),
            { std::move(broker).error() }));
        return ParseResult<Config::Broker>::invalid();
    }
    return ParseResult<Config::Broker>::present(std::move(broker).value());
}

ParseResult<Config::Ssl> ConfigParser::parseSsl(yaml_document_t& document, const yaml_node_t* node, const yaml_node_t* parent)
{
    ParseResult<Config::SslCertificateValidation> validation;
    ParseResult<QList<QString>> caCertificatePaths;
    ParseResult<QString> clientCertificatePath;
    ParseResult<QString> clientKeyPath;
    ParseResult<QString> clientKeyPassphrase;

    const bool keysValid = readMapping(document, node, parent, [&](const yaml_node_t* key, const yaml_node_t* value) {
        if (isScalarEqualTo(key, "server-certificate-validation"))
            validation = parseSslCertificateValidation(value, key);
        else if (isScalarEqualTo(key, "server-ca-certificate-paths"))
            caCertificatePaths = parseStringList(document, value, key);
        else if (isScalarEqualTo(key, "client-certificate-path"))
            clientCertificatePath = parseString(value, key);
        else if (isScalarEqualTo(key, "client-key-path"))
            clientKeyPath = parseString(value, key);
        else if (isScalarEqualTo(key, "client-key-passphrase"))
            clientKeyPassphrase = parseString(value, key);
        else
            return false;
        return true;
    });

    if (!keysValid || validation.isInvalid() || caCertificatePaths.isInvalid() || clientCertificatePath.isInvalid()
        || clientKeyPath.isInvalid() || clientKeyPassphrase.isInvalid())
        return ParseResult<Config::Ssl>::invalid();

    Config::Ssl ssl;
    ssl.serverCertificateValidation = valueOr(validation, Config::SslCertificateValidation::Full);
    ssl.serverCaCertificatePaths = valueOr(caCertificatePaths);
    ssl.clientCertificatePath = valueOr(clientCertificatePath);
    ssl.clientKeyPath = valueOr(clientKeyPath);
    ssl.clientKeyPassphrase = valueOr(clientKeyPassphrase);
    return ParseResult<Config::Ssl>::present(std::move(ssl));
}

ParseResult<Config::SaslAuthentication> ConfigParser::parseAuthenticationSasl(
    yaml_document_t& document, const yaml_node_t* node, const yaml_node_t* parent)
{
    ParseResult<Config::SaslMechanism> mechanism;
    ParseResult<QString> plainUsername;
    ParseResult<QString> plainPassword;
    ParseResult<QString> plainPasswordProtected;
    ParseResult<QString> scramUsername;
    ParseResult<QString> scramPassword;
    ParseResult<QString> scramPasswordProtected;
    // A section read again replaces what an earlier one kept.
    m_passwords = {};
    int plainProtectedLine = 0;
    int scramProtectedLine = 0;

    const bool keysValid = readMapping(document, node, parent, [&](const yaml_node_t* key, const yaml_node_t* value) {
        if (isScalarEqualTo(key, "mechanism")) {
            mechanism = parseMechanism(value, key);
        } else if (isScalarEqualTo(key, "plain-username")) {
            plainUsername = parseString(value, key);
        } else if (isScalarEqualTo(key, "plain-password")) {
            plainPassword = parseString(value, key);
        } else if (isScalarEqualTo(key, "plain-password-dpapi")) {
            plainPasswordProtected = parseString(value, key);
            plainProtectedLine = nodeLine(value);
        } else if (isScalarEqualTo(key, "scram-username")) {
            scramUsername = parseString(value, key);
        } else if (isScalarEqualTo(key, "scram-password")) {
            scramPassword = parseString(value, key);
        } else if (isScalarEqualTo(key, "scram-password-dpapi")) {
            scramPasswordProtected = parseString(value, key);
            scramProtectedLine = nodeLine(value);
        } else {
            return false;
        }
        return true;
    });

    if (mechanism.isAbsent())
        registerMissingRequiredKey("mechanism", parent);
    if (!mechanism.isPresent())
        return ParseResult<Config::SaslAuthentication>::invalid();

    // The pair of the chosen mechanism: a plain password wins over a protected
    // one; a protected one that cannot be decrypted reads as empty and is kept
    // in its stored form.
    const bool plain = mechanism.value == Config::SaslMechanism::Plain;
    const ParseResult<QString>& username = plain ? plainUsername : scramUsername;
    ParseResult<QString>& password = plain ? plainPassword : scramPassword;
    const ParseResult<QString>& passwordProtected = plain ? plainPasswordProtected : scramPasswordProtected;
    const int protectedLine = plain ? plainProtectedLine : scramProtectedLine;
    const char* usernameKey = plain ? "plain-username" : "scram-username";
    const char* passwordKey = plain ? "plain-password" : "scram-password";

    if (password.isAbsent() && passwordProtected.isPresent()) {
        Result<QString, KafkaError> unprotected = decryptWithDPApi(passwordProtected.value);
        if (unprotected.isError()) {
            // The stored form is kept, so that a save writes it back unchanged
            // instead of losing the password; the password reads as empty.
            (plain ? m_passwords.plainStored : m_passwords.scramStored) = passwordProtected.value;
            KafkaError failure = std::move(unprotected).error();
            m_passwords.problem = failure.wrap(KafkaErrorCode::DpapiError,
                QStringLiteral("The SASL password at line %1 cannot be decrypted, as %2; it is kept as stored until a new password is set")
                    .arg(QString::number(protectedLine), passwordProblem(failure)));
            addError(*m_passwords.problem);
            password = ParseResult<QString>::present(QString());
        } else {
            password = ParseResult<QString>::present(std::move(unprotected).value());
        }
    }
    const bool passwordWasAbsent = password.isAbsent();
    if (username.isAbsent())
        registerMissingRequiredKey(usernameKey, parent);
    if (passwordWasAbsent)
        registerMissingRequiredKey(passwordKey, parent);

    if (!keysValid || plainUsername.isInvalid() || plainPassword.isInvalid() || scramUsername.isInvalid() || scramPassword.isInvalid())
        return ParseResult<Config::SaslAuthentication>::invalid();

    Config::SaslAuthentication sasl;
    sasl.mechanism = mechanism.value;
    sasl.plainUsername = valueOr(plainUsername);
    sasl.plainPassword = valueOr(plainPassword);
    sasl.scramUsername = valueOr(scramUsername);
    sasl.scramPassword = valueOr(scramPassword);
    return ParseResult<Config::SaslAuthentication>::present(std::move(sasl));
}

ParseResult<QList<Config::Deserializer>> ConfigParser::parseDeserializers(
    yaml_document_t& document, const yaml_node_t* node, const yaml_node_t* parent)
{
    if (!checkNodeType(node, YAML_SEQUENCE_NODE, parent))
        return ParseResult<QList<Config::Deserializer>>::invalid();

    QList<Config::Deserializer> deserializers;
    bool valid = true;
    for (const yaml_node_item_t* item = node->data.sequence.items.start; item < node->data.sequence.items.top; ++item) {
        ParseResult<Config::Deserializer> deserializer = parseDeserializer(document, yaml_document_get_node(&document, *item), node);
        if (deserializer.isPresent())
            deserializers.append(std::move(deserializer.value));
        else
            valid = false;
    }
    if (!valid)
        return ParseResult<QList<Config::Deserializer>>::invalid();
    return ParseResult<QList<Config::Deserializer>>::present(std::move(deserializers));
}

ParseResult<Config::Deserializer> ConfigParser::parseDeserializer(
    yaml_document_t& document, const yaml_node_t* item, const yaml_node_t* sequence)
{
    ParseResult<QRegularExpression> topicPattern;
    ParseResult<QString> headerName;
    ParseResult<QRegularExpression> headerPattern;
    ParseResult<Config::ContentType> contentType;
    ParseResult<QString> textEncoding;
    ParseResult<QString> messageType;
    ParseResult<QString> messageTypeHeader;

    bool valid = readMapping(document, item, sequence, [&](const yaml_node_t* key, const yaml_node_t* value) {
        if (isScalarEqualTo(key, "topic-pattern"))
            topicPattern = parseRegularExpression(value, key);
        else if (isScalarEqualTo(key, "header-name"))
            headerName = parseString(value, key);
        else if (isScalarEqualTo(key, "header-pattern"))
            headerPattern = parseRegularExpression(value, key);
        else if (isScalarEqualTo(key, "content-type"))
            contentType = parseContentType(value, key);
        else if (isScalarEqualTo(key, "text-encoding"))
            textEncoding = parseTextEncoding(value, key);
        else if (isScalarEqualTo(key, "protobuf-message-type"))
            messageType = parseString(value, key);
        else if (isScalarEqualTo(key, "protobuf-message-type-header"))
            messageTypeHeader = parseString(value, key);
        else
            return false;
        return true;
    });

    if (topicPattern.isAbsent() || (topicPattern.isPresent() && topicPattern.value.pattern().isEmpty()))
        registerMissingRequiredKey("topic-pattern", sequence);

    const QString bothTypeKeys = QStringLiteral("Cannot use both 'protobuf-message-type' and 'protobuf-message-type-header' at the same time.");
    if (contentType.isAbsent()) {
        registerMissingRequiredKey("content-type", sequence);
    } else if (contentType.isPresent() && contentType.value != Config::ContentType::Protobuf) {
        if (!messageType.isAbsent() || !messageTypeHeader.isAbsent()) {
            registerInvalidValue(QStringLiteral("'protobuf-message-type' and 'protobuf-message-type-header' are only allowed when "
                                                "'content-type' is set to 'Protobuf'"),
                sequence);
            valid = false;
        }
    } else if (contentType.isPresent()) {
        if (isGiven(messageType)) {
            if (!messageTypeHeader.isAbsent()) {
                registerInvalidValue(bothTypeKeys, sequence);
                valid = false;
            }
        } else if (isGiven(messageTypeHeader)) {
            if (!messageType.isAbsent()) {
                registerInvalidValue(bothTypeKeys, sequence);
                valid = false;
            }
        } else {
            registerMissingRequiredKey("protobuf-message-type' or 'protobuf-message-type-header", sequence);
            if (!messageType.isAbsent() && !messageTypeHeader.isAbsent())
                registerInvalidValue(bothTypeKeys, sequence);
            valid = false;
        }
    }

    if (!headerName.isAbsent() && !isGivenPattern(headerPattern)) {
        registerInvalidValue(QStringLiteral("'header-pattern' is required when 'header-name' is set"), sequence);
        valid = false;
    }

    if (contentType.isPresent() && contentType.value > Config::ContentType::Xml && !textEncoding.isAbsent()) {
        registerInvalidValue(QStringLiteral("'text-encoding' cannot be used for binary content types"), sequence);
        valid = false;
    }

    if (!valid || !topicPattern.isPresent() || !contentType.isPresent() || headerName.isInvalid() || headerPattern.isInvalid()
        || textEncoding.isInvalid() || messageType.isInvalid() || messageTypeHeader.isInvalid())
        return ParseResult<Config::Deserializer>::invalid();

    Config::Deserializer deserializer;
    deserializer.topicPattern = std::move(topicPattern.value);
    deserializer.headerName = valueOr(headerName);
    deserializer.headerPattern = valueOr(headerPattern);
    deserializer.contentType = contentType.value;
    deserializer.textEncoding = valueOr(textEncoding);
    deserializer.protobufMessageType = valueOr(messageType);
    deserializer.protobufMessageTypeHeader = valueOr(messageTypeHeader);
    return ParseResult<Config::Deserializer>::present(std::move(deserializer));
}

ParseResult<Config::ProtobufDeserializer> ConfigParser::parseProtobufDeserializer(
    yaml_document_t& document, const yaml_node_t* node, const yaml_node_t* parent)
{
    ParseResult<QList<QString>> schemaPaths;

    const bool keysValid = readMapping(document, node, parent, [&](const yaml_node_t* key, const yaml_node_t* value) {
        if (!isScalarEqualTo(key, "schema-paths"))
            return false;
        schemaPaths = parseStringList(document, value, key);
        return true;
    });

    if (schemaPaths.isAbsent() || (schemaPaths.isPresent() && schemaPaths.value.isEmpty()))
        registerMissingRequiredKey("schema-paths", parent);

    if (!keysValid || !schemaPaths.isPresent())
        return ParseResult<Config::ProtobufDeserializer>::invalid();
    return ParseResult<Config::ProtobufDeserializer>::present(Config::ProtobufDeserializer { std::move(schemaPaths.value) });
}

ParseResult<QString> ConfigParser::parseTextEncoding(const yaml_node_t* node, const yaml_node_t* parent)
{
    ParseResult<QString> encoding = parseString(node, parent);
    if (encoding.isPresent() && !QStringConverter::encodingForName(encoding.value.toUtf8().constData())) {
        registerInvalidValue(QStringLiteral("Unknown encoding '%1'").arg(encoding.value), parent);
        return ParseResult<QString>::invalid();
    }
    return encoding;
}

ParseResult<Config::Protocol> ConfigParser::parseProtocol(const yaml_node_t* node, const yaml_node_t* parent)
{
    return parseEnumeratedValue(node, parent, protocolValues, rowCount(protocolValues));
}

ParseResult<Config::SslCertificateValidation> ConfigParser::parseSslCertificateValidation(const yaml_node_t* node, const yaml_node_t* parent)
{
    return parseEnumeratedValue(node, parent, sslCertificateValidationValues, rowCount(sslCertificateValidationValues));
}

ParseResult<Config::Authentication> ConfigParser::parseAuthentication(const yaml_node_t* node, const yaml_node_t* parent)
{
    return parseEnumeratedValue(node, parent, authenticationValues, rowCount(authenticationValues));
}

ParseResult<Config::SaslMechanism> ConfigParser::parseMechanism(const yaml_node_t* node, const yaml_node_t* parent)
{
    return parseEnumeratedValue(node, parent, saslMechanismValues, rowCount(saslMechanismValues));
}

ParseResult<Config::ContentType> ConfigParser::parseContentType(const yaml_node_t* node, const yaml_node_t* parent)
{
    return parseEnumeratedValue(node, parent, contentTypeValues, rowCount(contentTypeValues));
}
