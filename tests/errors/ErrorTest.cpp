#include "Error.h"
#include "ErrorBatch.h"
#include "ErrorList.h"
#include "KafkaProtocolError.h"
#include "Result.h"

#include <QTest>

class ErrorTest : public QObject {
    Q_OBJECT

private slots:
    void wrapKeepsOneFlatChain()
    {
        KafkaError inner(KafkaErrorCode::BufferOverrun, "inner",
            { KafkaError(KafkaErrorCode::Unknown, "cause 1"), KafkaError(KafkaErrorCode::Unknown, "cause 2") });
        KafkaError outer = inner.wrap(KafkaErrorCode::CorruptMessage, "outer");
        QCOMPARE(outer.causes.size(), 3);
        QCOMPARE(outer.causes[0].message, QString("cause 1"));
        QCOMPARE(outer.causes[2].message, QString("inner"));
        QVERIFY(inner.causes.isEmpty());
        const KafkaError outermost = outer.wrap(KafkaErrorCode::FetchError, "outermost");
        QCOMPARE(outermost.causes.size(), 4);
        QCOMPARE(outermost.causes.last().message, QString("outer"));
        QVERIFY(outermost.causes.last().causes.isEmpty());
    }

    // A flood of failures keeps the newest entries, whether they come one by
    // one or in lists; a batch of one answer keeps its first errors and counts
    // the rest in one last entry.
    void errorListsStayBounded_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("oneByOne");
        QTest::addColumn<int>("asList");
        const int limit = int(ErrorList::MaxEntries);
        QTest::newRow("below the limit") << 3 << 2 << 4;
        QTest::newRow("one by one beyond") << limit - 1 << 5 << 0;
        QTest::newRow("a list beyond") << 10 << 0 << limit + 7;
        QTest::newRow("both beyond") << limit << 3 << 2;
    }

    void errorListsStayBounded()
    {
        QFETCH(int, before);
        QFETCH(int, oneByOne);
        QFETCH(int, asList);
        const auto error = [](int number) { return KafkaError(KafkaErrorCode::FetchError, QString::number(number)); };
        QList<KafkaError> errors;
        for (int i = 0; i < before; ++i)
            errors.append(error(i));
        int next = before;
        for (int i = 0; i < oneByOne; ++i)
            ErrorList::append(errors, error(next++));
        QList<KafkaError> list;
        for (int i = 0; i < asList; ++i)
            list.append(error(next++));
        ErrorList::append(errors, list);

        const int kept = std::min(next, int(ErrorList::MaxEntries));
        QCOMPARE(errors.size(), kept);
        QCOMPARE(errors.first().message, QString::number(next - kept));
        QCOMPARE(errors.last().message, QString::number(next - 1));

        ErrorBatch batch;
        int built = 0;
        for (int i = 0; i < next; ++i)
            batch.add([&] { return error(built++); });
        const QList<KafkaError> taken = batch.take(KafkaErrorCode::FetchError);
        QCOMPARE(built, std::min(next, int(ErrorBatch::MaxKept)));
        QCOMPARE(taken.size(), next > ErrorBatch::MaxKept ? built + 1 : built);
        if (next > ErrorBatch::MaxKept)
            QVERIFY(taken.last().message.contains(QString::number(next - built)));
    }

    void mapProtocolError()
    {
        const int fallback = int(KafkaErrorCode::FetchError);
        // Both ends of the table, then none, beyond the table and other negatives.
        const std::pair<int, int> rows[] = { { -1, 61 }, { 1, 62 }, { 99, 160 }, { 0, fallback }, { 100, fallback }, { -2, fallback } };
        for (const auto& [protocolError, expected] : rows)
            QCOMPARE(int(::mapProtocolError(KafkaProtocolError(protocolError), KafkaErrorCode::FetchError)), expected);
    }

    void resultStates()
    {
        KafkaResult<QString> value(QString("v"));
        KafkaResult<QString> moved(std::move(value));
        QCOMPARE(moved.value(), QString("v"));
        QVERIFY(value.isEmpty() && !value.isError() && !value.hasValue());

        KafkaResult<QString> error(KafkaError(KafkaErrorCode::FetchError, "e"));
        KafkaResult<QString> assigned;
        assigned = std::move(error);
        QCOMPARE(assigned.error().message, QString("e"));
        QVERIFY(error.isEmpty());
        auto& self = assigned;
        assigned = std::move(self);
        QVERIFY(assigned.isError());
    }
};

QTEST_GUILESS_MAIN(ErrorTest)
#include "ErrorTest.moc"
