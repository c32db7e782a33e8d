#include "ErrorsPopover.h"

#include "ErrorListModel.h"
#include "VisibleText.h"
#include "ui_ErrorsPopover.h"

ErrorsPopover::ErrorsPopover(QWidget* parent)
    : Popover(parent)
    , ui(std::make_unique<Ui::ErrorsPopover>())
    , errorListModel(std::make_unique<ErrorListModel>())
{
    ui->setupUi(this);
    ui->listView->setModel(errorListModel.get());
    connect(ui->listView->selectionModel(), &QItemSelectionModel::currentChanged, this,
        &ErrorsPopover::onErrorSelected);
    connect(ui->clearAllButton, &QPushButton::clicked, this, &ErrorsPopover::onClearAllErrors);
}

ErrorsPopover::~ErrorsPopover() = default;

void ErrorsPopover::setErrors(QList<KafkaError>& errors)
{
    errorListModel->setErrors(&errors);
}

void ErrorsPopover::showEvent(QShowEvent* event)
{
    Popover::showEvent(event);
    refreshDetailsPane();
}

void ErrorsPopover::closeEvent(QCloseEvent* event)
{
    errorListModel->setErrors(nullptr);
    Popover::closeEvent(event);
}

void ErrorsPopover::refreshDetailsPane()
{
    if (errorListModel->rowCount() > 0) {
        ui->listView->setCurrentIndex(errorListModel->index(0, 0));
        ui->clearAllButton->setEnabled(true);
    } else {
        ui->label->setAlignment(Qt::AlignCenter);
        ui->label->setText(tr("No errors"));
        ui->clearAllButton->setEnabled(false);
    }
}

void ErrorsPopover::onErrorSelected(const QModelIndex& current, const QModelIndex&)
{
    if (!current.isValid())
        return;
    const KafkaError& error = errorListModel->getError(current.row());
    QString text = visibleText(error.message);
    for (const KafkaError& cause : error.causes)
        text += QStringLiteral("\n\nCaused by: ") + visibleText(cause.message);
    ui->label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ui->label->setText(text);
}

void ErrorsPopover::onClearAllErrors()
{
    errorListModel->clearErrors();
    refreshDetailsPane();
    emit dataChanged();
    close();
}
