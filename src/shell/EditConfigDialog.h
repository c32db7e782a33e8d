#pragma once

#include "Config.h"
#include "Error.h"
#include "Result.h"

#include <QDialog>
#include <QList>

#include <cstdint>
#include <memory>

class DeserializerDialog;
class DeserializerModel;
class QListWidget;
class QListWidgetItem;

namespace Ui {
class EditConfigDialog;
}

// The modal dialog in which the user adds, edits or duplicates one cluster
// configuration. On OK it builds a Config from the form, checks it (the TLS
// settings by building them, which reads the named files), chooses the file
// and saves it; every problem is shown in the error label and keeps the
// dialog open with everything typed. Its only lasting effect is the saved
// file, whose path is `config.filePath` once the dialog is accepted, and for
// a duplicate the copies of the files that lie in the original's own
// directory, which the duplicate names instead (ConfigDuplicateCopier).
//
// A password that could not be decrypted when the configuration was loaded
// is kept in its stored form and written back unchanged while its field
// stays untouched; typing in the field (also clearing it) replaces it.
class EditConfigDialog : public QDialog {
    Q_OBJECT

public:
    enum class Mode : std::int32_t { Add = 0, Edit = 1, Duplicate = 2 };
    // The choices of the authentication combo, its item data.
    enum class Authentication : std::int32_t { None = 0, SaslPlain = 1, SaslScramSha256 = 2, SaslScramSha512 = 3 };

    EditConfigDialog(Config edited, Mode editMode, QWidget* parent = nullptr);
    ~EditConfigDialog() override;

    // The configuration given; after a valid OK the one built from the form.
    Config config;
    // The problems of the last OK, in the order found; the label shows the last.
    QList<KafkaError> errors;

private slots:
    void onOkClicked();

    void onAddBrokerClicked();
    void onEditBrokerClicked();
    void onRemoveBrokerClicked();
    void onBrokerCurrentChanged();
    void onAuthenticationChanged();
    void onPasswordEdited();

    void onAddCaCertificatesClicked();
    void onEditCaCertificateClicked();
    void onRemoveCaCertificateClicked();
    void onCaCertificateCurrentChanged();
    void onBrowseClientCertificateClicked();
    void onBrowseClientKeyClicked();

    void onAddDeserializerClicked();
    void onEditDeserializerClicked();
    void onRemoveDeserializerClicked();
    void onMoveUpDeserializerClicked();
    void onMoveDownDeserializerClicked();
    void onDeserializerAccepted();

    void onAddSchemaDirectoryClicked();
    void onEditSchemaDirectoryClicked();
    void onRemoveSchemaDirectoryClicked();
    void onMoveUpSchemaDirectoryClicked();
    void onMoveDownSchemaDirectoryClicked();
    void onSchemaDirectoryCurrentChanged();

private:
    // Whether the authentication combo's item data is one of the SASL choices.
    static bool isSaslChoice(const QVariant& data);
    // A list entry that the user may also edit in place.
    static QListWidgetItem* appendEntry(QListWidget* list, const QString& text);

    void setupBrokersTab();
    void setupSslTab();
    void setupDeserializersTab();
    void setupProtocolBuffersTab();
    void refreshDeserializerTable();
    void clearErrors();
    void addError(const KafkaError& error);

    KafkaResult<QList<Config::Broker>> buildBrokers();
    KafkaResult<Config::Protocol> buildProtocol();
    KafkaResult<Config::Ssl> buildSsl();
    KafkaResult<Config::Authentication> buildAuthentication();
    KafkaResult<Config::SaslAuthentication> buildAuthenticationSasl();
    KafkaResult<Config::Cluster> buildCluster();
    KafkaResult<Config::ProtobufDeserializer> buildProtocolBuffersDeserializer();

    Mode mode;
    // Duplicate mode: the own directory of the configuration duplicated.
    QString duplicatedDir;
    // Children of the dialog.
    DeserializerModel* deserializerModel = nullptr;
    DeserializerDialog* deserializerDialog = nullptr;
    std::unique_ptr<Ui::EditConfigDialog> ui;
    // Whether the user typed in the password field while the pair was chosen.
    bool plainPasswordEdited = false;
    bool scramPasswordEdited = false;

    friend class EditConfigDialogTest;
};
