// Start-up of the main window with 100 cluster configurations beside an
// empty start: settings and configuration files read, the list filled, the
// window shown and painted. Offscreen platform.
//
//     bench_startup [configurations=100] [rounds=10]

#include "Application.h"
#include "BenchSupport.h"
#include "MainWindow.h"
#include "Settings.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

void writeConfigs(int count)
{
    const QString dir = Settings::clustersDir();
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    for (int i = 0; i < count; ++i) {
        QFile file(QStringLiteral("%1/cluster-%2.yml").arg(dir).arg(i));
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write(QStringLiteral("display-name: Cluster %1\ncluster:\n  brokers: [kafka-%1.example.org:9092, "
                                  "kafka-%1b.example.org:9092]\n  protocol: Plaintext\nclient-id: skelvane\n")
                       .arg(i)
                       .toUtf8());
    }
}

qint64 startUp(int rounds)
{
    return Bench::bestOf(rounds, [] {
        MainWindow window;
        window.show();
        QApplication::processEvents();
        window.grab();
    });
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/config"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + "/data"));
    QCoreApplication::setApplicationName(QStringLiteral("skelvane"));
    QApplication application(argc, argv);
    setupApplicationLook(application);
    const int count = Bench::argument(argc, argv, 1, 100);
    const int rounds = Bench::argument(argc, argv, 2, 10);

    writeConfigs(0);
    startUp(2); // warms up fonts, styles and resources
    const qint64 empty = startUp(rounds);
    writeConfigs(count);
    const qint64 full = startUp(rounds);
    std::printf("start-up, empty:               %8.2f ms\n", empty / 1e6);
    std::printf("start-up, %3d configurations:  %8.2f ms  (%.2fx the empty start)\n", count, full / 1e6,
        double(full) / double(empty));
    return 0;
}
