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
    // An empty list, then one with causes shown in order, and "Clear all" emptying the owner's list.
    void showAndClear()
    {
        QWidget owner;
        ErrorsPopover popover(&owner);
        auto* list = popover.findChild<QListView*>("listView");
        auto* label = popover.findChild<QLabel*>("label");
        auto* clearAll = popover.findChild<QPushButton*>("clearAllButton");
        QAbstractItemModelTester tester(list->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy cleared(&popover, &ErrorsPopover::dataChanged);
        QList<KafkaError> errors;
        popover.setErrors(errors);
        popover.show();
        QCOMPARE(label->text(), "No errors");
        QVERIFY(!clearAll->isEnabled());

        const QDateTime time(QDate(2024, 3, 1), QTime(14, 5, 59));
        errors = { at("outer", time, { at("first", time), at("second", time) }), at("<b>later</b>", time.addDays(1)) };
        popover.hide();
        popover.setErrors(errors);
        popover.show();
        QStringList shown;
        for (int row = 0; row < list->model()->rowCount(); ++row)
            shown.append(list->model()->index(row, 0).data().toString());
        QCOMPARE(shown, (QStringList { "2024-03-01 14:05 - outer", "2024-03-02 14:05 - <b>later</b>" }));
        QCOMPARE(label->text(), "outer\n\nCaused by: first\n\nCaused by: second");
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QTest::mouseClick(clearAll, Qt::LeftButton);
        QVERIFY(errors.isEmpty());
        QCOMPARE(cleared.size(), 1);
        QVERIFY(!popover.isVisible());
        QCOMPARE(list->model()->rowCount(), 0);
    }
};

SKELVANE_SHELL_TEST_MAIN(ErrorsPopoverTest)
#include "ErrorsPopoverTest.moc"
