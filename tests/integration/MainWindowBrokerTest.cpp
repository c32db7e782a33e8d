#include "../config/TestHome.h"
#include "AdvancedFilterWidget.h"
#include "AnsweringPrompts.h"
#include "Application.h"
#include "ConfigListModel.h"
#include "ConsumersWidget.h"
#include "KafkaClusterClient.h"
#include "KafkaTestEnvironment.h"
#include "MainWindow.h"
#include "PinnedLocale.h"
#include "RecordsWidget.h"
#include "Screenshot.h"
#include "Settings.h"
#include "TestProducer.h"
#include "TestTopicAdmin.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QTabBar>
#include <QTest>

// The program's main window against the real broker, driven as a user does.
class MainWindowBrokerTest : public QObject {
    Q_OBJECT

    KafkaTestEnvironment m_env = KafkaTestEnvironment::fromProcessEnvironment();
    QString m_topic;

    QString writeConfig(const QString& stem, const QString& name, const QByteArray& cluster)
    {
        const QString path = Settings::clustersDir() + "/" + stem + ".yml";
        writeFile(path, "display-name: " + name.toUtf8() + "\ncluster:\n" + cluster + "client-id: skelvane-test\nprotobuf-deserializer:\n  schema-paths: []\n");
        return path;
    }

    static void activate(MainWindow& window, int row)
    {
        window.ui->configListView->setCurrentIndex(window.configListModel->index(row, 0));
        QTest::keyClick(window.ui->configListView, Qt::Key_Return);
    }

    static int rowNamed(MainWindow& window, const QString& name)
    {
        for (int row = 1; row < window.configListModel->rowCount(); ++row) {
            if (window.configListModel->index(row, 0).data().toString() == name)
                return row;
        }
        return -1;
    }

    // Applies the last 100 records of the test topic and waits for its record.
    void browseTopic(RecordsWidget* tab)
    {
        if (tab->findChildren<AdvancedFilterWidget*>().isEmpty())
            tab->addFilter(false);
        AdvancedFilterWidget* editor = tab->findChildren<AdvancedFilterWidget*>().first();
        QTRY_VERIFY(editor->isVisible());
        FilterCondition lastRecords;
        lastRecords.target = FilterCondition::Target::Records;
        lastRecords.operation = FilterCondition::Operator::Last;
        lastRecords.min = 100;
        Filter filter;
        filter.id = editor->filterId;
        filter.topic = m_topic;
        filter.conditions = { lastRecords };
        editor->setFilter(filter);
        QTest::mouseClick(editor->findChild<QPushButton*>("applyButton"), Qt::LeftButton);
        auto* list = tab->findChild<QListView*>("recordsListView");
        QTRY_COMPARE_WITH_TIMEOUT(list->model()->rowCount(), 1, 15000);
        list->setCurrentIndex(list->model()->index(0, 0));
    }

private slots:
    void initTestCase()
    {
        SKELVANE_REQUIRE_KAFKA_BROKER(m_env);
        m_topic = KafkaTestEnvironment::uniqueTopicName("shell");
        QCOMPARE(TestTopicAdmin(m_env.plaintext()).createTopic(m_topic, 1), QString());
        TestProducer producer;
        TestProducer::Options options;
        options.bootstrap = m_env.plaintext();
        QCOMPARE(producer.open(options), QString());
        QCOMPARE(producer.produce({ m_topic, 0, QByteArray("order-17"),
                     QByteArray(R"({"order":17,"items":[{"sku":"A-1","quantity":2}],"paid":true})"), {}, 0 }),
            QString());
        QCOMPARE(producer.flush().value(0).error, QString());
        QDir().mkpath(Settings::clustersDir());
        writeConfig("plain", "Local plaintext", "  brokers: [" + m_env.plaintext().toUtf8() + "]\n  protocol: Plaintext\n");
        writeConfig("sasl", "Wrong password",
            "  brokers: [" + m_env.saslPlaintext().toUtf8() + "]\n  protocol: Plaintext\n  authentication: SASL\n  authentication-sasl:\n"
            "    mechanism: PLAIN\n    plain-username: " + m_env.plain().user.toUtf8() + "\n    plain-password: wrong\n");
        QVERIFY(writeFile(Settings::clustersDir() + "/plain/ca.pem", "kept with the configuration"));
    }

