#include "ConsumersWidget.h"

#include "ConsumerAssignmentModel.h"
#include "ErrorList.h"
#include "KafkaClusterClient.h"
#include "KafkaConnection.h"
#include "KafkaConsumerGroupDescribeRequest.h"
#include "KafkaConsumerGroupDescribeResponse.h"
#include "KafkaConsumerProtocolAssignment.h"
#include "KafkaDescribeGroupsRequest.h"
#include "KafkaDescribeGroupsResponse.h"
#include "KafkaLatestOffsetsLookup.h"
#include "KafkaListGroupsRequest.h"
#include "KafkaListGroupsResponse.h"
#include "VisibleText.h"
#include "VisibleTextDelegate.h"
#include "ui_ConsumersWidget.h"

#include <QHeaderView>
#include <QSignalBlocker>
#include <QStatusBar>

#include <algorithm>
#include <utility>

namespace {

const QString ConsumerProtocolType = QStringLiteral("consumer");
const QString DeadState = QStringLiteral("Dead");
// The group's name as it is; the selector shows it as visibleText does.
constexpr int GroupNameRole = Qt::UserRole + 1;

template <typename List>
auto findGroup(const List& groups, const QString& name)
{
    return std::find_if(groups.begin(), groups.end(), [&name](const auto& group) { return group.groupId == name; });
}

} // namespace

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
    } else if (KafkaResult<KafkaListGroupsResponse> response = KafkaListGroupsResponse::parseFromRaw(answer.value());
               response.isError()) {
        appendError(response.error());
    } else if (response.value().errorCode != KafkaProtocolError::None) {
        appendError(KafkaError(KafkaConnection::mapProtocolError(response.value().errorCode, KafkaErrorCode::ListGroupsError),
            tr("The server returned an error when fetching the list of consumer groups")));
    } else {
        for (const KafkaListGroupsResponse::Group& group : response.value().groups) {
            if (group.protocolType == ConsumerProtocolType)
                groups.append(Group { group.groupId, brokerId });
        }
    }
    if (--pendingListGroupsResponses <= 0)
        showConsumerGroups(std::exchange(groups, {}));
}

