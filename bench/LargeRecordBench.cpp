// Selecting a record with a large value, or with very many headers, in the
// record detail view (as the records tab does when the selection changes),
// each beside selecting a 1 KB JSON record in the same run. Figures per case:
// the showRecord call, the worst event-loop stall (the longest gap between
// two ticks of a 1 ms timer) from the selection until the view has settled,
// and the peak growth of the resident memory meanwhile beside the size of
// the record's value (or of its headers), and the heap still held afterwards
// (the ratio takes the greater of the two).
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
//
//   bench_large_records [value MB] [headers] [settle ms]
//
// Memory figures come from glibc's allocator statistics and the kernel's
// resident peak (reset before each case): build without the sanitizers.
#include "BenchSupport.h"
#include "CompositeDeserializer.h"
#include "EventLoopMeasures.h"
#include "RecordDetailView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <malloc.h>

using namespace Bench;

namespace {

// Orders on one line, as producers send them.
QByteArray ordersJson(qsizetype size)
{
    QByteArray json = "{\"orders\":[";
    json.reserve(size + 300);
    for (int i = 0; json.size() < size; ++i) {
        const QByteArray n = QByteArray::number(i);
        json += (i > 0 ? ",{\"id\":" : "{\"id\":") + n + ",\"customer\":\"customer-" + n + "\",\"paid\":"
            + (i % 3 ? "true" : "false") + ",\"lines\":[{\"sku\":\"A-" + QByteArray::number(i % 97)
            + "\",\"quantity\":2}]}";
    }
    return json + "]}";
}

QByteArray ordersXml(qsizetype size)
{
    QByteArray xml = "<?xml version=\"1.0\"?><orders>";
    xml.reserve(size + 300);
    for (int i = 0; xml.size() < size; ++i) {
        const QByteArray n = QByteArray::number(i);
        xml += "<order id=\"" + n + "\"><customer>customer-" + n + "</customer><line sku=\"A-"
            + QByteArray::number(i % 97) + "\" quantity=\"2\"/></order>";
    }
    return xml + "</orders>";
}

// Log lines of about 80 characters.
QByteArray logText(qsizetype size)
{
    QByteArray text;
    text.reserve(size + 100);
    for (int i = 0; text.size() < size; ++i)
        text += "2024-05-01T12:00:00Z INFO order " + QByteArray::number(i) + " accepted from customer-"
            + QByteArray::number(i % 977) + " after checking stock\n";
    return text;
}

struct Figures {
    double callMs = 0;
    double worstStallMs = 0;
    double peakGrowthMb = 0;
    double heapHeldMb = 0;
};

// Selects `record` from the event loop and lets the loop run `settleMs` more.
Figures select(RecordDetailView& view, const KafkaRecord& record, const RecordDeserializer& deserializer, int settleMs)
{
    view.clearRecord();
    QApplication::processEvents();
    const qint64 heapBefore = heapInUse();
    // Free pages go back first, so that the peak counts pages the case touches.
    malloc_trim(0);
    resetResidentPeak();
    const qint64 residentBefore = statusBytes("VmRSS");
    Figures figures;
    EventLoopStalls stalls;
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
        stalls.start();
        QElapsedTimer call;
        call.start();
        view.showRecord(record, deserializer);
        figures.callMs = double(call.nsecsElapsed()) / 1e6;
        QTimer::singleShot(settleMs, &loop, &QEventLoop::quit);
    });
    loop.exec();
    stalls.stop();
    // The call itself held the loop up from the first tick on.
    figures.worstStallMs = std::max(stalls.percentileMs(100), figures.callMs);
    figures.peakGrowthMb = double(statusBytes("VmHWM") - residentBefore) / (1024 * 1024);
    figures.heapHeldMb = double(heapInUse() - heapBefore) / 1e6;
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qsizetype valueBytes = qsizetype(argument(argc, argv, 1, 50)) * 1000 * 1000;
    const int headerCount = argument(argc, argv, 2, 1'000'000);
    const int settleMs = argument(argc, argv, 3, 1500);

    const CompositeDeserializer deserializer;
    RecordDetailView view;
    view.resize(640, 480);
    view.show();

    KafkaRecord small;
    small.topic = QStringLiteral("orders");
    small.value = ordersJson(1000);
    small.headers = {{QStringLiteral("trace-id"), QByteArray("4bf92f35")}};

    struct Case {
        const char* name;
        std::function<KafkaRecord()> make;
    };
    const QList<Case> cases = {
        {"JSON", [&] { KafkaRecord r = small; r.value = ordersJson(valueBytes); return r; }},
        {"XML", [&] { KafkaRecord r = small; r.value = ordersXml(valueBytes); return r; }},
        {"text", [&] { KafkaRecord r = small; r.value = logText(valueBytes); return r; }},
        {"headers", [&] {
             KafkaRecord r = small;
             r.headers.clear();
             r.headers.reserve(headerCount);
             for (int i = 0; i < headerCount; ++i)
                 r.headers.append({QStringLiteral("h-%1").arg(i % 7919), QByteArray::number(i)});
             return r;
         }},
        {"1 MB JSON", [&] { KafkaRecord r = small; r.value = ordersJson(1000 * 1000); return r; }},
    };

    std::printf("one selection each, %d ms of settling after it; milliseconds, megabytes\n", settleMs);
    std::printf("%-10s %12s %8s %10s %10s %12s %10s %10s\n", "case", "record MB", "call", "stall", "1 KB stall",
        "peak growth", "x record", "heap held");
    for (const Case& c : cases) {
        const Figures peer = select(view, small, deserializer, settleMs);
        const KafkaRecord record = c.make();
        qint64 recordBytes = record.value.size();
        for (const KafkaHeader& header : record.headers)
            recordBytes += header.key.size() * 2 + header.value.size();
        const Figures figures = select(view, record, deserializer, settleMs);
        const double recordMb = double(recordBytes) / (1024 * 1024);
        std::printf("%-10s %12.1f %8.1f %10.1f %10.1f %12.1f %10.2f %10.1f\n", c.name, recordMb, figures.callMs,
            figures.worstStallMs, peer.worstStallMs, figures.peakGrowthMb, std::max(figures.peakGrowthMb, figures.heapHeldMb) / recordMb,
            figures.heapHeldMb);
        std::fflush(stdout);
    }
    return 0;
}
