#include "AboutDialog.h"
#include "AnsweringPrompts.h"
#include "ConfigListModel.h"
#include "ErrorsPopover.h"
#include "KafkaClusterClient.h"
#include "MainWindow.h"
#include "Screenshot.h"
#include "Settings.h"
#include "ShellTestMain.h"
#include "ui_MainWindow.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QTimer>
#include <QToolButton>

class MainWindowTest : public QObject {
    Q_OBJECT

    static QString clusters() { return Settings::clustersDir(); }

    static QString configFile(const QString& stem, const QString& name, const QByteArray& extra = {})
    {
        const QString path = clusters() + "/" + stem + ".yml";
        writeFile(path, "display-name: " + name.toUtf8() + "\ncluster:\n  brokers: [127.0.0.1:1]\n  protocol: Plaintext\n" + extra + "client-id: test\nprotobuf-deserializer:\n  schema-paths: []\n");
        return path;
    }

    static QStringList listed(MainWindow& window)
    {
        QStringList names;
        for (int row = 1; row < window.configListModel->rowCount(); ++row)
            names.append(window.configListModel->index(row, 0).data().toString());
        return names;
    }

    // Runs `act` on the next modal dialog once the event loop shows it.
    template <typename Act>
    static void onNextModal(Act act)
    {
        QTimer::singleShot(0, [act] {
            QTRY_VERIFY(QApplication::activeModalWidget() != nullptr);
            act(QApplication::activeModalWidget());
        });
    }

private slots:
    void init()
    {
        QDir(Settings::configDir()).removeRecursively();
        QDir().mkpath(clusters());
    }

    // Broken files and undecryptable passwords count in the errors button, again after every reload.
    void startAndReload()
    {
        configFile("broken", "[");
        configFile("sealed", "Sealed",
            "  authentication: SASL\n  authentication-sasl:\n    mechanism: PLAIN\n    plain-username: u\n"
            "    plain-password-dpapi: QUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFBQUFB\n");
        configFile("b", "beta");
        configFile("a", "Alpha");
        MainWindow window;
        window.show();
        QCOMPARE(listed(window), (QStringList { "Alpha", "beta", "Sealed" }));
        QCOMPARE(window.errorsButton->toolTip(), "2 errors");
        saveScreenshot(window, "main-window");

        window.ui->configListView->setCurrentIndex(window.configListModel->index(3, 0));
        onNextModal([](QWidget* dialog) { QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton); });
        QTest::mouseClick(window.ui->editButton, Qt::LeftButton);
        QCOMPARE(window.errorsButton->toolTip(), "3 errors");

