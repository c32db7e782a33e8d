#pragma once

#include "Error.h"

#include <QList>
#include <QString>

#include <yaml.h>

#include <optional>

// Builds libyaml documents in memory for the file writers and saves them
// atomically: the document goes into a new temporary file in the target's
// directory, which then takes the target's place in one step, so that a file on
// disk is always either the old or the new complete file.
//
// Nodes get libyaml's default tag and the "any" style, so the emitter chooses
// quoting and layout. Writers start their document with
// yaml_document_initialize(&document, nullptr, nullptr, nullptr, 1, 1); the
// first node added to a document is its root, so a writer adds its root
// mapping before the nodes it holds.
class YamlWriter {
public:
    // Adds a scalar holding the text; returns its node id.
    static int writeString(yaml_document_t& document, const QString& text);
    // Adds a scalar for the key and appends the pair (key, value) to the mapping.
    static void appendMapping(yaml_document_t& document, int mapping, const QString& key, int value);
    // Adds a sequence with one scalar per string, in list order; returns its id.
    static int writeStringArray(yaml_document_t& document, const QList<QString>& strings);

    // libyaml error kinds 1..7 give codes 177..183; anything else `fallback`.
    static KafkaErrorCode mapYamlError(yaml_error_type_t type, KafkaErrorCode fallback);

    // Saves the document to `target`, creating missing directories. When
    // `target` is a symbolic link, the file it points to is replaced (the
    // temporary file lies beside that file) and the link stays. The document
    // is always released, also on failure. A failed save leaves no temporary
    // file behind. Empty when the file was written.
    static std::optional<KafkaError> writeDocumentToFile(yaml_document_t& document, const QString& target);
};
