#pragma once

#include "CompositeDeserializer.h"
#include "Error.h"
#include "KafkaFetcher.h"
#include "KafkaMetadataResponse.h"
#include "KafkaRecord.h"
#include "RebuildProgress.h"
#include "Result.h"
#include "SubscriptionFilter.h"

#include <QByteArray>
#include <QItemSelection>
#include <QList>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

class AdvancedFilterWidget;
class FilterEngine;
class KafkaClusterClient;
class KafkaRecordListItemDelegate;
class KafkaRecordModel;
class ProtobufRecordDeserializer;
class QStatusBar;
struct Config;
struct Settings;

namespace Ui {
class RecordsWidget;
}

// The records tab of one connected cluster. The user edits filters, one
// editor each; applying one turns all applied filters into fetch bounds per
// topic, resolves the start and end offsets of every partition they select,
// starts one fetch job per partition, hands every fetched batch to the filter
// engine and inserts what passes into the ordered record list, a slice per
// turn of the event loop, so that the window stays responsive while a large
// range arrives. The record selected in the list is shown decoded beside it.
//
// Threads: the tab lives on the GUI thread. The fetcher runs on its own
// "FetchThread" and the filter engine on "FilterThread"; their signals and
// the offset lookups' answers reach the tab queued. Each rebuild has a
// generation: lookups and acknowledgements of an earlier one are dropped, and
// batches already handed to the engine when the list is cleared are dropped
// when they come back (the engine answers every batch, in order). The
// composite deserializer is read from the GUI thread and from the filter
// thread; it keeps no mutable state.
class RecordsWidget : public QWidget {
    Q_OBJECT

public:
    // A topic the tab subscribed to: its metadata at the first subscription
    // and the fetch jobs started for it since the last rebuild.
    struct SubscribedTopic {
        KafkaMetadataResponse::Topic topic;
        QList<std::int32_t> fetchJobIds;
    };

    // Protocol Buffers schemas that fail to compile go to errors, announced
    // by errorsChanged once the event loop runs. The settings are shared
    // with the rest of the application; the configuration is not kept.
    RecordsWidget(QStatusBar& statusBar, Settings& settings, const Config& config,
        std::shared_ptr<KafkaClusterClient> clusterClient, QWidget* parent = nullptr);
    ~RecordsWidget() override;

    // Failures in the background, newest last; every append is followed by
    // errorsChanged(). Read and emptied by the main window.
    QList<KafkaError> errors;

    // Adds an editor with the default filter (the last 100 records of each
    // partition) on top.
    void addFilter(bool animate);
    // Cancels all fetching and starts again from the applied filters.
    void tempRebuildFilters();
    // Empties the record list; fetching goes on.
    void clearTopic();

public slots:
    void recordsFetched(int32_t jobId, QList<KafkaRecord> fetchedRecords);
    void fetchJobFailed(int32_t jobId, KafkaError error);
    void recordsFetchProgress(int64_t fetchedRecords, int64_t totalRecordsToFetch, bool caughtUp, bool done);
    void pauseRecordsFetching();
    void resumeRecordsFetching();
    void recordsFiltered(QList<KafkaRecord> records);
    void updateStatusBar();
    void recordChangedSlot(const QItemSelection& selected, const QItemSelection& deselected);
    void showHexRecord(const QByteArray& bytes);

signals:
    void errorsChanged();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void connectEditor(AdvancedFilterWidget* editor);
    void refreshEditorTopics();
    void updateEditorTopics();

    // The rebuild from the subscription at `index` on; a topic missing from
    // the metadata is looked up once more after a metadata refresh.
    void subscribeFrom(std::uint64_t generation, const QList<SubscriptionFilter>& subscriptions, qsizetype index,
        bool metadataRefreshed);
    void requestOffsets(std::uint64_t generation, const SubscriptionFilter& subscription,
        const KafkaMetadataResponse::Topic& topic);
    void onOffsetsResolved(std::uint64_t generation, const SubscriptionFilter& subscription, int partition,
        Result<KafkaFetcher::OffsetsResult, KafkaError> offsets);
    // Posts an acknowledgement through the fetch thread, behind the work
    // posted to the fetcher so far.
    void acknowledgeThroughFetcher(std::uint64_t generation);
    void onFetcherAcknowledged(std::uint64_t generation);
    void showProgress();
    void insertFilteredRecords();

    const SubscribedTopic* findSubscribedTopic(const QString& name) const;
    const SubscribedTopic* findSubscriptionForFetchJobId(int jobId) const;
    bool registerSubscriptionFetchJobId(const QString& name, int jobId);
    void addTopicSubscription(SubscribedTopic subscribedTopic);

    void showRecordError(const KafkaError& error);
    void clearRecordError();
    void updateUiForFetchStart();
    void updateUiForFetchEnd(bool keepControls);
    void appendError(KafkaError error);

    // Declared in the order of construction; the destructor stops the
    // threads before the members they use go.
    std::unique_ptr<Ui::RecordsWidget> ui;
    Settings& settings;
    QStatusBar& statusBar;
    std::deque<SubscribedTopic> subscribedTopics;
    std::unique_ptr<KafkaRecordModel> recordModel;
    std::unique_ptr<KafkaRecordListItemDelegate> recordDelegate;
    std::shared_ptr<KafkaClusterClient> clusterClient;
    // Null when the schemas failed to compile.
    std::unique_ptr<ProtobufRecordDeserializer> protobufDeserializer;
    CompositeDeserializer compositeDeserializer;
    std::unique_ptr<FilterEngine> filterEngine;
    std::unique_ptr<KafkaFetcher> fetcher;
    QMetaObject::Connection selectionConnection;

    RebuildProgress progress;
    // Batches handed to the engine and not yet back, and how many of those
    // are to be dropped (handed over before the list was last cleared).
    int batchesInFlight = 0;
    int batchesToDrop = 0;
    // Filtered records the list has yet to take, oldest first, and whether
    // their insertion is posted.
    std::deque<QList<KafkaRecord>> filteredRecords;
    bool insertionPosted = false;
};
