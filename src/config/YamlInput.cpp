#include "YamlInput.h"

#include "RegularFile.h"
#include "YamlWriter.h"

#include <QHash>
#include <QList>

namespace {

// A libyaml parser released when it leaves scope.
class ParserHandle {
public:
    ParserHandle() { m_initialized = yaml_parser_initialize(&parser) != 0; }
    ~ParserHandle()
    {
        if (m_initialized)
            yaml_parser_delete(&parser);
    }
    ParserHandle(const ParserHandle&) = delete;
    ParserHandle& operator=(const ParserHandle&) = delete;

    bool initialized() const { return m_initialized; }

    yaml_parser_t parser {};

private:
    bool m_initialized = false;
};

class EventHandle {
public:
    EventHandle() = default;
    ~EventHandle() { yaml_event_delete(&event); }
    EventHandle(const EventHandle&) = delete;
    EventHandle& operator=(const EventHandle&) = delete;

    yaml_event_t event {};
};

QString textOrEmpty(const char* text)
{
    return text ? QString::fromUtf8(text) : QString();
}

// The error of a parser that failed, or of one that could not be set up.
KafkaError syntaxError(const ParserHandle& handle)
{
    const yaml_parser_t& parser = handle.parser;
    const yaml_error_type_t kind = handle.initialized() ? parser.error : YAML_MEMORY_ERROR;
    return KafkaError(YamlWriter::mapYamlError(kind, KafkaErrorCode::InvalidYamlDocument),
        QString("Error at line %1: %2 (%3 at line %4)")
            .arg(QString::number(parser.problem_mark.line + 1), textOrEmpty(parser.problem), textOrEmpty(parser.context),
                QString::number(parser.context_mark.line + 1)));
}

void setInput(ParserHandle& handle, const QByteArray& content)
{
    yaml_parser_set_input_string(
        &handle.parser, reinterpret_cast<const unsigned char*>(content.constData()), static_cast<size_t>(content.size()));
}

QByteArray anchorOf(const yaml_char_t* anchor)
{
    return anchor ? QByteArray(reinterpret_cast<const char*>(anchor)) : QByteArray();
}

KafkaError readFailure(const RegularFile::Failure& failure)
{
    switch (failure.kind) {
    case RegularFile::Failure::Kind::Open:
        return KafkaError(KafkaErrorCode::FileAccessError, QString("Failed to open file for reading: %1").arg(failure.system.text));
    case RegularFile::Failure::Kind::NotRegular:
        return KafkaError(KafkaErrorCode::FileAccessError, QString("Failed to open file for reading: Not a regular file"));
    case RegularFile::Failure::Kind::TooLarge:
        return KafkaError(KafkaErrorCode::InvalidYamlDocument,
            QString("File too large: more than 1 MiB (%1 bytes)").arg(QString::number(YamlInput::MaxFileSize)));
    case RegularFile::Failure::Kind::Read:
        break;
    }
    return KafkaError(KafkaErrorCode::FileAccessError, QString("Failed to read file: %1").arg(failure.system.text));
}

} // namespace

std::optional<KafkaError> YamlInput::loadDocument(const QString& path, yaml_document_t& document)
{
    const Result<QByteArray, RegularFile::Failure> content = RegularFile::read(path, MaxFileSize);
    if (content.isError())
        return readFailure(content.error());
    if (std::optional<KafkaError> refused = checkLimits(content.value()))
        return refused;

    ParserHandle handle;
    if (!handle.initialized())
        return syntaxError(handle);
    setInput(handle, content.value());
    if (!yaml_parser_load(&handle.parser, &document))
        return syntaxError(handle);
    return std::nullopt;
}

// Walks the events of the first document, as the loader will: a syntax error
// ends the walk with the loader's own message. An anchored node's size is
// known once it ends; an alias inside the node it names counts as one node.
std::optional<KafkaError> YamlInput::checkLimits(const QByteArray& content)
{
    ParserHandle handle;
    if (!handle.initialized())
        return syntaxError(handle);
    setInput(handle, content);

    struct OpenCollection {
        QByteArray anchor;
        std::int64_t nodesBefore = 0;
    };
    QList<OpenCollection> open;
    QHash<QByteArray, std::int64_t> anchorSizes;
    std::int64_t nodes = 0;
    qsizetype anchors = 0;

    for (;;) {
        EventHandle current;
        const yaml_event_t& event = current.event;
        if (!yaml_parser_parse(&handle.parser, &current.event))
            return syntaxError(handle);
        const QString line = QString::number(event.start_mark.line + 1);

        switch (event.type) {
        case YAML_SCALAR_EVENT:
            ++nodes;
            if (event.data.scalar.anchor) {
                ++anchors;
                anchorSizes.insert(anchorOf(event.data.scalar.anchor), 1);
            }
            break;
        case YAML_ALIAS_EVENT:
            nodes += anchorSizes.value(anchorOf(event.data.alias.anchor), 1);
            break;
        case YAML_SEQUENCE_START_EVENT:
        case YAML_MAPPING_START_EVENT: {
            if (open.size() == MaxDepth)
                return KafkaError(KafkaErrorCode::InvalidYamlDocument,
                    QString("Nesting too deep at line %1: more than %2 levels").arg(line, QString::number(MaxDepth)));
            const yaml_char_t* anchor
                = event.type == YAML_SEQUENCE_START_EVENT ? event.data.sequence_start.anchor : event.data.mapping_start.anchor;
            open.append(OpenCollection { anchorOf(anchor), nodes });
            ++nodes;
            if (anchor) {
                ++anchors;
                anchorSizes.insert(open.last().anchor, 1);
            }
            break;
        }
        case YAML_SEQUENCE_END_EVENT:
        case YAML_MAPPING_END_EVENT:
            if (!open.isEmpty()) {
                const OpenCollection closed = open.takeLast();
                if (!closed.anchor.isEmpty())
                    anchorSizes.insert(closed.anchor, nodes - closed.nodesBefore);
            }
            break;
        case YAML_DOCUMENT_END_EVENT:
        case YAML_STREAM_END_EVENT:
            return std::nullopt;
        default:
            break;
        }

        if (anchors > MaxAnchors)
            return KafkaError(KafkaErrorCode::InvalidYamlDocument,
                QString("Too many anchors at line %1: more than %2").arg(line, QString::number(MaxAnchors)));
        if (nodes > MaxNodes)
            return KafkaError(KafkaErrorCode::InvalidYamlDocument,
                QString("Too many nodes at line %1: more than %2, counting each alias as the nodes it repeats")
                    .arg(line, QString::number(MaxNodes)));
    }
}
