#include "RecordsWidget.h"

#include "AdvancedFilterWidget.h"
#include "Config.h"
#include "ElidedLabel.h"
#include "ErrorList.h"
#include "FetchRange.h"
#include "FilterEngine.h"
#include "KafkaClusterClient.h"
#include "KafkaRecordListItemDelegate.h"
#include "KafkaRecordModel.h"
#include "ProtobufDeserializer.h"
#include "Settings.h"
#include "ViewsResources.h"
#include "VisibleText.h"
#include "ui_RecordsWidget.h"

#include <QDateTime>
#include <QLabel>
#include <QSet>
#include <QStatusBar>

#include <algorithm>
#include <utility>

namespace {

// Records the list takes per turn of the event loop.
constexpr qsizetype InsertionSlice = 10000;

// Editor titles quote topic names and expected strings: plain text, elided
// where the tab is narrower than the title.
QLabel* titleLabel(const QString& text)
{
    return new ElidedLabel(visibleText(text));
}

} // namespace

RecordsWidget::RecordsWidget(QStatusBar& windowStatusBar, Settings& appSettings, const Config& config,
    std::shared_ptr<KafkaClusterClient> client, QWidget* parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::RecordsWidget>())
    , settings(appSettings)
    , statusBar(windowStatusBar)
    , recordModel(std::make_unique<KafkaRecordModel>())
    , recordDelegate(std::make_unique<KafkaRecordListItemDelegate>())
    , clusterClient(std::move(client))
    , filterEngine(std::make_unique<FilterEngine>())
    , fetcher(std::make_unique<KafkaFetcher>(*clusterClient))
{
    initViewsResources();
    ui->setupUi(this);

    Result<std::unique_ptr<ProtobufRecordDeserializer>, QList<KafkaError>> protobuf
        = ProtobufRecordDeserializer::create(config.protobufDeserializer);
    if (protobuf.hasValue()) {
        protobufDeserializer = std::move(protobuf).value();
    } else {
        ErrorList::append(errors, protobuf.error());
        // Nobody listens yet: announced once the event loop runs.
        QMetaObject::invokeMethod(this, &RecordsWidget::errorsChanged, Qt::QueuedConnection);
    }
    QList<ConfigurableDeserializer> rules;
    for (const Config::Deserializer& rule : config.deserializers)
        rules.append(ConfigurableDeserializer(rule, protobufDeserializer.get()));
    compositeDeserializer.setDeserializers(std::move(rules));
    filterEngine->deserializer = &compositeDeserializer;

    connect(ui->clearToolButton, &QToolButton::clicked, this, &RecordsWidget::clearTopic);
    connect(ui->resumeToolButton, &QToolButton::clicked, this, &RecordsWidget::resumeRecordsFetching);
    connect(ui->pauseToolButton, &QToolButton::clicked, this, &RecordsWidget::pauseRecordsFetching);
    connect(ui->addRecordsToolButton, &QToolButton::clicked, this, [this] { addFilter(true); });

    ui->recordsListView->setItemDelegate(recordDelegate.get());
    ui->recordsListView->setModel(recordModel.get());
    selectionConnection = connect(ui->recordsListView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
        &RecordsWidget::recordChangedSlot);

    connect(fetcher.get(), &KafkaFetcher::recordsFetched, this, &RecordsWidget::recordsFetched);
    connect(fetcher.get(), &KafkaFetcher::fetchJobFailed, this, &RecordsWidget::fetchJobFailed);
    connect(fetcher.get(), &KafkaFetcher::recordsFetchProgress, this, &RecordsWidget::recordsFetchProgress);
    connect(filterEngine.get(), &FilterEngine::recordsFiltered, this, &RecordsWidget::recordsFiltered);

    ui->recordsFetchProgress->hide();
    addFilter(false);
    clearTopic();
}

RecordsWidget::~RecordsWidget()
{
    // The list view, a child widget, outlives every member: its selection
    // must no longer reach the tab once the model goes.
    disconnect(selectionConnection);
    // The fetch thread reads the cluster client, the filter thread the
    // deserializers: both stop before those go.
    fetcher.reset();
    filterEngine.reset();
}

// --- filter editors ----------------------------------------------------------

void RecordsWidget::addFilter(bool animate)
{
    Filter filter;
    filter.id = filterEngine->nextFilterId++;
    FilterCondition lastRecords;
    lastRecords.target = FilterCondition::Target::Records;
    lastRecords.operation = FilterCondition::Operator::Last;
    lastRecords.min = 100;
    filter.conditions.append(lastRecords);

    auto* editor = new AdvancedFilterWidget(settings, this);
    editor->setTitleWidget(titleLabel(tr("New filter")));
    editor->setTopics(clusterClient->topics());
    editor->setFilter(filter);
    editor->filterState = AdvancedFilterWidget::FilterState::New;
    editor->setAnimationDuration(animate ? -1 : 0);
    editor->expand();
    editor->setAnimationDuration(-1);
    ui->verticalLayout->insertWidget(0, editor);
    editor->setFocus(Qt::OtherFocusReason);
    connectEditor(editor);
    // Topics created since the metadata was read can be picked once it is
    // read again.
    refreshEditorTopics();
}

