#include "MainWindow.h"

#include "AboutDialog.h"
#include "ConfigImport.h"
#include "ConfigListModel.h"
#include "ConsumersWidget.h"
#include "EditConfigDialog.h"
#include "ErrorList.h"
#include "ErrorsPopover.h"
#include "FileHelpers.h"
#include "KafkaClusterClient.h"
#include "RecordsWidget.h"
#include "UserPrompts.h"
#include "VisibleText.h"
#include "ui_MainWindow.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QShortcut>
#include <QStatusBar>
#include <QTabBar>
#include <QToolButton>

#include <algorithm>

namespace {

// Whether the path names a directory of its own for one configuration: a
// direct child of the clusters directory. A blank or dotted file stem would
// otherwise name the clusters directory itself or one above it.
bool isConfigOwnDirectory(const QString& path)
{
    const QString clusters = QDir::cleanPath(Settings::clustersDir());
    const QString cleaned = QDir::cleanPath(path);
    return cleaned != clusters && QFileInfo(cleaned).path() == clusters;
}

// Removes a configuration's own directory; a missing one counts as removed,
// and a symbolic link is removed without touching what it points at.
bool removeConfigDirectory(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return QFile::remove(path);
    if (!info.exists())
        return true;
    return QDir(path).removeRecursively();
}

// Whether `config` names a certificate, key or CA file or a schema directory
// in `directory` or below it, under any spelling: through a linked directory,
// a linked parent of the clusters directory or a link to a file in it.
bool namesFilesIn(const Config& config, const QString& directory)
{
    const Config::Ssl& ssl = config.cluster.ssl;
    QStringList paths = ssl.serverCaCertificatePaths + config.protobufDeserializer.schemaPaths;
    paths << ssl.clientCertificatePath << ssl.clientKeyPath;
    return std::any_of(paths.cbegin(), paths.cend(), [&directory](const QString& path) {
        return !path.isEmpty() && pathWithin(resolveClusterPath(path), directory).has_value();
    });
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::MainWindow>())
{
    errorsPopover = new ErrorsPopover(this);
    configListModel = std::make_unique<ConfigListModel>(this);
    ui->setupUi(this);

    auto loadedSettings = Settings::parseFromFile();
    if (loadedSettings.hasValue()) {
        settings = std::move(loadedSettings.value());
    } else {
        for (KafkaError& error : loadedSettings.error())
            ErrorList::append(errors, error.wrap(KafkaErrorCode::SettingsLoadError, tr("Unable to load settings file")));
    }

    setupHamburgerMenu();
    setupConnectButton();
    ui->tabWidget->tabBar()->setTabButton(0, QTabBar::RightSide, nullptr);

    configListModel->setConfigs(loadConfigs());
    ui->configListView->setModel(configListModel.get());
    // The view gives a changed entry its new size but moves none of the
    // others: a renamed configuration is laid out again with all of them.
    connect(configListModel.get(), &QAbstractItemModel::dataChanged, ui->configListView,
        [view = ui->configListView] { view->doItemsLayout(); });
    ui->configListView->setFocus();

    deleteShortcut = new QShortcut(QKeySequence(Qt::Key_Delete), ui->configListView);
    deleteShortcut->setContext(Qt::WidgetShortcut);
    connect(deleteShortcut, &QShortcut::activated, this, &MainWindow::onRemoveConfigActivated);

    QSizePolicy progressPolicy = ui->progressBar->sizePolicy();
    progressPolicy.setRetainSizeWhenHidden(true);
    ui->progressBar->setSizePolicy(progressPolicy);
    ui->progressBar->hide();

    QIcon errorsIcon;
    errorsIcon.addFile(QStringLiteral(":/resources/error-16.png"), QSize(), QIcon::Normal);
    errorsIcon.addFile(QStringLiteral(":/resources/error-disabled-16.png"), QSize(), QIcon::Disabled);
    errorsButton = new QToolButton(this);
    errorsButton->setAutoRaise(true);
    errorsButton->setIcon(errorsIcon);
    ui->statusbar->addPermanentWidget(errorsButton, 0);
    onErrorsChanged();

    connect(ui->configListView, &QListView::activated, this, &MainWindow::onConfigListItemActivated);
    connect(ui->configListView, &QListView::customContextMenuRequested, this, &MainWindow::onConfigListContextMenu);
    connect(ui->addClusterButton, &QPushButton::clicked, this, &MainWindow::addNewConfigClicked);
    connect(ui->importClusterButton, &QPushButton::clicked, this, &MainWindow::onImportConfigsActivated);
    connect(ui->editButton, &QPushButton::clicked, this, &MainWindow::onEditClicked);
    connect(ui->configListView->selectionModel(), &QItemSelectionModel::currentChanged, this,
        [this](const QModelIndex& current) { refreshConfigDetailsPane(current); });
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, &MainWindow::onTabChanged);
    connect(ui->tabWidget, &QTabWidget::tabCloseRequested, this, &MainWindow::onTabCloseRequested);
    connect(errorsButton, &QToolButton::clicked, this, &MainWindow::onStatusBarErrorsClicked);
    connect(errorsPopover, &ErrorsPopover::dataChanged, this, &MainWindow::onErrorsChanged);
}

