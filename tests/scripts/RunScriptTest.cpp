#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The copy stops in its first step at the latest, a stub that returns at once.
constexpr int RunLimitMs = 30000;

// Stands in for the setup step: leaves a mark and stops the run there.
constexpr char setupStub[] = "#!/bin/sh\ntouch \"$(dirname \"$0\")/../setup-ran\"\nexit 3\n";

} // namespace

// scripts/run without a graphical session says so before it sets up and
// builds anything; with one, or with a platform that draws without one, it
// goes on to its setup.
class RunScriptTest : public QObject {
    Q_OBJECT

private slots:
    void graphicalSession_data()
    {
        QTest::addColumn<QStringList>("variables");
        QTest::addColumn<bool>("reachesSetup");
        QTest::newRow("none") << QStringList() << false;
        QTest::newRow("empty display") << QStringList { "DISPLAY=" } << false;
        QTest::newRow("a platform that needs a display") << QStringList { "QT_QPA_PLATFORM=xcb" } << false;
        QTest::newRow("X11") << QStringList { "DISPLAY=:0" } << true;
        QTest::newRow("Wayland") << QStringList { "WAYLAND_DISPLAY=wayland-0" } << true;
        QTest::newRow("offscreen") << QStringList { "QT_QPA_PLATFORM=offscreen" } << true;
        QTest::newRow("offscreen with options") << QStringList { "QT_QPA_PLATFORM=offscreen:size=800x600" } << true;
    }

    void graphicalSession()
    {
        QFETCH(QStringList, variables);
        QFETCH(bool, reachesSetup);
        const QTemporaryDir root;
        QVERIFY(root.isValid() && QDir(root.path()).mkdir(QStringLiteral("scripts")));
        const QString run = root.filePath(QStringLiteral("scripts/run"));
        QVERIFY(QFile::copy(QStringLiteral(SKELVANE_RUN_SCRIPT), run));
        QFile setup(root.filePath(QStringLiteral("scripts/setup")));
        QVERIFY(setup.open(QIODevice::WriteOnly) && setup.write(setupStub) > 0);
        setup.close();
        QVERIFY(setup.setPermissions(setup.permissions() | QFileDevice::ExeOwner));

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
            environment.remove(QString::fromLatin1(name));
        for (const QString& variable : variables)
            environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(run, {});
        QVERIFY(process.waitForFinished(RunLimitMs));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QVERIFY(process.exitCode() != 0);
        QCOMPARE(QFile::exists(root.filePath(QStringLiteral("setup-ran"))), reachesSetup);
        // Said on the error stream when it stops there.
        QCOMPARE(process.readAllStandardError().isEmpty(), reachesSetup);
    }
};

QTEST_GUILESS_MAIN(RunScriptTest)
#include "RunScriptTest.moc"
