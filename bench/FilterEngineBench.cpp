// Filter-engine throughput on its own thread for a key condition, a header
// condition and a Body regular expression, over JSON values (recognised by
// their content) and over Protocol Buffers values (decoded by a rule through
// a schema compiled at run time; both come out as JSON). Beside each: the composite deserializer
// alone over the same records on the calling thread. The ratio is the
// engine's time over the deserializer's; below 1 where the condition does not
// need the value decoded.
//
// Then a Body expression that backtracks for tens of milliseconds a record,
// with slow batches queued: how long a small batch posted after the filter is
// removed or replaced takes to come back, and how long destroying the engine
// takes (as closing a records tab does), beside the same on an idle engine.
//
//   bench_filter_engine [records per batch] [batches] [rounds] [slow batches]
#include "BenchSupport.h"
#include "CompositeDeserializer.h"
#include "FilterEngine.h"
#include "ProtobufDeserializer.h"
#include "ProtobufWire.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>

using namespace Bench;
using namespace ProtobufWire;

namespace {

const char* const Schema = R"(syntax = "proto3";
package bench;
message Item {
  string sku = 1;
  int32 qty = 2;
}
message Order {
  int64 id = 1;
  string name = 2;
  string status = 3;
  double amount = 4;
  repeated Item items = 5;
}
)";

QByteArray encodedOrder(int i, const QByteArray& name, double amount)
{
    QByteArray amountBytes(8, Qt::Uninitialized);
    qToLittleEndian(amount, amountBytes.data());
    const QByteArray item1 = lengthDelimited(1, "A-" + QByteArray::number(i % 97)) + tag(2, 0) + varint(2);
    const QByteArray item2 = lengthDelimited(1, "B-" + QByteArray::number(i % 13)) + tag(2, 0) + varint(1);
    return tag(1, 0) + varint(quint64(i)) + lengthDelimited(2, name) + lengthDelimited(3, "shipped") + tag(4, 1)
        + amountBytes + lengthDelimited(5, item1) + lengthDelimited(5, item2);
}

// Records of one topic with a key, two headers and an order as value.
QList<QList<KafkaRecord>> makeBatches(bool protobuf, int recordsPerBatch, int batches)
{
    QList<QList<KafkaRecord>> all;
    for (int b = 0; b < batches; ++b) {
        QList<KafkaRecord> batch;
        for (int n = 0; n < recordsPerBatch; ++n) {
            const int i = b * recordsPerBatch + n;
            KafkaRecord r;
            r.topic = QStringLiteral("orders");
            r.partition = i % 6;
            r.offset = i;
            r.timestamp = 1'700'000'000'000 + i;
            r.key = "key-" + QByteArray::number(i);
            const QByteArray name = "customer-" + QByteArray::number(i);
            const double amount = 10 + (i % 1000) / 8.0;
            r.headers = { { "trace-id", "trace-" + QByteArray::number(i % 1000) },
                { "source", "checkout" } };
            if (protobuf) {
                r.value = encodedOrder(i, name, amount);
                r.headers.append(KafkaHeader { "proto-type", "bench.Order" });
            } else {
                r.value = "{\"id\":" + QByteArray::number(i) + ",\"name\":\"" + name
                    + "\",\"status\":\"shipped\",\"amount\":" + QByteArray::number(amount)
                    + ",\"items\":[{\"sku\":\"A-" + QByteArray::number(i % 97) + "\",\"qty\":2},{\"sku\":\"B-"
                    + QByteArray::number(i % 13) + "\",\"qty\":1}]}";
            }
            batch.append(r);
        }
        all.append(batch);
    }
    return all;
}

FilterCondition condition(FilterCondition::Target target, FilterCondition::Operator operation, const QString& text)
{
    FilterCondition c;
    c.target = target;
    c.operation = operation;
    c.headerName = QStringLiteral("trace-id");
    c.expectedString = text;
    c.regex = QRegularExpression(text);
    return c;
}

