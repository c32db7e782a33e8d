#pragma once

#include "Error.h"

#include <QString>
#include <QtGlobal>

#include <yaml.h>

#include <cstdint>
#include <optional>

// Loads the first document of a YAML file for the readers, within limits that
// are checked before libyaml builds the document. Configurations and settings
// are small and flat; the limits keep a hostile file from blocking the reader
// (a FIFO or device in the file's place), from making the load take time that
// grows with the square of the nesting depth, and from multiplying the
// readers' work and messages through aliases or anchors.
class YamlInput {
public:
    // Only a regular file of at most this size is read.
    static constexpr std::int64_t MaxFileSize = 1024 * 1024;
    // Mappings and sequences nest at most this deep.
    static constexpr int MaxDepth = 64;
    // At most this many nodes, keys included, each use of an alias counting
    // the nodes it repeats (the readers visit them again).
    static constexpr std::int64_t MaxNodes = 100000;
    // At most this many anchors: libyaml's loader looks each anchor and alias
    // up among all anchors seen, which takes time with the square of their
    // number.
    static constexpr qsizetype MaxAnchors = 1000;

    // Fills `document` (released by the caller on success only), or returns the
    // single error that ends the load: the file cannot be opened or read, is
    // not a regular file or is too large; a syntax error; a limit is passed.
    static std::optional<KafkaError> loadDocument(const QString& path, yaml_document_t& document);

private:
    static std::optional<KafkaError> checkLimits(const QByteArray& content);
};