MainWindow::~MainWindow()
{
    // Every tab lets go of its client first, so that the model holds the
    // last references and the clients go with it.
    for (int index = ui->tabWidget->count() - 1; index >= 1; --index)
        delete ui->tabWidget->widget(index);
    delete deleteShortcut;
    errors.clear();
    configListModel.reset();
    delete errorsPopover;
}

void MainWindow::setupHamburgerMenu()
{
    auto* menu = new QMenu(this);
    menu->addAction(tr("Add new cluster configuration..."), this, &MainWindow::addNewConfigClicked);
    menu->addAction(tr("Import cluster configurations..."), this, &MainWindow::onImportConfigsActivated);
    menu->addSeparator();
    menu->addAction(tr("About..."), this, [this] {
        AboutDialog dialog(this);
        dialog.exec();
    });

    auto* button = new QToolButton(this);
    button->setAutoRaise(true);
    button->setToolTip(tr("Open menu"));
    button->setIcon(QIcon(QStringLiteral(":/resources/menu-16.png")));
    button->setPopupMode(QToolButton::InstantPopup);
    button->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    button->setMenu(menu);
    ui->tabWidget->setCornerWidget(button, Qt::TopRightCorner);
}

void MainWindow::setupConnectButton()
{
    auto* menu = new QMenu(this);
    menu->addAction(tr("Records"), this, &MainWindow::onConnectClicked);
    menu->addAction(tr("Consumer groups"), this, &MainWindow::onConsumerGroupsClicked);
    ui->connectButton->setMenu(menu);
}

QList<Config> MainWindow::loadConfigs()
{
    QList<Config> configs;
    QDirIterator files(Settings::clustersDir(), { QStringLiteral("*.yml") }, QDir::Files);
    while (files.hasNext()) {
        files.next();
        if (auto config = loadConfig(files.fileInfo().absoluteFilePath()))
            configs.append(std::move(*config));
    }
    return configs;
}

std::optional<Config> MainWindow::loadConfig(const QString& path)
{
    auto loaded = Config::parseFromFile(path);
    if (!loaded.hasValue()) {
        for (KafkaError& error : loaded.error())
            ErrorList::append(errors, error.wrap(KafkaErrorCode::InvalidYamlDocument, tr("Unable to load configuration file '%1'").arg(path)));
        return std::nullopt;
    }
    // Loaded, with problems the user must still see (an undecryptable
    // password, for instance).
    ErrorList::append(errors, loaded.value().loadErrors);
    return std::move(loaded.value());
}

QModelIndex MainWindow::selectedConfigIndex() const
{
    const QModelIndex index = ui->configListView->selectionModel()->currentIndex();
    if (!index.isValid() || index.row() < 1)
        return {};
    return index;
}

