// The consumer groups tab against the real broker and cluster, with Kafka's consumer-groups tool as the oracle.
#include "Config.h"
#include "ConsumersWidgetProbe.h"
#include "KafkaClusterClient.h"
#include "KafkaTestEnvironment.h"
#include "PinnedLocale.h"
#include "QCollapsibleGroupBox.h"
#include "Screenshot.h"
#include "Settings.h"
#include "TestConsumerGroup.h"
#include "TestProducer.h"
#include "TestTopicAdmin.h"

#include <QApplication>
#include <QComboBox>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

namespace {

using Model = ConsumerAssignmentModel;
const QString GroupsTool = QStringLiteral("org.apache.kafka.tools.consumer.group.ConsumerGroupCommand");

// Runs a Kafka command-line tool through the broker script: its output, or "FAILED: " and its errors.
QString runTool(const QString& script, const QStringList& arguments)
{
    QProcess process;
    process.start(script, QStringList { "tool" } + arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QStringLiteral("FAILED: ") + QString::fromUtf8(process.readAllStandardError().right(2000));
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The rows of the tables the consumer-groups tool prints, by heading; "-" stands for none.
QList<QMap<QString, QString>> toolRows(const QString& output)
{
    static const QRegularExpression heading(QStringLiteral("COORDINATOR \\(ID\\)|\\S+"));
    QList<QMap<QString, QString>> rows;
    QList<QRegularExpressionMatch> columns;
    for (const QString& line : output.split('\n')) {
        if (line.startsWith(QStringLiteral("GROUP "))) {
            columns.clear();
            for (const QRegularExpressionMatch& match : heading.globalMatch(line))
                columns.append(match);
        } else if (!columns.isEmpty() && !line.trimmed().isEmpty()) {
            QMap<QString, QString>& row = rows.emplaceBack();
            for (qsizetype i = 0; i < columns.size(); ++i) {
                const qsizetype start = columns[i].capturedStart();
                const qsizetype end = i + 1 < columns.size() ? columns[i + 1].capturedStart() : line.size();
                const QString value = line.mid(start, end - start).trimmed();
                row.insert(columns[i].captured(), value == QLatin1String("-") ? QString() : value);
            }
        }
    }
    return rows;
}

} // namespace

class ConsumersWidgetBrokerTest : public QObject {
    Q_OBJECT

    KafkaTestEnvironment m_env = KafkaTestEnvironment::fromProcessEnvironment();

private slots:
    void initTestCase() { pinTimeZoneAndLocale(); }

    void groups_data()
    {
        QTest::addColumn<bool>("cluster");
        QTest::newRow("broker") << false;
        QTest::newRow("cluster") << true;
    }

    void groups()
    {
        QFETCH(bool, cluster);
        SKELVANE_REQUIRE_KAFKA(m_env, cluster ? KafkaTestEnvironment::Feature::ClusterRestart
                                              : KafkaTestEnvironment::Feature::Restart);
        const QString bootstrap = cluster ? m_env.clusterBootstrap() : m_env.plaintext();
        const QString script = qEnvironmentVariable(cluster ? "SKELVANE_KAFKA_CLUSTER_SCRIPT" : "SKELVANE_KAFKA_SCRIPT");

        // Partitions with 4, 2 and 5 records, led by different brokers of the cluster.
        const QString topic = KafkaTestEnvironment::uniqueTopicName("groups");
        TestTopicAdmin admin(cluster ? m_env.clusterBrokers() : bootstrap);
        QCOMPARE(cluster ? admin.createTopic(topic, { { 1, 2 }, { 2, 3 }, { 3, 1 } }) : admin.createTopic(topic, 3), QString());
        TestProducer producer;
        TestProducer::Options options;
        options.bootstrap = bootstrap;
        QCOMPARE(producer.open(options), QString());
        for (const int partition : { 0, 0, 0, 0, 1, 1, 2, 2, 2, 2, 2 })
            QCOMPARE(producer.produce({ topic, partition, std::nullopt, "v", {}, 0 }), QString());
        QCOMPARE(producer.flush().size(), qsizetype(11));

        // Classic groups: one at the end, one behind, one whose member has left.
        const QString stable = KafkaTestEnvironment::uniqueTopicName("stable");
        const QString lagging = KafkaTestEnvironment::uniqueTopicName("lagging");
        const QString empty = KafkaTestEnvironment::uniqueTopicName("empty");
        TestConsumerGroup stableMember, laggingMember;
        QCOMPARE(stableMember.join(bootstrap, stable, { topic }), QString());
        QCOMPARE(stableMember.commit({ { topic, 0, 4 }, { topic, 1, 2 }, { topic, 2, 5 } }), QString());
        QCOMPARE(laggingMember.join(bootstrap, lagging, { topic }), QString());
        QCOMPARE(laggingMember.commit({ { topic, 0, 1 }, { topic, 1, 0 }, { topic, 2, 3 } }), QString());
        {
            TestConsumerGroup leaving;
            QCOMPARE(leaving.join(bootstrap, empty, { topic }), QString());
            QCOMPARE(leaving.commit({ { topic, 0, 4 } }), QString());
        }
        // The consumer group protocol: the Java consumer reads and commits every record.
        const QString modern = KafkaTestEnvironment::uniqueTopicName("modern");
        QProcess consumer;
        consumer.start(script, { "tool", "org.apache.kafka.tools.consumer.ConsoleConsumer", "--bootstrap-server", bootstrap,
                                   "--topic", topic, "--group", modern, "--from-beginning", "--consumer-property",
                                   "group.protocol=consumer", "--consumer-property", "auto.commit.interval.ms=100",
                                   "--consumer-property", "client.id=modern-client", "--timeout-ms", "120000" });
        const auto stopConsumer = qScopeGuard([&consumer] {
            consumer.terminate();
            if (!consumer.waitForFinished(10000))
                consumer.kill();
        });
        qsizetype consumed = 0;
        QVERIFY(QTest::qWaitFor([&] { return (consumed += consumer.readAllStandardOutput().count('\n')) >= 11; }, 60000));
        QTest::qWait(1000); // its last commit

        const QStringList describe { GroupsTool, "--bootstrap-server", bootstrap, "--describe", "--group", stable, "--group",
            lagging, "--group", empty, "--group", modern };
        const QString toolOutput = runTool(script, describe) + runTool(script, describe + QStringList { "--state" });
        QVERIFY2(!toolOutput.contains("FAILED: "), qPrintable(toolOutput));

        Config config;
        config.cluster.brokers = { Config::Broker::fromString(bootstrap).value() };
        auto client = std::make_shared<KafkaClusterClient>(QStringLiteral("skelvane-groups-test"), config.cluster);
        QSignalSpy bootstrapped(client.get(), &KafkaClusterClient::bootstrapComplete);
        client->bootstrap();
        QVERIFY(bootstrapped.wait(30000));
        QStatusBar statusBar;
        Settings settings;
        ConsumersWidget widget(statusBar, settings, config, client);
        widget.resize(1100, 420);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        auto& selector = *widget.findChild<QComboBox*>();
        auto& errorLabel = *widget.findChild<ErrorLabel*>();
        QTRY_VERIFY_WITH_TIMEOUT(selector.count() > 0, 30000);
        QTest::mouseClick(widget.findChild<QCollapsibleGroupBox*>(), Qt::LeftButton, {}, QPoint(2, 2)); // the details
        const auto choose = [&selector](const QString& group) { // as a user does, by typing its name
            QTest::qWait(QApplication::keyboardInputInterval() + 50); // a new search
            QTest::keyClicks(&selector, group);
            return selector.currentText() == group;
        };

        // Each group's state and partition lags, and its rows as the tool describes them.
        const QList<std::tuple<QString, QString, QStringList>> expected { { stable, "Stable", { "0", "0", "0" } },
            { lagging, "Stable", { "3", "2", "2" } }, { empty, "Empty", {} }, { modern, "Stable", { "0", "0", "0" } } };
        const QList<int> columns { Model::PartitionColumn, Model::MemberIdColumn, Model::ClientHostColumn,
            Model::ClientIdColumn, Model::OffsetColumn, Model::LagColumn };
        for (const auto& [group, state, lags] : expected) {
            QMap<QString, QString> described;
            QStringList rows;
            for (const QMap<QString, QString>& row : toolRows(toolOutput)) {
                if (row["GROUP"] == group && row.contains("STATE"))
                    described = row;
                else if (row["GROUP"] == group && !row["CONSUMER-ID"].isEmpty())
                    rows.append(QStringList { row["TOPIC"] + '-' + row["PARTITION"], row["CONSUMER-ID"], row["HOST"],
                        row["CLIENT-ID"], row["CURRENT-OFFSET"], row["LAG"] }
                                    .join(' '));
            }
            rows.sort();
            QCOMPARE(described["STATE"], state);

            QVERIFY(choose(group));
            QTRY_COMPARE_WITH_TIMEOUT(shownRows(widget, columns), rows, 30000);
            QTRY_VERIFY_WITH_TIMEOUT(shownTexts(widget).contains(state), 30000);
            const QStringList texts = shownTexts(widget);
            const QString assignor = described["ASSIGNMENT-STRATEGY"];
            QVERIFY2(texts.contains(described["COORDINATOR (ID)"].section(' ', 0, 0))
                    && (assignor.isEmpty() || texts.contains(assignor)),
                qPrintable(texts.join(", ")));
            QStringList partitionLags;
            for (qsizetype partition = 0; partition < lags.size(); ++partition)
                partitionLags.append(QStringLiteral("%1-%2 %3").arg(topic).arg(partition).arg(lags[partition]));
            QCOMPARE(shownRows(widget, { Model::PartitionColumn, Model::LagColumn }), partitionLags);
            QVERIFY(!errorLabel.isVisible());
        }
        QVERIFY(saveScreenshot(widget, "consumer-groups"));

        // A group deleted since the tab listed it.
        QVERIFY(!runTool(script, { GroupsTool, "--bootstrap-server", bootstrap, "--delete", "--group", empty })
                     .startsWith("FAILED: "));
        QVERIFY(choose(empty));
        QTRY_VERIFY_WITH_TIMEOUT(errorLabel.isVisible(), 30000);
        QVERIFY(errorLabel.text().contains(empty));
        QCOMPARE(shownRows(widget, columns), QStringList());
        QVERIFY2(!shownTexts(widget).contains("Stable"), qPrintable(shownTexts(widget).join(", ")));
        QVERIFY2(widget.errors.isEmpty(), qPrintable(widget.errors.value(0).message));
    }

    // A topic created after the client read the metadata, and a group consuming it: the tab shows its lag.
    void topicCreatedAfterBootstrap()
    {
        SKELVANE_REQUIRE_KAFKA_BROKER(m_env);
        const QString bootstrap = m_env.plaintext();
        Config config;
        config.cluster.brokers = { Config::Broker::fromString(bootstrap).value() };
        auto client = std::make_shared<KafkaClusterClient>(QStringLiteral("skelvane-groups-test"), config.cluster);
        QSignalSpy bootstrapped(client.get(), &KafkaClusterClient::bootstrapComplete);
        client->bootstrap();
        QVERIFY(bootstrapped.wait(30000));

        const QString topic = KafkaTestEnvironment::uniqueTopicName("late");
        QCOMPARE(TestTopicAdmin(bootstrap).createTopic(topic, 3), QString());
        TestProducer producer;
        TestProducer::Options options;
        options.bootstrap = bootstrap;
        QCOMPARE(producer.open(options), QString());
        for (const int partition : { 0, 0, 1, 2, 2, 2 })
            QCOMPARE(producer.produce({ topic, partition, std::nullopt, "v", {}, 0 }), QString());
        QCOMPARE(producer.flush().size(), qsizetype(6));
        const QString group = KafkaTestEnvironment::uniqueTopicName("late-group");
        TestConsumerGroup member;
        QCOMPARE(member.join(bootstrap, group, { topic }), QString());
        QCOMPARE(member.commit({ { topic, 0, 1 }, { topic, 1, 1 }, { topic, 2, 0 } }), QString());

        QStatusBar statusBar;
        Settings settings;
        ConsumersWidget widget(statusBar, settings, config, client);
        widget.show();
        auto& selector = *widget.findChild<QComboBox*>();
        QTRY_VERIFY_WITH_TIMEOUT(selector.findText(group) >= 0, 30000);
        selector.setCurrentIndex(selector.findText(group));
        const QStringList lags { topic + "-0 1", topic + "-1 0", topic + "-2 3" };
        QTRY_COMPARE_WITH_TIMEOUT(shownRows(widget, { Model::PartitionColumn, Model::LagColumn }), lags, 30000);
        QVERIFY2(widget.errors.isEmpty(), qPrintable(widget.errors.value(0).message));
        QVERIFY(!widget.findChild<ErrorLabel*>()->isVisible());
    }
};

QTEST_MAIN(ConsumersWidgetBrokerTest)
#include "ConsumersWidgetBrokerTest.moc"
