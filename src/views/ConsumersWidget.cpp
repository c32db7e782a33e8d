#include "ConsumersWidget.h"

#include "ConsumerAssignmentModel.h"
#include "ConsumerGroupDescription.h"
#include "ErrorList.h"
#include "KafkaClusterClient.h"
#include "KafkaConnection.h"
#include "KafkaConsumerGroupDescribeRequest.h"
#include "KafkaDescribeGroupsRequest.h"
#include "KafkaLatestOffsetsLookup.h"
#include "KafkaListGroupsRequest.h"
#include "KafkaListGroupsResponse.h"
#include "MeasuredComboBox.h"
#include "VisibleText.h"
#include "VisibleTextDelegate.h"
#include "ui_ConsumersWidget.h"

#include <QFutureWatcher>
#include <QHeaderView>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QtConcurrentRun>

#include <algorithm>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

// The group's name as it is; the selector shows it as visibleText does.
constexpr int GroupNameRole = Qt::UserRole + 1;

// Runs `work` on the global thread pool and hands its result to `done` on the
// thread of `context`, unless `context` is gone by then. `work` gets values
// only.
template <typename Work, typename Done>
void runInBackground(QObject* context, Work work, Done done)
{
    using Value = std::invoke_result_t<Work>;
    auto* watcher = new QFutureWatcher<Value>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, context, [watcher, done = std::move(done)]() mutable {
        watcher->deleteLater();
        done(watcher->future().takeResult());
    });
    watcher->setFuture(QtConcurrent::run(std::move(work)));
}

// One broker's ListGroups answer, decoded on any thread: its groups of the
// consumer protocol type.
KafkaResult<QList<ConsumersWidget::Group>> consumerGroupsOf(KafkaRawResponse answer, std::int32_t brokerId)
{
    KafkaResult<KafkaListGroupsResponse> response = KafkaListGroupsResponse::parseFromRaw(answer);
    if (response.isError())
        return response.error();
    if (response.value().errorCode != KafkaProtocolError::None) {
        return KafkaError(KafkaConnection::mapProtocolError(response.value().errorCode, KafkaErrorCode::ListGroupsError),
            ConsumersWidget::tr("The server returned an error when fetching the list of consumer groups"));
    }
    QList<ConsumersWidget::Group> groups;
    for (const KafkaListGroupsResponse::Group& group : response.value().groups) {
        if (group.protocolType == ConsumerGroupDescription::ConsumerProtocolType)
            groups.append(ConsumersWidget::Group { group.groupId, brokerId });
    }
    return groups;
}

} // namespace

// The group selector's items, made on any thread, and the width of the
// widest name in the selector's font.
struct ConsumersWidget::SelectorItems {
    std::vector<std::unique_ptr<QStandardItem>> items;
    QFont font;
    int widestText = 0;
};

std::shared_ptr<ConsumersWidget::SelectorItems> ConsumersWidget::selectorItems(QList<Group> listed, const QFont& font)
{
    std::stable_sort(listed.begin(), listed.end(), [](const Group& left, const Group& right) {
        return QString::compare(left.name, right.name, Qt::CaseInsensitive) < 0;
    });
    auto selector = std::make_shared<SelectorItems>();
    selector->font = font;
    selector->items.reserve(size_t(listed.size()));
    QStringList names;
    names.reserve(listed.size());
    for (const Group& group : listed) {
        // As QComboBox::addItem makes them, with the name as it is beside
        // the one shown.
        const QString shown = visibleText(group.name);
        auto item = std::make_unique<QStandardItem>(shown);
        item->setData(group.coordinatorId, Qt::UserRole);
        item->setData(group.name, GroupNameRole);
        selector->items.push_back(std::move(item));
        names.append(shown);
    }
    selector->widestText = MeasuredComboBox::widestText(names, QFontMetrics(font));
    return selector;
}

