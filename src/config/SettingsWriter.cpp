#include "SettingsWriter.h"

#include "YamlWriter.h"

SettingsWriter::SettingsWriter(const Settings& value)
    : settings(value)
{
}

std::optional<KafkaError> SettingsWriter::write()
{
    yaml_document_t document {};
    if (!yaml_document_initialize(&document, nullptr, nullptr, nullptr, 1, 1))
        return KafkaError(KafkaErrorCode::YamlMemoryError, "Failed to initialize the YAML document");
    writeRoot(document);
    return YamlWriter::writeDocumentToFile(document, Settings::settingsFilePath());
}

int SettingsWriter::writeRoot(yaml_document_t& document)
{
    // The first node added is the document's root.
    const int root = yaml_document_add_mapping(&document, nullptr, YAML_ANY_MAPPING_STYLE);
    YamlWriter::appendMapping(document, root, "recent-headers", YamlWriter::writeStringArray(document, settings.recentHeaders));
    YamlWriter::appendMapping(document, root, "recent-expected-strings", YamlWriter::writeStringArray(document, settings.recentExpectedStrings));
    return root;
}
