#include "PinnedLocale.h"
#include "Popover.h"

#include <QLocale>
#include <QSignalSpy>
#include <QTest>

using Position = Popover::Position;

class PopoverTest : public QObject {
    Q_OBJECT

public:
    // Before the application object exists.
    static void initMain()
    {
        pinTimeZoneAndLocale();
    }

private slots:
    // The window spans x 100..499 (100..249 when narrow) and y 100..399; the
    // popover is 200 x 100.
    void placement_data()
    {
        QTest::addColumn<int>("windowWidth");
        QTest::addColumn<Position>("position");
        QTest::addColumn<QPoint>("anchor");
        QTest::addColumn<QPoint>("expected");

        QTest::newRow("below, centred") << 400 << Position::Below << QPoint(300, 150) << QPoint(200, 150);
        QTest::newRow("above near the right edge") << 400 << Position::Above << QPoint(480, 300) << QPoint(299, 200);
        QTest::newRow("above near the left edge") << 400 << Position::Above << QPoint(120, 300) << QPoint(100, 200);
        QTest::newRow("over both sides stays centred") << 150 << Position::Below << QPoint(175, 200) << QPoint(75, 200);
        QTest::newRow("left near the bottom edge") << 400 << Position::Left << QPoint(300, 390) << QPoint(100, 299);
    }

    void placement()
    {
        QFETCH(int, windowWidth);
        QFETCH(Position, position);
        QFETCH(QPoint, anchor);
        QFETCH(QPoint, expected);

        QWidget window;
        window.setGeometry(100, 100, windowWidth, 300);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        Popover popover(&window);
        popover.resize(200, 100);
        popover.setPosition(anchor, position);
        popover.show();
        QCOMPARE(popover.pos(), expected);
    }

    // A click that ends on the band around the bubble closes the popover;
    // the bubble's own edges count as inside.
    void clickOutsideTheBubbleCloses_data()
    {
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<bool>("closes");

        QTest::newRow("inside the bubble") << QPoint(100, 50) << false;
        QTest::newRow("bubble corner") << QPoint(10, 10) << false;
        QTest::newRow("band on the left") << QPoint(5, 50) << true;
        QTest::newRow("band below") << QPoint(100, 95) << true;
    }

    void clickOutsideTheBubbleCloses()
    {
        QFETCH(QPoint, point);
        QFETCH(bool, closes);

        QWidget window;
        window.setGeometry(100, 100, 400, 300);
        window.show();
        Popover popover(&window);
        popover.resize(200, 100);
        popover.setPosition(QPoint(300, 150), Position::Below);
        popover.show();
        QVERIFY(QTest::qWaitForWindowExposed(&popover));
        QSignalSpy closed(&popover, &Popover::closed);
        QTest::mouseClick(&popover, Qt::LeftButton, {}, point);
        QCOMPARE(closed.count(), closes ? 1 : 0);
        QCOMPARE(popover.isVisible(), !closes);
    }
};

QTEST_MAIN(PopoverTest)

#include "PopoverTest.moc"