// Posts every batch to a fresh engine and waits for the last answer.
qint64 runEngine(const RecordDeserializer& deserializer, const Filter& filter,
    const QList<QList<KafkaRecord>>& batches, qint64& passed)
{
    FilterEngine engine;
    engine.deserializer = &deserializer;
    engine.updateFilter(filter);
    std::atomic<qint64> passedRecords = 0;
    QSemaphore answers;
    QObject::connect(&engine, &FilterEngine::recordsFiltered, &engine,
        [&](const QList<KafkaRecord>& records) {
            passedRecords += records.size();
            answers.release();
        },
        Qt::DirectConnection);
    QElapsedTimer timer;
    timer.start();
    for (const QList<KafkaRecord>& batch : batches) {
        QMetaObject::invokeMethod(&engine, [&engine, batch]() mutable { engine.filterRecords(std::move(batch)); },
            Qt::QueuedConnection);
    }
    answers.acquire(int(batches.size()));
    const qint64 elapsed = timer.nsecsElapsed();
    passed = passedRecords;
    return elapsed;
}

// Thirty "a" and a "b": "(a+)+$" tries every way of splitting the run
// before it fails.
QList<KafkaRecord> slowBatch(int size)
{
    QList<KafkaRecord> batch;
    for (int i = 0; i < size; ++i) {
        KafkaRecord r;
        r.topic = QStringLiteral("slow");
        r.offset = i;
        r.value = QByteArray(30, 'a') + 'b';
        batch.append(r);
    }
    return batch;
}

Filter slowFilter()
{
    return Filter { 0, QStringLiteral("slow"),
        { condition(FilterCondition::Target::Body, FilterCondition::Operator::Matching, QStringLiteral("(a+)+$")) } };
}

struct Withdrawal {
    double answerMs = -1; // -1: not back within the limit
    double destroyMs = 0;
};

