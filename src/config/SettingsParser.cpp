#include "SettingsParser.h"

SettingsParser::SettingsParser(QString path)
    : YamlParser(std::move(path))
{
}

Result<Settings, KafkaError> SettingsParser::parse()
{
    return load<Settings>([this](yaml_document_t& document, const yaml_node_t* node) { return parseRoot(document, node); },
        "Failed to load settings");
}

ParseResult<Settings> SettingsParser::parseRoot(yaml_document_t& document, const yaml_node_t* node)
{
    // A root of another kind is reported but does not fail the load: the
    // settings are then simply empty.
    if (!checkNodeType(node, YAML_MAPPING_NODE, nullptr))
        return ParseResult<Settings>::present(Settings());

    bool keyWrong = false;
    ParseResult<QList<QString>> recentHeaders;
    ParseResult<QList<QString>> recentExpectedStrings;
    for (const yaml_node_pair_t* pair = node->data.mapping.pairs.start; pair < node->data.mapping.pairs.top; ++pair) {
        const yaml_node_t* key = yaml_document_get_node(&document, pair->key);
        const yaml_node_t* value = yaml_document_get_node(&document, pair->value);
        if (!checkNodeType(key, YAML_SCALAR_NODE, nullptr)) {
            keyWrong = true;
        } else if (isScalarEqualTo(key, "recent-headers")) {
            recentHeaders = parseStringList(document, value, key);
        } else if (isScalarEqualTo(key, "recent-expected-strings")) {
            recentExpectedStrings = parseStringList(document, value, key);
        } else {
            registerUnexpectedNode(key, nullptr);
            keyWrong = true;
        }
    }

    if (keyWrong || recentHeaders.isInvalid() || recentExpectedStrings.isInvalid())
        return ParseResult<Settings>::invalid();
    Settings settings;
    settings.recentHeaders = std::move(recentHeaders.value);
    settings.recentExpectedStrings = std::move(recentExpectedStrings.value);
    return ParseResult<Settings>::present(std::move(settings));
}
