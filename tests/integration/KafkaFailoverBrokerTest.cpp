// Leader failover on the three-broker cluster, with one node killed and started again.
#include "KafkaClusterClient.h"
#include "KafkaFetcher.h"
#include "TestClusterSettings.h"
#include "TestProducer.h"
#include "TestTopicAdmin.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <chrono>
#include <future>
#include <memory>

namespace {

constexpr int Victim = 1; // killed; leads both topics
constexpr int WaitMs = 60000;

using Landed = QList<QPair<qint64, QByteArray>>; // offset, value

class Recorder : public QObject {
public:
    explicit Recorder(KafkaFetcher& fetcher)
    {
        connect(&fetcher, &KafkaFetcher::recordsFetched, this, [this](int32_t job, const QList<KafkaRecord>& records) {
            for (const KafkaRecord& record : records)
                landed[job].append({ record.offset, record.value });
        });
        connect(&fetcher, &KafkaFetcher::fetchJobFailed, this,
            [this](int32_t job, const KafkaError& error) { failures[job].append(error); });
    }

    QHash<int, Landed> landed;
    QHash<int, QList<KafkaError>> failures;
};

} // namespace

class KafkaFailoverBrokerTest : public QObject {
    Q_OBJECT

    KafkaTestEnvironment m_env = KafkaTestEnvironment::fromProcessEnvironment();

    std::unique_ptr<KafkaClusterClient> bootstrapped(const QStringList& addresses)
    {
        Config::Cluster cluster;
        for (const QString& address : addresses)
            cluster.brokers.append(Config::Broker::fromString(address).value());
        auto client = std::make_unique<KafkaClusterClient>(QStringLiteral("skelvane-failover-test"), cluster);
        QSignalSpy failed(client.get(), &KafkaClusterClient::bootstrapError);
        client->bootstrap();
        const bool complete = QTest::qWaitFor(
            [&] { return !failed.isEmpty() || client->bootstrapState() == KafkaClusterClient::BootstrapState::Complete; },
            WaitMs);
        if (!failed.isEmpty())
            qWarning("bootstrap failed: %s", qPrintable(errorText(failed.at(0).at(0).value<KafkaError>())));
        return complete && failed.isEmpty() ? std::move(client) : nullptr;
    }

    // Produced off this thread so that the fetcher's signals keep arriving.
    Landed produce(const QString& topic, const QByteArray& prefix, int count)
    {
        auto producing = std::async(std::launch::async, [this, topic, prefix, count] {
            TestProducer producer;
            TestProducer::Options options;
            options.bootstrap = m_env.clusterBrokers();
            Landed landed;
            if (const QString error = producer.open(options); !error.isEmpty()) {
                qWarning("producer: %s", qPrintable(error));
                return landed;
            }
            for (int i = 0; i < count; ++i)
                producer.produce({ topic, 0, std::nullopt, prefix + QByteArray::number(i), {}, 0 });
            const QList<TestProducer::Delivery> deliveries = producer.flush();
            for (int i = 0; i < deliveries.size(); ++i) {
                if (deliveries[i].error.isEmpty())
                    landed.append({ deliveries[i].offset, prefix + QByteArray::number(i) });
                else
                    qWarning("delivery: %s", qPrintable(deliveries[i].error));
            }
            return landed;
        });
        (void)QTest::qWaitFor([&] { return producing.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            WaitMs);
        return producing.get();
    }

private slots:
    void leaderFailover()
    {
        SKELVANE_REQUIRE_KAFKA_CLUSTER_RESTART(m_env);
        const QStringList addresses = m_env.clusterBrokers().split(',');
        const QString replicated = KafkaTestEnvironment::uniqueTopicName(QStringLiteral("failover-replicated"));
        const QString single = KafkaTestEnvironment::uniqueTopicName(QStringLiteral("failover-single"));
        TestTopicAdmin admin(m_env.clusterBrokers());
        QCOMPARE(admin.createTopic(replicated, { { Victim, Victim % 3 + 1, (Victim + 1) % 3 + 1 } }), QString());
        QCOMPARE(admin.createTopic(single, { { Victim } }), QString());

        // Bootstrapped through the victim alone: the refresh must use the other brokers.
        auto client = bootstrapped({ addresses[Victim - 1] });
        QVERIFY(client);
        QCOMPARE(client->findTopicPartition(replicated, 0).value().leaderId, Victim);
        KafkaFetcher fetcher(*client);
        Recorder recorder(fetcher);
        const int followed = fetcher.fetchRecords(replicated, 0, 0, -1);
        const int lonely = fetcher.fetchRecords(single, 0, 0, -1);
        Landed expectedFollowed = produce(replicated, "before-", 10);
        Landed expectedLonely = produce(single, "before-", 5);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.landed.value(followed), expectedFollowed, WaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.landed.value(lonely), expectedLonely, WaitMs);

        QCOMPARE(m_env.killClusterNode(Victim), QString());
        QElapsedTimer sinceKill;
        sinceKill.start();
        QVERIFY2(bootstrapped({ addresses[Victim - 1], addresses[Victim % 3] }), "no bootstrap through the second broker");
        const Landed during = produce(replicated, "during-", 10);
        QCOMPARE(during.size(), 10);
        const qint64 producedMs = sinceKill.elapsed();
        expectedFollowed += during;
        QTRY_COMPARE_WITH_TIMEOUT(recorder.landed.value(followed), expectedFollowed, WaitMs);
        const qint64 flowingMs = sinceKill.elapsed();
        QVERIFY2(flowingMs - producedMs < 5000, qPrintable(QString::number(flowingMs - producedMs)));
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.failures.value(lonely).isEmpty(), LeaderRetry::TimeLimitMs + WaitMs);
        const qint64 failedMs = sinceKill.elapsed();
        const KafkaError failure = recorder.failures.value(lonely).first();
        QCOMPARE(failure.message, QStringLiteral("No broker could serve %1-0 within 30 s").arg(single));
        QVERIFY(!failure.causes.isEmpty());
        qInfo("after the kill: produced %lld ms, delivered %lld ms, single-replica job failed %lld ms (%s)", producedMs,
            flowingMs, failedMs, qPrintable(errorText(failure)));
        QCOMPARE(m_env.startClusterNode(Victim), QString());
        expectedFollowed += produce(replicated, "after-", 10);
        expectedLonely += produce(single, "after-", 5);
        fetcher.resumeAllFetchJobs();
        QTRY_COMPARE_WITH_TIMEOUT(recorder.landed.value(followed), expectedFollowed, WaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.landed.value(lonely), expectedLonely, WaitMs);
        QCOMPARE(expectedFollowed.size() + expectedLonely.size(), 40);
        QVERIFY(recorder.failures.value(followed).isEmpty());
        QCOMPARE(recorder.failures.value(lonely).size(), 1);
    }
};

QTEST_GUILESS_MAIN(KafkaFailoverBrokerTest)
#include "KafkaFailoverBrokerTest.moc"
