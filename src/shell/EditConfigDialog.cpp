#include "EditConfigDialog.h"

#include "ConfigDuplicateCopier.h"
#include "DeserializerDialog.h"
#include "DeserializerModel.h"
#include "KafkaConnection.h"
#include "ui_EditConfigDialog.h"

#include <QItemSelectionModel>
#include <QListWidget>

namespace {

struct AuthenticationItem {
    const char* text;
    EditConfigDialog::Authentication choice;
};

constexpr AuthenticationItem authenticationItems[] = {
    { QT_TRANSLATE_NOOP("EditConfigDialog", "None"), EditConfigDialog::Authentication::None },
    { QT_TRANSLATE_NOOP("EditConfigDialog", "SASL Plain"), EditConfigDialog::Authentication::SaslPlain },
    { QT_TRANSLATE_NOOP("EditConfigDialog", "SASL SCRAM-SHA-256"), EditConfigDialog::Authentication::SaslScramSha256 },
    { QT_TRANSLATE_NOOP("EditConfigDialog", "SASL SCRAM-SHA-512"), EditConfigDialog::Authentication::SaslScramSha512 },
};

// The choice of the authentication combo for a stored configuration; empty
// when none fits (SASL without its settings).
std::optional<EditConfigDialog::Authentication> authenticationChoice(const Config::Cluster& cluster)
{
    if (cluster.authentication == Config::Authentication::None)
        return EditConfigDialog::Authentication::None;
    if (cluster.authentication != Config::Authentication::Sasl || !cluster.authenticationSasl)
        return std::nullopt;
    switch (cluster.authenticationSasl->mechanism) {
    case Config::SaslMechanism::Plain:
        return EditConfigDialog::Authentication::SaslPlain;
    case Config::SaslMechanism::ScramSha256:
        return EditConfigDialog::Authentication::SaslScramSha256;
    case Config::SaslMechanism::ScramSha512:
        return EditConfigDialog::Authentication::SaslScramSha512;
    }
    return std::nullopt;
}

QList<QString> entryTexts(const QListWidget* list)
{
    QList<QString> texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->data(Qt::DisplayRole).toString());
    return texts;
}

} // namespace

bool EditConfigDialog::isSaslChoice(const QVariant& data)
{
    if (!data.isValid())
        return false;
    const auto choice = data.value<Authentication>();
    return choice == Authentication::SaslPlain || choice == Authentication::SaslScramSha256
        || choice == Authentication::SaslScramSha512;
}

QListWidgetItem* EditConfigDialog::appendEntry(QListWidget* list, const QString& text)
{
    auto* item = new QListWidgetItem(text, list);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsEnabled);
    return item;
}

EditConfigDialog::EditConfigDialog(Config edited, Mode editMode, QWidget* parent)
    : QDialog(parent)
    , config(std::move(edited))
    , mode(editMode)
    , duplicatedDir(editMode == Mode::Duplicate && !config.filePath.isEmpty() ? config.extraPath() : QString())
    , deserializerModel(new DeserializerModel(this))
    , deserializerDialog(new DeserializerDialog(this))
    , ui(std::make_unique<Ui::EditConfigDialog>())
{
    ui->setupUi(this);
    switch (mode) {
    case Mode::Add:
        setWindowTitle(tr("Add new cluster"));
        break;
    case Mode::Edit:
        setWindowTitle(tr("Edit configuration for cluster '%1'").arg(config.displayName));
        break;
    case Mode::Duplicate:
        setWindowTitle(tr("Duplicate configuration from '%1'").arg(config.displayName));
        break;
    }
    clearErrors();

    setupBrokersTab();
    setupSslTab();
    setupDeserializersTab();
    setupProtocolBuffersTab();

    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &EditConfigDialog::onOkClicked);
}

EditConfigDialog::~EditConfigDialog() = default;

