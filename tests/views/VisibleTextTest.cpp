#include "VisibleText.h"

#include <QTest>

class VisibleTextTest : public QObject {
    Q_OBJECT

private slots:
    // Whatever would move, hide or break the text around a name shows as
    // U+FFFD; every other character, right-to-left letters included, stays.
    void replaced_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        const QString mark(QChar::ReplacementCharacter);
        const QString letters = QStringLiteral("\u05E9\u05DC\u05D5\u05DD-\U0001F600");
        QTest::newRow("plain") << "orders.v2-eu" << "orders.v2-eu";
        QTest::newRow("right-to-left letters and an emoji") << letters << letters;
        QTest::newRow("overrides and embeddings") << QStringLiteral("a\u202Ab\u202Bc\u202Cd\u202De\u202E")
                                                  << QStringLiteral("a\uFFFDb\uFFFDc\uFFFDd\uFFFDe\uFFFD");
        QTest::newRow("isolates") << QStringLiteral("\u2066\u2067\u2068\u2069") << mark.repeated(4);
        QTest::newRow("marks") << QStringLiteral("\u200E\u200F\u061C") << mark.repeated(3);
        QTest::newRow("line breaks and separators") << QStringLiteral("a\nb\r\nc\u2028d\u2029")
                                                    << QStringLiteral("a\uFFFDb\uFFFD\uFFFDc\uFFFDd\uFFFD");
        QTest::newRow("C0 and C1 controls, DEL, tab") << QStringLiteral("\u0000\u0007\t\u007F\u0085\u009F")
                                                         << mark.repeated(6);
        QTest::newRow("joiners and soft hyphen stay") << QStringLiteral("a\u200Db\u00ADc")
                                                      << QStringLiteral("a\u200Db\u00ADc");
    }

    void replaced()
    {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        QCOMPARE(visibleText(name), shown);
        QCOMPARE(visibleText(name).size(), name.size());
    }
};

QTEST_MAIN(VisibleTextTest)

#include "VisibleTextTest.moc"
