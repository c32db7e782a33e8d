#pragma once

#include "Config.h"
#include "Error.h"
#include "KafkaConnection.h"

#include <QAbstractListModel>
#include <QIcon>

#include <deque>
#include <memory>
#include <optional>

class KafkaClusterClient;
class QMainWindow;

// The list behind the main window's cluster list: row 0 is the fixed "Add new
// cluster..." entry, every further row one cluster configuration with the
// last bootstrap error of its cluster and the shared cluster client, created
// on the first connect and released when its bootstrap fails or when no tab
// holds it any more.
//
// Threads: GUI thread only. Every holder of a client reference (tabs, the
// main window's handlers) lives there too, which makes the use-count test of
// disconnectUnusedClients meaningful.
//
// The operations taking an index expect a valid configuration row (row >= 1);
// callers check this first.
class ConfigListModel : public QAbstractListModel {
    Q_OBJECT

public:
    struct ConfigState {
        Config config;
        std::optional<KafkaError> clusterClientError;
        std::shared_ptr<KafkaClusterClient> clusterClient;
    };

    // The main window's device pixel ratio sizes the icons.
    explicit ConfigListModel(QMainWindow* mainWindow, QObject* parent = nullptr);
    ~ConfigListModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Sorts by display name (case-insensitively) and appends, without model
    // notifications: called once, before the model is set on a view.
    void setConfigs(QList<Config> configs);
    // Appends a row at the end and returns its index.
    QModelIndex appendConfig(Config config);
    // Replaces the configuration; its error and client stay.
    void updateConfig(const QModelIndex& index, Config config);
    void removeConfig(const QModelIndex& index);

    Config& config(const QModelIndex& index);
    ConfigState& configState(const QModelIndex& index);
    const ConfigState& configState(const QModelIndex& index) const;
    // The row whose configuration has this file path, or an invalid index.
    QModelIndex indexForFilePath(const QString& filePath) const;

    // The row's client, created (not bootstrapped) on first use.
    std::shared_ptr<KafkaClusterClient> clusterClient(const QModelIndex& index);
    // Drops the row's reference to its client.
    void disconnectClusterClient(const QModelIndex& index);
    // Drops every client that nothing but this model holds.
    void disconnectUnusedClients();

    // The time limits of the connections of the clients created from now on.
    void setConnectionLimits(KafkaConnection::Limits limits) { connectionLimits = limits; }

    bool isClusterClientConnecting(const QModelIndex& index) const;
    bool isClusterClientConnected(const QModelIndex& index) const;
    bool isClusterClientError(const QModelIndex& index) const;
    KafkaError clusterClientError(const QModelIndex& index) const;
    void setClusterClientError(const QModelIndex& index, KafkaError error);
    void clearClusterClientError(const QModelIndex& index);

private:
    std::deque<ConfigState> configs;
    QMainWindow* mainWindow;
    KafkaConnection::Limits connectionLimits = KafkaConnection::DefaultLimits;
    QIcon addConfigIcon;
    QIcon clusterIcon;
};