void EditConfigDialog::setupBrokersTab()
{
    const Config::Cluster& cluster = config.cluster;
    ui->displayNameEdit->setText(config.displayName);
    for (const Config::Broker& broker : cluster.brokers)
        appendEntry(ui->bootstrapBrokersList, QStringLiteral("%1:%2").arg(broker.host, QString::number(broker.port)));
    connect(ui->addBootstrapBrokerButton, &QPushButton::clicked, this, &EditConfigDialog::onAddBrokerClicked);
    connect(ui->editBootstrapBrokerButton, &QPushButton::clicked, this, &EditConfigDialog::onEditBrokerClicked);
    connect(ui->removeBootstrapBrokerButton, &QPushButton::clicked, this, &EditConfigDialog::onRemoveBrokerClicked);
    connect(ui->bootstrapBrokersList, &QListWidget::currentItemChanged, this, &EditConfigDialog::onBrokerCurrentChanged);

    ui->protocolCombo->addItem(tr("Plaintext"), QVariant::fromValue(Config::Protocol::Plaintext));
    ui->protocolCombo->addItem(tr("SSL"), QVariant::fromValue(Config::Protocol::Ssl));
    ui->protocolCombo->setCurrentIndex(ui->protocolCombo->findData(QVariant::fromValue(cluster.protocol)));

    for (const AuthenticationItem& item : authenticationItems)
        ui->authenticationCombo->addItem(tr(item.text), QVariant::fromValue(item.choice));
    connect(ui->authenticationCombo, &QComboBox::currentIndexChanged, this, &EditConfigDialog::onAuthenticationChanged);
    const std::optional<Authentication> choice = authenticationChoice(cluster);
    if (choice)
        ui->authenticationCombo->setCurrentIndex(ui->authenticationCombo->findData(QVariant::fromValue(*choice)));
    else
        ui->authenticationCombo->setCurrentIndex(-1);

    if (choice && *choice != Authentication::None) {
        const Config::SaslAuthentication& sasl = *cluster.authenticationSasl;
        const bool plain = sasl.mechanism == Config::SaslMechanism::Plain;
        ui->usernameEdit->setText(plain ? sasl.plainUsername : sasl.scramUsername);
        ui->passwordEdit->setText(plain ? sasl.plainPassword : sasl.scramPassword);
    }
    connect(ui->passwordEdit, &QLineEdit::textEdited, this, &EditConfigDialog::onPasswordEdited);
}

void EditConfigDialog::setupSslTab()
{
    const Config::Ssl& ssl = config.cluster.ssl;
    ui->disableServerSslCertValidationCheckBox->setChecked(
        ssl.serverCertificateValidation == Config::SslCertificateValidation::None);
    for (const QString& path : ssl.serverCaCertificatePaths)
        appendEntry(ui->caCertificatesList, path);
    ui->clientCertificateEdit->setText(ssl.clientCertificatePath);
    ui->clientKeyEdit->setText(ssl.clientKeyPath);
    ui->clientKeyPassphraseEdit->setText(ssl.clientKeyPassphrase);

    connect(ui->caCertificatesAddButton, &QPushButton::clicked, this, &EditConfigDialog::onAddCaCertificatesClicked);
    connect(ui->caCertificatesEditButton, &QPushButton::clicked, this, &EditConfigDialog::onEditCaCertificateClicked);
    connect(ui->caCertificatesRemoveButton, &QPushButton::clicked, this, &EditConfigDialog::onRemoveCaCertificateClicked);
    connect(ui->caCertificatesList, &QListWidget::currentItemChanged, this, &EditConfigDialog::onCaCertificateCurrentChanged);
    connect(ui->clientCertificateBrowseButton, &QPushButton::clicked, this, &EditConfigDialog::onBrowseClientCertificateClicked);
    connect(ui->clientKeyBrowseButton, &QPushButton::clicked, this, &EditConfigDialog::onBrowseClientKeyClicked);
}

void EditConfigDialog::setupDeserializersTab()
{
    deserializerModel->setDeserializers(config.deserializers);
    ui->deserializersList->setModel(deserializerModel);
    refreshDeserializerTable();

    connect(ui->addDeserializerButton, &QPushButton::clicked, this, &EditConfigDialog::onAddDeserializerClicked);
    connect(ui->editDeserializerButton, &QPushButton::clicked, this, &EditConfigDialog::onEditDeserializerClicked);
    connect(ui->removeDeserializerButton, &QPushButton::clicked, this, &EditConfigDialog::onRemoveDeserializerClicked);
    connect(ui->moveUpDeserializerButton, &QPushButton::clicked, this, &EditConfigDialog::onMoveUpDeserializerClicked);
    connect(ui->moveDownDeserializerButton, &QPushButton::clicked, this, &EditConfigDialog::onMoveDownDeserializerClicked);
    connect(ui->deserializersList->selectionModel(), &QItemSelectionModel::currentChanged, this,
        &EditConfigDialog::refreshDeserializerTable);
    connect(deserializerDialog, &DeserializerDialog::accepted, this, &EditConfigDialog::onDeserializerAccepted);
}

