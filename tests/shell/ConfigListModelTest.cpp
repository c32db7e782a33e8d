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
    // Sorted without case once at the start, then appended and updated in place.
    void listing()
    {
        QMainWindow window;
        ConfigListModel model(&window);
        model.setConfigs({ named("beta"), named("Alpha"), named("gamma") });
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(texts(model), (QStringList { "Add new cluster...", "Alpha", "beta", "gamma" }));
        QCOMPARE(model.appendConfig(named("a")).row(), 4);
        model.updateConfig(model.index(1, 0), named("z"));
        QCOMPARE(texts(model), (QStringList { "Add new cluster...", "z", "beta", "gamma", "a" }));
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
