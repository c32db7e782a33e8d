// Typing in the records tab's list: the time of the longest key press (key event to
// the new current row) in the tab's RecordListView, beside the same key press
// in a plain QListView over the same model and delegate, whose search is Qt's
// own (it compares every row's display text, the whole key decoded). Both
// views are shown on the offscreen platform, the first row current.
//
//   bench_type_ahead [rows] [rows of long keys] [long key MB] [rows of long keys for Qt's search]
//
// Cases: a letter no key starts with ("t") and two letters typed as one
// search ("z", "q") over `rows` records with keys "order-<n>", a letter that
// the next row's key starts with; and "t" over rows that share one key of
// `long key MB` megabytes. Qt's search over long keys runs on fewer rows (the
// last argument): it decodes every key whole, about 0.3 s per row of 100 MB.
#include "BenchSupport.h"
#include "KafkaRecordListItemDelegate.h"
#include "KafkaRecordModel.h"
#include "RecordListView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QTest>

#include <algorithm>
#include <cstdio>

using namespace Bench;

namespace {

constexpr std::int64_t FirstTimestamp = 1'700'000'000'000;

void fill(KafkaRecordModel& model, int rows, const QByteArray& sharedKey)
{
    constexpr int BatchSize = 10'000;
    for (int first = 0; first < rows; first += BatchSize) {
        QList<KafkaRecord> batch;
        batch.reserve(BatchSize);
        for (int n = first; n < std::min(rows, first + BatchSize); ++n) {
            KafkaRecord r;
            r.offset = n;
            r.partition = 0;
            r.topic = QStringLiteral("orders");
            r.timestamp = FirstTimestamp + n;
            r.key = sharedKey.isNull() ? "order-" + QByteArray::number(n) : sharedKey;
            batch.append(std::move(r));
        }
        model.insertRecords(std::move(batch));
    }
}

// Milliseconds of the longest key press (key event to its return) of the
// keys typed together, the first row current before.
double typeInto(QAbstractItemView& view, const QString& keys)
{
    view.setCurrentIndex(view.model()->index(0, 0));
    double ms = 0;
    for (QChar key : keys) {
        QElapsedTimer timer;
        timer.start();
        QTest::keyClick(&view, key.toLatin1());
        ms = std::max(ms, double(timer.nsecsElapsed()) / 1e6);
    }
    // Keys typed apart make separate searches.
    QTest::qWait(QApplication::keyboardInputInterval() + 50);
    return ms;
}

struct Views {
    KafkaRecordModel model;
    KafkaRecordListItemDelegate delegate;
    RecordListView records;
    QListView plain;

    Views(int rows, const QByteArray& sharedKey)
    {
        fill(model, rows, sharedKey);
        plain.setUniformItemSizes(true);
        for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(&records), static_cast<QAbstractItemView*>(&plain)}) {
            view->setItemDelegate(&delegate);
            view->setModel(&model);
            view->resize(420, 600);
            view->show();
        }
        QApplication::processEvents();
    }
};

void report(const char* what, double records, double plain, int plainRows, int rows)
{
    // Qt's search compares every row; scaled to the rows of the case when it ran on fewer.
    const double plainScaled = plain * double(rows) / double(plainRows);
    std::printf("  %-44s %9.2f ms   Qt's own search %10.1f ms%s  (%.0fx)\n", what, records, plainScaled,
        plainRows == rows ? "" : " (scaled)", plainScaled / std::max(records, 0.001));
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rows = argument(argc, argv, 1, 2'000'000);
    const int longRows = argument(argc, argv, 2, 200);
    const int keyMegabytes = argument(argc, argv, 3, 100);
    const int plainLongRows = std::min(longRows, argument(argc, argv, 4, 5));

    std::printf("one key press in the record list (RecordListView compares at most %d rows)\n",
        RecordListView::TypeAheadRows);
    {
        Views views(rows, QByteArray());
        std::printf("%d rows, keys order-<n>:\n", rows);
        report("\"t\" (no key starts with it)", typeInto(views.records, "t"), typeInto(views.plain, "t"), rows, rows);
        report("\"zq\" (one search, no key starts with it)", typeInto(views.records, "zq"),
            typeInto(views.plain, "zq"), rows, rows);
        report("\"o\" (the next row's key starts with it)", typeInto(views.records, "o"), typeInto(views.plain, "o"),
            rows, rows);
    }
    {
        const QByteArray key(qsizetype(keyMegabytes) * 1024 * 1024, 'k');
        Views views(longRows, key);
        std::printf("%d rows sharing one key of %d MB:\n", longRows, keyMegabytes);
        const double records = typeInto(views.records, "t");
        Views fewer(plainLongRows, key);
        report("\"t\" (no key starts with it)", records, typeInto(fewer.plain, "t"), plainLongRows, longRows);
    }
    return 0;
}
