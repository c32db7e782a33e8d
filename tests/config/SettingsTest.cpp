#include "Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(Settings)

namespace {

QStringList messages(const QList<KafkaError>& errors)
{
    QStringList list;
    for (const KafkaError& error : errors)
        list.append(QString("%1 %2").arg(QString::number(static_cast<int>(error.code)), error.message));
    return list;
}

Settings settingsOf(QList<QString> headers, QList<QString> expectedStrings)
{
    Settings settings;
    settings.recentHeaders = std::move(headers);
    settings.recentExpectedStrings = std::move(expectedStrings);
    return settings;
}

} // namespace

class SettingsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_config;
    QTemporaryDir m_data;

    void writeSettingsFile(const QByteArray& text)
    {
        QVERIFY(QDir().mkpath(Settings::configDir()));
        QFile file(Settings::settingsFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(text), text.size());
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        qputenv("XDG_DATA_HOME", m_data.path().toUtf8());
        QCoreApplication::setApplicationName("skelvane");
    }

    void cleanup() { QDir(Settings::configDir()).removeRecursively(); }

    void places()
    {
        QCOMPARE(Settings::configDir(), m_config.path() + "/skelvane");
        QCOMPARE(Settings::clustersDir(), m_config.path() + "/skelvane/clusters");
        QCOMPARE(Settings::settingsFilePath(), m_config.path() + "/skelvane/settings.yml");

        qputenv("XDG_CONFIG_HOME", "relative/config");
        const QString relative = Settings::configDir();
        qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
        QCOMPARE(relative, QDir::currentPath() + "/relative/config/skelvane");
    }

    void reading_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<Settings>("settings");
        QTest::addColumn<QStringList>("errors");
        QTest::newRow("no file") << QByteArray() << Settings() << QStringList();
        QTest::newRow("empty mapping") << QByteArray("{}") << Settings() << QStringList();
        QTest::newRow("root not a mapping") << QByteArray("- a\n- b\n") << Settings() << QStringList();
        QTest::newRow("both lists") << QByteArray("recent-headers: [h1, h2]\nrecent-expected-strings:\n  - e1\n")
                                    << settingsOf({ "h1", "h2" }, { "e1" }) << QStringList();
        QTest::newRow("repeated key") << QByteArray("recent-headers: [a]\nrecent-headers: [b, c]\n")
                                      << settingsOf({ "b", "c" }, {}) << QStringList();
        QTest::newRow("mapping item") << QByteArray("recent-headers: [a, {b: c}]") << Settings()
                                      << QStringList { "46 Expected a scalar node at line 1, got a mapping" };
        QTest::newRow("scalar list") << QByteArray("recent-expected-strings: abc") << Settings()
                                     << QStringList { "46 Expected a sequence node at line 1 in 'recent-expected-strings', got a scalar (abc)" };
        QTest::newRow("unlisted key") << QByteArray("recent-headers: []\ntheme: dark\n") << Settings()
                                      << QStringList { "51 Unexpected node at line 2: 'theme' " };
        QTest::newRow("key not a scalar") << QByteArray("[a]: [b]\n") << Settings()
                                          << QStringList { "46 Expected a scalar node at line 1, got a sequence" };
        QTest::newRow("empty file") << QByteArray("") << Settings() << QStringList { "46 Empty file" };
        QTest::newRow("syntax error") << QByteArray("recent-headers: [a\n") << Settings()
                                      << QStringList { "180 Error at line 2: did not find expected ',' or ']' (while parsing a flow sequence at line 1)" };
    }

    void reading()
    {
        QFETCH(QByteArray, text);
        QFETCH(Settings, settings);
        QFETCH(QStringList, errors);
        if (!text.isNull())
            writeSettingsFile(text);
        const Result<Settings, QList<KafkaError>> result = Settings::parseFromFile();
        QCOMPARE(result.isError() ? messages(result.error()) : QStringList(), errors);
        if (!result.isError())
            QCOMPARE(result.value(), settings);
    }

    void savedSettingsReadBack_data()
    {
        QTest::addColumn<Settings>("settings");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << Settings() << QByteArray("recent-headers: []\nrecent-expected-strings: []\n");
        QTest::newRow("awkward strings") << settingsOf({ "true", "~", "a: b", "" }, { QString::fromUtf8("grüße 東京"), "- x", "#c" }) << QByteArray();
    }

    void savedSettingsReadBack()
    {
        QFETCH(Settings, settings);
        QFETCH(QByteArray, text);
        QVERIFY(!QFileInfo::exists(Settings::configDir()));
        QVERIFY(!Settings::saveToFile(settings));
        if (!text.isEmpty()) {
            QFile file(Settings::settingsFilePath());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), text);
        }
        const Result<Settings, QList<KafkaError>> result = Settings::parseFromFile();
        QVERIFY(result.hasValue());
        QCOMPARE(result.value(), settings);
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "SettingsTest.moc"