ConsumersWidget::ConsumersWidget(QStatusBar& windowStatusBar, Settings& /*settings*/, const Config& /*config*/,
    std::shared_ptr<KafkaClusterClient> client, QWidget* parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::ConsumersWidget>())
    , statusBar(windowStatusBar)
    , clusterClient(std::move(client))
    , assignmentModel(std::make_unique<ConsumerAssignmentModel>())
{
    ui->setupUi(this);
    ui->errorLabel->hide();
    connect(clusterClient.get(), &KafkaClusterClient::connectionError, this,
        &ConsumersWidget::onClusterClientConnectionError);
    ui->groupDetailsFrame->setTitleWidget(ui->groupSelectorWidget);
    connect(ui->groupsComboBox, &QComboBox::currentIndexChanged, this, &ConsumersWidget::refreshAssignments);
    ui->assignmentsTableView->setModel(assignmentModel.get());
    ui->assignmentsTableView->setItemDelegate(new VisibleTextDelegate(ui->assignmentsTableView));
    // Rows of one height: a group may have a million assigned partitions,
    // and measuring each row would hold up the window for as long.
    ui->assignmentsTableView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    refreshGroups();
}

ConsumersWidget::~ConsumersWidget() = default;

void ConsumersWidget::showError(KafkaError error)
{
    ui->errorLabel->setText(visibleText(error.message));
    ui->errorLabel->show();
}

void ConsumersWidget::clearError()
{
    ui->errorLabel->hide();
}

void ConsumersWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    statusBar.clearMessage();
}

void ConsumersWidget::onClusterClientConnectionError(int /*brokerId*/, KafkaError error)
{
    showError(std::move(error));
}

void ConsumersWidget::appendError(KafkaError error)
{
    ErrorList::append(errors, std::move(error));
    emit errorsChanged();
}

void ConsumersWidget::appendErrors(const QList<KafkaError>& more)
{
    if (more.isEmpty())
        return;
    ErrorList::append(errors, more);
    emit errorsChanged();
}

bool ConsumersWidget::isSelected(const Selection& selection) const
{
    return selection.serial == selectionSerial;
}

void ConsumersWidget::clearGroupDetails()
{
    ui->groupState->clear();
    ui->groupCoordinator->clear();
    ui->protocolData->clear();
    assignmentModel->clear();
    latestOffsets.reset();
}

// --- the groups ---------------------------------------------------------------

void ConsumersWidget::refreshGroups()
{
    groups.clear();
    ui->errorLabel->hide();
    const QList<KafkaMetadataResponse::Broker> brokers = clusterClient->brokers();
    pendingListGroupsResponses = static_cast<int>(brokers.size());
    for (const KafkaMetadataResponse::Broker& broker : brokers) {
        Result<KafkaConnection*, KafkaError> connection = clusterClient->brokerConnectionForId(broker.nodeId);
        if (connection.isError()) {
            appendError(connection.error());
            --pendingListGroupsResponses;
            continue;
        }
        KafkaConnection* target = connection.value();
        target->send(std::make_unique<KafkaListGroupsRequest>(target->nextCorrelationId(), clusterClient->clientId(),
                         QStringList()),
            this, [this, brokerId = broker.nodeId](KafkaResult<KafkaRawResponse> answer) {
                onListGroupsAnswer(brokerId, answer);
            });
    }
}

void ConsumersWidget::onListGroupsAnswer(std::int32_t brokerId, KafkaResult<KafkaRawResponse>& answer)
{
    // Each broker's failure is its own: the groups of the others are still shown.
    if (answer.isError()) {
        appendError(answer.error());
        countListGroupsAnswer();
        return;
    }
    runInBackground(
        this, [raw = std::move(answer.value()), brokerId] { return consumerGroupsOf(raw, brokerId); },
        [this](KafkaResult<QList<Group>> listed) {
            if (listed.isError())
                appendError(listed.error());
            else
                groups.append(listed.value());
            countListGroupsAnswer();
        });
}

void ConsumersWidget::countListGroupsAnswer()
{
    if (--pendingListGroupsResponses <= 0)
        showConsumerGroups(std::exchange(groups, {}));
}

