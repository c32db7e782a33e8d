// The whole road of "Browse records" into an offscreen records tab: a new
// cluster client and its bootstrap, the tab, a filter applied for every
// record of the topic, offset lookups, fetch jobs, the filter engine and the
// ordered list, with the event loop running. Beside it kcat reads the same
// topic to /dev/null. Both start from nothing and end with the last record.
//
// Figures: seconds until every record is in the list (and until the tab says
// done), the ratio to kcat, the worst event-loop stall while the records
// arrive (the longest gap between two ticks of a 1 ms timer) and the heap
// bytes per record that the tab holds once all are shown.
//
//   bench_records_tab [records] [topic]
//
// Without a topic one is created and filled: 8 partitions, lz4, values of
// 200 bytes. Give the printed name to later runs to skip the filling.
//
// Heap figures come from glibc's allocator statistics: build without the
// sanitizers, which replace the allocator.
#include "AdvancedFilterWidget.h"
#include "EventLoopMeasures.h"
#include "FetcherBenchSupport.h"
#include "KafkaRecordModel.h"
#include "RecordListView.h"
#include "RecordsWidget.h"
#include "Settings.h"

#include <QApplication>
#include <QListView>
#include <QProcess>
#include <QProgressBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace FetcherBench;

namespace {

constexpr int Partitions = 8;
constexpr int ValueBytes = 200;

double runKcat(const QString& bootstrap, const QString& topic)
{
    QProcess kcat;
    kcat.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    kcat.start(QStringLiteral("kcat"), { "-C", "-b", bootstrap, "-t", topic, "-o", "beginning", "-e", "-q" });
    if (!kcat.waitForFinished(600000) || kcat.exitCode() != 0) {
        std::fprintf(stderr, "kcat failed: %s\n", kcat.readAllStandardError().constData());
        return -1;
    }
    return double(timer.nsecsElapsed()) / 1e9;
}

struct Figures {
    double shownSeconds = -1;
    double doneSeconds = -1;
    double worstStallMs = 0;
    double stallP99Ms = 0;
    double heapPerRecord = 0;
};

Figures runTab(const QString& bootstrap, const QString& topic, qint64 records)
{
    Figures figures;
    const qint64 heapBefore = heapInUse();
    QElapsedTimer clock;
    clock.start();

    EventLoopStalls stalls;

    std::shared_ptr<KafkaClusterClient> client = connectedClient(bootstrap);
    if (!client)
        return figures;
    Config config;
    config.cluster.brokers = { Config::Broker::fromString(bootstrap).value() };
    QStatusBar statusBar;
    Settings settings;
    {
        RecordsWidget tab(statusBar, settings, config, client);
        tab.resize(1200, 800);
        tab.show();
        auto* model = qobject_cast<KafkaRecordModel*>(tab.findChild<RecordListView*>()->model());
        auto* bar = tab.findChild<QProgressBar*>();
        QObject::connect(&tab, &RecordsWidget::errorsChanged, [&tab] {
            std::fprintf(stderr, "error: %s\n", qPrintable(tab.errors.constLast().message));
        });

        // Every record: the first `records` of each partition.
        AdvancedFilterWidget* editor = tab.findChild<AdvancedFilterWidget*>();
        FilterCondition all;
        all.target = FilterCondition::Target::Records;
        all.operation = FilterCondition::Operator::First;
        all.max = records;
        editor->setFilter({ editor->filterId, topic, { all } });
        stalls.start();
        editor->onApplyClicked();

        if (!waitUntil([&] { return model->rowCount() >= records; }, 600000)) {
            std::fprintf(stderr, "the list holds %d of %lld records\n", model->rowCount(), static_cast<long long>(records));
            return figures;
        }
        figures.shownSeconds = double(clock.nsecsElapsed()) / 1e9;
        stalls.stop();
        if (waitUntil([&] { return bar->isHidden(); }, 60000))
            figures.doneSeconds = double(clock.nsecsElapsed()) / 1e9;
        figures.heapPerRecord = double(heapInUse() - heapBefore) / double(model->rowCount());
    }
    figures.worstStallMs = stalls.percentileMs(100);
    figures.stallP99Ms = stalls.percentileMs(99);
    return figures;
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
    const qint64 records = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1'000'000;
    QString topic = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();

    if (topic.isEmpty()) {
        topic = KafkaTestEnvironment::uniqueTopicName(QStringLiteral("bench-records-tab"));
        QElapsedTimer timer;
        timer.start();
        if (QString error = fillTopic(bootstrap, topic, Partitions, records, ValueBytes, QStringLiteral("lz4"));
            !error.isEmpty()) {
            std::fprintf(stderr, "filling the topic failed: %s\n", qPrintable(error));
            return 1;
        }
        std::printf("topic %s: %lld records of %d bytes, %d partitions, lz4, produced in %.2f s\n", qPrintable(topic),
            static_cast<long long>(records), ValueBytes, Partitions, double(timer.elapsed()) / 1000);
    }

    // One unmeasured kcat run brings the topic into the page cache.
    runKcat(bootstrap, topic);
    const Figures tab = runTab(bootstrap, topic, records);
    const double kcat = runKcat(bootstrap, topic);
    if (tab.shownSeconds < 0 || kcat < 0)
        return 1;
    std::printf("records tab: all %lld shown after %.2f s (done after %.2f s); kcat %.2f s; ratio tab/kcat %.2f\n",
        static_cast<long long>(records), tab.shownSeconds, tab.doneSeconds, kcat, tab.shownSeconds / kcat);
    std::printf("event-loop stall while they arrive: %.1f ms worst, %.1f ms at the 99th percentile\n",
        tab.worstStallMs, tab.stallP99Ms);
    std::printf("heap held by the tab: %.0f B per record (%d of them the value)\n", tab.heapPerRecord, ValueBytes);
    return 0;
}