void EditConfigDialog::setupProtocolBuffersTab()
{
    for (const QString& path : config.protobufDeserializer.schemaPaths)
        appendEntry(ui->protobufSchemaDirectoryList, path);

    connect(ui->addProtobufSchemaDirectoryButton, &QPushButton::clicked, this, &EditConfigDialog::onAddSchemaDirectoryClicked);
    connect(ui->editProtobufSchemaDirectoryButton, &QPushButton::clicked, this, &EditConfigDialog::onEditSchemaDirectoryClicked);
    connect(ui->removeProtobufSchemaDirectoryButton, &QPushButton::clicked, this, &EditConfigDialog::onRemoveSchemaDirectoryClicked);
    connect(ui->moveUpProtobufSchemaDirectoryButton, &QPushButton::clicked, this, &EditConfigDialog::onMoveUpSchemaDirectoryClicked);
    connect(ui->moveDownProtobufSchemaDirectoryButton, &QPushButton::clicked, this,
        &EditConfigDialog::onMoveDownSchemaDirectoryClicked);
    connect(ui->protobufSchemaDirectoryList, &QListWidget::currentItemChanged, this,
        &EditConfigDialog::onSchemaDirectoryCurrentChanged);
}

void EditConfigDialog::onOkClicked()
{
    clearErrors();

    // Kept as typed; a name of white space alone is as good as none.
    const QString displayName = ui->displayNameEdit->text();
    if (displayName.trimmed().isEmpty())
        addError(KafkaError(KafkaErrorCode::MissingRequiredValue, tr("The display name is mandatory")));
    KafkaResult<Config::Cluster> cluster = buildCluster();
    if (cluster.isError())
        addError(cluster.error());
    KafkaResult<Config::ProtobufDeserializer> protobuf = buildProtocolBuffersDeserializer();
    if (protobuf.isError())
        addError(protobuf.error());
    if (!errors.isEmpty())
        return;

    Config built;
    built.filePath = mode == Mode::Edit ? config.filePath : Config::findAvailableFilePath(displayName);
    built.displayName = displayName;
    built.cluster = std::move(cluster).value();
    built.clientId = config.clientId;
    built.deserializers = deserializerModel->allDeserializers();
    built.protobufDeserializer = std::move(protobuf).value();
    built.plainPasswordStored = plainPasswordEdited ? QString() : config.plainPasswordStored;
    built.scramPasswordStored = scramPasswordEdited ? QString() : config.scramPasswordStored;

    // A duplicate gets copies of the original's own files, which go with the
    // original when it is deleted.
    std::optional<ConfigDuplicateCopier> copier;
    if (mode == Mode::Duplicate) {
        copier.emplace(duplicatedDir, built.filePath);
        if (std::optional<KafkaError> failure = copier->copyOwnFiles(built)) {
            addError(*failure);
            return;
        }
    }
    config = std::move(built);

    if (std::optional<KafkaError> failure = Config::saveToFile(config)) {
        if (copier)
            copier->removeCopies();
        addError(*failure);
        return;
    }
    accept();
}

KafkaResult<Config::Cluster> EditConfigDialog::buildCluster()
{
    Config::Cluster cluster;
    KafkaResult<QList<Config::Broker>> brokers = buildBrokers();
    if (brokers.isError())
        return std::move(brokers).error();
    cluster.brokers = std::move(brokers).value();

    KafkaResult<Config::Protocol> protocol = buildProtocol();
    if (protocol.isError())
        return std::move(protocol).error();
    cluster.protocol = protocol.value();

    KafkaResult<Config::Ssl> ssl = buildSsl();
    if (ssl.isError())
        return std::move(ssl).error();
    cluster.ssl = std::move(ssl).value();

    KafkaResult<Config::Authentication> authentication = buildAuthentication();
    if (authentication.isError())
        return std::move(authentication).error();
    cluster.authentication = authentication.value();
    if (cluster.authentication == Config::Authentication::Sasl) {
        KafkaResult<Config::SaslAuthentication> sasl = buildAuthenticationSasl();
        if (sasl.isError())
            return std::move(sasl).error();
        cluster.authenticationSasl = std::move(sasl).value();
    }
    return cluster;
}

