#include "Error.h"
#include "KafkaProtocolError.h"
#include "Result.h"

#include <QTest>
#include <QThread>

class ErrorTest : public QObject {
    Q_OBJECT

private slots:
    void wrapKeepsOneFlatChain()
    {
        KafkaError inner(KafkaErrorCode::BufferOverrun, "inner",
            { KafkaError(KafkaErrorCode::Unknown, "cause 1"), KafkaError(KafkaErrorCode::Unknown, "cause 2") });
        const KafkaError outer = inner.wrap(KafkaErrorCode::CorruptMessage, "outer");

        QCOMPARE(outer.code, KafkaErrorCode::CorruptMessage);
        QCOMPARE(outer.message, QString("outer"));
        QCOMPARE(outer.causes.size(), 3);
        QCOMPARE(outer.causes[0].message, QString("cause 1"));
        QCOMPARE(outer.causes[1].message, QString("cause 2"));
        QCOMPARE(outer.causes[2].message, QString("inner"));
        QVERIFY(outer.causes[2].causes.isEmpty());
        QVERIFY(inner.causes.isEmpty());
        QCOMPARE(inner.code, KafkaErrorCode::BufferOverrun);

        KafkaError outerCopy = outer;
        const KafkaError outermost = outerCopy.wrap(KafkaErrorCode::FetchError, "outermost");
        QCOMPARE(outermost.causes.size(), 4);
        QCOMPARE(outermost.causes.last().message, QString("outer"));
        QVERIFY(outermost.causes.last().causes.isEmpty());
    }

    void timestampsAreStampedAtConstructionAndCopied()
    {
        const KafkaError first(KafkaErrorCode::Unknown, "a");
        QThread::msleep(5);
        const KafkaError second(KafkaErrorCode::Unknown, "b");
        QVERIFY(second.timestamp > first.timestamp);
        const KafkaError copy = first;
        QCOMPARE(copy.timestamp, first.timestamp);
    }

    void mapProtocolError_data()
    {
        QTest::addColumn<int>("protocolError");
        QTest::addColumn<int>("expected");
        const int fallback = static_cast<int>(KafkaErrorCode::FetchError);
        QTest::newRow("unknown server error") << -1 << 61;
        QTest::newRow("offset out of range") << 1 << 62;
        QTest::newRow("unsupported version") << 35 << 96;
        QTest::newRow("sasl authentication failed") << 58 << 119;
        QTest::newRow("last published") << 99 << 160;
        QTest::newRow("none gives the fallback") << 0 << fallback;
        QTest::newRow("beyond the table gives the fallback") << 100 << fallback;
        QTest::newRow("other negatives give the fallback") << -2 << fallback;
    }

    void mapProtocolError()
    {
        QFETCH(int, protocolError);
        QFETCH(int, expected);
        const KafkaErrorCode code = ::mapProtocolError(static_cast<KafkaProtocolError>(protocolError), KafkaErrorCode::FetchError);
        QCOMPARE(static_cast<int>(code), expected);
    }

    void resultStates()
    {
        KafkaResult<QString> value(QString("v"));
        QCOMPARE(value.state(), KafkaResult<QString>::State::Value);
        QVERIFY(!value.isError());
        QCOMPARE(value.value(), QString("v"));

        KafkaResult<QString> error(KafkaError(KafkaErrorCode::FetchError, "e"));
        QVERIFY(error.isError());
        QCOMPARE(error.error().message, QString("e"));

        KafkaResult<QString> moved(std::move(value));
        QCOMPARE(moved.value(), QString("v"));
        QVERIFY(value.isEmpty());
        QVERIFY(!value.isError() && !value.hasValue());

        KafkaResult<QString> assigned;
        QVERIFY(assigned.isEmpty());
        assigned = std::move(error);
        QVERIFY(assigned.isError());
        QVERIFY(error.isEmpty());

        auto& self = assigned;
        assigned = std::move(self);
        QVERIFY(assigned.isError());

        const KafkaResult<QString> copy = assigned;
        QVERIFY(copy.isError());
        QVERIFY(assigned.isError());
    }
};

QTEST_GUILESS_MAIN(ErrorTest)
#include "ErrorTest.moc"
