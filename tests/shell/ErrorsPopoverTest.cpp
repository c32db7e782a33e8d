#include "ErrorsPopover.h"
#include "ShellTestMain.h"

#include <QAbstractItemModelTester>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>

class ErrorsPopoverTest : public QObject {
    Q_OBJECT

    static KafkaError at(const QString& message, const QDateTime& time, QList<KafkaError> causes = {})
    {
        KafkaError error(KafkaErrorCode::FileRemoveError, message, std::move(causes));
        error.timestamp = time.toMSecsSinceEpoch();
        return error;
    }

private slots:
    // What the popover shows of a list, and "Clear all" emptying it.
    void showAndClear_data()
    {
        QTest::addColumn<QList<KafkaError>>("errors");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("details");
        const QDateTime time(QDate(2024, 3, 1), QTime(14, 5, 59));
        QTest::newRow("none") << QList<KafkaError>() << QStringList() << "No errors";
        QTest::newRow("causes in order")
            << QList<KafkaError> { at("outer", time, { at("first", time), at("second", time) }), at("<b>later</b>", time.addDays(1)) }
            << QStringList { "2024-03-01 14:05 - outer", "2024-03-02 14:05 - <b>later</b>" }
            << "outer\n\nCaused by: first\n\nCaused by: second";
    }
    void showAndClear()
    {
        QFETCH(QList<KafkaError>, errors);
        QFETCH(QStringList, lines);
        QFETCH(QString, details);
        QWidget owner;
        ErrorsPopover popover(&owner);
        auto* list = popover.findChild<QListView*>("listView");
        auto* label = popover.findChild<QLabel*>("label");
        auto* clearAll = popover.findChild<QPushButton*>("clearAllButton");
        QAbstractItemModelTester tester(list->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy cleared(&popover, &ErrorsPopover::dataChanged);

        popover.setErrors(errors);
        popover.setPosition(QPoint(300, 300), Popover::Position::Above);
        popover.show();
        QStringList shown;
        for (int row = 0; row < list->model()->rowCount(); ++row)
            shown.append(list->model()->index(row, 0).data().toString());
        QCOMPARE(shown, lines);
        QCOMPARE(label->text(), details);
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QCOMPARE(label->alignment(), errors.isEmpty() ? Qt::Alignment(Qt::AlignCenter) : Qt::AlignLeft | Qt::AlignTop);
        QCOMPARE(clearAll->isEnabled(), !errors.isEmpty());
        if (errors.isEmpty())
            return;

        QTest::mouseClick(clearAll, Qt::LeftButton);
        QVERIFY(errors.isEmpty());
        QCOMPARE(cleared.size(), 1);
        QVERIFY(!popover.isVisible());
        QCOMPARE(list->model()->rowCount(), 0);
    }
};

SKELVANE_SHELL_TEST_MAIN(ErrorsPopoverTest)
#include "ErrorsPopoverTest.moc"
