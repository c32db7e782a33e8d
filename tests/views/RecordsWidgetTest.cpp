#include "AdvancedFilterWidget.h"
#include "Config.h"
#include "KafkaClusterClient.h"
#include "PinnedLocale.h"
#include "RecordsWidget.h"
#include "Screenshot.h"
#include "Settings.h"
#include "../config/TestHome.h"

#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QToolButton>

// The records tab against a real broker is a broker test; here only what
// needs none.
class RecordsWidgetTest : public QObject {
    Q_OBJECT

    TestHome m_home;

public:
    static void initMain() { pinTimeZoneAndLocale(); }

private slots:
    void initTestCase() { QVERIFY(m_home.setUp()); }

    // Schemas that do not compile are the tab's errors, announced once
    // someone can listen.
    void schemaErrorsAnnounced()
    {
        Config config;
        config.cluster.brokers = { Config::Broker::fromString(QStringLiteral("127.0.0.1:1")).value() };
        config.protobufDeserializer.schemaPaths = { QStringLiteral("/nonexistent/schemas") };
        auto client = std::make_shared<KafkaClusterClient>(QStringLiteral("records-test"), config.cluster);
        QStatusBar statusBar;
        Settings settings;
        RecordsWidget tab(statusBar, settings, config, client);
        QSignalSpy announced(&tab, &RecordsWidget::errorsChanged);
        QVERIFY(announced.wait(5000));
        QCOMPARE(announced.size(), 1);
        QCOMPARE(tab.errors.size(), 1);
        QCOMPARE(tab.errors.first().code, KafkaErrorCode::ProtobufSchemaError);
    }

    // Applied filters with long titles, collapsed, leave the tab as narrow
    // as its other content: each title is cut to its box and keeps its
    // whole text in its tooltip.
    void longTitlesElided()
    {
        Config config;
        config.cluster.brokers = { Config::Broker::fromString(QStringLiteral("127.0.0.1:1")).value() };
        auto client = std::make_shared<KafkaClusterClient>(QStringLiteral("records-test"), config.cluster);
        QStatusBar statusBar;
        Settings settings;
        RecordsWidget tab(statusBar, settings, config, client);
        tab.resize(1000, 700);
        tab.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tab));
        QToolButton* add = nullptr;
        const QImage addIcon = QIcon(QStringLiteral(":/resources/add-records-16.png")).pixmap(16).toImage();
        for (QToolButton* button : tab.findChildren<QToolButton*>()) {
            if (button->icon().pixmap(16).toImage() == addIcon)
                add = button;
        }
        QVERIFY(add != nullptr);

        QStringList titles;
        int widest = 0;
        for (int i = 0; i < 4; ++i) {
            if (i > 0)
                QTest::mouseClick(add, Qt::LeftButton);
            AdvancedFilterWidget* editor = tab.findChildren<AdvancedFilterWidget*>().constLast();
            FilterCondition key;
            key.target = FilterCondition::Target::Key;
            key.operation = FilterCondition::Operator::Containing;
            key.expectedString = QString(300, QChar(u'a' + i));
            const Filter filter { editor->filterId, QStringLiteral("orders-%1").arg(i), { key } };
            titles.append(filter.buildDescription());
            widest = std::max(widest, editor->fontMetrics().horizontalAdvance(titles.constLast()));
            editor->setFilter(filter);
            editor->focusProxy()->setFocus();
            QTest::keyClick(editor->focusProxy(), Qt::Key_Return);
            QTRY_VERIFY(!editor->isExpanded() && editor->height() == editor->minimumSizeHint().height());
        }

        QVERIFY2(tab.minimumSizeHint().width() < widest / 2,
            qPrintable(QStringLiteral("%1 of %2").arg(tab.minimumSizeHint().width()).arg(widest)));
        tab.resize(tab.minimumSizeHint().width(), 700);
        QCoreApplication::processEvents();
        QStringList tooltips;
        for (const AdvancedFilterWidget* editor : tab.findChildren<AdvancedFilterWidget*>()) {
            const QWidget* title = editor->titleWidget();
            QVERIFY(editor->rect().contains(title->geometry()));
            tooltips.append(title->toolTip());
        }
        QCOMPARE(tooltips, titles);
        QVERIFY(saveScreenshot(tab, QStringLiteral("records-tab-long-titles")));
    }
};

QTEST_MAIN(RecordsWidgetTest)
#include "RecordsWidgetTest.moc"
