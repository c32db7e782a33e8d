#pragma once

#include "Config.h"
#include "Error.h"
#include "Settings.h"

#include <QList>
#include <QMainWindow>
#include <QModelIndex>

#include <memory>
#include <optional>

class ConfigListModel;
class ErrorsPopover;
class KafkaClusterClient;
class QShortcut;
class QToolButton;

namespace Ui {
class MainWindow;
}

// The application's only top-level window. Its Home tab lists the cluster
// configurations above a details pane (brokers, a busy bar while the
// cluster client bootstraps, or the last bootstrap error); from there the
// user adds, imports, edits, duplicates and deletes configurations and opens
// records and consumer groups tabs, each holding a shared reference to its
// cluster's client. The status-bar errors button shows the errors of the
// current tab, or the window's own on Home, and opens the errors popover.
//
// Threads: GUI thread only; the cluster clients are created here and emit
// their bootstrap signals here.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // The window's own errors (settings, configuration loading, import,
    // failed bootstraps), newest last.
    QList<KafkaError> errors;

private slots:
    void onConfigListItemActivated(const QModelIndex& index);
    void onConfigListContextMenu(QPoint position);
    void onConnectClicked();
    void onConsumerGroupsClicked();
    void addNewConfigClicked();
    void onEditClicked();
    void onImportConfigsActivated();
    void onDuplicateConfigActivated();
    void onRemoveConfigActivated();
    void onTabChanged(int index);
    void onTabCloseRequested(int index);
    void onStatusBarErrorsClicked();
    void onErrorsChanged();

private:
    using TabOpener = void (MainWindow::*)(const Config&, std::shared_ptr<KafkaClusterClient>);

    void setupHamburgerMenu();
    void setupConnectButton();
    QList<Config> loadConfigs();
    std::optional<Config> loadConfig(const QString& path);
    QModelIndex selectedConfigIndex() const;
    void refreshConfigDetailsPane(const QModelIndex& index);
    void showBootstrapError(const KafkaError& error);
    // The quoted names of the configurations but `except` that name a file in
    // `directory`.
    QStringList configsNamingFilesIn(const QString& directory, const QModelIndex& except) const;
    QList<KafkaError>& currentTabErrors();
    void openNewRecordsTabForConfig(const Config& config, std::shared_ptr<KafkaClusterClient> clusterClient);
    void openNewConsumersTabForConfig(const Config& config, std::shared_ptr<KafkaClusterClient> clusterClient);
    void connectToSelectedCluster(TabOpener openTab);
    void onBootstrapError(const QPersistentModelIndex& index, const KafkaClusterClient* client, const KafkaError& error);
    void selectAndShow(const QModelIndex& index);

    Settings settings;
    std::unique_ptr<Ui::MainWindow> ui;
    QToolButton* errorsButton = nullptr;
    ErrorsPopover* errorsPopover = nullptr;
    std::unique_ptr<ConfigListModel> configListModel;
    QShortcut* deleteShortcut = nullptr;

    friend class MainWindowTest;
    friend class MainWindowBrokerTest;
};
