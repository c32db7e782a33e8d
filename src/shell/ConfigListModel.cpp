#include "ConfigListModel.h"

#include "KafkaClusterClient.h"

#include <QMainWindow>
#include <QPixmap>

#include <algorithm>
#include <cmath>

ConfigListModel::ConfigListModel(QMainWindow* window, QObject* parent)
    : QAbstractListModel(parent)
    , mainWindow(window)
    , addConfigIcon(QStringLiteral(":/resources/add-config-64.png"))
    , clusterIcon(QStringLiteral(":/resources/kafka-64.png"))
{
}

ConfigListModel::~ConfigListModel() = default;

int ConfigListModel::rowCount(const QModelIndex&) const
{
    return static_cast<int>(configs.size()) + 1;
}

QVariant ConfigListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() > static_cast<int>(configs.size()))
        return {};
    const bool addRow = index.row() == 0;
    if (role == Qt::DisplayRole)
        return addRow ? tr("Add new cluster...") : configs[index.row() - 1].config.displayName;
    if (role == Qt::DecorationRole) {
        const qreal ratio = std::ceil(mainWindow != nullptr ? mainWindow->devicePixelRatioF() : 1.0);
        const QIcon& icon = addRow ? addConfigIcon : clusterIcon;
        return icon.pixmap(QSize(64, 64), ratio, QIcon::Normal, QIcon::Off);
    }
    return {};
}

void ConfigListModel::setConfigs(QList<Config> list)
{
    std::sort(list.begin(), list.end(), [](const Config& a, const Config& b) {
        return a.displayName.compare(b.displayName, Qt::CaseInsensitive) < 0;
    });
    for (Config& config : list)
        configs.push_back(ConfigState { std::move(config), std::nullopt, nullptr });
}

QModelIndex ConfigListModel::appendConfig(Config config)
{
    const int row = static_cast<int>(configs.size()) + 1;
    beginInsertRows(QModelIndex(), row, row);
    configs.push_back(ConfigState { std::move(config), std::nullopt, nullptr });
    endInsertRows();
    return this->index(row, 0);
}

void ConfigListModel::updateConfig(const QModelIndex& index, Config config)
{
    configState(index).config = std::move(config);
    emit dataChanged(index, index);
}

void ConfigListModel::removeConfig(const QModelIndex& index)
{
    const int row = index.row();
    beginRemoveRows(QModelIndex(), row, row);
    configs.erase(configs.begin() + (row - 1));
    endRemoveRows();
}

Config& ConfigListModel::config(const QModelIndex& index)
{
    return configState(index).config;
}

ConfigListModel::ConfigState& ConfigListModel::configState(const QModelIndex& index)
{
    return configs[static_cast<std::size_t>(index.row() - 1)];
}

const ConfigListModel::ConfigState& ConfigListModel::configState(const QModelIndex& index) const
{
    return configs[static_cast<std::size_t>(index.row() - 1)];
}

QModelIndex ConfigListModel::indexForFilePath(const QString& filePath) const
{
    for (std::size_t i = 0; i < configs.size(); ++i) {
        if (configs[i].config.filePath == filePath)
            return index(static_cast<int>(i) + 1, 0);
    }
    return {};
}

std::shared_ptr<KafkaClusterClient> ConfigListModel::clusterClient(const QModelIndex& index)
{
    ConfigState& state = configState(index);
    if (!state.clusterClient)
        state.clusterClient
            = std::make_shared<KafkaClusterClient>(state.config.clientId, state.config.cluster, connectionLimits);
    return state.clusterClient;
}

void ConfigListModel::disconnectClusterClient(const QModelIndex& index)
{
    configState(index).clusterClient.reset();
}

void ConfigListModel::disconnectUnusedClients()
{
    for (ConfigState& state : configs) {
        if (state.clusterClient && state.clusterClient.use_count() == 1)
            state.clusterClient.reset();
    }
}

bool ConfigListModel::isClusterClientConnecting(const QModelIndex& index) const
{
    const auto& client = configState(index).clusterClient;
    if (!client)
        return false;
    const auto state = client->bootstrapState();
    return state == KafkaClusterClient::BootstrapState::Connecting
        || state == KafkaClusterClient::BootstrapState::FetchingMetadata
        || state == KafkaClusterClient::BootstrapState::ClosingBootstrapConnection;
}

bool ConfigListModel::isClusterClientConnected(const QModelIndex& index) const
{
    const auto& client = configState(index).clusterClient;
    return client && client->bootstrapState() == KafkaClusterClient::BootstrapState::Complete;
}

bool ConfigListModel::isClusterClientError(const QModelIndex& index) const
{
    return configState(index).clusterClientError.has_value();
}

KafkaError ConfigListModel::clusterClientError(const QModelIndex& index) const
{
    return *configState(index).clusterClientError;
}

void ConfigListModel::setClusterClientError(const QModelIndex& index, KafkaError error)
{
    configState(index).clusterClientError = std::move(error);
}

void ConfigListModel::clearClusterClientError(const QModelIndex& index)
{
    configState(index).clusterClientError.reset();
}
