// The configuration editor and its rule dialog, driven by keyboard and mouse.
#include "AnsweringPrompts.h"
#include "DeserializerDialog.h"
#include "DeserializerModel.h"
#include "EditConfigDialog.h"
#include "Screenshot.h"
#include "Settings.h"
#include "ShellTestMain.h"
#include "ui_DeserializerDialog.h"
#include "ui_EditConfigDialog.h"

#include <QAbstractItemModelTester>
#include <QClipboard>
#include <QDirIterator>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QRegularExpression>

namespace {

using Mode = EditConfigDialog::Mode;
using Authentication = EditConfigDialog::Authentication;

template <typename T>
bool choose(QComboBox* combo, T value)
{
    QTest::keyClick(combo, Qt::Key_Home);
    for (int i = 0; i < combo->count() && combo->currentData().template value<T>() != value; ++i)
        QTest::keyClick(combo, Qt::Key_Down);
    return combo->currentData().template value<T>() == value;
}

void typeInto(QWidget* field, const QString& text)
{
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, text);
}

void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

Config config(const QString& stem = {})
{
    Config config;
    config.cluster.ssl.serverCertificateValidation = Config::SslCertificateValidation::Full;
    if (!stem.isEmpty()) {
        config.filePath = Settings::clustersDir() + "/" + stem + ".yml";
        config.displayName = stem;
        config.clientId = "viewer";
        config.cluster.brokers = { { "kafka-1", 9093 } };
    }
    return config;
}

Config::Deserializer rule(const QString& topic, const QString& headerName = {}, const QString& headerPattern = {})
{
    Config::Deserializer deserializer = DeserializerDialog::defaultDeserializer();
    deserializer.topicPattern = QRegularExpression(topic);
    deserializer.headerName = headerName;
    deserializer.headerPattern = QRegularExpression(headerPattern);
    return deserializer;
}

QStringList rows(const QAbstractItemModel& model)
{
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row)
        texts.append(model.index(row, 0).data().toString() + " | " + model.index(row, 1).data().toString());
    return texts;
}

} // namespace

class EditConfigDialogTest : public QObject {
    Q_OBJECT

    TestHome m_home; // only for its directory

    // The editor shown, its rules model watched.
    struct Editor {
        EditConfigDialog dialog;
        Ui::EditConfigDialog& ui;
        DeserializerDialog& ruleDialog;
        Ui::DeserializerDialog& ruleUi;
        QAbstractItemModelTester tester;

        Editor(Config config, Mode mode)
            : dialog(std::move(config), mode)
            , ui(*dialog.ui)
            , ruleDialog(*dialog.deserializerDialog)
            , ruleUi(*ruleDialog.ui)
            , tester(dialog.deserializerModel, QAbstractItemModelTester::FailureReportingMode::QtTest)
        {
            dialog.show();
            dialog.activateWindow();
        }

        void addBroker(const QString& address)
        {
            click(ui.addBootstrapBrokerButton);
            typeInto(QApplication::focusWidget(), address); // the entry's in-place editor
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        }

        void ok() { click(ui.buttonBox->button(QDialogButtonBox::Ok)); }

        void selectRule(int row)
        {
            QTableView* table = ui.deserializersList;
            QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(table->model()->index(row, 0)).center());
        }

        bool writeRule(QAbstractButton* button, const QString& topic, Config::ContentType type, const QString& screenshot = {})
        {
            click(button);
            if (!QTest::qWaitForWindowActive(&ruleDialog))
                return false;
            typeInto(ruleUi.topicPatternEdit, topic);
            if (!choose(ruleUi.contentTypeComboBox, type))
                return false;
            if (type == Config::ContentType::Protobuf)
                QTest::keyClicks(ruleUi.protobufMessageTypeEdit, "shop.Payment");
            if (!screenshot.isEmpty() && !saveScreenshot(ruleDialog, screenshot))
                return false;
            click(ruleUi.buttonBox->button(QDialogButtonBox::Ok));
            return !ruleDialog.isVisible();
        }
    };

