#pragma once

#include "Settings.h"

#include <yaml.h>

#include <optional>

// Writes a settings file through the atomic save of YamlWriter.
class SettingsWriter {
public:
    explicit SettingsWriter(const Settings& value);

    Settings settings;

    // Saves to Settings::settingsFilePath(); empty when saved.
    std::optional<KafkaError> write();
    // Adds the root mapping with both lists, each written even when empty.
    int writeRoot(yaml_document_t& document);
};
