#include "YamlWriter.h"

#include "AtomicReplace.h"
#include "SystemError.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <utility>

#include <stdlib.h>
#include <unistd.h>

namespace {

// Releases a document that was not handed to the emitter.
class DocumentOwner {
public:
    explicit DocumentOwner(yaml_document_t& document) : m_document(&document) { }
    ~DocumentOwner()
    {
        if (m_document)
            yaml_document_delete(m_document);
    }
    DocumentOwner(const DocumentOwner&) = delete;
    DocumentOwner& operator=(const DocumentOwner&) = delete;

    yaml_document_t* release() { return std::exchange(m_document, nullptr); }

private:
    yaml_document_t* m_document;
};

class EmitterHandle {
public:
    EmitterHandle() { m_initialized = yaml_emitter_initialize(&emitter) != 0; }
    ~EmitterHandle()
    {
        if (m_initialized)
            yaml_emitter_delete(&emitter);
    }
    EmitterHandle(const EmitterHandle&) = delete;
    EmitterHandle& operator=(const EmitterHandle&) = delete;

    bool initialized() const { return m_initialized; }

    yaml_emitter_t emitter {};

private:
    bool m_initialized = false;
};

// Removes the temporary file unless it was kept.
class TemporaryFileRemover {
public:
    explicit TemporaryFileRemover(QByteArray path) : m_path(std::move(path)) { }
    ~TemporaryFileRemover()
    {
        if (!m_path.isEmpty())
            std::remove(m_path.constData());
    }
    TemporaryFileRemover(const TemporaryFileRemover&) = delete;
    TemporaryFileRemover& operator=(const TemporaryFileRemover&) = delete;

    void keep() { m_path.clear(); }

private:
    QByteArray m_path;
};

struct StreamCloser {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};

QString problemText(const yaml_emitter_t& emitter)
{
    return emitter.problem ? QString::fromUtf8(emitter.problem) : QString();
}

KafkaError emitterError(const yaml_emitter_t& emitter, const char* what)
{
    return KafkaError(YamlWriter::mapYamlError(emitter.error, KafkaErrorCode::YamlSaveError),
        QString("%1%2").arg(QString::fromUtf8(what), problemText(emitter)));
}

} // namespace

int YamlWriter::writeString(yaml_document_t& document, const QString& text)
{
    QByteArray bytes = text.toUtf8();
    return yaml_document_add_scalar(&document, nullptr, reinterpret_cast<yaml_char_t*>(bytes.data()), -1, YAML_ANY_SCALAR_STYLE);
}

void YamlWriter::appendMapping(yaml_document_t& document, int mapping, const QString& key, int value)
{
    const int keyNode = writeString(document, key);
    yaml_document_append_mapping_pair(&document, mapping, keyNode, value);
}

int YamlWriter::writeStringArray(yaml_document_t& document, const QList<QString>& strings)
{
    const int sequence = yaml_document_add_sequence(&document, nullptr, YAML_ANY_SEQUENCE_STYLE);
    for (const QString& string : strings)
        yaml_document_append_sequence_item(&document, sequence, writeString(document, string));
    return sequence;
}

KafkaErrorCode YamlWriter::mapYamlError(yaml_error_type_t type, KafkaErrorCode fallback)
{
    switch (type) {
    case YAML_MEMORY_ERROR:
        return KafkaErrorCode::YamlMemoryError;
    case YAML_READER_ERROR:
        return KafkaErrorCode::YamlReaderError;
    case YAML_SCANNER_ERROR:
        return KafkaErrorCode::YamlScannerError;
    case YAML_PARSER_ERROR:
        return KafkaErrorCode::YamlParserError;
    case YAML_COMPOSER_ERROR:
        return KafkaErrorCode::YamlComposerError;
    case YAML_WRITER_ERROR:
        return KafkaErrorCode::YamlWriterError;
    case YAML_EMITTER_ERROR:
        return KafkaErrorCode::YamlEmitterError;
    default:
        return fallback;
    }
}

std::optional<KafkaError> YamlWriter::writeDocumentToFile(yaml_document_t& document, const QString& target)
{
    DocumentOwner owner(document);

    EmitterHandle handle;
    if (!handle.initialized())
        return KafkaError(KafkaErrorCode::YamlSaveError, "Failed to initialize the YAML emitter");
    yaml_emitter_t& emitter = handle.emitter;

    // A save onto a symbolic link writes through to the file it points to.
    const Result<QString, SystemError> resolved = AtomicReplace::resolveTarget(target);
    if (resolved.isError())
        return KafkaError(KafkaErrorCode::FileAccessError,
            QString("Failed to resolve symbolic link '%1': %2").arg(target, resolved.error().text));
    const QString& finalTarget = resolved.value();

    const QString directory = QFileInfo(finalTarget).absolutePath();
    if (!QDir().mkpath(directory))
        return KafkaError(KafkaErrorCode::FileAccessError, QString("Failed to create configuration directory: %1").arg(directory));

    // The temporary file lies in the target's directory, so that the final
    // rename stays within one file system.
    const QByteArray formatted = directory.toUtf8() + "/testXXXXXX";
    QByteArray temporaryPath = formatted;
    const int descriptor = ::mkstemp(temporaryPath.data());
    if (descriptor < 0) {
        const int error = errno;
        return KafkaError(KafkaErrorCode::FileAccessError,
            QString("Failed to create temporary file '%1': %2").arg(QString::fromUtf8(formatted), SystemError::fromErrno(error).text));
    }
    TemporaryFileRemover remover(temporaryPath);
    const QString temporaryName = QString::fromUtf8(temporaryPath);

    std::unique_ptr<std::FILE, StreamCloser> stream(::fdopen(descriptor, "wb"));
    if (!stream) {
        const int error = errno;
        ::close(descriptor);
        return KafkaError(KafkaErrorCode::FileAccessError,
            QString("Failed to open temporary file '%1' for writing: %2").arg(temporaryName, SystemError::fromErrno(error).text));
    }

    yaml_emitter_set_output_file(&emitter, stream.get());
    if (!yaml_emitter_open(&emitter))
        return emitterError(emitter, "Failed to open YAML emitter: ");
    // The emitter releases the document's contents when it dumps it, also when
    // dumping fails.
    if (!yaml_emitter_dump(&emitter, owner.release()))
        return emitterError(emitter, "Failed to write YAML document: ");
    if (!yaml_emitter_close(&emitter))
        return emitterError(emitter, "Failed to close YAML emitter: ");

    // Everything must be on disk before the file takes the target's place: a
    // failed flush (full disk, size limit) leaves the target as it was.
    if (const std::optional<SystemError> failure = AtomicReplace::finishFile(stream.release()))
        return KafkaError(KafkaErrorCode::FileAccessError,
            QString("Failed to write temporary file '%1': %2").arg(temporaryName, failure->text));

    // A failed replacement removes the temporary file as well: every failed
    // save leaves the directory as it was, and one that fails each time (a
    // name the file system refuses) leaves no file per attempt.
    if (const std::optional<SystemError> failure = AtomicReplace::replaceFile(temporaryName, finalTarget))
        return KafkaError(KafkaErrorCode::FileReplaceError,
            QString("Failed to overwrite configuration file with temporary file '%1': %2 %3")
                .arg(temporaryName, failure->text, QString::number(failure->number)));
    remover.keep();
    return std::nullopt;
}
