#include "Error.h"
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
