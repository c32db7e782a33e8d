#pragma once

#include "Error.h"
#include "Result.h"

#include <QList>
#include <QString>

#include <optional>

// The per-user state that outlives a run, and the places where it is kept: the
// configuration directory with the settings file "settings.yml" and the
// clusters directory "clusters" holding one file per cluster configuration.
struct Settings {
    // Header names and expected strings recently used in filter conditions, in
    // the order the filter editor keeps them.
    QList<QString> recentHeaders;
    QList<QString> recentExpectedStrings;

    bool operator==(const Settings&) const = default;

    // The application's writable configuration directory, always absolute.
    static QString configDir();
    // configDir() + "/clusters".
    static QString clustersDir();
    // configDir() + "/settings.yml".
    static QString settingsFilePath();

    // Reads the settings file; a missing file gives empty settings.
    static Result<Settings, QList<KafkaError>> parseFromFile();
    // Writes the settings file atomically; empty when saved.
    static std::optional<KafkaError> saveToFile(const Settings& settings);
};
