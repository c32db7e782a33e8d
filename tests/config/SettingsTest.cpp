#include "Settings.h"
#include "TestHome.h"

#include <QTest>

Q_DECLARE_METATYPE(Settings)

class SettingsTest : public QObject {
    Q_OBJECT

    TestHome m_home;

private slots:
    void initTestCase() { QVERIFY(m_home.setUp()); }
    void cleanup() { QDir(Settings::configDir()).removeRecursively(); }

    void places()
    {
        QCOMPARE(Settings::settingsFilePath(), m_home.path() + "/config/skelvane/settings.yml");
        QCOMPARE(Settings::clustersDir(), m_home.path() + "/config/skelvane/clusters");
        qputenv("XDG_CONFIG_HOME", "relative/config");
        const QString relative = Settings::configDir();
        QVERIFY(m_home.setUp());
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
                                    << Settings { { "h1", "h2" }, { "e1" } } << QStringList();
        QTest::newRow("repeated key") << QByteArray("recent-headers: [a]\nrecent-headers: [b, c]\n") << Settings { { "b", "c" }, {} } << QStringList();
        QTest::newRow("mapping item") << QByteArray("recent-headers: [a, {b: c}]") << Settings()
                                      << QStringList { "46 Expected a scalar node at line 1, got a mapping" };
        QTest::newRow("unlisted key") << QByteArray("recent-headers: []\ntheme: dark\n") << Settings()
                                      << QStringList { "51 Unexpected node at line 2: 'theme' " };
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
            QVERIFY(writeFile(Settings::settingsFilePath(), text));
        const Result<Settings, QList<KafkaError>> result = Settings::parseFromFile();
        QCOMPARE(result.isError() ? describe(result.error()) : QStringList(), errors);
        if (!result.isError())
            QCOMPARE(result.value(), settings);
    }

    void savedSettingsReadBack_data()
    {
        QTest::addColumn<Settings>("settings");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("empty") << Settings() << QByteArray("recent-headers: []\nrecent-expected-strings: []\n");
        QTest::newRow("awkward strings") << Settings { { "true", "~", "a: b", "" }, { QString::fromUtf8("grüße 東京"), "- x", "#c" } } << QByteArray();
    }

    void savedSettingsReadBack()
    {
        QFETCH(Settings, settings);
        QFETCH(QByteArray, text);
        QVERIFY(!QFileInfo::exists(Settings::configDir()));
        QVERIFY(!Settings::saveToFile(settings));
        if (!text.isEmpty())
            QCOMPARE(readFile(Settings::settingsFilePath()), text);
        const Result<Settings, QList<KafkaError>> result = Settings::parseFromFile();
        QVERIFY(result.hasValue());
        QCOMPARE(result.value(), settings);
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "SettingsTest.moc"