void ConsumersWidget::showConsumerGroups(QList<Group> listed)
{
    // Sorted, and made into items, away from the GUI thread: a cluster may
    // have hundreds of thousands of groups.
    runInBackground(
        this, [listed = std::move(listed), font = ui->groupsComboBox->font()] { return selectorItems(listed, font); },
        [this](const std::shared_ptr<SelectorItems>& selector) { fillGroupSelector(*selector); });
}

void ConsumersWidget::fillGroupSelector(SelectorItems& selector)
{
    // Filling the selector chooses nothing: the user does.
    {
        const QSignalBlocker blocker(ui->groupsComboBox);
        ui->groupsComboBox->clear();
        QList<QStandardItem*> items;
        items.reserve(qsizetype(selector.items.size()));
        for (std::unique_ptr<QStandardItem>& item : selector.items)
            items.append(item.release());
        // The selector's model takes them, in one insertion.
        qobject_cast<QStandardItemModel*>(ui->groupsComboBox->model())->invisibleRootItem()->appendRows(items);
        ui->groupsComboBox->setCurrentIndex(-1);
        if (selector.font == ui->groupsComboBox->font())
            ui->groupsComboBox->setWidestItemText(selector.widestText);
    }
    // The header fixes its title widget's size when it takes the widget:
    // handed over again, the selector is as wide as the longest group name.
    ui->groupDetailsFrame->setTitleWidget(ui->groupSelectorWidget);
    refreshAssignments();
}

// --- the selected group ---------------------------------------------------------

void ConsumersWidget::refreshAssignments()
{
    // Whatever was shown belongs to the previous choice; its answers still
    // on their way are dropped.
    ++selectionSerial;
    clearGroupDetails();
    ui->errorLabel->hide();
    if (ui->groupsComboBox->currentIndex() < 0)
        return;
    const Selection selection { Group { ui->groupsComboBox->currentData(GroupNameRole).toString(),
                                       ui->groupsComboBox->currentData().toInt() },
        selectionSerial };
    Result<KafkaConnection*, KafkaError> connection = clusterClient->brokerConnectionForId(selection.group.coordinatorId);
    if (connection.isError()) {
        showError(connection.error());
        return;
    }
    KafkaConnection* coordinator = connection.value();
    coordinator->send(std::make_unique<KafkaDescribeGroupsRequest>(coordinator->nextCorrelationId(),
                          clusterClient->clientId(), QStringList { selection.group.name }, false),
        this, [this, selection](KafkaResult<KafkaRawResponse> answer) { onDescribeGroupsAnswer(selection, answer); });
}

KafkaError ConsumersWidget::groupError(KafkaProtocolError errorCode, const Selection& selection) const
{
    return KafkaError(KafkaConnection::mapProtocolError(errorCode, KafkaErrorCode::DescribeGroupsError),
        tr("The server returned an error when fetching the details for consumer group '%1'").arg(selection.group.name));
}

void ConsumersWidget::onDescribeGroupsAnswer(const Selection& selection, KafkaResult<KafkaRawResponse>& answer)
{
    if (!isSelected(selection))
        return;
    if (answer.isError()) {
        showError(answer.error());
        return;
    }
    runInBackground(
        this,
        [raw = std::move(answer.value()), name = selection.group.name] {
            return ConsumerGroupDescription::fromDescribeGroups(raw, name);
        },
        [this, selection](ConsumerGroupDescription description) { showDescription(selection, description); });
}

void ConsumersWidget::describeConsumerProtocolGroup(const Selection& selection)
{
    Result<KafkaConnection*, KafkaError> connection = clusterClient->brokerConnectionForId(selection.group.coordinatorId);
    if (connection.isError()) {
        showError(connection.error());
        return;
    }
    KafkaConnection* coordinator = connection.value();
    coordinator->send(std::make_unique<KafkaConsumerGroupDescribeRequest>(coordinator->nextCorrelationId(),
                          clusterClient->clientId(), QStringList { selection.group.name }, false),
        this, [this, selection](KafkaResult<KafkaRawResponse> answer) { onConsumerGroupDescribeAnswer(selection, answer); });
}

