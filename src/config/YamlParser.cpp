#include "YamlParser.h"

#include "YamlInput.h"

#include <cstring>

namespace {

// A loaded libyaml document released when it leaves scope.
class DocumentHandle {
public:
    explicit DocumentHandle(yaml_document_t& document) : m_document(document) { }
    ~DocumentHandle() { yaml_document_delete(&m_document); }
    DocumentHandle(const DocumentHandle&) = delete;
    DocumentHandle& operator=(const DocumentHandle&) = delete;

private:
    yaml_document_t& m_document;
};

} // namespace

YamlParser::YamlParser(QString path)
    : filePath(std::move(path))
{
}

QString YamlParser::yamlNodeTypeToString(int type)
{
    switch (type) {
    case YAML_NO_NODE:
        return "nothing";
    case YAML_SCALAR_NODE:
        return "scalar";
    case YAML_SEQUENCE_NODE:
        return "sequence";
    case YAML_MAPPING_NODE:
        return "mapping";
    default:
        return "Unknown";
    }
}

int YamlParser::nodeLine(const yaml_node_t* node)
{
    return node ? static_cast<int>(node->start_mark.line) + 1 : 0;
}

QString YamlParser::scalarText(const yaml_node_t* node)
{
    if (!node || node->type != YAML_SCALAR_NODE || !node->data.scalar.value)
        return QString();
    return QString::fromUtf8(reinterpret_cast<const char*>(node->data.scalar.value));
}

bool YamlParser::isScalarEqualTo(const yaml_node_t* node, const char* text)
{
    if (!node || node->type != YAML_SCALAR_NODE)
        return false;
    const std::size_t length = std::strlen(text);
    return node->data.scalar.length == length && std::memcmp(node->data.scalar.value, text, length) == 0;
}

bool YamlParser::checkNodeType(const yaml_node_t* node, yaml_node_type_t expected, const yaml_node_t* parent)
{
    if (node && node->type == expected)
        return true;
    const int actual = node ? node->type : YAML_NO_NODE;
    const QString inParent = parent && parent->type == YAML_SCALAR_NODE ? QString(" in '%1'").arg(scalarText(parent)) : QString();
    const QString nodeText = actual == YAML_SCALAR_NODE ? QString(" (%1)").arg(scalarText(node)) : QString();
    addError(KafkaError(KafkaErrorCode::InvalidYamlDocument,
        QString("Expected a %1 node at line %2%3, got a %4%5")
            .arg(yamlNodeTypeToString(expected), QString::number(nodeLine(node)), inParent, yamlNodeTypeToString(actual), nodeText)));
    return false;
}

ParseResult<QString> YamlParser::parseString(const yaml_node_t* node, const yaml_node_t* parent)
{
    if (!checkNodeType(node, YAML_SCALAR_NODE, parent))
        return ParseResult<QString>::invalid();
    return ParseResult<QString>::present(scalarText(node));
}

ParseResult<QRegularExpression> YamlParser::parseRegularExpression(const yaml_node_t* node, const yaml_node_t* parent)
{
    if (!checkNodeType(node, YAML_SCALAR_NODE, parent))
        return ParseResult<QRegularExpression>::invalid();
    const QString pattern = scalarText(node);
    QRegularExpression expression(pattern);
    if (!expression.isValid()) {
        registerInvalidValue(QString("Invalid regular expression '%1': %2").arg(pattern, expression.errorString()), parent);
        return ParseResult<QRegularExpression>::invalid();
    }
    return ParseResult<QRegularExpression>::present(std::move(expression));
}

ParseResult<QList<QString>> YamlParser::parseStringList(yaml_document_t& document, const yaml_node_t* node, const yaml_node_t* parent)
{
    if (!checkNodeType(node, YAML_SEQUENCE_NODE, parent))
        return ParseResult<QList<QString>>::invalid();
    QList<QString> strings;
    bool wrong = false;
    for (const yaml_node_item_t* item = node->data.sequence.items.start; item < node->data.sequence.items.top; ++item) {
        ParseResult<QString> string = parseString(yaml_document_get_node(&document, *item), node);
        if (string.isPresent())
            strings.append(std::move(string.value));
        else
            wrong = true;
    }
    if (wrong)
        return ParseResult<QList<QString>>::invalid();
    return ParseResult<QList<QString>>::present(std::move(strings));
}

QString YamlParser::locationSuffix(const yaml_node_t* parent)
{
    if (!parent)
        return QString();
    if (parent->type == YAML_SCALAR_NODE)
        return QString(" in '%1' at line %2").arg(scalarText(parent), QString::number(nodeLine(parent)));
    if (parent->type == YAML_SEQUENCE_NODE)
        return QString(" in array item at line %1").arg(nodeLine(parent));
    return QString();
}

void YamlParser::registerMissingRequiredKey(const char* key, const yaml_node_t* parent)
{
    addError(KafkaError(KafkaErrorCode::InvalidYamlContent,
        QString("Missing required key '%1'%2").arg(QString::fromUtf8(key), locationSuffix(parent))));
}

void YamlParser::registerInvalidValue(const QString& message, const yaml_node_t* parent)
{
    addError(KafkaError(KafkaErrorCode::InvalidValue, QString("%1%2").arg(message, locationSuffix(parent))));
}

void YamlParser::registerUnexpectedNode(const yaml_node_t* node, const yaml_node_t* parent)
{
    const QString inParent = parent && parent->type == YAML_SCALAR_NODE
        ? QString("in '%1' (at line %2)").arg(scalarText(parent), QString::number(nodeLine(parent)))
        : QString();
    addError(KafkaError(KafkaErrorCode::InvalidYamlContent,
        QString("Unexpected node at line %1: '%2' %3").arg(QString::number(nodeLine(node)), scalarText(node), inParent)));
}

void YamlParser::registerUnknownEnumeratedValue(const yaml_node_t* node, const yaml_node_t* parent, const QStringList& names)
{
    const QString inParent = parent && parent->type == YAML_SCALAR_NODE ? QString(" in '%1'").arg(scalarText(parent)) : QString();
    addError(KafkaError(KafkaErrorCode::InvalidYamlContent,
        QString("Unknown value '%1' found at line %2%3. The allowed values are: %4")
            .arg(scalarText(node), QString::number(nodeLine(node)), inParent, names.join(", "))));
}

std::optional<KafkaError> YamlParser::loadDocument(const std::function<void(yaml_document_t&, yaml_node_t*)>& readRoot)
{
    yaml_document_t document {};
    if (std::optional<KafkaError> failure = YamlInput::loadDocument(filePath, document))
        return failure;

    const DocumentHandle documentHandle(document);
    yaml_node_t* root = yaml_document_get_root_node(&document);
    if (!root)
        return KafkaError(KafkaErrorCode::InvalidYamlDocument, "Empty file");
    readRoot(document, root);
    return std::nullopt;
}

void YamlParser::addError(KafkaError error)
{
    if (errors.size() < MaxProblems)
        errors.append(std::move(error));
    else if (errors.size() == MaxProblems)
        errors.append(KafkaError(KafkaErrorCode::InvalidYamlContent,
            QString("Too many problems: only the first %1 are listed").arg(QString::number(MaxProblems))));
}
