#include "KafkaRecordHeadersModel.h"

#include "PinnedLocale.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(KafkaHeader)

class KafkaRecordHeadersModelTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { pinTimeZoneAndLocale(); }

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

    // Of a long value only the first part is decoded and shown (as text, cut
    // at a character boundary, or as hex pairs when that part is not UTF-8),
    // with a last line giving the size left out.
    void longValues_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<qint64>("omittedBytes");
        const qsizetype limit = KafkaRecordHeadersModel::ShownValueLimit;
        QTest::newRow("text of the limit's length")
            << QByteArray(limit, 't') << QString(limit, QLatin1Char('t')) << qint64(0);
        QTest::newRow("longer text") << QByteArray(limit + 1234, 't') << QString(limit, QLatin1Char('t'))
                                     << qint64(1234);
        QTest::newRow("100 MB of text") << QByteArray(100000000, 't') << QString(limit, QLatin1Char('t'))
                                        << qint64(100000000 - limit);
        // The two bytes of a character straddle the limit.
        QTest::newRow("UTF-8 cut before a character")
            << QByteArray(limit - 1, 'w') + QByteArray("\xC3\xA9").repeated(100) << QString(limit - 1, QLatin1Char('w'))
            << qint64(200);
        const QByteArray binary = QByteArray(1, '\xFF') + QByteArray(limit, '\x01');
        QTest::newRow("bytes that are no UTF-8")
            << binary << QString::fromLatin1(binary.first(limit / 3).toHex(' ')) << qint64(binary.size() - limit / 3);
    }

    void longValues()
    {
        QFETCH(QByteArray, value);
        QFETCH(QString, shown);
        QFETCH(qint64, omittedBytes);
        KafkaRecordHeadersModel model;
        QAbstractItemModelTester tester(&model);
        model.setHeaders({{QStringLiteral("large"), value}});
        QStringList lines = model.data(model.index(0, 1)).toString().split(QLatin1Char('\n'));
        if (omittedBytes > 0) {
            const QString last = lines.takeLast();
            QVERIFY2(last.contains(QLocale().formattedDataSize(omittedBytes, 1, QLocale::DataSizeTraditionalFormat)),
                qPrintable(last.left(80)));
        }
        QCOMPARE(lines.join(QLatin1Char('\n')), shown);
    }
};

QTEST_GUILESS_MAIN(KafkaRecordHeadersModelTest)

#include "KafkaRecordHeadersModelTest.moc"
