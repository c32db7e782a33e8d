// The controls of the editor's lists: brokers, CA certificates, deserializer
// rules and schema directories, and the fields filled from file dialogs.
#include "EditConfigDialog.h"

#include "DeserializerDialog.h"
#include "DeserializerModel.h"
#include "FileHelpers.h"
#include "Settings.h"
#include "UserPrompts.h"
#include "ui_EditConfigDialog.h"

#include <QDir>
#include <QItemSelectionModel>
#include <QListWidget>

namespace {

const char* const certificateFilter = "*.crt *.pem";
const char* const keyFilter = "*.key";

// Puts the entry at `row`, scrolls to it and makes it the only selected one.
void placeEntry(QListWidget* list, QListWidgetItem* item, int row)
{
    list->insertItem(row, item);
    list->scrollToItem(item);
    list->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
}

} // namespace

void EditConfigDialog::onAddBrokerClicked()
{
    QListWidgetItem* item = appendEntry(ui->bootstrapBrokersList, QStringLiteral("hostname:9094"));
    ui->bootstrapBrokersList->scrollToItem(item);
    ui->bootstrapBrokersList->setCurrentItem(item);
    ui->bootstrapBrokersList->editItem(item);
}

void EditConfigDialog::onEditBrokerClicked()
{
    QListWidgetItem* item = ui->bootstrapBrokersList->currentItem();
    if (!item)
        return;
    ui->bootstrapBrokersList->scrollToItem(item);
    ui->bootstrapBrokersList->editItem(item);
}

void EditConfigDialog::onRemoveBrokerClicked()
{
    delete ui->bootstrapBrokersList->currentItem();
}

void EditConfigDialog::onBrokerCurrentChanged()
{
    const bool current = ui->bootstrapBrokersList->currentItem() != nullptr;
    ui->editBootstrapBrokerButton->setEnabled(current);
    ui->removeBootstrapBrokerButton->setEnabled(current);
}

void EditConfigDialog::onAuthenticationChanged()
{
    const bool sasl = isSaslChoice(ui->authenticationCombo->currentData());
    ui->usernameEdit->setEnabled(sasl);
    ui->passwordEdit->setEnabled(sasl);
    if (!sasl) {
        ui->usernameEdit->clear();
        ui->passwordEdit->clear();
    }
}

void EditConfigDialog::onPasswordEdited()
{
    // The pair chosen now gets a new password, so its stored form goes.
    const auto choice = ui->authenticationCombo->currentData().value<Authentication>();
    if (choice == Authentication::SaslPlain)
        plainPasswordEdited = true;
    else if (choice == Authentication::SaslScramSha256 || choice == Authentication::SaslScramSha512)
        scramPasswordEdited = true;
}

void EditConfigDialog::onAddCaCertificatesClicked()
{
    const QStringList paths = UserPrompts::current().openFileNames(this, tr("Select trusted CA certificate files"), QString(),
        QString::fromLatin1(certificateFilter));
    for (const QString& path : paths)
        appendEntry(ui->caCertificatesList, path);
}

void EditConfigDialog::onEditCaCertificateClicked()
{
    QListWidgetItem* item = ui->caCertificatesList->currentItem();
    if (!item)
        return;
    const QString path = UserPrompts::current().openFileName(this, tr("Select trusted CA certificate file"),
        item->data(Qt::DisplayRole).toString(), QString::fromLatin1(certificateFilter));
    if (path.isEmpty())
        return;
    item->setData(Qt::DisplayRole, path);
    ui->caCertificatesList->scrollToItem(item);
}

void EditConfigDialog::onRemoveCaCertificateClicked()
{
    delete ui->caCertificatesList->currentItem();
}

void EditConfigDialog::onCaCertificateCurrentChanged()
{
    const bool current = ui->caCertificatesList->currentItem() != nullptr;
    ui->caCertificatesEditButton->setEnabled(current);
    ui->caCertificatesRemoveButton->setEnabled(current);
}

void EditConfigDialog::onBrowseClientCertificateClicked()
{
    const QString path = UserPrompts::current().openFileName(this, tr("Select client certificate"),
        ui->clientCertificateEdit->text(), QString::fromLatin1(certificateFilter));
    if (!path.isEmpty())
        ui->clientCertificateEdit->setText(path);
}

void EditConfigDialog::onBrowseClientKeyClicked()
{
    // The same caption as for the certificate.
    const QString path = UserPrompts::current().openFileName(this, tr("Select client certificate"), ui->clientKeyEdit->text(),
        QString::fromLatin1(keyFilter));
    if (!path.isEmpty())
        ui->clientKeyEdit->setText(path);
}

void EditConfigDialog::refreshDeserializerTable()
{
    if (deserializerModel->rowCount() > 0) {
        // The last column stretches to the table's width.
        for (int column = 0; column + 1 < deserializerModel->columnCount(); ++column)
            ui->deserializersList->resizeColumnToContents(column);
        ui->deserializersList->resizeRowsToContents();
    }
    const QModelIndex current = ui->deserializersList->selectionModel()->currentIndex();
    const bool valid = current.row() >= 0 && current.column() >= 0;
    ui->editDeserializerButton->setEnabled(valid);
    ui->removeDeserializerButton->setEnabled(valid);
    ui->moveUpDeserializerButton->setEnabled(valid && current.row() != 0);
    ui->moveDownDeserializerButton->setEnabled(valid && current.row() + 1 < deserializerModel->rowCount());
}

