// Requests of one tab beside the long polls of tabs that follow a topic. Four
// records tabs follow an idle topic; meanwhile a fifth records tab applies
// "last 100" to another topic (seconds from Apply to its first records in the
// list) and the consumer groups tab shows a group (seconds from picking the
// group to its lag column filled). Each figure is measured beside the same
// with no tab following, in the same run, on offscreen widgets with the event
// loop running.
//
//   bench_tabs_following [rounds]
//
// Figures are medians over the rounds. The aim: with four tabs following, at
// most MaxRatio times the figures without; the bench exits with 1 when it is
// missed.
#include "AdvancedFilterWidget.h"
#include "ConsumerAssignmentModel.h"
#include "ConsumersWidget.h"
#include "FetcherBenchSupport.h"
#include "RecordListView.h"
#include "RecordsWidget.h"
#include "Settings.h"
#include "TestConsumerGroup.h"

#include <QApplication>
#include <QComboBox>
#include <QListView>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using namespace FetcherBench;

namespace {

// The aim of the figures with tabs following over those without.
constexpr double MaxRatio = 1.5;
constexpr int FollowingTabs = 4;
constexpr int Partitions = 3;
constexpr int RecordsPerPartition = 200;
// How long one figure may take before the round counts as failed.
constexpr int FigureLimitMs = 60000;

struct Fixture {
    std::shared_ptr<KafkaClusterClient> client;
    Config config;
    QStatusBar statusBar;
    Settings settings;
    QString idleTopic;
    QString topic;
    // Two groups on `topic`, with the lag of each partition as shown.
    QList<QPair<QString, QString>> groups;
};

double seconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1 : values[values.size() / 2];
}

void applyLast(RecordsWidget& tab, const QString& topic, int count)
{
    AdvancedFilterWidget* editor = tab.findChild<AdvancedFilterWidget*>();
    FilterCondition last;
    last.target = FilterCondition::Target::Records;
    last.operation = FilterCondition::Operator::Last;
    last.min = count;
    editor->setFilter({ editor->filterId, topic, { last } });
    editor->onApplyClicked();
}

// A new tab; seconds from Apply to the first record in its list.
double applyToFirstRecords(Fixture& fixture)
{
    RecordsWidget tab(fixture.statusBar, fixture.settings, fixture.config, fixture.client);
    tab.resize(1000, 700);
    tab.show();
    const QAbstractItemModel* model = tab.findChild<RecordListView*>()->model();
    QElapsedTimer timer;
    timer.start();
    applyLast(tab, fixture.topic, 100);
    if (!waitUntil([&] { return model->rowCount() > 0; }, FigureLimitMs))
        return -1;
    return seconds(timer);
}

// Seconds from picking the group to every partition's lag shown.
double pickGroup(ConsumersWidget& widget, const QString& group, const QString& lag)
{
    auto* selector = widget.findChild<QComboBox*>();
    const QAbstractItemModel* model = widget.findChild<QTableView*>()->model();
    const auto filled = [&] {
        if (model->rowCount() != Partitions)
            return false;
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->index(row, ConsumerAssignmentModel::LagColumn).data().toString() != lag)
                return false;
        }
        return true;
    };
    QElapsedTimer timer;
    timer.start();
    selector->setCurrentIndex(selector->findText(group));
    if (!waitUntil(filled, FigureLimitMs))
        return -1;
    return seconds(timer);
}

struct Figures {
    double apply = -1;
    double group = -1;
};