KafkaResult<QList<Config::Broker>> EditConfigDialog::buildBrokers()
{
    const QList<QString> entries = entryTexts(ui->bootstrapBrokersList);
    if (entries.isEmpty())
        return KafkaError(KafkaErrorCode::MissingRequiredValue, tr("At least one bootstrap broker hostname is required."));
    QList<Config::Broker> brokers;
    for (const QString& entry : entries) {
        KafkaResult<Config::Broker> broker = Config::Broker::fromString(entry);
        if (broker.isError())
            return std::move(broker).error();
        brokers.append(std::move(broker).value());
    }
    return brokers;
}

KafkaResult<Config::Protocol> EditConfigDialog::buildProtocol()
{
    const QVariant protocol = ui->protocolCombo->currentData();
    if (!protocol.isValid())
        return KafkaError(KafkaErrorCode::MissingRequiredValue, tr("The Kafka brokers protocol is mandatory"));
    return protocol.value<Config::Protocol>();
}

KafkaResult<Config::Ssl> EditConfigDialog::buildSsl()
{
    Config::Ssl ssl;
    ssl.serverCertificateValidation = ui->disableServerSslCertValidationCheckBox->isChecked()
        ? Config::SslCertificateValidation::None
        : Config::SslCertificateValidation::Full;
    ssl.serverCaCertificatePaths = entryTexts(ui->caCertificatesList);
    ssl.clientCertificatePath = ui->clientCertificateEdit->text();
    ssl.clientKeyPath = ui->clientKeyEdit->text();
    ssl.clientKeyPassphrase = ui->clientKeyPassphraseEdit->text();

    if (!ssl.clientCertificatePath.isEmpty() && ssl.clientKeyPath.isEmpty())
        return KafkaError(KafkaErrorCode::MissingRequiredValue, tr("The client SSL key is required when using a client certificate"));
    if (ssl.clientCertificatePath.isEmpty() && !ssl.clientKeyPath.isEmpty())
        return KafkaError(KafkaErrorCode::MissingRequiredValue, tr("The client SSL certificate is required when using a client key"));
    if (ssl.clientCertificatePath.isEmpty() && ssl.clientKeyPath.isEmpty() && !ssl.clientKeyPassphrase.isEmpty())
        return KafkaError(KafkaErrorCode::MissingRequiredValue, tr("Cannot set a client SSL key passphrase without a key"));

    // Reads and parses the named files, whatever the protocol chosen.
    KafkaResult<QSslConfiguration> tls = KafkaConnection::makeSslConfiguration(ssl);
    if (tls.isError())
        return std::move(tls).error();
    return ssl;
}

KafkaResult<Config::Authentication> EditConfigDialog::buildAuthentication()
{
    const QVariant choice = ui->authenticationCombo->currentData();
    if (!choice.isValid())
        return KafkaError(KafkaErrorCode::MissingRequiredValue, tr("The Kafka brokers authentication mode is mandatory"));
    if (choice.value<Authentication>() == Authentication::None)
        return Config::Authentication::None;
    if (isSaslChoice(choice))
        return Config::Authentication::Sasl;
    return KafkaError(KafkaErrorCode::Unknown, tr("Invalid authentication type"));
}

KafkaResult<Config::SaslAuthentication> EditConfigDialog::buildAuthenticationSasl()
{
    Config::SaslAuthentication sasl;
    const auto choice = ui->authenticationCombo->currentData().value<Authentication>();
    switch (choice) {
    case Authentication::SaslPlain:
        sasl.mechanism = Config::SaslMechanism::Plain;
        sasl.plainUsername = ui->usernameEdit->text();
        sasl.plainPassword = ui->passwordEdit->text();
        return sasl;
    case Authentication::SaslScramSha256:
    case Authentication::SaslScramSha512:
        sasl.mechanism = choice == Authentication::SaslScramSha256 ? Config::SaslMechanism::ScramSha256
            : Config::SaslMechanism::ScramSha512;
        sasl.scramUsername = ui->usernameEdit->text();
        sasl.scramPassword = ui->passwordEdit->text();
        return sasl;
    case Authentication::None:
        break;
    }
    return KafkaError(KafkaErrorCode::Unknown, tr("Invalid SASL mechanism"));
}

KafkaResult<Config::ProtobufDeserializer> EditConfigDialog::buildProtocolBuffersDeserializer()
{
    return Config::ProtobufDeserializer { entryTexts(ui->protobufSchemaDirectoryList) };
}

void EditConfigDialog::clearErrors()
{
    errors.clear();
    ui->errorLabel->hide();
}

void EditConfigDialog::addError(const KafkaError& error)
{
    errors.append(error);
    ui->errorLabel->setText(error.message);
    ui->errorLabel->show();
}
