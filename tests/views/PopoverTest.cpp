#include "PinnedLocale.h"
#include "Popover.h"
#include "Screenshot.h"

#include <QImage>
#include <QRegion>

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

    // Where the screen shows no translucency, what the window's mask lets
    // through shows: every pixel the bubble leaves transparent is cut away,
    // every pixel it paints in full is kept, on whichever side the arrow is.
    void nothingShowsAroundTheBubble_data()
    {
        QTest::addColumn<Position>("position");
        QTest::addColumn<QPoint>("anchor");
        QTest::newRow("below") << Position::Below << QPoint(300, 150);
        QTest::newRow("above") << Position::Above << QPoint(250, 350);
        QTest::newRow("left") << Position::Left << QPoint(450, 250);
        QTest::newRow("right") << Position::Right << QPoint(150, 250);
    }

    void nothingShowsAroundTheBubble()
    {
        QFETCH(Position, position);
        QFETCH(QPoint, anchor);
        QWidget window;
        window.setGeometry(100, 100, 400, 300);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        Popover popover(&window);
        popover.resize(200, 100);
        popover.setPosition(anchor, position);
        popover.show();
        QVERIFY(QTest::qWaitForWindowExposed(&popover));
        QVERIFY(saveScreenshot(popover, QStringLiteral("popover-") + QTest::currentDataTag()));

        const QImage painted = popover.grab().toImage().convertToFormat(QImage::Format_ARGB32);
        const QRegion mask = popover.mask();
        const auto shows = [&mask](const QPoint& point) { return mask.isEmpty() || mask.contains(point); };
        int transparentShown = 0;
        int paintedCut = 0;
        for (int y = 0; y < painted.height(); ++y) {
            for (int x = 0; x < painted.width(); ++x) {
                const int alpha = qAlpha(painted.pixel(x, y));
                transparentShown += alpha == 0 && shows({ x, y }) ? 1 : 0;
                paintedCut += alpha == 255 && !shows({ x, y }) ? 1 : 0;
            }
        }
        QCOMPARE(transparentShown, 0);
        QCOMPARE(paintedCut, 0);
        QVERIFY(shows(popover.bubbleRect().center()));
        QVERIFY(shows(popover.mapFromGlobal(anchor)
            + QPoint(position == Position::Left ? -3 : position == Position::Right ? 3 : 0,
                position == Position::Above ? -3 : position == Position::Below ? 3 : 0)));
    }
};

QTEST_MAIN(PopoverTest)

#include "PopoverTest.moc"