// An engine with the slow filter and `queued` slow batches posted, the first
// under way, when `change` runs on it; then the time until a batch of one
// record posted after the change comes back (behind the queued ones), and
// the time the destruction takes.
Withdrawal withdraw(int queued, int recordsPerBatch, const std::function<void(FilterEngine&)>& change, int limitMs)
{
    auto engine = std::make_unique<FilterEngine>();
    engine->updateFilter(slowFilter());
    QSemaphore answers;
    QObject::connect(engine.get(), &FilterEngine::recordsFiltered, engine.get(), [&] { answers.release(); },
        Qt::DirectConnection);
    const auto post = [&engine](QList<KafkaRecord> batch) {
        QMetaObject::invokeMethod(engine.get(),
            [e = engine.get(), batch = std::move(batch)]() mutable { e->filterRecords(std::move(batch)); },
            Qt::QueuedConnection);
    };
    for (int b = 0; b < queued; ++b)
        post(slowBatch(recordsPerBatch));
    if (queued > 0)
        QThread::msleep(50);
    change(*engine);
    Withdrawal result;
    QElapsedTimer timer;
    timer.start();
    post(slowBatch(1));
    if (answers.tryAcquire(queued + 1, limitMs))
        result.answerMs = timer.nsecsElapsed() / 1e6;
    timer.restart();
    engine.reset();
    result.destroyMs = timer.nsecsElapsed() / 1e6;
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int recordsPerBatch = argument(argc, argv, 1, 500);
    const int batches = argument(argc, argv, 2, 200);
    const int rounds = argument(argc, argv, 3, 5);
    const int slowBatches = argument(argc, argv, 4, 4);
    const qint64 records = qint64(recordsPerBatch) * batches;

    QTemporaryDir schemas;
    QFile schema(schemas.filePath(QStringLiteral("order.proto")));
    if (!schemas.isValid() || !schema.open(QIODevice::WriteOnly) || schema.write(Schema) < 0) {
        std::fprintf(stderr, "cannot write the schema\n");
        return 1;
    }
    schema.close();
    auto created = ProtobufRecordDeserializer::create(Config::ProtobufDeserializer { { schemas.path() } });
    if (created.isError()) {
        std::fprintf(stderr, "%s\n", qPrintable(created.error().value(0).message));
        return 1;
    }
    const std::unique_ptr<ProtobufRecordDeserializer> protobuf = std::move(created).value();
    Config::Deserializer rule;
    rule.headerName = QStringLiteral("proto-type");
    rule.headerPattern = QRegularExpression(QStringLiteral("."));
    rule.contentType = Config::ContentType::Protobuf;
    rule.protobufMessageTypeHeader = QStringLiteral("proto-type");
    const CompositeDeserializer composite({ ConfigurableDeserializer(rule, protobuf.get()) });

    using Target = FilterCondition::Target;
    using Operator = FilterCondition::Operator;
    const std::pair<const char*, FilterCondition> conditions[] = {
        { "key matching", condition(Target::Key, Operator::Matching, QStringLiteral("^key-[0-9]*7$")) },
        { "header equal", condition(Target::Header, Operator::EqualTo, QStringLiteral("trace-77")) },
        { "body matching",
            condition(Target::Body, Operator::Matching, QStringLiteral("\"name\":\"customer-[0-9]*7\"")) },
    };

    std::printf("%d batches of %d records, best of %d rounds; engine on its thread, deserializer alone on the caller\n",
        batches, recordsPerBatch, rounds);
    std::printf("%-9s %-14s %8s %14s %16s %8s\n", "values", "condition", "passed", "engine rec/s", "deserializer rec/s",
        "ratio");
    for (const bool isProtobuf : { false, true }) {
        const QList<QList<KafkaRecord>> workload = makeBatches(isProtobuf, recordsPerBatch, batches);

        qint64 decoded = 0;
        const qint64 deserializerNs = bestOf(rounds, [&] {
            decoded = 0;
            for (const QList<KafkaRecord>& batch : workload) {
                for (const KafkaRecord& r : batch) {
                    auto result = composite.deserializeRecord(r);
                    decoded += result.hasValue() && result.value().contentType == Config::ContentType::Json;
                }
            }
        });
        if (decoded != records) {
            std::fprintf(stderr, "decoded %lld of %lld records as JSON\n", decoded, records);
            return 1;
        }

        for (const auto& [name, c] : conditions) {
            const Filter filter { 0, QStringLiteral("orders"), { c } };
            qint64 passed = 0;
            const qint64 engineNs = bestOf(rounds, [&] { runEngine(composite, filter, workload, passed); });
            if (passed == 0) {
                std::fprintf(stderr, "%s: no record passed\n", name);
                return 1;
            }
            std::printf("%-9s %-14s %8lld %14.0f %16.0f %8.2f\n", isProtobuf ? "protobuf" : "json", name, passed,
                records / (engineNs / 1e9), records / (deserializerNs / 1e9), double(engineNs) / double(deserializerNs));
        }
    }

    const int slowPerBatch = recordsPerBatch;
    std::printf("\n\"(a+)+$\" on 31-byte values, %d batches of %d records queued (the first under way), limit 20 s\n",
        slowBatches, slowPerBatch);
    std::printf("%-16s %18s %12s\n", "case", "new batch back ms", "destroy ms");
    const auto noChange = [](FilterEngine&) {};
    const std::pair<const char*, Withdrawal> cases[] = {
        { "idle engine", withdraw(0, slowPerBatch, [](FilterEngine& e) { e.removeFilterById(0); }, 20000) },
        { "filter removed", withdraw(slowBatches, slowPerBatch, [](FilterEngine& e) { e.removeFilterById(0); }, 20000) },
        { "filter replaced",
            withdraw(slowBatches, slowPerBatch, [](FilterEngine& e) { e.updateFilter(Filter { 0, "slow", {} }); }, 20000) },
        { "kept, destroyed", withdraw(slowBatches, slowPerBatch, noChange, 1000) },
    };
    for (const auto& [name, w] : cases)
        std::printf("%-16s %18.1f %12.1f\n", name, w.answerMs, w.destroyMs);
    return 0;
}
