#include "Settings.h"

#include "SettingsParser.h"
#include "SettingsWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString Settings::configDir()
{
    const QString location = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    return QDir::cleanPath(QFileInfo(location).absoluteFilePath());
}

QString Settings::clustersDir()
{
    return configDir() + "/clusters";
}

QString Settings::settingsFilePath()
{
    return configDir() + "/settings.yml";
}

Result<Settings, QList<KafkaError>> Settings::parseFromFile()
{
    const QString path = settingsFilePath();
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return Settings();

    SettingsParser parser(path);
    Result<Settings, KafkaError> result = parser.parse();
    if (!result.isError())
        return std::move(result).value();
    if (!parser.errors.isEmpty())
        return parser.errors;
    return QList<KafkaError> { std::move(result).error() };
}

std::optional<KafkaError> Settings::saveToFile(const Settings& settings)
{
    return SettingsWriter(settings).write();
}