void ConsumersWidget::onConsumerGroupDescribeAnswer(const Selection& selection, KafkaResult<KafkaRawResponse>& answer)
{
    if (!isSelected(selection))
        return;
    if (answer.isError()) {
        // The connection refuses, unsent, an API that the broker's ApiVersions
        // answer does not offer: an older coordinator, to which the group is
        // simply dead.
        const KafkaErrorCode code = answer.error().code;
        if (code == KafkaErrorCode::InvalidRequest || code == KafkaErrorCode::UnsupportedVersion)
            showGroupGone(selection);
        else
            showError(answer.error());
        return;
    }
    runInBackground(
        this,
        [raw = std::move(answer.value()), name = selection.group.name] {
            return ConsumerGroupDescription::fromConsumerGroupDescribe(raw, name);
        },
        [this, selection](ConsumerGroupDescription description) { showDescription(selection, description); });
}

void ConsumersWidget::showDescription(const Selection& selection, ConsumerGroupDescription& description)
{
    // The choice may have changed while the answer was read.
    if (!isSelected(selection))
        return;
    switch (description.outcome) {
    case ConsumerGroupDescription::Outcome::Described:
        showGroupDetails(selection, description);
        break;
    case ConsumerGroupDescription::Outcome::Gone:
        showGroupGone(selection);
        break;
    case ConsumerGroupDescription::Outcome::OtherProtocol:
        describeConsumerProtocolGroup(selection);
        break;
    case ConsumerGroupDescription::Outcome::Refused:
        showError(groupError(description.errorCode, selection));
        break;
    case ConsumerGroupDescription::Outcome::Undecodable:
        showError(description.error.value_or(KafkaError()));
        break;
    }
}

void ConsumersWidget::showGroupDetails(const Selection& selection, ConsumerGroupDescription& description)
{
    ui->groupState->setText(visibleText(description.state));
    ui->protocolData->setText(visibleText(description.protocolData));
    const QList<KafkaMetadataResponse::Broker> brokers = clusterClient->brokers();
    const auto coordinator = std::find_if(brokers.begin(), brokers.end(),
        [&selection](const KafkaMetadataResponse::Broker& broker) { return broker.nodeId == selection.group.coordinatorId; });
    ui->groupCoordinator->setText(coordinator == brokers.end()
            ? QString::number(selection.group.coordinatorId)
            : QStringLiteral("%1:%2").arg(visibleText(coordinator->host)).arg(coordinator->port));

    // The rows come sorted by the partition column, away from the GUI thread;
    // the view would sort again when its sort indicator changes.
    assignmentModel->setRows(std::move(description.rows));
    {
        const QSignalBlocker blocker(ui->assignmentsTableView->horizontalHeader());
        ui->assignmentsTableView->horizontalHeader()->setSortIndicator(
            ConsumerAssignmentModel::PartitionColumn, Qt::AscendingOrder);
    }
    ui->assignmentsTableView->resizeColumnsToContents();
    if (description.partitions.isEmpty())
        return;
    // The offsets are asked for once the rows have been shown: for a group of
    // a million partitions each step holds up the window for a while.
    QMetaObject::invokeMethod(
        this,
        [this, selection, partitions = std::move(description.partitions)] {
            if (!isSelected(selection))
                return;
            refreshConsumerOffsets(selection, partitions);
            QMetaObject::invokeMethod(
                this,
                [this, selection, partitions] {
                    if (isSelected(selection))
                        refreshTopicOffsets(partitions);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void ConsumersWidget::showGroupGone(const Selection& selection)
{
    clearGroupDetails();
    showError(KafkaError(KafkaErrorCode::GroupIdNotFound,
        tr("Consumer group '%1' no longer exists on its coordinator").arg(selection.group.name)));
}