void MainWindow::refreshConfigDetailsPane(const QModelIndex& index)
{
    if (!index.isValid() || index.row() == 0) {
        ui->informationStackedWidget->setCurrentWidget(ui->addConfigPage);
        return;
    }
    ui->informationStackedWidget->setCurrentWidget(ui->clusterInformationPage);
    const bool connecting = configListModel->isClusterClientConnecting(index);
    if (connecting) {
        ui->progressStackedWidget->setCurrentWidget(ui->progressPage);
        ui->progressBar->show();
    } else if (configListModel->isClusterClientError(index)) {
        showBootstrapError(configListModel->clusterClientError(index));
    } else {
        ui->progressStackedWidget->setCurrentWidget(ui->progressPage);
        ui->progressBar->hide();
    }
    ui->connectButton->setEnabled(!connecting);

    const Config& config = configListModel->config(index);
    QStringList brokers;
    for (const Config::Broker& broker : config.cluster.brokers)
        brokers.append(QStringLiteral("%1:%2").arg(broker.host).arg(broker.port));
    ui->brokersLabel->setText(brokers.isEmpty() ? tr("None") : brokers.join(QStringLiteral(", ")));
}

void MainWindow::showBootstrapError(const KafkaError& error)
{
    ui->progressBar->hide();
    // A failed bootstrap has one cause per broker tried, each saying why.
    ui->errorLabel->setText(visibleErrorLines(error));
    ui->progressStackedWidget->setCurrentWidget(ui->errorPage);
}

QList<KafkaError>& MainWindow::currentTabErrors()
{
    QWidget* current = ui->tabWidget->currentWidget();
    if (auto* records = qobject_cast<RecordsWidget*>(current))
        return records->errors;
    if (auto* consumers = qobject_cast<ConsumersWidget*>(current))
        return consumers->errors;
    return errors;
}

void MainWindow::openNewRecordsTabForConfig(const Config& config, std::shared_ptr<KafkaClusterClient> clusterClient)
{
    auto* tab = new RecordsWidget(*ui->statusbar, settings, config, std::move(clusterClient));
    connect(tab, &RecordsWidget::errorsChanged, this, &MainWindow::onErrorsChanged);
    const int index = ui->tabWidget->addTab(tab, visibleText(config.displayName) + tr(" - Records"));
    ui->tabWidget->setCurrentIndex(index);
}

void MainWindow::openNewConsumersTabForConfig(const Config& config, std::shared_ptr<KafkaClusterClient> clusterClient)
{
    auto* tab = new ConsumersWidget(*ui->statusbar, settings, config, std::move(clusterClient));
    connect(tab, &ConsumersWidget::errorsChanged, this, &MainWindow::onErrorsChanged);
    const int index = ui->tabWidget->addTab(tab, visibleText(config.displayName) + tr(" - Consumer Groups"));
    ui->tabWidget->setCurrentIndex(index);
}

void MainWindow::connectToSelectedCluster(TabOpener openTab)
{
    const QModelIndex index = selectedConfigIndex();
    if (!index.isValid())
        return;
    std::shared_ptr<KafkaClusterClient> client = configListModel->clusterClient(index);
    if (configListModel->isClusterClientConnecting(index))
        return;
    configListModel->clearClusterClientError(index);
    const Config config = configListModel->config(index);
    if (client->bootstrapState() == KafkaClusterClient::BootstrapState::Complete) {
        (this->*openTab)(config, std::move(client));
        return;
    }

    // The handlers name their client by address only: a shared reference
    // held by a connection of the client's own signal would keep it alive
    // for ever. The row is found again through a persistent index, which
    // follows removals of other rows.
    const QPersistentModelIndex row(index);
    const KafkaClusterClient* emitting = client.get();
    connect(client.get(), &KafkaClusterClient::bootstrapComplete, this, [this, openTab, config, row, emitting] {
        if (!row.isValid() || configListModel->configState(row).clusterClient.get() != emitting)
            return;
        (this->*openTab)(config, configListModel->clusterClient(row));
        if (ui->configListView->currentIndex() == row)
            refreshConfigDetailsPane(row);
    });
    connect(
        client.get(), &KafkaClusterClient::bootstrapError, this,
        [this, row, emitting](const KafkaError& error) { onBootstrapError(row, emitting, error); },
        Qt::DirectConnection);
    client->bootstrap();
    refreshConfigDetailsPane(index);
}

