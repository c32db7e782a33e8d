#include "ConfigListModel.h"
#include "KafkaClusterClient.h"
#include "ShellTestMain.h"

#include <QAbstractItemModelTester>
#include <QMainWindow>

class ConfigListModelTest : public QObject {
    Q_OBJECT

    static Config named(const QString& name)
    {
        Config config;
        config.displayName = name;
        config.filePath = "/nowhere/" + name + ".yml";
        return config;
    }

    static QStringList texts(const ConfigListModel& model)
    {
        QStringList result;
        for (int row = 0; row < model.rowCount(); ++row)
            result.append(model.index(row, 0).data().toString());
        return result;
    }

private slots:
    // Sorted once at the start, then appended and updated in place.
    void listing_data()
    {
        QTest::addColumn<QStringList>("start");
        QTest::addColumn<QString>("appended"); // empty: none
        QTest::addColumn<QString>("renamedFirstTo"); // empty: no update
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("empty") << QStringList() << QString() << QString() << QStringList { "Add new cluster..." };
        QTest::newRow("sorted without case") << QStringList { "beta", "Alpha", "gamma" } << QString() << QString()
                                             << QStringList { "Add new cluster...", "Alpha", "beta", "gamma" };
        QTest::newRow("appended last") << QStringList { "b", "c" } << "a" << QString()
                                       << QStringList { "Add new cluster...", "b", "c", "a" };
        QTest::newRow("renamed in place") << QStringList { "b", "c" } << QString() << "z"
                                          << QStringList { "Add new cluster...", "z", "c" };
    }
    void listing()
    {
        QFETCH(QStringList, start);
        QFETCH(QString, appended);
        QFETCH(QString, renamedFirstTo);
        QFETCH(QStringList, expected);
        QMainWindow window;
        ConfigListModel model(&window);
        QList<Config> configs;
        for (const QString& name : start)
            configs.append(named(name));
        model.setConfigs(configs);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        if (!appended.isEmpty())
            QCOMPARE(model.appendConfig(named(appended)).row(), start.size() + 1);
        if (!renamedFirstTo.isEmpty())
            model.updateConfig(model.index(1, 0), named(renamedFirstTo));
        QCOMPARE(texts(model), expected);
        const QPixmap icon = model.index(0, 0).data(Qt::DecorationRole).value<QPixmap>();
        QCOMPARE(icon.deviceIndependentSize(), QSizeF(64, 64));
    }

    // Only clients that nothing but the model holds are released.
    void unusedClientsReleased()
    {
        QMainWindow window;
        ConfigListModel model(&window);
        model.setConfigs({ named("held"), named("idle") });
        const QModelIndex held = model.index(1, 0);
        const QModelIndex idle = model.index(2, 0);
        std::shared_ptr<KafkaClusterClient> tab = model.clusterClient(held);
        std::weak_ptr<KafkaClusterClient> idleClient = model.clusterClient(idle);
        model.disconnectUnusedClients();
        QCOMPARE(model.configState(held).clusterClient, tab);
        QVERIFY(idleClient.expired());
        QVERIFY(!model.isClusterClientConnected(held) && !model.isClusterClientConnecting(held));
    }
};

SKELVANE_SHELL_TEST_MAIN(ConfigListModelTest)
#include "ConfigListModelTest.moc"