void RecordsWidget::connectEditor(AdvancedFilterWidget* editor)
{
    connect(editor, &AdvancedFilterWidget::filterUpdated, editor, [this, editor](const Filter& filter) {
        editor->setTitleWidget(titleLabel(filter.buildDescription()));
        editor->filterState = AdvancedFilterWidget::FilterState::Applied;
        filterEngine->updateFilter(filter);
        tempRebuildFilters();
    });
    connect(editor, &AdvancedFilterWidget::editCancelled, editor, [editor] {
        if (editor->filterState == AdvancedFilterWidget::FilterState::New)
            editor->deleteLater();
    });
    connect(editor, &AdvancedFilterWidget::filterDeleted, editor, [this, editor] {
        if (editor->filterState == AdvancedFilterWidget::FilterState::Applied) {
            filterEngine->removeFilterById(editor->filterId);
            tempRebuildFilters();
        }
        editor->deleteLater();
    });
    // Edits not applied are dropped when the editor opens again.
    connect(editor, &AdvancedFilterWidget::expandedChanged, editor, [this, editor] {
        const std::optional<Filter> stored = filterEngine->findFilterById(editor->filterId);
        if (stored && editor->isExpanded()) {
            editor->setTopics(clusterClient->topics());
            editor->setFilter(*stored);
            // As in a new editor, topics created since the metadata was read
            // can be picked once it is read again.
            refreshEditorTopics();
        }
    });
}

void RecordsWidget::refreshEditorTopics()
{
    // When no broker answers, the editors keep the topics they have.
    clusterClient->refreshMetadata(this, [this](const std::optional<KafkaError>&) { updateEditorTopics(); });
}

void RecordsWidget::updateEditorTopics()
{
    const QList<KafkaMetadataResponse::Topic> topics = clusterClient->topics();
    for (AdvancedFilterWidget* editor : findChildren<AdvancedFilterWidget*>(Qt::FindDirectChildrenOnly))
        editor->setTopics(topics);
}

// --- rebuild -------------------------------------------------------------------

void RecordsWidget::tempRebuildFilters()
{
    for (SubscribedTopic& entry : subscribedTopics) {
        for (const std::int32_t jobId : std::as_const(entry.fetchJobIds))
            fetcher->cancelFetchJob(jobId);
        entry.fetchJobIds.clear();
    }
    const std::uint64_t generation = progress.start();
    acknowledgeThroughFetcher(generation);
    ui->recordsFetchProgress->hide();
    ui->pauseToolButton->setEnabled(false);
    ui->resumeToolButton->setEnabled(false);
    clearTopic();

    const QList<SubscriptionFilter> subscriptions = filterEngine->buildSubscriptionFilters();
    QSet<QString> topics;
    for (const SubscriptionFilter& subscription : subscriptions)
        topics.insert(subscription.topic);
    recordDelegate->showTopic = topics.size() > 1;
    subscribeFrom(generation, subscriptions, 0, false);
}

void RecordsWidget::subscribeFrom(std::uint64_t generation, const QList<SubscriptionFilter>& subscriptions,
    qsizetype index, bool metadataRefreshed)
{
    for (; index < subscriptions.size(); ++index, metadataRefreshed = false) {
        const SubscriptionFilter& subscription = subscriptions[index];
        const SubscribedTopic* entry = findSubscribedTopic(subscription.topic);
        if (!entry) {
            const QList<KafkaMetadataResponse::Topic> known = clusterClient->topics();
            const auto found = std::find_if(known.begin(), known.end(),
                [&subscription](const KafkaMetadataResponse::Topic& topic) { return topic.name == subscription.topic; });
            if (found == known.end() && !metadataRefreshed) {
                // The topic may have been created since the metadata was
                // read: read it once more, then look again.
                progress.expectAnswer();
                clusterClient->refreshMetadata(this, [this, generation, subscriptions, index](const auto&) {
                    if (!progress.answered(generation))
                        return;
                    updateEditorTopics();
                    subscribeFrom(generation, subscriptions, index, true);
                    if (progress.settled())
                        showProgress();
                });
                return;
            }
            if (found == known.end()) {
                // Later filters are not fetched; earlier ones go on.
                showRecordError(KafkaError(KafkaErrorCode::UnknownTopicOrPartition,
                    tr("Topic %1 not found in cluster metadata").arg(subscription.topic)));
                return;
            }
            addTopicSubscription({ *found, {} });
            entry = &subscribedTopics.back();
        }
        requestOffsets(generation, subscription, entry->topic);
    }
}

