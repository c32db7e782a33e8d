#include "PinnedLocale.h"
#include "Popover.h"

#include <QSignalSpy>
#include <QTest>

using Position = Popover::Position;

class PopoverTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { pinTimeZoneAndLocale(); }

private slots:
    // The window spans x 100..499 (100..249 when narrow), y 100..399; the popover is 200 x 100.
    // A click ending on the band around the bubble closes it; the bubble's edges are inside.
    void placementAndClosing_data()
    {
        QTest::addColumn<int>("windowWidth");
        QTest::addColumn<Position>("position");
        QTest::addColumn<QPoint>("anchor");
        QTest::addColumn<QPoint>("expected");
        QTest::addColumn<QPoint>("click");
        QTest::addColumn<bool>("closes");
        QTest::newRow("below, centred; click inside")
            << 400 << Position::Below << QPoint(300, 150) << QPoint(200, 150) << QPoint(100, 50) << false;
        QTest::newRow("above near the right edge; click on the bubble corner")
            << 400 << Position::Above << QPoint(480, 300) << QPoint(299, 200) << QPoint(10, 10) << false;
        QTest::newRow("over both sides stays centred; click on the band below")
            << 150 << Position::Below << QPoint(175, 200) << QPoint(75, 200) << QPoint(100, 95) << true;
        QTest::newRow("left near the bottom edge; click on the band on the left")
            << 400 << Position::Left << QPoint(300, 390) << QPoint(100, 299) << QPoint(5, 50) << true;
    }

    void placementAndClosing()
    {
        QFETCH(int, windowWidth);
        QFETCH(Position, position);
        QFETCH(QPoint, anchor);
        QFETCH(QPoint, expected);
        QFETCH(QPoint, click);
        QFETCH(bool, closes);
        QWidget window;
        window.setGeometry(100, 100, windowWidth, 300);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        Popover popover(&window);
        popover.resize(200, 100);
        popover.setPosition(anchor, position);
        popover.show();
        QCOMPARE(popover.pos(), expected);
        QVERIFY(QTest::qWaitForWindowExposed(&popover));
        QSignalSpy closed(&popover, &Popover::closed);
        QTest::mouseClick(&popover, Qt::LeftButton, {}, click);
        QCOMPARE(closed.count(), closes ? 1 : 0);
        QCOMPARE(popover.isVisible(), !closes);
    }
};

QTEST_MAIN(PopoverTest)

#include "PopoverTest.moc"
