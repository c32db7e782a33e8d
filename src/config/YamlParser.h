#pragma once

#include "EnumeratedValue.h"
#include "Error.h"
#include "ParseResult.h"
#include "Result.h"

#include <QList>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <yaml.h>

#include <functional>
#include <optional>
#include <utility>

// The base of the YAML file readers. It loads the first document of a file with
// libyaml and offers what the format readers share: node kind checks, readers of
// strings, regular expressions and enumerations, and the builders of the error
// messages with their file locations. Readers record every problem in `errors`
// and go on, so that one load reports everything wrong in a file.
//
// "parent" arguments are the node that locates a message: the key that names a
// value or section (a scalar), the sequence whose items are read, or nullptr.
class YamlParser {
public:
    explicit YamlParser(QString path);

    // At most this many problems are recorded, then one saying that there were
    // more.
    static constexpr qsizetype MaxProblems = 100;

    QString filePath;
    QList<KafkaError> errors;

    // "nothing", "scalar", "sequence", "mapping" or "Unknown".
    static QString yamlNodeTypeToString(int type);
    // The line of the node's start, counted from 1.
    static int nodeLine(const yaml_node_t* node);
    // A scalar node's text decoded as UTF-8 up to its first zero byte; empty for
    // any other node or nullptr.
    static QString scalarText(const yaml_node_t* node);
    // Exact, case-sensitive comparison of a scalar node's bytes with `text`.
    static bool isScalarEqualTo(const yaml_node_t* node, const char* text);

    // True when the node has the expected kind; otherwise records the kind error
    // (code 46) and returns false.
    bool checkNodeType(const yaml_node_t* node, yaml_node_type_t expected, const yaml_node_t* parent);

    ParseResult<QString> parseString(const yaml_node_t* node, const yaml_node_t* parent);
    ParseResult<QRegularExpression> parseRegularExpression(const yaml_node_t* node, const yaml_node_t* parent);
    // A sequence of scalars (the key `parent` names it). Every item is read; the
    // list is Invalid when the node is not a sequence or any item is not a scalar.
    ParseResult<QList<QString>> parseStringList(yaml_document_t& document, const yaml_node_t* node, const yaml_node_t* parent);

    template <typename T>
    ParseResult<T> parseEnumeratedValue(const yaml_node_t* node, const yaml_node_t* parent, const EnumeratedValue<T>* table, int rowCount)
    {
        if (!checkNodeType(node, YAML_SCALAR_NODE, parent))
            return ParseResult<T>::invalid();
        const QString text = scalarText(node);
        QStringList names;
        for (int row = 0; row < rowCount; ++row) {
            const QString name = QString::fromUtf8(table[row].name);
            if (QString::compare(text, name, Qt::CaseInsensitive) == 0)
                return ParseResult<T>::present(table[row].value);
            names.append(name);
        }
        registerUnknownEnumeratedValue(node, parent, names);
        return ParseResult<T>::invalid();
    }

    // Code 51 "Missing required key '%1'" with the location suffix of `parent`.
    void registerMissingRequiredKey(const char* key, const yaml_node_t* parent);
    // Code 54: the message followed by the location suffix of `parent`.
    void registerInvalidValue(const QString& message, const yaml_node_t* parent);
    // Code 51 "Unexpected node at line ..." for the key node `node`.
    void registerUnexpectedNode(const yaml_node_t* node, const yaml_node_t* parent);

protected:
    // Records a problem: appends it to `errors` while fewer than MaxProblems
    // were recorded, then once "Too many problems...", then nothing.
    void addError(KafkaError error);

    // " in '<key>' at line <n>" for a scalar parent, " in array item at line <n>"
    // for a sequence, nothing otherwise.
    static QString locationSuffix(const yaml_node_t* parent);

    // The load step shared by the readers: loads the file's first document
    // within the limits of YamlInput and reads the root node with `readRoot`
    // (no parent). A file, syntax or limit failure or an empty file gives that
    // single error; a root read as anything but Present gives code 51 with
    // `failureMessage`.
    template <typename T, typename RootReader>
    Result<T, KafkaError> load(RootReader&& readRoot, const QString& failureMessage)
    {
        ParseResult<T> root;
        std::optional<KafkaError> failure = loadDocument([&](yaml_document_t& document, yaml_node_t* node) {
            root = readRoot(document, node);
        });
        if (failure)
            return std::move(*failure);
        if (!root.isPresent())
            return KafkaError(KafkaErrorCode::InvalidYamlContent, failureMessage);
        return std::move(root.value);
    }

private:
    std::optional<KafkaError> loadDocument(const std::function<void(yaml_document_t&, yaml_node_t*)>& readRoot);
    void registerUnknownEnumeratedValue(const yaml_node_t* node, const yaml_node_t* parent, const QStringList& names);
};
