// The record detail view on a large JSON value: pretty printing alone, the
// showRecord call (decode, pretty-print, set the text), and the time until
// the highlighter has reached the last line, with the longest stall of the
// event loop meanwhile (gaps between ticks of a 1 ms timer, the showRecord
// call included). Beside it the peer: a bare QPlainTextEdit given the same
// pretty-printed text, without highlighting. Runs on the offscreen platform
// unless QT_QPA_PLATFORM says otherwise.
//
//   bench_detail_view [value bytes] [rounds]
#include "BenchSupport.h"
#include "CompositeDeserializer.h"
#include "RecordDetailView.h"
#include "TextUtils.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace Bench;

namespace {

// Orders with nested lines: many short lines once pretty-printed.
QByteArray ordersJson(int size)
{
    QByteArray json = "{\"orders\":[";
    for (int i = 0; json.size() < size; ++i) {
        if (i > 0) {
            json += ',';
        }
        const QByteArray n = QByteArray::number(i);
        json += "{\"id\":" + n + ",\"customer\":\"customer-" + n + "\",\"paid\":" + (i % 3 ? "true" : "false")
            + ",\"coupon\":null,\"amount\":" + QByteArray::number(10 + i % 1000) + ".5,\"lines\":[{\"sku\":\"A-"
            + QByteArray::number(i % 97) + "\",\"quantity\":2},{\"sku\":\"B-" + QByteArray::number(i % 13)
            + "\",\"quantity\":1}]}";
    }
    return json + "]}";
}

struct Timing {
    qint64 callNs = 0; // the call that sets the text
    qint64 doneNs = 0; // until `done` holds
    qint64 worstStallNs = 0;
};

// Runs `work` from the event loop and keeps the loop turning until `done`
// holds (at most a minute), timing the call, the whole and the longest gap
// between timer ticks.
Timing runInEventLoop(const std::function<void()>& work, const std::function<bool()>& done)
{
    Timing timing;
    QEventLoop loop;
    QElapsedTimer clock;
    qint64 lastTick = 0;
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    ticks.setInterval(1);
    QObject::connect(&ticks, &QTimer::timeout, &loop, [&] {
        const qint64 now = clock.nsecsElapsed();
        timing.worstStallNs = std::max(timing.worstStallNs, now - lastTick);
        lastTick = now;
        if (done() || now > 60'000'000'000) {
            timing.doneNs = now;
            loop.quit();
        }
    });
    QTimer::singleShot(0, &loop, [&] {
        clock.start();
        work();
        timing.callNs = clock.nsecsElapsed();
        lastTick = 0;
        ticks.start();
    });
    loop.exec();
    return timing;
}

void print(const char* name, const Timing& best)
{
    std::printf("%-34s %10.1f %10.1f %12.1f\n", name, best.callNs / 1e6, best.doneNs / 1e6, best.worstStallNs / 1e6);
}

Timing bestTimings(const QList<Timing>& timings)
{
    Timing best = timings.first();
    for (const Timing& t : timings) {
        best.callNs = std::min(best.callNs, t.callNs);
        best.doneNs = std::min(best.doneNs, t.doneNs);
        best.worstStallNs = std::min(best.worstStallNs, t.worstStallNs);
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const int size = argument(argc, argv, 1, 1 << 20);
    const int rounds = argument(argc, argv, 2, 5);

    KafkaRecord record;
    record.topic = QStringLiteral("orders");
    record.value = ordersJson(size);
    const QString text = QString::fromUtf8(record.value);
    const Result<QString, KafkaError> pretty = prettyPrintJson(text);
    if (!pretty.hasValue()) {
        std::fprintf(stderr, "the value does not pretty-print\n");
        return 1;
    }
    const qint64 prettyNs = bestOf(rounds, [&] { (void)prettyPrintJson(text); });
    const QString& prettyText = pretty.value();
    const qint64 lines = prettyText.count(QLatin1Char('\n')) + 1;
    // The last line with a string on it: highlighted once the highlighter has
    // reached the end.
    const qsizetype lastString = prettyText.lastIndexOf(QLatin1Char('"'));

    const CompositeDeserializer deserializer;
    RecordDetailView view;
    view.resize(640, 480);
    view.show();
    const QPlainTextEdit* viewText = view.findChild<QPlainTextEdit*>();
    QPlainTextEdit plain;
    plain.resize(640, 480);
    plain.show();

    QList<Timing> detail;
    QList<Timing> peer;
    for (int round = 0; round < rounds; ++round) {
        view.clearRecord();
        detail.append(runInEventLoop([&] { view.showRecord(record, deserializer); },
            [&] {
                const QTextBlock block = viewText->document()->findBlock(int(lastString));
                return block.isValid() && !block.layout()->formats().isEmpty();
            }));
        plain.clear();
        peer.append(runInEventLoop([&] { plain.setPlainText(prettyText); }, [] { return true; }));
    }

    std::printf("JSON value of %lld bytes, %lld lines pretty-printed, best of %d rounds, milliseconds\n",
        qint64(record.value.size()), lines, rounds);
    std::printf("%-34s %10.1f\n", "prettyPrintJson alone", prettyNs / 1e6);
    std::printf("%-34s %10s %10s %12s\n", "", "call", "done", "worst stall");
    print("detail view: show and highlight", bestTimings(detail));
    print("peer: QPlainTextEdit::setPlainText", bestTimings(peer));
    return 0;
}
