#include "../config/TestHome.h"
#include "AdvancedFilterWidget.h"
#include "AnsweringPrompts.h"
#include "Application.h"
#include "ConfigListModel.h"
#include "ConsumersWidget.h"
#include "ErrorsPopover.h"
#include "FakeBroker.h"
#include "KafkaClusterClient.h"
#include "KafkaTestEnvironment.h"
#include "MainWindow.h"
#include "PinnedLocale.h"
#include "RecordListView.h"
#include "RecordsWidget.h"
#include "Screenshot.h"
#include "Settings.h"
#include "TestClusterSettings.h"
#include "TestProducer.h"
#include "TestTopicAdmin.h"
#include "ui_MainWindow.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QListView>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>
#include <QToolButton>

#include <chrono>
#include <functional>

using namespace std::chrono_literals;

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

    static int rowWithFile(MainWindow& window, const QString& filePath)
    {
        for (int row = 1; row < window.configListModel->rowCount(); ++row) {
            if (window.configListModel->config(window.configListModel->index(row, 0)).filePath == filePath)
                return row;
        }
        return -1;
    }

    // Opens the context menu of a row as a right click does and chooses its entry `entry`
    // (from 0, separators left out);
    // `onDialog` then runs on the modal dialog that the entry opens.
    static void chooseFromContextMenu(MainWindow& window, int row, int entry, std::function<void(QWidget*)> onDialog)
    {
        QListView* list = window.ui->configListView;
        const QPoint at = list->visualRect(window.configListModel->index(row, 0)).center();
        list->setCurrentIndex(window.configListModel->index(row, 0));
        QTimer::singleShot(0, [entry, onDialog] {
            QTRY_VERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
            QWidget* menu = QApplication::activePopupWidget();
            for (int step = 0; step <= entry; ++step)
                QTest::keyClick(menu, Qt::Key_Down);
            QTimer::singleShot(0, [onDialog] {
                QTRY_VERIFY(QApplication::activeModalWidget() != nullptr);
                onDialog(QApplication::activeModalWidget());
            });
            QTest::keyClick(menu, Qt::Key_Return);
        });
        QContextMenuEvent click(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &click);
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
        auto* list = tab->findChild<RecordListView*>("recordsListView");
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

    // A failed bootstrap says why, in the details pane and in the errors popover: one cause per
    // broker, with its code and the fact that tells the user what to mend. Stand-in brokers play
    // the listeners that the real broker cannot be.
    void bootstrapFailureSaysWhy_data()
    {
        QTest::addColumn<QString>("standIn"); // "closed", "silent", "silent on Metadata"; empty: the broker
        QTest::addColumn<QByteArray>("cluster"); // %1: the stand-in's address
        QTest::addColumn<KafkaErrorCode>("code");
        QTest::addColumn<QString>("why");

        const QByteArray standInBroker = "  brokers: [%1]\n  protocol: Plaintext\n";
        QTest::newRow("wrong port") << "closed" << standInBroker << KafkaErrorCode::ConnectionRefusedError << "refused";
        QTest::newRow("plain text against the TLS port")
            << QString() << "  brokers: [" + m_env.ssl().toUtf8() + "]\n  protocol: Plaintext\n"
            << KafkaErrorCode::SslHandshakeFailedError << "expects TLS";
        QTest::newRow("server that never answers")
            << "silent" << standInBroker << KafkaErrorCode::SocketTimeoutError << "not set up within";
        QTest::newRow("server silent on Metadata")
            << "silent on Metadata" << standInBroker << KafkaErrorCode::MetadataError << "time limit";
        QTest::newRow("wrong SCRAM password")
            << QString()
            << "  brokers: [" + m_env.saslPlaintext().toUtf8() + "]\n  protocol: Plaintext\n  authentication: SASL\n"
                   "  authentication-sasl:\n    mechanism: SCRAM_SHA_256\n    scram-username: "
                + m_env.scram256().user.toUtf8() + "\n    scram-password: wrong\n"
            << KafkaErrorCode::SaslAuthenticationFailed << "credentials";
    }

    void bootstrapFailureSaysWhy()
    {
        QFETCH(QString, standIn);
        QFETCH(QByteArray, cluster);
        QFETCH(KafkaErrorCode, code);
        QFETCH(QString, why);

        FakeBroker fake;
        fake.autoApiVersions = standIn == "silent on Metadata";
        cluster.replace("%1", "127.0.0.1:" + QByteArray::number(fake.port()));
        if (standIn == "closed")
            fake.server().close();
        const QString path = writeConfig("failing", "Failing", cluster);

        MainWindow window;
        window.resize(1200, 700);
        window.configListModel->setConnectionLimits(KafkaConnection::Limits { 1s, 1s, 1s });
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const qsizetype errorsBefore = window.errors.size();
        activate(window, rowNamed(window, "Failing"));
        QTRY_VERIFY_WITH_TIMEOUT(window.ui->errorPage->isVisible(), 20000);
        saveScreenshot(window, "bootstrap-failure-" + QString(QTest::currentDataTag()).replace(' ', '-'));
        QFile::remove(path);

        QCOMPARE(window.errors.size(), errorsBefore + 1);
        const KafkaError failure = window.errors.last();
        QCOMPARE(failure.causes.size(), 1);
        const KafkaError& cause = failure.causes.first();
        QCOMPARE(cause.code, code);
        QVERIFY2(cause.message.contains(why, Qt::CaseInsensitive), qPrintable(cause.message));
        const QString shown = window.ui->errorLabel->text();
        QVERIFY2(shown.contains(failure.message) && shown.contains(cause.message), qPrintable(shown));

        QTest::mouseClick(window.errorsButton, Qt::LeftButton);
        QTRY_VERIFY(window.errorsPopover->isVisible());
        const QString listed = window.errorsPopover->findChild<QLabel*>("label")->text();
        QVERIFY2(listed.contains(cause.message), qPrintable(listed));
        window.errorsPopover->close();
    }

    // A duplicate of an imported configuration keeps working when the original, with its
    // own directory, is deleted: it names copies of its own.
    void duplicateOutlivesItsOriginal()
    {
        QTemporaryDir source;
        QVERIFY(source.isValid());
        const QByteArray ca = readFile(m_env.caFile());
        QVERIFY(writeFile(source.filePath("certs/ca.pem"), ca));
        Config shared;
        shared.filePath = source.filePath("shared.yml");
        shared.displayName = "Shared TLS";
        shared.cluster = withTls(Config::Cluster {}, "certs/ca.pem");
        shared.cluster.brokers = { Config::Broker::fromString(m_env.ssl()).value() };
        QVERIFY(!Config::saveToFile(shared));

        MainWindow window;
        window.resize(1200, 700);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        AnsweringPrompts prompts;
        prompts.files = { { source.filePath("shared.yml") } };
        QTest::mouseClick(window.ui->importClusterButton, Qt::LeftButton);
        const QModelIndex imported = window.ui->configListView->currentIndex();
        const Config original = window.configListModel->config(imported);
        QCOMPARE(original.displayName, "Shared TLS");

        chooseFromContextMenu(window, imported.row(), 3, [](QWidget* editor) { // Duplicate
            QTest::mouseClick(editor->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
        });
        QTRY_COMPARE(window.configListModel->rowCount(), imported.row() + 2);
        const Config duplicate = window.configListModel->config(window.ui->configListView->currentIndex());
        QVERIFY(duplicate.filePath != original.filePath);

        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        prompts.buttons = { QMessageBox::Yes };
        window.ui->configListView->setCurrentIndex(window.configListModel->index(rowWithFile(window, original.filePath), 0));
        window.ui->configListView->setFocus();
        QTest::keyClick(window.ui->configListView, Qt::Key_Delete);
        QCOMPARE(rowWithFile(window, original.filePath), -1);
        QVERIFY(!QFileInfo::exists(original.extraPath()));

        const QStringList named = duplicate.cluster.ssl.serverCaCertificatePaths;
        QCOMPARE(named.size(), 1);
        QVERIFY2(QDir::isRelativePath(named.first()), qPrintable(named.first()));
        QCOMPARE(readFile(Settings::clustersDir() + "/" + named.first()), ca);

        activate(window, rowWithFile(window, duplicate.filePath));
        QTRY_COMPARE_WITH_TIMEOUT(window.ui->tabWidget->count(), 2, 30000);
        QVERIFY(qobject_cast<RecordsWidget*>(window.ui->tabWidget->currentWidget()));
        saveScreenshot(window, "duplicate-connected");
        QTest::mouseClick(window.ui->tabWidget->tabBar()->tabButton(1, QTabBar::RightSide), Qt::LeftButton);
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
