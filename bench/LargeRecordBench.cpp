// Selecting a record with a large value, with very many or very large
// headers, or with a value of a hostile shape (one long line, deep nesting),
// in the record detail view (as the records tab does when the selection
// changes), each beside selecting a 1 KB JSON record in the same run. Figures per case:
// the showRecord call, the worst event-loop stall (the longest gap between
// two ticks of a 1 ms timer) from the selection until the view has settled,
// and the peak growth of the resident memory meanwhile beside the size of
// the record's value (or of its headers), and the heap still held afterwards
// (the ratio takes the greater of the two); beside them the 1 KB selection's
// stall and peak growth.
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
//
//   bench_large_records [value MB] [headers] [settle ms] [case name part]
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

// Numbers separated by commas on one line, as a CSV export of one row.
QByteArray csvLine(qsizetype size)
{
    QByteArray line;
    line.reserve(size + 20);
    for (int i = 0; line.size() < size; ++i)
        line += QByteArray::number(i * 7919 % 1000003) + ',';
    return line;
}

// JSON objects nested `depth` deep: {"a":{"a":...1...}}.
QByteArray nestedJsonObjects(int depth)
{
    return QByteArray("{\"a\":").repeated(depth) + '1' + QByteArray(depth, '}');
}

// Arrays nested `depth` deep around `size` bytes of short string members.
QByteArray deepJsonMembers(int depth, qsizetype size)
{
    QByteArray json = QByteArray(depth, '[');
    json.reserve(size);
    for (int i = 0; json.size() < size - depth - 20; ++i)
        json += (i > 0 ? ",\"m" : "\"m") + QByteArray::number(i) + '"';
    return json + QByteArray(depth, ']');
}

// Values of `count` headers of `size` bytes each, on one line.
QList<KafkaHeader> largeHeaders(int count, qsizetype size)
{
    QByteArray value(size, 'v');
    for (qsizetype i = 0; i < size; i += 10)
        value[i] = char('a' + i % 26);
    QList<KafkaHeader> headers;
    for (int i = 0; i < count; ++i)
        headers.append({QStringLiteral("h-%1").arg(i), value});
    return headers;
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
    // Holds its own buffer of ticks.
    EventLoopStalls stalls;
    const qint64 heapBefore = heapInUse();
    // Free pages go back first, so that the peak counts pages the case touches.
    malloc_trim(0);
    resetResidentPeak();
    const qint64 residentBefore = statusBytes("VmRSS");
    Figures figures;
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
    const QString only = argc > 4 ? QString::fromLocal8Bit(argv[4]) : QString();

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
        {"CSV 100 KB", [&] { KafkaRecord r = small; r.value = csvLine(100 * 1000); return r; }},
        {"CSV 200 KB", [&] { KafkaRecord r = small; r.value = csvLine(200 * 1000); return r; }},
        {"CSV 400 KB", [&] { KafkaRecord r = small; r.value = csvLine(400 * 1000); return r; }},
        {"[ x 1e6 ]", [&] {
             KafkaRecord r = small;
             r.value = QByteArray(1'000'000, '[') + QByteArray(1'000'000, ']');
             return r;
         }},
        {"JSON 300k deep", [&] { KafkaRecord r = small; r.value = nestedJsonObjects(300'000); return r; }},
        {"JSON 2k deep 2 MiB", [&] {
             KafkaRecord r = small;
             r.value = deepJsonMembers(2000, RecordDetailView::FormattedValueLimit - 1000);
             return r;
         }},
        // Shown as it came, highlighted.
        {"JSON not parsing 2 MB", [&] {
             KafkaRecord r = small;
             r.value = ordersJson(2'000'000);
             r.value.insert(r.value.size() - 2, ',');
             return r;
         }},
        {"XML 250k deep", [&] {
             KafkaRecord r = small;
             r.value = QByteArray("<a>").repeated(250'000) + QByteArray("</a>").repeated(250'000);
             return r;
         }},
        {"1000 x 100 KB headers", [&] { KafkaRecord r = small; r.headers = largeHeaders(1000, 100 * 1000); return r; }},
        {"100 MB header", [&] { KafkaRecord r = small; r.headers = largeHeaders(1, 100 * 1000 * 1000); return r; }},
    };

    std::printf("one selection each, %d ms of settling after it; milliseconds, megabytes\n", settleMs);
    std::printf("%-22s %12s %8s %10s %10s %12s %10s %10s %10s\n", "case", "record MB", "call", "stall", "1 KB stall",
        "peak growth", "1 KB peak", "x record", "heap held");
    for (const Case& c : cases) {
        if (!QString::fromLatin1(c.name).contains(only))
            continue;
        const Figures peer = select(view, small, deserializer, settleMs);
        const KafkaRecord record = c.make();
        qint64 recordBytes = record.value.size();
        for (const KafkaHeader& header : record.headers)
            recordBytes += header.key.size() * 2 + header.value.size();
        const Figures figures = select(view, record, deserializer, settleMs);
        const double recordMb = double(recordBytes) / (1024 * 1024);
        std::printf("%-22s %12.1f %8.1f %10.1f %10.1f %12.1f %10.1f %10.2f %10.1f\n", c.name, recordMb, figures.callMs,
            figures.worstStallMs, peer.worstStallMs, figures.peakGrowthMb, peer.peakGrowthMb,
            std::max(figures.peakGrowthMb, figures.heapHeldMb) / recordMb, figures.heapHeldMb);
        std::fflush(stdout);
    }
    return 0;
}