private slots:
    void init()
    {
        QDir(Settings::clustersDir()).removeRecursively();
        QVERIFY(QDir().mkpath(Settings::clustersDir()));
        QVERIFY(!Config::saveToFile(config("orders")));
    }

    // OK lists every problem and writes nothing, or saves a file that reads back equal.
    void ok_data()
    {
        QTest::addColumn<Mode>("mode");
        QTest::addColumn<QString>("displayName");
        QTest::addColumn<QByteArray>("caFile"); // empty: none added
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<QString>("fileName"); // empty: nothing written

        QTest::newRow("empty form") << Mode::Add << "" << QByteArray() << QList<int> { 53, 53 } << "";
        QTest::newRow("blank display name") << Mode::Duplicate << " \t" << QByteArray() << QList<int> { 53 } << "";
        QTest::newRow("garbage CA file") << Mode::Edit << "Orders" << QByteArray("not PEM\n") << QList<int> { 54 } << "";
        QTest::newRow("add") << Mode::Add << "Payments  EU" << QByteArray() << QList<int>() << "payments-eu.yml";
        QTest::newRow("duplicate") << Mode::Duplicate << "orders" << QByteArray() << QList<int>() << "orders-1.yml";
        QTest::newRow("edit, renamed") << Mode::Edit << "Renamed" << QByteArray() << QList<int>() << "orders.yml";
    }

    void ok()
    {
        QFETCH(Mode, mode);
        QFETCH(QString, displayName);
        QFETCH(QByteArray, caFile);
        QFETCH(QList<int>, codes);
        QFETCH(QString, fileName);

        AnsweringPrompts prompts;
        const Config start = config(mode == Mode::Add ? QString() : QStringLiteral("orders"));
        Editor editor(start, mode);
        QVERIFY(QTest::qWaitForWindowActive(&editor.dialog));
        typeInto(editor.ui.displayNameEdit, displayName);
        if (mode == Mode::Add && !displayName.isEmpty())
            editor.addBroker("localhost:9092");
        if (!caFile.isEmpty()) {
            QVERIFY(writeFile(m_home.filePath("ca.pem"), caFile));
            prompts.files = { { m_home.filePath("ca.pem") } };
            click(editor.ui.caCertificatesAddButton);
        }
        const QStringList before = QDir(Settings::clustersDir()).entryList(QDir::Files);
        editor.ok();

        QList<int> found;
        for (const KafkaError& error : editor.dialog.errors)
            found.append(int(error.code));
        QCOMPARE(found, codes);
        QCOMPARE(editor.dialog.isVisible(), fileName.isEmpty());
        if (fileName.isEmpty()) {
            QCOMPARE(editor.ui.errorLabel->text(), editor.dialog.errors.last().message);
            QCOMPARE(QDir(Settings::clustersDir()).entryList(QDir::Files), before);
            return;
        }
        QCOMPARE(QFileInfo(editor.dialog.config.filePath).fileName(), fileName);
        QCOMPARE(editor.dialog.config.clientId, start.clientId);
        const Result<Config, QList<KafkaError>> saved = Config::parseFromFile(editor.dialog.config.filePath);
        QVERIFY(saved.hasValue() && saved.value() == editor.dialog.config);
    }

    // Passwords reach the file only protected; an undecryptable one stays until typed over.
    void passwords_data()
    {
        QTest::addColumn<Authentication>("choice");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("typed"); // "\b" erases
        QTest::addColumn<bool>("storedKept");

        const QString stored = "AQIDBAUGBwgJCgsMDQ4PEBESExQVFhcYGRobHB0eHyA=";
        QTest::newRow("undecryptable, untouched") << Authentication::SaslPlain << stored << "" << true;
        QTest::newRow("undecryptable, replaced") << Authentication::SaslScramSha256 << stored << "typed-secret" << false;
        QTest::newRow("undecryptable, typed and erased") << Authentication::SaslPlain << stored << "x\b" << false;
    }

    void passwords()
    {
        QFETCH(Authentication, choice);
        QFETCH(QString, stored);
        QFETCH(QString, typed);
        QFETCH(bool, storedKept);

        Config start = config("orders");
        (choice == Authentication::SaslPlain ? start.plainPasswordStored : start.scramPasswordStored) = stored;
        Editor editor(start, Mode::Edit);
        QVERIFY(QTest::qWaitForWindowActive(&editor.dialog));
        QVERIFY(choose(editor.ui.authenticationCombo, choice));
        QTest::keyClicks(editor.ui.usernameEdit, "alice");
        for (const QChar key : typed) {
            if (key == '\b')
                QTest::keyClick(editor.ui.passwordEdit, Qt::Key_Backspace);
            else
                QTest::keyClicks(editor.ui.passwordEdit, key);
        }
        editor.ok();

        QVERIFY(!editor.dialog.isVisible());
        const QByteArray file = readFile(editor.dialog.config.filePath);
        QVERIFY2(file.contains("password-dpapi: ") && !file.contains("password: ") && !file.contains("typed"), file.constData());
        QCOMPARE(!stored.isEmpty() && file.contains(stored.toLatin1()), storedKept);
    }

    // A failed save (clusters directory replaced by a file) keeps the dialog and every typed field.
    void failedSaveKeepsTyping()
    {
        AnsweringPrompts prompts;
        Editor editor(config(), Mode::Add);
        QVERIFY(QTest::qWaitForWindowActive(&editor.dialog));
        QTest::keyClicks(editor.ui.displayNameEdit, "Payments (production)");
        editor.addBroker("kafka-1.payments.example.com:9093");
        QVERIFY(choose(editor.ui.protocolCombo, Config::Protocol::Ssl));
        QVERIFY(choose(editor.ui.authenticationCombo, Authentication::SaslScramSha512));
        QTest::keyClicks(editor.ui.usernameEdit, "payments-reader");
        QTest::keyClicks(editor.ui.passwordEdit, "secret");
        prompts.directories = { "/srv/protos" };
        click(editor.ui.addProtobufSchemaDirectoryButton);
        QVERIFY(QDir(Settings::clustersDir()).removeRecursively() && writeFile(Settings::clustersDir(), "in the way"));
        editor.ok();

        QVERIFY(editor.dialog.isVisible());
        QCOMPARE(editor.ui.errorLabel->text(), editor.dialog.errors.value(0).message);
        QVERIFY(saveScreenshot(editor.dialog, "config-editor"));
        QVERIFY(QFile::remove(Settings::clustersDir()));
        editor.ok();
        QVERIFY(!editor.dialog.isVisible());
        const Config& saved = editor.dialog.config;
        QCOMPARE(saved.displayName, "Payments (production)");
        QCOMPARE(saved.cluster.brokers, (QList<Config::Broker> { { "kafka-1.payments.example.com", 9093 } }));
        QCOMPARE(saved.cluster.protocol, Config::Protocol::Ssl);
        QCOMPARE(saved.cluster.authenticationSasl->scramPassword, "secret");
        QCOMPARE(saved.protobufDeserializer.schemaPaths, QList<QString> { "/srv/protos" });
    }

    // A duplicate names copies of the files in the original's own directory, with the same
    // bytes, and keeps every other path; a copy refused leaves nothing behind.
    void duplicateCopiesOwnFiles_data()
    {
        QTest::addColumn<QString>("ca");
        QTest::addColumn<QString>("schemas");
        QTest::addColumn<QString>("copiedCa"); // empty: the same as given
        QTest::addColumn<QString>("copiedSchemas");
        QTest::addColumn<bool>("refused");

        QTest::newRow("own, relative") << "orders/certs/ca.pem" << "orders/protos"
                                       << "orders-1/certs/ca.pem" << "orders-1/protos" << false;
        QTest::newRow("own, ./ and absolute") << "./orders/certs/ca.pem" << "%clusters%/orders/protos"
                                              << "orders-1/certs/ca.pem" << "orders-1/protos" << false;
        QTest::newRow("elsewhere") << "shared/ca.pem" << "%home%/protos" << "" << "" << false;
        QTest::newRow("own, missing") << "orders/certs/ca.pem" << "orders/none" << "orders-1/certs/ca.pem" << "" << false;
        QTest::newRow("own, linked outside") << "orders/certs/ca.pem" << "orders/linked" << "" << "" << true;
    }

    void duplicateCopiesOwnFiles()
    {
        QFETCH(QString, ca);
        QFETCH(QString, schemas);
        QFETCH(QString, copiedCa);
        QFETCH(QString, copiedSchemas);
        QFETCH(bool, refused);

        const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
        if (system.isEmpty())
            QSKIP("No system certificate to stand for a CA file");
        const QByteArray pem = system.first().toPem();
        const QString clusters = Settings::clustersDir();
        QVERIFY(writeFile(clusters + "/orders/certs/ca.pem", pem) && writeFile(clusters + "/shared/ca.pem", pem));
        QVERIFY(writeFile(clusters + "/orders/protos/a.proto", "syntax = \"proto3\";\n"));
        QVERIFY(writeFile(m_home.filePath("protos/b.proto"), "syntax = \"proto2\";\n"));
        QVERIFY(QFile::link(m_home.filePath("protos"), clusters + "/orders/linked"));
        const auto place = [&](QString path) { return path.replace("%clusters%", clusters).replace("%home%", m_home.path()); };

        Config start = config("orders");
        start.cluster.ssl.serverCaCertificatePaths = { place(ca) };
        start.protobufDeserializer.schemaPaths = { place(schemas) };
        Editor editor(start, Mode::Duplicate);
        QVERIFY(QTest::qWaitForWindowActive(&editor.dialog));
        editor.ok();
        QCOMPARE(editor.dialog.isVisible(), refused);
        if (refused) {
            QCOMPARE(editor.dialog.errors.size(), 1);
            QCOMPARE(editor.ui.errorLabel->text(), editor.dialog.errors.last().message);
            QVERIFY(!QFileInfo::exists(clusters + "/orders-1"));
            QVERIFY(!QFileInfo::exists(clusters + "/orders-1.yml"));
            return;
        }
        const Result<Config, QList<KafkaError>> saved = Config::parseFromFile(clusters + "/orders-1.yml");
        QVERIFY(saved.hasValue());
        QCOMPARE(saved.value().cluster.ssl.serverCaCertificatePaths, QList<QString> { copiedCa.isEmpty() ? place(ca) : copiedCa });
        QCOMPARE(saved.value().protobufDeserializer.schemaPaths, QList<QString> { copiedSchemas.isEmpty() ? place(schemas) : copiedSchemas });
        if (!copiedCa.isEmpty())
            QCOMPARE(readFile(clusters + "/" + copiedCa), pem);
        if (!copiedSchemas.isEmpty())
            QCOMPARE(readFile(clusters + "/" + copiedSchemas + "/a.proto"), readFile(clusters + "/orders/protos/a.proto"));
    }

    // Every spelling of the original's directory names that directory: each file in it is
    // copied once, and every path that leads there names its copy; a refusal after some
    // copies were made still leaves nothing behind.
    void duplicateCopiesEachFileOnce_data()
    {
        QTest::addColumn<QStringList>("cas");
        QTest::addColumn<QStringList>("schemas");
        QTest::addColumn<QStringList>("copiedCas");
        QTest::addColumn<QStringList>("copiedSchemas");
        QTest::addColumn<QStringList>("files"); // in the duplicate's directory; empty: refused

        const QStringList ca { "orders/certs/ca.pem" };
        const QStringList copiedCa { "orders-1/certs/ca.pem" };
        const QStringList tree { "certs/ca.pem", "protos/a.proto", "protos/common/c.proto", "protos/common/ca.pem" };
        QTest::newRow("schema directories overlap")
            << ca << QStringList { "orders/protos", "orders/protos/common" } << copiedCa
            << QStringList { "orders-1/protos", "orders-1/protos/common" } << tree;
        QTest::newRow("schema directories overlap, inner first")
            << ca << QStringList { "orders/protos/common", "./orders/protos" } << copiedCa
            << QStringList { "orders-1/protos/common", "orders-1/protos" } << tree;
        QTest::newRow("one directory named twice")
            << ca << QStringList { "orders/protos", "./orders/protos/" } << copiedCa
            << QStringList { "orders-1/protos", "orders-1/protos" } << tree;
        QTest::newRow("CA inside a schema directory")
            << QStringList { "orders/protos/common/ca.pem", "orders/certs/ca.pem", "./orders/certs/ca.pem" }
            << QStringList { "orders/protos" }
            << QStringList { "orders-1/protos/common/ca.pem", "orders-1/certs/ca.pem", "orders-1/certs/ca.pem" }
            << QStringList { "orders-1/protos" } << tree;
        QTest::newRow("own directory as schema directory")
            << ca << QStringList { "orders", "orders/protos" } << copiedCa
            << QStringList { "orders-1", "orders-1/protos" } << tree;
        QTest::newRow("through a linked directory")
            << QStringList { "alias/certs/ca.pem" } << QStringList { "alias/protos", "orders/protos/common" } << copiedCa
            << QStringList { "orders-1/protos", "orders-1/protos/common" } << tree;
        QTest::newRow("through a linked parent")
            << QStringList { "%linked%/orders/certs/ca.pem" } << QStringList { "%linked%/orders/protos" } << copiedCa
            << QStringList { "orders-1/protos" } << tree;
        QTest::newRow("\"..\" after a linked directory")
            << QStringList { "sublink/../certs/ca.pem" } << QStringList { "orders/protos" } << copiedCa
            << QStringList { "orders-1/protos" } << tree;
        QTest::newRow("a file linked from elsewhere")
            << QStringList { "shared/link.pem" } << QStringList() << copiedCa << QStringList()
            << QStringList { "certs/ca.pem" };
        QTest::newRow("refused after copies")
            << ca << QStringList { "orders/protos", "orders/protos/common", "orders/linked" } << QStringList()
            << QStringList() << QStringList();
    }

    void duplicateCopiesEachFileOnce()
    {
        QFETCH(QStringList, cas);
        QFETCH(QStringList, schemas);
        QFETCH(QStringList, copiedCas);
        QFETCH(QStringList, copiedSchemas);
        QFETCH(QStringList, files);

        const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
        if (system.isEmpty())
            QSKIP("No system certificate to stand for a CA file");
        const QByteArray pem = system.first().toPem();
        const QString clusters = Settings::clustersDir();
        QVERIFY(writeFile(clusters + "/orders/certs/ca.pem", pem) && writeFile(clusters + "/orders/protos/common/ca.pem", pem));
        QVERIFY(writeFile(clusters + "/orders/protos/a.proto", "syntax = \"proto3\";\n"));
        QVERIFY(writeFile(clusters + "/orders/protos/common/c.proto", "syntax = \"proto3\";\n"));
        QVERIFY(writeFile(m_home.filePath("protos/b.proto"), "syntax = \"proto2\";\n"));
        if (files.isEmpty())
            QVERIFY(QFile::link(m_home.filePath("protos"), clusters + "/orders/linked"));
        QVERIFY(QFile::link("orders", clusters + "/alias") && QFile::link("orders/certs", clusters + "/sublink"));
        QVERIFY(QDir().mkpath(clusters + "/shared") && QFile::link("../orders/certs/ca.pem", clusters + "/shared/link.pem"));
        const QString linked = m_home.filePath("linked-config");
        QVERIFY(QFile::exists(linked) || QFile::link(QFileInfo(Settings::configDir()).path(), linked));
        const auto place = [&linked](QStringList paths) {
            return paths.replaceInStrings("%linked%", linked + "/skelvane/clusters");
        };

        Config start = config("orders");
        start.cluster.ssl.serverCaCertificatePaths = place(cas);
        start.protobufDeserializer.schemaPaths = place(schemas);
        Editor editor(start, Mode::Duplicate);
        QVERIFY(QTest::qWaitForWindowActive(&editor.dialog));
        editor.ok();
        QCOMPARE(editor.dialog.isVisible(), files.isEmpty());
        if (files.isEmpty()) {
            QVERIFY2(editor.dialog.errors.last().message.contains("symbolic link"), qPrintable(editor.dialog.errors.last().message));
            QVERIFY(!QFileInfo::exists(clusters + "/orders-1"));
            QVERIFY(!QFileInfo::exists(clusters + "/orders-1.yml"));
            return;
        }
        QVERIFY2(editor.dialog.errors.isEmpty(), qPrintable(describe(editor.dialog.errors).join('\n')));
        const Result<Config, QList<KafkaError>> saved = Config::parseFromFile(clusters + "/orders-1.yml");
        QVERIFY(saved.hasValue());
        QCOMPARE(saved.value().cluster.ssl.serverCaCertificatePaths, copiedCas);
        QCOMPARE(saved.value().protobufDeserializer.schemaPaths, copiedSchemas);
        QStringList copied;
        for (QDirIterator it(clusters + "/orders-1", QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            copied.append(QDir(clusters + "/orders-1").relativeFilePath(it.next()));
        copied.sort();
        QCOMPARE(copied, files);
        for (const QString& path : files)
            QCOMPARE(readFile(clusters + "/orders-1/" + path), readFile(clusters + "/orders/" + path));
    }

    // Rules added, moved, edited and deleted keep their order through a save and a reload.
    void rulesEditedAndSaved()
    {
        AnsweringPrompts prompts;
        Editor editor(config("orders"), Mode::Edit);
        QVERIFY(QTest::qWaitForWindowActive(&editor.dialog));
        editor.ui.tabWidget->setCurrentWidget(editor.ui.deserializersTab);
        QVERIFY(editor.writeRule(editor.ui.addDeserializerButton, "orders.*", Config::ContentType::Json));
        QVERIFY(editor.writeRule(editor.ui.addDeserializerButton, "payments", Config::ContentType::Protobuf, "deserializer-editor"));
        QVERIFY(editor.writeRule(editor.ui.addDeserializerButton, "audit", Config::ContentType::Binary));
        editor.selectRule(2);
        click(editor.ui.moveUpDeserializerButton);
        QCOMPARE(editor.ui.deserializersList->currentIndex().row(), 1);
        editor.selectRule(0);
        click(editor.ui.moveDownDeserializerButton);
        editor.selectRule(1);
        QVERIFY(editor.writeRule(editor.ui.editDeserializerButton, "orders", Config::ContentType::Xml));
        editor.selectRule(2);
        prompts.buttons = { QMessageBox::No, QMessageBox::Yes };
        click(editor.ui.removeDeserializerButton);
        click(editor.ui.removeDeserializerButton);

        const QStringList expected { "Topic: audit | Binary", "Topic: orders | Xml" };
        QCOMPARE(rows(*editor.dialog.deserializerModel), expected);
        editor.ok();
        const Result<Config, QList<KafkaError>> saved = Config::parseFromFile(editor.dialog.config.filePath);
        QVERIFY(saved.hasValue());
        Editor reopened(saved.value(), Mode::Edit);
        QCOMPARE(rows(*reopened.dialog.deserializerModel), expected);
    }

    // Copying from the rules table, empty or not, asks the model about no invalid index.
    void copyFromTheRulesTable()
    {
        QTest::failOnWarning(QRegularExpression("is not valid"));
        AnsweringPrompts prompts;
        Editor editor(config("orders"), Mode::Edit);
        QVERIFY(QTest::qWaitForWindowActive(&editor.dialog));
        editor.ui.tabWidget->setCurrentWidget(editor.ui.deserializersTab);
        QTableView* table = editor.ui.deserializersList;
        QGuiApplication::clipboard()->setText("before");
        table->setFocus();
        QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), "before");

        QVERIFY(editor.writeRule(editor.ui.addDeserializerButton, "orders", Config::ContentType::Json));
        editor.selectRule(0);
        QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), table->model()->index(0, 0).data().toString());

        prompts.buttons = { QMessageBox::Yes };
        click(editor.ui.removeDeserializerButton);
        QCOMPARE(table->model()->rowCount(), 0);
        QGuiApplication::clipboard()->setText("before");
        table->setFocus();
        QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), "before");
    }

    // Patterns and header names may hold placeholders of their own.
    void ruleSummaryKeepsPlaceholders()
    {
        DeserializerModel model;
        model.setDeserializers({ rule("a%1", "h%2", "%1") });
        QCOMPARE(model.index(0, 0).data().toString(), "Topic: a%1, Header: h%2=%1");
    }

    // Only the owner's show reloads the rule; restoring a minimised window keeps the typing.
    void ruleDialogShown()
    {
        DeserializerDialog dialog;
        dialog.deserializer = rule("orders");
        dialog.mode = DeserializerDialog::Mode::Edit;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        typeInto(dialog.ui->topicPatternEdit, "typed");
        dialog.setWindowState(Qt::WindowMinimized);
        dialog.setWindowState(Qt::WindowNoState);
        QCOMPARE(dialog.ui->topicPatternEdit->text(), "typed");
        dialog.hide();
        dialog.show();
        QCOMPARE(dialog.ui->topicPatternEdit->text(), "orders");
    }
};

SKELVANE_SHELL_TEST_MAIN(EditConfigDialogTest)
#include "EditConfigDialogTest.moc"