void MainWindow::onBootstrapError(const QPersistentModelIndex& row, const KafkaClusterClient* client, const KafkaError& error)
{
    if (!row.isValid())
        return;
    ConfigListModel::ConfigState& state = configListModel->configState(row);
    if (state.clusterClient.get() != client)
        return;
    configListModel->setClusterClientError(row, error);
    ErrorList::append(errors, error);
    onErrorsChanged();
    // The client is emitting: its last reference goes only after the
    // emission has returned, from the event loop.
    std::shared_ptr<KafkaClusterClient> released = std::move(state.clusterClient);
    configListModel->disconnectClusterClient(row);
    QMetaObject::invokeMethod(this, [released = std::move(released)]() mutable { released.reset(); }, Qt::QueuedConnection);
    if (ui->configListView->currentIndex() == row)
        refreshConfigDetailsPane(row);
}

void MainWindow::onConfigListItemActivated(const QModelIndex& index)
{
    if (index.row() < 0)
        return;
    if (index.row() == 0)
        addNewConfigClicked();
    else
        connectToSelectedCluster(&MainWindow::openNewRecordsTabForConfig);
}

void MainWindow::onConfigListContextMenu(QPoint position)
{
    const QModelIndex index = ui->configListView->indexAt(position);
    if (!index.isValid() || index.row() < 1)
        return;
    QMenu menu(this);
    QAction* browse = menu.addAction(tr("Browse records"), this, &MainWindow::onConnectClicked);
    menu.setDefaultAction(browse);
    menu.addAction(tr("Show consumer groups"), this, &MainWindow::onConsumerGroupsClicked);
    menu.addSeparator();
    menu.addAction(tr("Edit..."), this, &MainWindow::onEditClicked);
    menu.addAction(tr("Duplicate..."), this, &MainWindow::onDuplicateConfigActivated);
    menu.addAction(tr("Delete..."), this, &MainWindow::onRemoveConfigActivated);
    menu.exec(ui->configListView->viewport()->mapToGlobal(position));
}

void MainWindow::onConnectClicked()
{
    connectToSelectedCluster(&MainWindow::openNewRecordsTabForConfig);
}

void MainWindow::onConsumerGroupsClicked()
{
    connectToSelectedCluster(&MainWindow::openNewConsumersTabForConfig);
}

void MainWindow::selectAndShow(const QModelIndex& index)
{
    ui->configListView->setCurrentIndex(index);
    refreshConfigDetailsPane(index);
}