        QTest::mouseClick(window.errorsButton, Qt::LeftButton);
        QTRY_VERIFY(window.errorsPopover->isVisible());
        saveScreenshot(*window.errorsPopover, "errors-popover");
        window.errorsPopover->close();
    }

    // Removal takes file, own directory and row, never the clusters directory or beyond.
    void removal_data()
    {
        QTest::addColumn<QString>("stem");
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<bool>("removed");
        QTest::newRow("file and directory") << "own" << true << QMessageBox::Yes << true;
        QTest::newRow("declined") << "own" << true << QMessageBox::No << false;
        QTest::newRow("file already gone") << "own" << false << QMessageBox::Yes << true;
        QTest::newRow("blank stem") << "" << true << QMessageBox::Yes << true;
        QTest::newRow("parent stem") << ".." << true << QMessageBox::Yes << true;
    }
    void removal()
    {
        QFETCH(QString, stem);
        QFETCH(bool, fileExists);
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(bool, removed);
        const QString sibling = configFile("sibling", "Sibling");
        QVERIFY(writeFile(clusters() + "/sibling/ca.pem", "ca"));
        QVERIFY(writeFile(Settings::configDir() + "/keep.txt", "keep"));
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        Config config = Config::parseFromFile(sibling).value();
        config.displayName = "Removed";
        config.filePath = clusters() + "/" + stem + ".yml";
        if (fileExists)
            QVERIFY(writeFile(config.filePath, "x"));
        const bool ownDirectory = stem == "own";
        if (ownDirectory)
            QVERIFY(writeFile(config.extraPath() + "/nested/key.pem", "key"));
        window.ui->configListView->setCurrentIndex(window.configListModel->appendConfig(config));

        AnsweringPrompts prompts;
        prompts.buttons = { answer };
        window.ui->configListView->setFocus();
        QTest::keyClick(window.ui->configListView, Qt::Key_Delete);

        QCOMPARE(listed(window).contains("Removed"), !removed);
        QCOMPARE(QFileInfo::exists(config.filePath), fileExists && !removed);
        if (ownDirectory)
            QCOMPARE(QFileInfo::exists(config.extraPath()), !removed);
        QVERIFY(QFileInfo::exists(sibling) && QFileInfo::exists(clusters() + "/sibling/ca.pem"));
        QVERIFY(QFileInfo::exists(Settings::configDir() + "/keep.txt"));
    }

    // A directory in which another configuration names a file stays, and the
    // user is told; the configuration's file and row go as always.
    void removalKeepsFilesOthersUse_data()
    {
        QTest::addColumn<QByteArray>("otherNames"); // %linked%: the clusters directory through a linked parent
        QTest::addColumn<bool>("kept");
        QTest::addColumn<bool>("linkedHome"); // the program finds its directories through a linked parent
        QTest::newRow("CA file, relative") << QByteArray("  ssl:\n    server-ca-certificate-paths: [old/certs/ca.pem]\n") << true << false;
        QTest::newRow("CA file, ./ and absolute")
            << "  ssl:\n    server-ca-certificate-paths: [./old/certs/ca.pem, " + clusters().toUtf8() + "/old/ca.pem]\n" << true << false;
        QTest::newRow("client key") << QByteArray("  ssl:\n    client-key-path: old/certs/key.pem\n") << true << false;
        QTest::newRow("nothing there") << QByteArray("  ssl:\n    server-ca-certificate-paths: [older/ca.pem]\n") << false << false;
        QTest::newRow("CA file through a linked directory")
            << QByteArray("  ssl:\n    server-ca-certificate-paths: [alias/certs/ca.pem]\n") << true << false;
        QTest::newRow("CA file through a linked parent")
            << QByteArray("  ssl:\n    server-ca-certificate-paths: [%linked%/old/certs/ca.pem]\n") << true << false;
        QTest::newRow("CA file, the program's directories through a linked parent")
            << "  ssl:\n    server-ca-certificate-paths: [" + clusters().toUtf8() + "/old/certs/ca.pem]\n" << true << true;
        QTest::newRow("CA file linked from the other's directory")
            << QByteArray("  ssl:\n    server-ca-certificate-paths: [copy/ca.pem]\n") << true << false;
        QTest::newRow("CA file, \"..\" after a linked directory, relative")
            << QByteArray("  ssl:\n    server-ca-certificate-paths: [sublink/../certs/ca.pem]\n") << true << false;
        QTest::newRow("CA file, \"..\" after a linked directory, absolute")
            << "  ssl:\n    server-ca-certificate-paths: [" + clusters().toUtf8() + "/sublink/../certs/ca.pem]\n" << true << false;
        QTest::newRow("nothing there, through a linked directory")
            << QByteArray("  ssl:\n    server-ca-certificate-paths: [elsewhere/ca.pem]\n") << false << false;
    }
    void removalKeepsFilesOthersUse()
    {
        QFETCH(QByteArray, otherNames);
        QFETCH(bool, kept);
        QFETCH(bool, linkedHome);
        const QByteArray home = qgetenv("XDG_CONFIG_HOME");
        const QString linked = QFileInfo(QString::fromLocal8Bit(home)).path() + "/linked-config";
        QVERIFY(QFileInfo::exists(linked) || QFile::link(QString::fromLocal8Bit(home), linked));
        const auto restoreHome = qScopeGuard([&home] { qputenv("XDG_CONFIG_HOME", home); });
        if (linkedHome)
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(linked));
        otherNames.replace("%linked%", QFile::encodeName(linked + "/skelvane/clusters"));
        const QString old = configFile("old", "Old");
        QVERIFY(writeFile(clusters() + "/old/certs/ca.pem", "ca"));
        QVERIFY(writeFile(clusters() + "/older/ca.pem", "ca"));
        QVERIFY(QFile::link("old", clusters() + "/alias") && QFile::link("older", clusters() + "/elsewhere"));
        QVERIFY(QFile::link("old/certs", clusters() + "/sublink"));
        QVERIFY(QDir().mkpath(clusters() + "/copy") && QFile::link("../old/certs/ca.pem", clusters() + "/copy/ca.pem"));
        configFile("copy", "Copy", otherNames);
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(listed(window), (QStringList { "Copy", "Old" }));

        AnsweringPrompts prompts;
        prompts.buttons = { QMessageBox::Yes };
        window.ui->configListView->setCurrentIndex(window.configListModel->index(2, 0));
        window.ui->configListView->setFocus();
        QTest::keyClick(window.ui->configListView, Qt::Key_Delete);

        QCOMPARE(listed(window), QStringList { "Copy" });
        QVERIFY(!QFileInfo::exists(old));
        QCOMPARE(QFileInfo::exists(clusters() + "/old/certs/ca.pem"), kept);
        QCOMPARE(prompts.told.size(), kept ? 1 : 0);
        if (kept)
            QVERIFY2(prompts.told.first().contains("'Copy'"), qPrintable(prompts.told.first()));
        QVERIFY(QFileInfo::exists(clusters() + "/older/ca.pem"));
    }

    // A failed bootstrap shows its error, keeps no client and lets it go.
    void failedBootstrapReleasesClient()
    {
        configFile("closed", "Closed port");
        MainWindow window;
        window.show();
        const QModelIndex row = window.configListModel->index(1, 0);
        window.ui->configListView->setCurrentIndex(row);
        QTest::keyClick(window.ui->configListView, Qt::Key_Return);
        std::weak_ptr<KafkaClusterClient> client = window.configListModel->configState(row).clusterClient;
        QVERIFY(!client.expired());
        QTRY_VERIFY(window.ui->errorPage->isVisible());
        QVERIFY(!window.ui->errorLabel->text().isEmpty());
        QVERIFY(!window.configListModel->configState(row).clusterClient);
        QTRY_VERIFY(client.expired());
        QCOMPARE(window.ui->tabWidget->count(), 1);
        QVERIFY(window.ui->connectButton->isEnabled());
    }

    // A configuration renamed in the editor takes the room its new name
    // needs in the cluster list at once: no entry overlaps another.
    void renamedEntryLaidOut()
    {
        configFile("a", "Alpha");
        configFile("b", "beta");
        configFile("c", "gamma");
        MainWindow window;
        window.resize(900, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QListView* list = window.ui->configListView;
        list->setCurrentIndex(window.configListModel->index(1, 0));
        const QString renamed = QStringLiteral("Alpha, the production cluster of the payments team");
        onNextModal([&renamed](QWidget* dialog) {
            for (QLineEdit* edit : dialog->findChildren<QLineEdit*>()) {
                if (edit->text() == QStringLiteral("Alpha"))
                    edit->setText(renamed);
            }
            QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
        });
        QTest::mouseClick(window.ui->editButton, Qt::LeftButton);
        QCOMPARE(listed(window), (QStringList { renamed, "beta", "gamma" }));
        QCoreApplication::processEvents();
        saveScreenshot(window, "main-window-renamed");
        for (int row = 0; row < window.configListModel->rowCount(); ++row) {
            for (int other = row + 1; other < window.configListModel->rowCount(); ++other) {
                const QRect first = list->visualRect(window.configListModel->index(row, 0));
                const QRect second = list->visualRect(window.configListModel->index(other, 0));
                QVERIFY2(!first.intersects(second), qPrintable(QStringLiteral("rows %1 and %2").arg(row).arg(other)));
            }
        }
    }

    // The About dialog from the menu: every component has its licence text.
    void about()
    {
        MainWindow window;
        window.show();
        QStringList licences;
        onNextModal([&licences](QWidget* widget) {
            auto* dialog = qobject_cast<AboutDialog*>(widget);
            QVERIFY(dialog);
            saveScreenshot(*dialog, "about");
            auto* list = dialog->findChild<QListWidget*>("openSourceComponentList");
            auto* licence = dialog->findChild<QPlainTextEdit*>("openSourceComponentLicense");
            for (int row = 0; row < list->count(); ++row) {
                list->setCurrentRow(row);
                licences.append(list->item(row)->text() + ": " + licence->toPlainText().left(20));
            }
            dialog->accept();
        });
        auto* menuButton = qobject_cast<QToolButton*>(window.ui->tabWidget->cornerWidget(Qt::TopRightCorner));
        menuButton->menu()->actions().last()->trigger();
        QCOMPARE(licences.size(), 10);
        for (const QString& licence : licences)
            QVERIFY2(!licence.endsWith(": "), qPrintable(licence));
    }
};

SKELVANE_SHELL_TEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
