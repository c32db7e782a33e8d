#include "PinnedLocale.h"
#include "ViewsResources.h"

#include <QIcon>
#include <QLocale>
#include <QPixmap>
#include <QTest>

class ViewsResourcesTest : public QObject {
    Q_OBJECT

public:
    // Before the application object exists: a high-DPI screen, on which icons
    // take their @2x files.
    static void initMain()
    {
        pinTimeZoneAndLocale();
        qputenv("QT_SCALE_FACTOR", "2");
    }

private slots:
    void icons_data()
    {
        QTest::addColumn<QString>("name");
        for (const char* name : {"add-records", "clear", "clear-disabled", "play", "play-disabled", "pause",
                 "pause-disabled"}) {
            QTest::newRow(name) << QStringLiteral(":/resources/%1-16.png").arg(QLatin1String(name));
        }
    }

    void icons()
    {
        QFETCH(QString, name);
        initViewsResources();
        QCOMPARE(QPixmap(name).size(), QSize(16, 16));
        QCOMPARE(QIcon(name).pixmap(QSize(16, 16), 2.0).size(), QSize(32, 32));
    }
};

QTEST_MAIN(ViewsResourcesTest)

#include "ViewsResourcesTest.moc"
