#include "RebuildProgress.h"

#include <QTest>

#include <limits>

class RebuildProgressTest : public QObject {
    Q_OBJECT

private slots:
    // Steps: "lookup" asked, "job" started (before the answer that starts it
    // is counted), "answer" and "ack" of the current rebuild,
    // "old answer" and "old ack" of the one before, reports
    // "fetching", "caught up" and "done". After each step: "running",
    // "caught up" or "done".
    void doneCoversTheRebuild_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("states");

        QTest::newRow("nothing to fetch") << QStringList { "ack" } << QStringList { "done" };
        QTest::newRow("done waits for the last lookup")
            << QStringList { "ack", "lookup", "lookup", "job", "answer", "ack", "done", "answer" }
            << QStringList { "done", "running", "running", "running", "running", "running", "running", "done" };
        QTest::newRow("a report from before the job is taken on")
            << QStringList { "ack", "lookup", "job", "answer", "done", "ack", "fetching", "done" }
            << QStringList { "done", "running", "running", "running", "running", "running", "running", "done" };
        QTest::newRow("the earlier rebuild's report, answer and ack")
            << QStringList { "lookup", "done", "old ack", "ack", "old answer", "answer" }
            << QStringList { "running", "running", "running", "running", "running", "done" };
        QTest::newRow("a job that follows") << QStringList { "ack", "lookup", "job", "answer", "ack", "caught up" }
                                            << QStringList { "done", "running", "running", "running", "running", "caught up" };
    }

    void doneCoversTheRebuild()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, states);

        RebuildProgress progress;
        progress.start();
        const std::uint64_t current = progress.start();
        QStringList seen;
        for (const QString& step : steps) {
            if (step == "lookup")
                progress.expectAnswer();
            else if (step.endsWith("answer"))
                progress.answered(step.startsWith("old") ? current - 1 : current);
            else if (step.endsWith("ack"))
                progress.acknowledged(step.startsWith("old") ? current - 1 : current);
            else if (step == "job")
                progress.jobStarted();
            else
                progress.report({ 5, 10, step != "fetching", step == "done" });
            seen.append(progress.done() ? "done" : progress.caughtUp() ? "caught up" : "running");
        }
        QCOMPARE(seen, states);
    }

    void barValue_data()
    {
        QTest::addColumn<qint64>("fetched");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<int>("value");
        QTest::newRow("quarter") << 250LL << 1000LL << 250;
        QTest::newRow("truncated") << 2LL << 3LL << 666;
        QTest::newRow("nothing to fetch") << 0LL << 0LL << 0;
        QTest::newRow("no total") << 7LL << 0LL << 0;
        QTest::newRow("beyond the total") << 3000LL << 1000LL << 1000;
        QTest::newRow("largest") << std::numeric_limits<qint64>::max() << 1LL << 1000;
    }

    void barValue()
    {
        QFETCH(qint64, fetched);
        QFETCH(qint64, total);
        QFETCH(int, value);
        QCOMPARE(RebuildProgress::barValue(fetched, total), value);
    }
};

QTEST_GUILESS_MAIN(RebuildProgressTest)
#include "RebuildProgressTest.moc"