void RecordsWidget::requestOffsets(std::uint64_t generation, const SubscriptionFilter& subscription,
    const KafkaMetadataResponse::Topic& topic)
{
    for (const KafkaMetadataResponse::Partition& partition : topic.partitions) {
        const int index = partition.partitionIndex;
        if (index < subscription.partitionMin || index > subscription.partitionMax)
            continue;
        progress.expectAnswer();
        fetcher->fetchOffsetsFromTimestamps(subscription.topic, index, subscription.timestampMin,
            FetchRange::endLookupTimestamp(subscription), this,
            [this, generation, subscription, index](Result<KafkaFetcher::OffsetsResult, KafkaError> offsets) {
                onOffsetsResolved(generation, subscription, index, std::move(offsets));
            });
    }
}

void RecordsWidget::onOffsetsResolved(std::uint64_t generation, const SubscriptionFilter& subscription, int partition,
    Result<KafkaFetcher::OffsetsResult, KafkaError> offsets)
{
    // An answer for an earlier set of filters starts nothing.
    if (!progress.answered(generation))
        return;
    if (offsets.isError()) {
        appendError(std::move(offsets).error());
    } else if (const std::optional<FetchRange> range
        = FetchRange::forBounds(subscription, offsets.value(), QDateTime::currentMSecsSinceEpoch())) {
        const int jobId = fetcher->fetchRecords(subscription.topic, partition, range->start, range->end);
        if (registerSubscriptionFetchJobId(subscription.topic, jobId)) {
            progress.jobStarted();
            acknowledgeThroughFetcher(generation);
            updateUiForFetchStart();
        } else {
            fetcher->cancelFetchJob(jobId);
        }
    }
    if (progress.settled())
        showProgress();
}

