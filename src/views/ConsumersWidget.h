#pragma once

#include "ConsumerAssignment.h"
#include "Error.h"
#include "KafkaLatestOffsetsLookup.h"
#include "KafkaProtocolError.h"
#include "KafkaRawResponse.h"
#include "Result.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

class ConsumerAssignmentModel;
class ErrorBatch;
class KafkaClusterClient;
class QFont;
class QStatusBar;
struct ConsumerGroupDescription;
struct Config;
struct Settings;

namespace Ui {
class ConsumersWidget;
}

// The consumer groups tab of one connected cluster. When it opens it asks
// every broker for its groups and lists those of the "consumer" protocol
// type; when the user picks one it asks the group's coordinator (the broker
// that listed it) for the group's state and members, shows every assigned
// partition, then asks the coordinator for the committed offsets and each
// partition's leader for the latest offset, from which the table derives the
// lag. Groups of the consumer group protocol, which DescribeGroups reports as
// Dead, are described with ConsumerGroupDescribe where the coordinator
// speaks it.
//
// A group may have a million assigned partitions: the offsets are asked for
// in batches once the rows are shown, the latest ones through a
// KafkaLatestOffsetsLookup (which follows a moving leader), and of the
// errors of one group's offset answers only the first few are kept, with
// one entry counting the rest. A cluster may have hundreds of thousands of
// groups.
//
// Threads: the tab lives on the GUI thread. Requests go through the
// cluster client's connections; their answers come back to this tab's
// thread, with the tab as context object, so answers that arrive after the
// tab is gone are dropped. The ListGroups, DescribeGroups and
// ConsumerGroupDescribe answers are decoded, and the selector's items and
// the table's rows built and sorted, by tasks on the global thread pool,
// which get values and hand back values to this tab's thread through a
// QFutureWatcher that the tab owns: a result that comes after the tab is
// gone is dropped. Answers and results for a group that is no longer
// selected are dropped too. Nothing is refreshed on a clock.
class ConsumersWidget : public QWidget {
    Q_OBJECT

public:
    // A listed group and the node id of the broker that listed it, taken as
    // the group's coordinator.
    struct Group {
        QString name;
        std::int32_t coordinatorId = -1;
    };

    // The settings and the configuration are not kept.
    ConsumersWidget(QStatusBar& statusBar, Settings& settings, const Config& config,
        std::shared_ptr<KafkaClusterClient> clusterClient, QWidget* parent = nullptr);
    ~ConsumersWidget() override;

    // Failures in the background (per broker, per partition), newest last;
    // every append is followed by errorsChanged().
    QList<KafkaError> errors;

public slots:
    // Shows the failure of what the user is looking at in the error label.
    void showError(KafkaError error);
    void clearError();

signals:
    void errorsChanged();

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void onClusterClientConnectionError(int brokerId, KafkaError error);
    void refreshGroups();
    void refreshAssignments();

private:
    // The group being described and the serial number of its choice.
    struct Selection {
        Group group;
        std::uint64_t serial = 0;
    };

    void appendError(KafkaError error);
    void appendErrors(const QList<KafkaError>& more);
    bool isSelected(const Selection& selection) const;
    void clearGroupDetails();

    // The group selector's items, made on a worker thread.
    struct SelectorItems;
    // Any thread.
    static std::shared_ptr<SelectorItems> selectorItems(QList<Group> listed, const QFont& font);

    void onListGroupsAnswer(std::int32_t brokerId, KafkaResult<KafkaRawResponse>& answer);
    void countListGroupsAnswer();
    void showConsumerGroups(QList<Group> listed);
    void fillGroupSelector(SelectorItems& selector);

    void onDescribeGroupsAnswer(const Selection& selection, KafkaResult<KafkaRawResponse>& answer);
    void describeConsumerProtocolGroup(const Selection& selection);
    void onConsumerGroupDescribeAnswer(const Selection& selection, KafkaResult<KafkaRawResponse>& answer);
    void showDescription(const Selection& selection, ConsumerGroupDescription& description);
    void showGroupDetails(const Selection& selection, ConsumerGroupDescription& description);
    void showGroupGone(const Selection& selection);
    KafkaError groupError(KafkaProtocolError errorCode, const Selection& selection) const;

    // The partitions by topic, as ConsumerGroupDescription::partitions.
    void refreshConsumerOffsets(const Selection& selection, const QList<KafkaLatestOffsetsLookup::Topic>& partitions);
    void onOffsetFetchAnswer(const Selection& selection, QHash<QString, QSet<std::int32_t>>& unanswered,
        KafkaResult<KafkaRawResponse>& answer, ErrorBatch& failures);
    void refreshTopicOffsets(const QList<KafkaLatestOffsetsLookup::Topic>& partitions);

    std::unique_ptr<Ui::ConsumersWidget> ui;
    QStatusBar& statusBar;
    std::shared_ptr<KafkaClusterClient> clusterClient;
    std::unique_ptr<ConsumerAssignmentModel> assignmentModel;
    // The latest offsets of the selected group's partitions; replaced with
    // each choice, which drops the answers and retries of the one before.
    std::unique_ptr<KafkaLatestOffsetsLookup> latestOffsets;
    // Groups gathered from the ListGroups answers so far, and the number of
    // brokers whose answer is still awaited.
    QList<Group> groups;
    int pendingListGroupsResponses = 0;
    // Counts the choices of a group; an answer for an earlier choice is
    // dropped.
    std::uint64_t selectionSerial = 0;
};
