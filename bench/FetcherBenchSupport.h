#pragma once

// What the fetcher benchmarks share: the broker from the SKELVANE_KAFKA_*
// variables, a bootstrapped cluster client, topics filled with the test
// support's producer, and kcat as the peer.

#include "BenchSupport.h"
#include "Config.h"
#include "KafkaClusterClient.h"
#include "KafkaTestEnvironment.h"
#include "TestProducer.h"
#include "TestTopicAdmin.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>

namespace FetcherBench {

// The plaintext listener of the test broker; empty, after saying why, when
// the variables do not describe one.
inline QString brokerAddress()
{
    const KafkaTestEnvironment environment = KafkaTestEnvironment::fromProcessEnvironment();
    if (!environment.available()) {
        std::fprintf(stderr, "%s\n", qPrintable(environment.unavailableReason()));
        return QString();
    }
    return environment.plaintext();
}

// Runs the event loop until `done` holds or `timeoutMs` has passed.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(1, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

inline std::unique_ptr<KafkaClusterClient> connectedClient(const QString& address)
{
    Config::Cluster cluster;
    cluster.brokers = { Config::Broker::fromString(address).value() };
    auto client = std::make_unique<KafkaClusterClient>(QStringLiteral("skelvane-bench"), cluster);
    bool failed = false;
    QObject::connect(client.get(), &KafkaClusterClient::bootstrapError, [&failed](const KafkaError& error) {
        std::fprintf(stderr, "bootstrap failed: %s\n", qPrintable(error.message));
        failed = true;
    });
    client->bootstrap();
    if (!waitUntil(
            [&] { return failed || client->bootstrapState() == KafkaClusterClient::BootstrapState::Complete; }, 30000)
        || failed)
        return nullptr;
    return client;
}

// Creates the topic and writes `count` records of `valueSize` bytes round
// the partitions; an error text, empty on success.
inline QString fillTopic(const QString& bootstrap, const QString& topic, int partitions, qint64 count,
    int valueSize, const QString& compression)
{
    TestTopicAdmin admin(bootstrap);
    if (QString error = admin.createTopic(topic, partitions); !error.isEmpty())
        return error;
    TestProducer producer;
    TestProducer::Options options;
    options.bootstrap = bootstrap;
    options.compression = compression;
    if (QString error = producer.open(options); !error.isEmpty())
        return error;
    constexpr qint64 Slice = 50000;
    for (qint64 from = 0; from < count; from += Slice) {
        for (qint64 i = from; i < std::min(count, from + Slice); ++i) {
            const QByteArray value = Bench::textValue(i, valueSize);
            if (QString error = producer.produce({ topic, int(i % partitions), std::nullopt, value, {}, 0 });
                !error.isEmpty())
                return error;
        }
        for (const TestProducer::Delivery& delivery : producer.flush()) {
            if (!delivery.error.isEmpty())
                return delivery.error;
        }
    }
    return QString();
}

} // namespace FetcherBench