void RecordsWidget::acknowledgeThroughFetcher(std::uint64_t generation)
{
    // The outer call runs on the fetch thread after the work posted before
    // it; the inner one comes back behind every report emitted until then.
    // The tab outlives the fetch thread, which its destructor stops.
    QMetaObject::invokeMethod(
        fetcher.get(),
        [this, generation] {
            QMetaObject::invokeMethod(
                this, [this, generation] { onFetcherAcknowledged(generation); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void RecordsWidget::onFetcherAcknowledged(std::uint64_t generation)
{
    if (progress.acknowledged(generation) && progress.settled())
        showProgress();
}

void RecordsWidget::showProgress()
{
    ui->recordsFetchProgress->setValue(progress.barValue());
    if (progress.done())
        updateUiForFetchEnd(false);
    else if (progress.caughtUp())
        updateUiForFetchEnd(true);
    else if (ui->recordsFetchProgress->isHidden())
        ui->recordsFetchProgress->show();
}

// --- fetched records -------------------------------------------------------------

void RecordsWidget::recordsFetched(int32_t jobId, QList<KafkaRecord> fetchedRecords)
{
    if (!findSubscriptionForFetchJobId(jobId)) {
        // A job of an earlier rebuild, or one cancelled already.
        fetcher->cancelFetchJob(jobId);
        return;
    }
    ++batchesInFlight;
    QMetaObject::invokeMethod(
        filterEngine.get(),
        [engine = filterEngine.get(), records = std::move(fetchedRecords)]() mutable {
            engine->filterRecords(std::move(records));
        },
        Qt::QueuedConnection);
}

void RecordsWidget::recordsFiltered(QList<KafkaRecord> records)
{
    --batchesInFlight;
    if (batchesToDrop > 0) {
        --batchesToDrop;
        return;
    }
    if (records.isEmpty())
        return;
    filteredRecords.push_back(std::move(records));
    if (!insertionPosted) {
        insertionPosted = true;
        QMetaObject::invokeMethod(this, &RecordsWidget::insertFilteredRecords, Qt::QueuedConnection);
    }
}

// The list takes at most InsertionSlice records per turn of the event loop,
// which paints and handles input between turns however fast records come.
void RecordsWidget::insertFilteredRecords()
{
    insertionPosted = false;
    qsizetype room = InsertionSlice;
    while (room > 0 && !filteredRecords.empty()) {
        QList<KafkaRecord>& front = filteredRecords.front();
        if (front.size() <= room) {
            room -= front.size();
            recordModel->insertRecords(std::move(front));
            filteredRecords.pop_front();
        } else {
            QList<KafkaRecord> slice(std::make_move_iterator(front.begin()), std::make_move_iterator(front.begin() + room));
            front.remove(0, room);
            room = 0;
            recordModel->insertRecords(std::move(slice));
        }
    }
    updateStatusBar();
    if (!filteredRecords.empty()) {
        insertionPosted = true;
        QMetaObject::invokeMethod(this, &RecordsWidget::insertFilteredRecords, Qt::QueuedConnection);
    }
}

void RecordsWidget::recordsFetchProgress(int64_t fetchedRecords, int64_t totalRecordsToFetch, bool caughtUp, bool done)
{
    if (progress.report({ fetchedRecords, totalRecordsToFetch, caughtUp, done }))
        showProgress();
}

void RecordsWidget::fetchJobFailed(int32_t jobId, KafkaError error)
{
    if (!findSubscriptionForFetchJobId(jobId))
        return;
    // Resuming restarts the failed job together with the others.
    fetcher->pauseAllFetchJobs();
    ui->pauseToolButton->setEnabled(false);
    ui->resumeToolButton->setEnabled(true);
    appendError(std::move(error));
}

void RecordsWidget::pauseRecordsFetching()
{
    fetcher->pauseAllFetchJobs();
    ui->pauseToolButton->setEnabled(false);
    ui->resumeToolButton->setEnabled(true);
}

void RecordsWidget::resumeRecordsFetching()
{
    fetcher->resumeAllFetchJobs();
    ui->resumeToolButton->setEnabled(false);
    ui->pauseToolButton->setEnabled(true);
}

void RecordsWidget::clearTopic()
{
    recordModel->clear();
    // What the engine still holds, or the list has yet to take, was fetched
    // before the list was cleared.
    batchesToDrop = batchesInFlight;
    filteredRecords.clear();
    updateStatusBar();
    ui->recordDetailView->clearRecord();
}

void RecordsWidget::updateStatusBar()
{
    if (!isVisible())
        return;
    const int count = recordModel->rowCount();
    QString message;
    if (count == 0)
        message = tr("No records");
    else if (count == 1)
        message = tr("1 record");
    else
        message = tr("%1 records").arg(count);
    statusBar.showMessage(message);
    ui->clearToolButton->setEnabled(count >= 1);
}

void RecordsWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    updateStatusBar();
}

// --- subscribed topics -------------------------------------------------------------

const RecordsWidget::SubscribedTopic* RecordsWidget::findSubscribedTopic(const QString& name) const
{
    for (const SubscribedTopic& entry : subscribedTopics) {
        if (entry.topic.name == name)
            return &entry;
    }
    return nullptr;
}

const RecordsWidget::SubscribedTopic* RecordsWidget::findSubscriptionForFetchJobId(int jobId) const
{
    for (const SubscribedTopic& entry : subscribedTopics) {
        if (entry.fetchJobIds.contains(jobId))
            return &entry;
    }
    return nullptr;
}

bool RecordsWidget::registerSubscriptionFetchJobId(const QString& name, int jobId)
{
    for (SubscribedTopic& entry : subscribedTopics) {
        if (entry.topic.name == name) {
            entry.fetchJobIds.append(jobId);
            return true;
        }
    }
    return false;
}

void RecordsWidget::addTopicSubscription(SubscribedTopic subscribedTopic)
{
    subscribedTopics.push_back(std::move(subscribedTopic));
}

// --- fetch controls, errors and the detail pane -----------------------------------

void RecordsWidget::updateUiForFetchStart()
{
    ui->pauseToolButton->setEnabled(true);
    ui->resumeToolButton->setEnabled(false);
    if (ui->recordsFetchProgress->isHidden())
        ui->recordsFetchProgress->show();
}

void RecordsWidget::updateUiForFetchEnd(bool keepControls)
{
    ui->recordsFetchProgress->hide();
    if (!keepControls) {
        ui->pauseToolButton->setEnabled(false);
        ui->resumeToolButton->setEnabled(false);
    }
}

void RecordsWidget::appendError(KafkaError error)
{
    ErrorList::append(errors, std::move(error));
    emit errorsChanged();
}

void RecordsWidget::showRecordError(const KafkaError& error)
{
    ui->recordDetailView->showRecordError(error);
}

void RecordsWidget::clearRecordError()
{
    ui->recordDetailView->clearRecordError();
}

void RecordsWidget::recordChangedSlot(const QItemSelection& selected, const QItemSelection& /*deselected*/)
{
    // The first record of what was just selected is shown; the pane empties
    // only when no record is selected any more.
    if (!selected.isEmpty()) {
        ui->recordDetailView->showRecord(recordModel->record(selected.first().topLeft()), compositeDeserializer);
        return;
    }
    if (!ui->recordsListView->selectionModel()->hasSelection())
        ui->recordDetailView->clearRecord();
}

void RecordsWidget::showHexRecord(const QByteArray& bytes)
{
    ui->recordDetailView->showHexRecord(bytes);
}
