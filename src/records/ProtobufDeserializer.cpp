#include "ProtobufDeserializer.h"

#include "CompilerErrorCollector.h"
#include "FileHelpers.h"
#include "ProtobufJsonTypeResolver.h"
#include "ProtobufLogCapture.h"
#include "ProtobufValueReader.h"

#include <google/protobuf/compiler/importer.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/util/json_util.h>

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <optional>
#include <string>

namespace protobuf = google::protobuf;

namespace {

// The compiler's zero-based line of the file's import number `index`, or -1.
int importLine(const protobuf::FileDescriptorProto& proto, int index)
{
    for (const protobuf::SourceCodeInfo::Location& location : proto.source_code_info().location()) {
        if (location.path_size() == 2 && location.path(0) == protobuf::FileDescriptorProto::kDependencyFieldNumber
            && location.path(1) == index && location.span_size() > 0)
            return location.span(0);
    }
    return -1;
}

// Why an import cannot be resolved, or nothing when it can: it must be a plain
// relative path (no ".", ".." or empty parts) naming a regular file below one
// of the schema directories, or a file that Protocol Buffers itself ships (the
// well-known types). Anything else would leave the importing file's types
// unresolved and their data dropped from the output.
std::optional<std::string> importProblem(const std::string& import, const QList<QString>& schemaDirs)
{
    const QString name = QString::fromStdString(import);
    const QStringList parts = name.split(QLatin1Char('/'));
    if (QDir::isAbsolutePath(name) || name.contains(QLatin1Char('\\')) || parts.contains(QString()) || parts.contains(QStringLiteral("."))
        || parts.contains(QStringLiteral(".."))) {
        return "Import \"" + import + "\" is not a plain relative path below the schema directories";
    }
    for (const QString& dir : schemaDirs) {
        if (QFileInfo(dir + "/" + name).isFile())
            return std::nullopt;
    }
    if (protobuf::DescriptorPool::generated_pool()->FindFileByName(import) != nullptr)
        return std::nullopt;
    return "Import \"" + import + "\" was not found in any schema directory";
}

// Builds one schema file into the pool after the files it imports. The file's
// name in the pool is schemaDir + "/" + relativePath, so equal relative names
// in two schema directories stay apart; imports keep their bare names inside
// the file, and the lazily built pool resolves the imported types by name.
// An import must resolve (importProblem); one that does not is reported with
// the importing file and line. importChain holds the files whose build is
// under way (relative paths, outermost first). An import cycle stops at the
// file that is already being built and is reported as the compiler reports
// it: the types of a file in a cycle could not be resolved and would vanish
// from the output.
void buildSchemaAndDependencies(QString schemaDir, QString relativePath, const QList<QString>& schemaDirs,
    protobuf::compiler::DiskSourceTree& tree, protobuf::compiler::SourceTreeDescriptorDatabase& database,
    protobuf::DescriptorPool& pool, QList<QString>& importChain, protobuf::compiler::MultiFileErrorCollector& collector)
{
    const QString poolName = schemaDir + "/" + relativePath;
    const std::string poolFileName = poolName.toStdString();
    if (pool.FindFileByName(poolFileName) != nullptr)
        return;
    if (const qsizetype start = importChain.indexOf(relativePath); start >= 0) {
        const QString cycle = QStringList(importChain.mid(start)).join(" -> ") + " -> " + relativePath;
        collector.AddError(relativePath.toStdString(), -1, 0, "File recursively imports itself: " + cycle.toStdString());
        return;
    }

    const std::string virtualPath = relativePath.toStdString();
    // Imports found in another schema directory or among the library's own
    // files are built from there.
    if (std::unique_ptr<protobuf::io::ZeroCopyInputStream>(tree.Open(virtualPath)) == nullptr)
        return;

    protobuf::FileDescriptorProto proto;
    if (!database.FindFileByName(virtualPath, &proto))
        return;

    importChain.append(relativePath);
    for (int index = 0; index < proto.dependency_size(); ++index) {
        const std::string& import = proto.dependency(index);
        if (const std::optional<std::string> problem = importProblem(import, schemaDirs)) {
            collector.AddError(poolFileName, importLine(proto, index), 0, *problem);
            continue;
        }
        buildSchemaAndDependencies(
            schemaDir, QString::fromStdString(import), schemaDirs, tree, database, pool, importChain, collector);
    }
    importChain.removeLast();

    proto.set_name(poolFileName);
    pool.BuildFileCollectingErrors(proto, database.GetValidationErrorCollector());
}

// The schema files below dir (plain files, hidden ones and directory links
// excluded), relative to dir, in a stable order.
QList<QString> findSchemaFiles(const QString& dir)
{
    QList<QString> files;
    const QDir root(dir);
    QDirIterator it(dir, { QStringLiteral("*.proto") }, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(root.relativeFilePath(it.next()));
    std::sort(files.begin(), files.end());
    return files;
}

QString resolveSchemaPath(const QString& path)
{
    return QDir::cleanPath(resolveClusterPath(path));
}

KafkaErrorCode errorCodeForStatus(protobuf::util::StatusCode code)
{
    using protobuf::util::StatusCode;
    switch (code) {
    case StatusCode::kCancelled:
        return KafkaErrorCode::ProtobufCancelled;
    case StatusCode::kUnknown:
        return KafkaErrorCode::ProtobufUnknown;
    case StatusCode::kInvalidArgument:
        return KafkaErrorCode::ProtobufInvalidArgument;
    case StatusCode::kDeadlineExceeded:
        return KafkaErrorCode::ProtobufDeadlineExceeded;
    case StatusCode::kNotFound:
        return KafkaErrorCode::ProtobufNotFound;
    case StatusCode::kAlreadyExists:
        return KafkaErrorCode::ProtobufAlreadyExists;
    case StatusCode::kPermissionDenied:
        return KafkaErrorCode::ProtobufPermissionDenied;
    case StatusCode::kUnauthenticated:
        return KafkaErrorCode::ProtobufUnauthenticated;
    case StatusCode::kResourceExhausted:
        return KafkaErrorCode::ProtobufResourceExhausted;
    case StatusCode::kFailedPrecondition:
        return KafkaErrorCode::ProtobufFailedPrecondition;
    case StatusCode::kAborted:
        return KafkaErrorCode::ProtobufAborted;
    case StatusCode::kOutOfRange:
        return KafkaErrorCode::ProtobufOutOfRange;
    case StatusCode::kUnimplemented:
        return KafkaErrorCode::ProtobufUnimplemented;
    case StatusCode::kInternal:
        return KafkaErrorCode::ProtobufInternal;
    case StatusCode::kUnavailable:
        return KafkaErrorCode::ProtobufUnavailable;
    case StatusCode::kDataLoss:
        return KafkaErrorCode::ProtobufDataLoss;
    default:
        return KafkaErrorCode::ProtobufUnknown;
    }
}

} // namespace

Result<std::unique_ptr<ProtobufRecordDeserializer>, QList<KafkaError>> ProtobufRecordDeserializer::create(
    const Config::ProtobufDeserializer& config)
{
    // The library's own pool lies underneath, so that schemas may import the
    // well-known types (google/protobuf/timestamp.proto and the like) without
    // shipping them. Dependencies are built lazily and not enforced: a type is
    // looked up by its full name in the whole pool when first needed.
    auto pool = std::make_unique<protobuf::DescriptorPool>(protobuf::DescriptorPool::generated_pool());
    pool->InternalSetLazilyBuildDependencies();

    CompilerErrorCollector collector;
    QList<KafkaError> errors;

    QList<QString> schemaDirs;
    for (const QString& schemaPath : config.schemaPaths) {
        const QString dir = resolveSchemaPath(schemaPath);
        if (QFileInfo(dir).isDir())
            schemaDirs.append(dir);
        else
            errors.append(KafkaError(KafkaErrorCode::ProtobufSchemaError,
                QString("The Protocol Buffers schema path '%1' does not exist").arg(dir)));
    }

    for (const QString& dir : schemaDirs) {

        protobuf::compiler::DiskSourceTree tree;
        tree.MapPath("", dir.toStdString());
        protobuf::compiler::SourceTreeDescriptorDatabase database(&tree);
        database.RecordErrorsTo(&collector);
        // Asking for the validation collector makes the parser record source
        // locations, so that build errors carry their line.
        database.GetValidationErrorCollector();

        QList<QString> importChain;
        for (const QString& relativePath : findSchemaFiles(dir))
            buildSchemaAndDependencies(dir, relativePath, schemaDirs, tree, database, *pool, importChain, collector);
    }

    for (const QString& message : collector.messages())
        errors.append(KafkaError(KafkaErrorCode::ProtobufSchemaError, message));

    if (!errors.isEmpty())
        return errors;
    return std::make_unique<ProtobufRecordDeserializer>(std::move(pool));
}

ProtobufRecordDeserializer::ProtobufRecordDeserializer(std::unique_ptr<protobuf::DescriptorPool> pool)
    : m_pool(std::move(pool))
    , m_typeResolver(std::make_unique<ProtobufJsonTypeResolver>(m_pool.get()))
    , m_valueReader(std::make_unique<ProtobufValueReader>(*m_pool))
{
    // Before any conversion runs, on any thread.
    ProtobufLogCapture::install();
}

ProtobufRecordDeserializer::~ProtobufRecordDeserializer()
{
    // The reader and the resolver read the pool: they go first.
    m_valueReader.reset();
    m_typeResolver.reset();
    m_pool.reset();
}

Result<DeserializedRecord, KafkaError> ProtobufRecordDeserializer::deserializeRecord(
    const KafkaRecord& record, const QString& messageType, const QString& messageTypeHeader)
{
    QString typeName = messageType;
    if (!messageTypeHeader.isEmpty()) {
        const auto header = std::find_if(record.headers.cbegin(), record.headers.cend(),
            [&](const KafkaHeader& candidate) { return candidate.key == messageTypeHeader; });
        if (header == record.headers.cend() || header->value.isEmpty()) {
            return KafkaError(KafkaErrorCode::RecordDeserializationError,
                QString("The Protocol Buffers message type header was not found: %1").arg(messageTypeHeader));
        }
        typeName = QString::fromUtf8(header->value);
    }
    if (typeName.isEmpty()) {
        return KafkaError(KafkaErrorCode::RecordDeserializationError,
            QString("No Protocol Buffers message type was found when attempting to deserialize the record"));
    }

    const auto failed = [&typeName](KafkaError cause) {
        return KafkaError(KafkaErrorCode::RecordDeserializationError,
            QString("Protobuf deserialization failed for record with message type %1").arg(typeName), { std::move(cause) });
    };
    const protobuf::Descriptor* type = m_pool->FindMessageTypeByName(typeName.toStdString());
    if (type == nullptr)
        return failed(KafkaError(KafkaErrorCode::ProtobufNotFound, QString("Unknown message type %1").arg(typeName)));

    // The conversion trusts its input: it only sees the message that the
    // library's parser read from the value, written again by the reader.
    // What libprotobuf logs on the way is taken here: the reader and the
    // conversion's status give the reasons.
    const ProtobufLogCapture capture;
    Result<std::string, KafkaError> wire = m_valueReader->read(*type, record.value);
    if (wire.isError())
        return failed(std::move(wire).error());

    std::string json;
    const protobuf::util::Status status = protobuf::util::BinaryToJsonString(m_typeResolver.get(),
        ProtobufJsonTypeResolver::typeUrl(typeName), wire.value(), &json, protobuf::util::JsonPrintOptions());
    if (!status.ok()) {
        const auto statusMessage = status.message();
        return failed(KafkaError(errorCodeForStatus(status.code()),
            QString::fromUtf8(statusMessage.data(), static_cast<qsizetype>(statusMessage.size()))));
    }
    return DeserializedRecord { Config::ContentType::Json, QByteArray(), QString::fromStdString(json) };
}