Figures measure(Fixture& fixture, int rounds)
{
    ConsumersWidget groupsTab(fixture.statusBar, fixture.settings, fixture.config, fixture.client);
    groupsTab.resize(1000, 500);
    groupsTab.show();
    auto* selector = groupsTab.findChild<QComboBox*>();
    if (!waitUntil(
            [&] {
                return selector->findText(fixture.groups[0].first) >= 0 && selector->findText(fixture.groups[1].first) >= 0;
            },
            FigureLimitMs)) {
        std::fprintf(stderr, "the consumer groups tab does not list the groups\n");
        return {};
    }
    // The answers of the group shown at opening are not part of a pick.
    waitUntil([] { return false; }, 1000);

    QList<double> applies;
    QList<double> picks;
    for (int round = 0; round < rounds; ++round) {
        applies.append(applyToFirstRecords(fixture));
        // Each pick changes the group: first the one not shown.
        for (int i = 0; i < 2; ++i) {
            const auto& [group, lag] = fixture.groups[(round + i) % 2];
            if (selector->currentText() != group)
                picks.append(pickGroup(groupsTab, group, lag));
        }
    }
    if (applies.contains(-1) || picks.contains(-1)) {
        std::fprintf(stderr, "a figure was not reached within %d s\n", FigureLimitMs / 1000);
        return {};
    }
    return { median(applies), median(picks) };
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Applying a filter saves the settings file: not the user's.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    QApplication app(argc, argv);
    const QString bootstrap = brokerAddress();
    if (bootstrap.isEmpty())
        return 2;
    const int rounds = Bench::argument(argc, argv, 1, 7);

    Fixture fixture;
    fixture.idleTopic = KafkaTestEnvironment::uniqueTopicName(QStringLiteral("bench-idle"));
    fixture.topic = KafkaTestEnvironment::uniqueTopicName(QStringLiteral("bench-tabs"));
    for (const auto& [topic, partitions, count] : { std::tuple(fixture.idleTopic, 1, 10),
             std::tuple(fixture.topic, Partitions, Partitions * RecordsPerPartition) }) {
        if (QString error = fillTopic(bootstrap, topic, partitions, count, 100, QStringLiteral("lz4")); !error.isEmpty()) {
            std::fprintf(stderr, "filling %s failed: %s\n", qPrintable(topic), qPrintable(error));
            return 1;
        }
    }
    // Two groups whose members stay: their lag is 100 and 50 on every partition.
    std::vector<std::unique_ptr<TestConsumerGroup>> members;
    for (const int lag : { 100, 50 }) {
        const QString group = KafkaTestEnvironment::uniqueTopicName(QStringLiteral("bench-group"));
        auto member = std::make_unique<TestConsumerGroup>();
        QList<TestConsumerGroup::PartitionOffset> offsets;
        for (int partition = 0; partition < Partitions; ++partition)
            offsets.append({ fixture.topic, partition, RecordsPerPartition - lag });
        QString error = member->join(bootstrap, group, { fixture.topic });
        if (error.isEmpty())
            error = member->commit(offsets);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "group %s: %s\n", qPrintable(group), qPrintable(error));
            return 1;
        }
        members.push_back(std::move(member));
        fixture.groups.append({ group, QString::number(lag) });
    }

    fixture.client = connectedClient(bootstrap);
    if (!fixture.client)
        return 1;
    fixture.config.cluster.brokers = { Config::Broker::fromString(bootstrap).value() };

    const Figures alone = measure(fixture, rounds);
    std::vector<std::unique_ptr<RecordsWidget>> following;
    for (int i = 0; i < FollowingTabs; ++i) {
        following.push_back(std::make_unique<RecordsWidget>(
            fixture.statusBar, fixture.settings, fixture.config, fixture.client));
        applyLast(*following.back(), fixture.idleTopic, 100);
    }
    // They read the idle topic's records and wait at the broker for more.
    waitUntil([] { return false; }, 3000);
    const Figures beside = measure(fixture, rounds);
    following.clear();
    if (alone.apply < 0 || beside.apply < 0)
        return 1;

    const double applyRatio = beside.apply / alone.apply;
    const double groupRatio = beside.group / alone.group;
    std::printf("medians of %d rounds            none following  %d following  ratio (aim <= %.1f)\n", rounds,
        FollowingTabs, MaxRatio);
    std::printf("Apply \"last 100\", to first records  %8.3f s   %8.3f s   %6.2f\n", alone.apply, beside.apply,
        applyRatio);
    std::printf("pick a consumer group, to lag filled %8.3f s   %8.3f s   %6.2f\n", alone.group, beside.group,
        groupRatio);
    if (applyRatio > MaxRatio || groupRatio > MaxRatio) {
        std::printf("aim missed\n");
        return 1;
    }
    return 0;
}
