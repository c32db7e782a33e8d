#include "KafkaRecordHeadersModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(KafkaHeader)

class KafkaRecordHeadersModelTest : public QObject {
    Q_OBJECT

private slots:
    void headers_data()
    {
        QTest::addColumn<QList<KafkaHeader>>("headers");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QStringList>("values");
        QTest::newRow("sorted by key without regard to case")
            << QList<KafkaHeader> {{"b", "2"}, {"A", "1"}, {"c", "3"}} << QStringList {"A", "b", "c"}
            << QStringList {"1", "2", "3"};
        QTest::newRow("the same key twice") << QList<KafkaHeader> {{"k", "x"}, {"k", "x"}} << QStringList {"k", "k"}
                                            << QStringList {"x", "x"};
        QTest::newRow("UTF-8, invalid bytes as hex, null, a cut-off character")
            << QList<KafkaHeader> {{"a", "gr\xC3\xBC\xC3\x9F"}, {"b", "\xFF\x01"}, {"c", QByteArray()},
                   {"d", "ab\xC3"}}
            << QStringList {"a", "b", "c", "d"} << QStringList {QString::fromUtf8("grüß"), "ff 01", "", "ab"};
        QTest::newRow("no headers") << QList<KafkaHeader>() << QStringList() << QStringList();

        // Of the record's first ShownHeaderLimit headers, given in reverse,
        // sorted; those after them (which would sort first) only counted.
        const qsizetype limit = KafkaRecordHeadersModel::ShownHeaderLimit;
        QList<KafkaHeader> many;
        QStringList shownKeys;
        QStringList shownValues;
        for (qsizetype i = limit - 1; i >= 0; --i)
            many.append({QStringLiteral("h%1").arg(i, 5, 10, QLatin1Char('0')), QByteArray::number(i)});
        for (qsizetype i = 0; i < limit; ++i) {
            shownKeys.append(QStringLiteral("h%1").arg(i, 5, 10, QLatin1Char('0')));
            shownValues.append(QString::number(i));
        }
        for (int i = 0; i < 2345; ++i)
            many.append({QStringLiteral("a"), QByteArray("early")});
        shownValues.append(QString());
        QTest::newRow("more than are shown") << many << shownKeys << shownValues;
    }

    void headers()
    {
        QFETCH(QList<KafkaHeader>, headers);
        QFETCH(QStringList, keys);
        QFETCH(QStringList, values);
        KafkaRecordHeadersModel model;
        QAbstractItemModelTester tester(&model);
        model.setHeaders({{"old", "header"}});
        model.setHeaders(headers);
        QStringList shownKeys;
        QStringList shownValues;
        for (int row = 0; row < model.rowCount(); ++row) {
            shownKeys.append(model.data(model.index(row, 0)).toString());
            shownValues.append(model.data(model.index(row, 1)).toString());
        }
        if (model.rowCount() > KafkaRecordHeadersModel::ShownHeaderLimit) {
            // The last row counts the headers left out.
            QVERIFY(shownKeys.takeLast().contains(QString::number(headers.size() - KafkaRecordHeadersModel::ShownHeaderLimit)));
        }
        QCOMPARE(shownKeys, keys);
        QCOMPARE(shownValues, values);
        QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), "Header Value");
        QVERIFY(!model.headerData(0, Qt::Vertical).isValid());
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        model.clear();
        QCOMPARE(resets.size(), 1);
        QCOMPARE(model.rowCount(), 0);
    }
};

QTEST_GUILESS_MAIN(KafkaRecordHeadersModelTest)

#include "KafkaRecordHeadersModelTest.moc"
