#include "ErrorLabel.h"
#include "PinnedLocale.h"

#include <QApplication>
#include <QClipboard>
#include <QLocale>
#include <QTest>

class ErrorLabelTest : public QObject {
    Q_OBJECT

public:
    // Before the application object exists.
    static void initMain()
    {
        pinTimeZoneAndLocale();
    }

private slots:
    // Messages quote topic names and record contents: the banner shows them
    // as they are and copies them unchanged.
    void copiesTheMessageAsWritten_data()
    {
        QTest::addColumn<QString>("message");

        QTest::newRow("plain") << "Topic orders not found in cluster metadata";
        QTest::newRow("markup") << "Topic <b>orders</b> & <i>more</i> not found";
        QTest::newRow("image") << "<img src=\"file:///etc/hostname\">";
        QTest::newRow("link") << "<a href=\"https://example.com\">group</a>";
    }

    void copiesTheMessageAsWritten()
    {
        QFETCH(QString, message);

        ErrorLabel label;
        label.setText(message);
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        QApplication::clipboard()->setText(QStringLiteral("before"));
        QTest::keySequence(&label, QKeySequence::SelectAll);
        QTest::keySequence(&label, QKeySequence::Copy);
        QCOMPARE(QApplication::clipboard()->text(), message);
    }
};

QTEST_MAIN(ErrorLabelTest)

#include "ErrorLabelTest.moc"
