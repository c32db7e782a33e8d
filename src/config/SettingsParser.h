#pragma once

#include "Settings.h"
#include "YamlParser.h"

// Reads a settings file: a mapping with the sequences "recent-headers" and
// "recent-expected-strings".
class SettingsParser : public YamlParser {
public:
    explicit SettingsParser(QString path);

    // Loads the file; fails with code 51 "Failed to load settings" when the root
    // cannot be read, the details being in `errors`.
    Result<Settings, KafkaError> parse();
    ParseResult<Settings> parseRoot(yaml_document_t& document, const yaml_node_t* node);
};