void MainWindow::addNewConfigClicked()
{
    Config empty;
    empty.cluster.ssl.serverCertificateValidation = Config::SslCertificateValidation::Full;
    EditConfigDialog dialog(std::move(empty), EditConfigDialog::Mode::Add, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    ui->tabWidget->setCurrentIndex(0);
    auto config = loadConfig(dialog.config.filePath);
    onErrorsChanged();
    if (config)
        selectAndShow(configListModel->appendConfig(std::move(*config)));
}

void MainWindow::onEditClicked()
{
    const QModelIndex index = selectedConfigIndex();
    if (!index.isValid())
        return;
    EditConfigDialog dialog(configListModel->config(index), EditConfigDialog::Mode::Edit, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const QPersistentModelIndex row(index);
    auto config = loadConfig(configListModel->config(row).filePath);
    onErrorsChanged();
    if (config && row.isValid()) {
        configListModel->updateConfig(row, std::move(*config));
        refreshConfigDetailsPane(row);
    }
}

void MainWindow::onDuplicateConfigActivated()
{
    const QModelIndex index = selectedConfigIndex();
    if (!index.isValid())
        return;
    EditConfigDialog dialog(configListModel->config(index), EditConfigDialog::Mode::Duplicate, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    auto config = loadConfig(dialog.config.filePath);
    onErrorsChanged();
    if (config)
        selectAndShow(configListModel->appendConfig(std::move(*config)));
}

void MainWindow::onImportConfigsActivated()
{
    const QStringList paths = ConfigImport::chooseFiles(this);
    if (paths.isEmpty())
        return;
    ui->tabWidget->setCurrentIndex(0);
    ImportResult result = ConfigImport::importFiles(this, paths);
    ErrorList::append(errors, result.errors);
    onErrorsChanged();
    QModelIndex last;
    for (Config& config : result.configs)
        last = configListModel->appendConfig(std::move(config));
    if (last.isValid())
        selectAndShow(last);
}

void MainWindow::onRemoveConfigActivated()
{
    const QModelIndex index = selectedConfigIndex();
    if (!index.isValid())
        return;
    if (configListModel->isClusterClientConnected(index) || configListModel->isClusterClientConnecting(index)) {
        showBootstrapError(KafkaError(KafkaErrorCode::ConfigurationInUse,
            tr("Unable to remove the cluster configuration as it is in use")));
        return;
    }
    const Config config = configListModel->config(index);
    const auto answer = UserPrompts::current().question(this, tr("Delete cluster confirmation"),
        tr("Are you sure you want to delete the configuration for the cluster '%1'?").arg(config.displayName),
        QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;

    // A file already gone counts as removed: the row goes all the same.
    if (QFileInfo::exists(config.filePath) && !QFile::remove(config.filePath)) {
        showBootstrapError(KafkaError(KafkaErrorCode::FileRemoveError, tr("Failed to remove file '%1'").arg(config.filePath)));
        return;
    }
    // Only a directory of the configuration's own is removed, never the
    // clusters directory or anything outside it, and never one in which
    // another configuration names a file (a copy made before duplicates got
    // files of their own, or one edited by hand).
    const QString extraPath = config.extraPath();
    const QStringList users = isConfigOwnDirectory(extraPath) ? configsNamingFilesIn(extraPath, index) : QStringList();
    if (isConfigOwnDirectory(extraPath) && users.isEmpty() && !removeConfigDirectory(extraPath)) {
        showBootstrapError(KafkaError(KafkaErrorCode::FileRemoveError, tr("Failed to remove directory '%1'").arg(extraPath)));
        return;
    }
    configListModel->removeConfig(index);
    if (!users.isEmpty()) {
        UserPrompts::current().information(this, tr("Directory kept"),
            tr("The directory '%1' was kept, as other configurations still use files in it: %2")
                .arg(extraPath, users.join(QStringLiteral(", "))));
    }
}

QStringList MainWindow::configsNamingFilesIn(const QString& directory, const QModelIndex& except) const
{
    QStringList names;
    for (int row = 1; row < configListModel->rowCount(); ++row) {
        const QModelIndex other = configListModel->index(row, 0);
        if (other != except && namesFilesIn(configListModel->configState(other).config, directory))
            names.append(QStringLiteral("'%1'").arg(configListModel->configState(other).config.displayName));
    }
    return names;
}

void MainWindow::onTabChanged(int index)
{
    if (index == 0)
        ui->statusbar->clearMessage();
    onErrorsChanged();
}

void MainWindow::onTabCloseRequested(int index)
{
    if (index < 1)
        return;
    delete ui->tabWidget->widget(index);
    configListModel->disconnectUnusedClients();
    const QModelIndex current = ui->configListView->currentIndex();
    if (current.isValid())
        refreshConfigDetailsPane(current);
}

void MainWindow::onStatusBarErrorsClicked()
{
    const QPoint anchor = errorsButton->mapToGlobal(QPoint(errorsButton->width() / 2, errorsButton->height() / 4));
    errorsPopover->setErrors(currentTabErrors());
    errorsPopover->setPosition(anchor, Popover::Position::Above);
    errorsPopover->show();
}

void MainWindow::onErrorsChanged()
{
    const qsizetype count = currentTabErrors().size();
    if (count == 0)
        errorsButton->setToolTip(tr("No errors"));
    else if (count == 1)
        errorsButton->setToolTip(tr("1 error"));
    else
        errorsButton->setToolTip(tr("%1 errors").arg(count));
    errorsButton->show();
    errorsButton->setEnabled(count > 0);
}