void ConsumersWidget::showConsumerGroups(QList<Group> listed)
{
    std::stable_sort(listed.begin(), listed.end(), [](const Group& left, const Group& right) {
        return QString::compare(left.name, right.name, Qt::CaseInsensitive) < 0;
    });
    // Filling the selector chooses nothing: the user does.
    {
        const QSignalBlocker blocker(ui->groupsComboBox);
        ui->groupsComboBox->clear();
        for (const Group& group : listed) {
            ui->groupsComboBox->addItem(visibleText(group.name), group.coordinatorId);
            ui->groupsComboBox->setItemData(ui->groupsComboBox->count() - 1, group.name, GroupNameRole);
        }
        ui->groupsComboBox->setCurrentIndex(-1);
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
    KafkaResult<KafkaDescribeGroupsResponse> response = KafkaDescribeGroupsResponse::parseFromRaw(answer.value());
    if (response.isError()) {
        showError(response.error());
        return;
    }
    const QList<KafkaDescribeGroupsResponse::Group>& described = response.value().groups;
    const auto group = findGroup(described, selection.group.name);
    if (group == described.end()) {
        showGroupGone(selection);
        return;
    }
    if (group->errorCode != KafkaProtocolError::None) {
        showError(groupError(group->errorCode, selection));
        return;
    }
    // DescribeGroups knows only the classic protocol: a group of the consumer
    // group protocol is Dead to it, without a protocol type, like a group
    // that no longer exists.
    if (group->groupState == DeadState && group->protocolType.isEmpty()) {
        describeConsumerProtocolGroup(selection);
        return;
    }
    if (group->groupState == DeadState || group->protocolType != ConsumerProtocolType) {
        showGroupGone(selection);
        return;
    }

    QList<KafkaConsumerProtocolAssignment> decoded;
    qsizetype partitions = 0;
    for (const KafkaDescribeGroupsResponse::Member& member : group->members) {
        // A member of a group in the middle of a rebalance has no assignment
        // yet: no bytes, no partitions.
        KafkaBuffer blob(member.memberAssignment);
        KafkaResult<KafkaConsumerProtocolAssignment> assignment = KafkaConsumerProtocolAssignment::parseFromBuffer(blob);
        if (assignment.isError()) {
            showError(assignment.error());
            return;
        }
        for (const KafkaConsumerProtocolAssignment::Topic& topic : assignment.value().topics)
            partitions += topic.partitions.size();
        decoded.append(std::move(assignment.value()));
    }
    QList<ConsumerAssignment> assignments;
    assignments.reserve(partitions);
    for (qsizetype i = 0; i < group->members.size(); ++i) {
        const KafkaDescribeGroupsResponse::Member& member = group->members.at(i);
        for (const KafkaConsumerProtocolAssignment::Topic& topic : decoded.at(i).topics) {
            for (std::int32_t partition : topic.partitions) {
                assignments.append(ConsumerAssignment { member.memberId, member.groupInstanceId, member.clientId,
                    member.clientHost, topic.topic, partition });
            }
        }
    }
    showGroupDetails(selection, group->groupState, group->protocolData, std::move(assignments));
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
    KafkaResult<KafkaConsumerGroupDescribeResponse> response
        = KafkaConsumerGroupDescribeResponse::parseFromRaw(answer.value());
    if (response.isError()) {
        showError(response.error());
        return;
    }
    const QList<KafkaConsumerGroupDescribeResponse::Group>& described = response.value().groups;
    const auto group = findGroup(described, selection.group.name);
    // Brokers that offer the API without the consumer group protocol turned on
    // answer every group with UNSUPPORTED_VERSION: as to an older
    // coordinator, the group is dead to them.
    if (group == described.end() || group->errorCode == KafkaProtocolError::GroupIdNotFound
        || group->errorCode == KafkaProtocolError::UnsupportedVersion) {
        showGroupGone(selection);
        return;
    }
    if (group->errorCode != KafkaProtocolError::None) {
        showError(groupError(group->errorCode, selection));
        return;
    }
    QList<ConsumerAssignment> assignments;
    for (const KafkaConsumerGroupDescribeResponse::Member& member : group->members) {
        for (const KafkaConsumerGroupDescribeResponse::TopicPartitions& topic : member.assignment.topicPartitions) {
            for (std::int32_t partition : topic.partitions) {
                assignments.append(ConsumerAssignment { member.memberId, member.instanceId, member.clientId,
                    member.clientHost, topic.topicName, partition });
            }
        }
    }
    showGroupDetails(selection, group->groupState, group->assignorName, std::move(assignments));
}

void ConsumersWidget::showGroupDetails(const Selection& selection, const QString& state, const QString& protocolData,
    QList<ConsumerAssignment> assignments)
{
    ui->groupState->setText(visibleText(state));
    ui->protocolData->setText(visibleText(protocolData));
    const QList<KafkaMetadataResponse::Broker> brokers = clusterClient->brokers();
    const auto coordinator = std::find_if(brokers.begin(), brokers.end(),
        [&selection](const KafkaMetadataResponse::Broker& broker) { return broker.nodeId == selection.group.coordinatorId; });
    ui->groupCoordinator->setText(coordinator == brokers.end()
            ? QString::number(selection.group.coordinatorId)
            : QStringLiteral("%1:%2").arg(visibleText(coordinator->host)).arg(coordinator->port));

    assignmentModel->setAssignments(assignments);
    // Sorted once: the view would sort again when its sort indicator changes.
    {
        const QSignalBlocker blocker(ui->assignmentsTableView->horizontalHeader());
        ui->assignmentsTableView->horizontalHeader()->setSortIndicator(
            ConsumerAssignmentModel::PartitionColumn, Qt::AscendingOrder);
    }
    assignmentModel->sort(ConsumerAssignmentModel::PartitionColumn, Qt::AscendingOrder);
    ui->assignmentsTableView->resizeColumnsToContents();
    if (assignments.isEmpty())
        return;
    // The offsets are asked for once the rows have been shown: for a group of
    // a million partitions each step holds up the window for a while.
    QMetaObject::invokeMethod(
        this,
        [this, selection, assignments = std::move(assignments)] {
            if (!isSelected(selection))
                return;
            refreshConsumerOffsets(selection, assignments);
            QMetaObject::invokeMethod(
                this,
                [this, selection, assignments] {
                    if (isSelected(selection))
                        refreshTopicOffsets(assignments);
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
