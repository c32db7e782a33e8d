#include "Config.h"
#include "KafkaClusterClient.h"
#include "RecordsWidget.h"
#include "Settings.h"

#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>

// The records tab against a real broker is a broker test; here only what
// needs none.
class RecordsWidgetTest : public QObject {
    Q_OBJECT

private slots:
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
};

QTEST_MAIN(RecordsWidgetTest)
#include "RecordsWidgetTest.moc"