void EditConfigDialog::onAddDeserializerClicked()
{
    deserializerDialog->deserializer = DeserializerDialog::defaultDeserializer();
    deserializerDialog->mode = DeserializerDialog::Mode::Add;
    deserializerDialog->show();
}

void EditConfigDialog::onEditDeserializerClicked()
{
    const QModelIndex current = ui->deserializersList->selectionModel()->currentIndex();
    if (!current.isValid())
        return;
    deserializerDialog->deserializer = deserializerModel->deserializer(current);
    deserializerDialog->mode = DeserializerDialog::Mode::Edit;
    deserializerDialog->show();
}

void EditConfigDialog::onRemoveDeserializerClicked()
{
    const QModelIndex current = ui->deserializersList->selectionModel()->currentIndex();
    if (!current.isValid())
        return;
    const QMessageBox::StandardButton answer = UserPrompts::current().question(this, tr("Delete deserializer confirmation"),
        tr("Are you sure you want to delete this deserializer configuration?"), QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    deserializerModel->removeDeserializer(current);
    refreshDeserializerTable();
}

void EditConfigDialog::onMoveUpDeserializerClicked()
{
    const QModelIndex current = ui->deserializersList->selectionModel()->currentIndex();
    if (!current.isValid() || current.row() == 0)
        return;
    deserializerModel->moveUp(current);
    refreshDeserializerTable();
}

void EditConfigDialog::onMoveDownDeserializerClicked()
{
    const QModelIndex current = ui->deserializersList->selectionModel()->currentIndex();
    if (!current.isValid() || current.row() + 1 >= deserializerModel->rowCount())
        return;
    deserializerModel->moveDown(current);
    refreshDeserializerTable();
}

void EditConfigDialog::onDeserializerAccepted()
{
    QItemSelectionModel* selection = ui->deserializersList->selectionModel();
    if (deserializerDialog->mode == DeserializerDialog::Mode::Add) {
        const QModelIndex added = deserializerModel->addDeserializer(deserializerDialog->deserializer);
        ui->deserializersList->scrollTo(added);
        selection->setCurrentIndex(added, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    } else if (selection->currentIndex().isValid()) {
        deserializerModel->updateDeserializer(selection->currentIndex(), deserializerDialog->deserializer);
    }
    refreshDeserializerTable();
}

void EditConfigDialog::onAddSchemaDirectoryClicked()
{
    const QString path = UserPrompts::current().existingDirectory(this, QString(), QString());
    if (path.isEmpty())
        return;
    QListWidgetItem* item = appendEntry(ui->protobufSchemaDirectoryList, path);
    ui->protobufSchemaDirectoryList->scrollToItem(item);
    ui->protobufSchemaDirectoryList->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
}

void EditConfigDialog::onEditSchemaDirectoryClicked()
{
    QListWidgetItem* item = ui->protobufSchemaDirectoryList->currentItem();
    if (!item)
        return;
    const QString text = item->data(Qt::DisplayRole).toString();
    const QString clustersDir = Settings::clustersDir();
    const QString start = QDir::isRelativePath(text) ? QStringLiteral("%1/%2").arg(clustersDir, cleanupRelativePath(text)) : text;
    const QString chosen = UserPrompts::current().existingDirectory(this, QString(), start);
    if (chosen.isEmpty())
        return;
    // A directory inside the clusters directory is stored relative to it.
    const QString prefix = clustersDir + QLatin1Char('/');
    item->setData(Qt::DisplayRole, chosen.startsWith(prefix, Qt::CaseSensitive) ? chosen.mid(prefix.size()) : chosen);
    ui->protobufSchemaDirectoryList->scrollToItem(item);
}

void EditConfigDialog::onRemoveSchemaDirectoryClicked()
{
    delete ui->protobufSchemaDirectoryList->currentItem();
}

void EditConfigDialog::onMoveUpSchemaDirectoryClicked()
{
    QListWidget* list = ui->protobufSchemaDirectoryList;
    const int row = list->currentRow();
    if (row <= 0)
        return;
    placeEntry(list, list->takeItem(row), row - 1);
}

void EditConfigDialog::onMoveDownSchemaDirectoryClicked()
{
    QListWidget* list = ui->protobufSchemaDirectoryList;
    const int row = list->currentRow();
    if (row < 0)
        return;
    placeEntry(list, list->takeItem(row), row + 1);
}

void EditConfigDialog::onSchemaDirectoryCurrentChanged()
{
    QListWidget* list = ui->protobufSchemaDirectoryList;
    const int row = list->currentItem() ? list->currentRow() : -1;
    ui->editProtobufSchemaDirectoryButton->setEnabled(row >= 0);
    ui->removeProtobufSchemaDirectoryButton->setEnabled(row >= 0);
    ui->moveUpProtobufSchemaDirectoryButton->setEnabled(row >= 1);
    ui->moveDownProtobufSchemaDirectoryButton->setEnabled(row >= 0 && row + 1 < list->count());
}