    // Tabs share one client; removal waits for the last tab; a wrong password keeps no client.
    void browseAndRemove()
    {
        MainWindow window;
        window.resize(1200, 700);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const int plain = rowNamed(window, "Local plaintext");

        activate(window, plain);
        QTRY_COMPARE(window.ui->tabWidget->count(), 2);
        auto* records = qobject_cast<RecordsWidget*>(window.ui->tabWidget->currentWidget());
        QVERIFY(records);
        const QModelIndex row = window.configListModel->index(plain, 0);
        std::weak_ptr<KafkaClusterClient> client = window.configListModel->configState(row).clusterClient;

        window.ui->tabWidget->setCurrentIndex(0);
        activate(window, plain);
        QCOMPARE(window.ui->tabWidget->count(), 3);
        QCOMPARE(window.configListModel->configState(row).clusterClient, client.lock());

        window.ui->tabWidget->setCurrentWidget(records);
        browseTopic(records);
        saveScreenshot(window, "records-tab");

        window.ui->tabWidget->setCurrentIndex(0);
        window.ui->configListView->setCurrentIndex(row);
        window.ui->connectButton->menu()->actions().at(1)->trigger();
        QCOMPARE(window.ui->tabWidget->count(), 4);
        QVERIFY(qobject_cast<ConsumersWidget*>(window.ui->tabWidget->currentWidget()));
        QTest::qWait(500);
        saveScreenshot(window, "consumer-groups-tab");

        AnsweringPrompts prompts;
        prompts.buttons = { QMessageBox::Yes };
        window.ui->tabWidget->setCurrentIndex(0);
        window.ui->configListView->setCurrentIndex(row);
        window.ui->configListView->setFocus();
        QTest::keyClick(window.ui->configListView, Qt::Key_Delete);
        QCOMPARE(window.ui->errorLabel->text(), "Unable to remove the cluster configuration as it is in use");
        QVERIFY(QFileInfo::exists(Settings::clustersDir() + "/plain.yml"));
        QCOMPARE(prompts.buttons.size(), 1);

        for (int index = window.ui->tabWidget->count() - 1; index >= 1; --index)
            QTest::mouseClick(window.ui->tabWidget->tabBar()->tabButton(index, QTabBar::RightSide), Qt::LeftButton);
        QVERIFY(client.expired());
        window.ui->configListView->setFocus();
        QTest::keyClick(window.ui->configListView, Qt::Key_Delete);
        QVERIFY(!QFileInfo::exists(Settings::clustersDir() + "/plain.yml"));
        QVERIFY(!QFileInfo::exists(Settings::clustersDir() + "/plain"));
        QCOMPARE(rowNamed(window, "Local plaintext"), -1);

        const int sasl = rowNamed(window, "Wrong password");
        activate(window, sasl);
        QTRY_VERIFY_WITH_TIMEOUT(window.ui->errorPage->isVisible(), 20000);
        QVERIFY(!window.ui->errorLabel->text().isEmpty());
        QVERIFY(!window.configListModel->configState(window.configListModel->index(sasl, 0)).clusterClient);
        QCOMPARE(window.ui->tabWidget->count(), 1);
    }

    // Closing the window while tabs follow their topic returns promptly.
    void closeWhileFetching()
    {
        writeConfig("again", "Again", "  brokers: [" + m_env.plaintext().toUtf8() + "]\n  protocol: Plaintext\n");
        auto window = std::make_unique<MainWindow>();
        window->show();
        const int row = rowNamed(*window, "Again");
        for (int tab = 0; tab < 2; ++tab) {
            window->ui->tabWidget->setCurrentIndex(0);
            activate(*window, row);
            QTRY_COMPARE(window->ui->tabWidget->count(), tab + 2);
            browseTopic(qobject_cast<RecordsWidget*>(window->ui->tabWidget->currentWidget()));
        }
        window->ui->tabWidget->setCurrentIndex(1);
        window->close();
        QElapsedTimer timer;
        timer.start();
        window.reset();
        QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
    }
};

int main(int argc, char** argv)
{
    pinTimeZoneAndLocale();
    TestHome home;
    if (!home.setUp())
        return 1;
    QApplication application(argc, argv);
    setupApplicationLook(application);
    MainWindowBrokerTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainWindowBrokerTest.moc"
