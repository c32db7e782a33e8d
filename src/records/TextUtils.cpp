#include "TextUtils.h"

#include "JsonNumbers.h"
#include "JsonNuls.h"
#include "KafkaErrorCode.h"

#include <jansson.h>
#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <algorithm>
#include <climits>
#include <memory>

namespace {

struct JsonValueDeleter {
    void operator()(json_t* value) const { json_decref(value); }
};

// json_dumps allocates with the library's allocator, which may be replaced.
struct JsonBufferDeleter {
    void operator()(char* buffer) const
    {
        json_free_t freeFunction = nullptr;
        json_get_alloc_funcs(nullptr, &freeFunction);
        freeFunction(buffer);
    }
};

struct XmlDocDeleter {
    void operator()(xmlDoc* document) const { xmlFreeDoc(document); }
};

struct XmlBufferDeleter {
    void operator()(xmlChar* buffer) const { xmlFree(buffer); }
};

struct XmlParserContextDeleter {
    void operator()(xmlParserCtxt* context) const { xmlFreeParserCtxt(context); }
};

// The parser's global state is set up once, whichever thread comes first.
void initializeXmlParser()
{
    static const bool initialized = [] {
        xmlInitParser();
        return true;
    }();
    (void)initialized;
}

// libxml2's diagnostics of one pretty printing, kept instead of printed. At
// most MaxMessages are kept: the parser may report a problem per element.
struct XmlProblems {
    static constexpr qsizetype MaxMessages = 10;
    QList<KafkaError> messages;

    void add(const xmlError& error)
    {
        if (messages.size() >= MaxMessages)
            return;
        const QString text = QString::fromUtf8(error.message ? error.message : "").trimmed();
        messages.append(KafkaError(KafkaErrorCode::XmlParseError,
            QStringLiteral("Line %1, column %2: %3").arg(QString::number(error.line), QString::number(error.int2), text)));
    }
};

// Structured handler of one parser context: the context's private pointer
// leads to the problems of the call that owns the context.
void collectParserError(void*, xmlError* error)
{
    const auto* context = static_cast<const xmlParserCtxt*>(error ? error->ctxt : nullptr);
    if (context && context->_private)
        static_cast<XmlProblems*>(context->_private)->add(*error);
}

// Serializing has no parser context: while it runs, this thread's structured
// handler (libxml2 keeps one per thread) collects what it would print.
class ThreadXmlErrorsCollected {
public:
    explicit ThreadXmlErrorsCollected(XmlProblems& problems)
        : m_previousHandler(xmlStructuredError)
        , m_previousContext(xmlStructuredErrorContext)
    {
        xmlSetStructuredErrorFunc(&problems, &collect);
    }
    ~ThreadXmlErrorsCollected() { xmlSetStructuredErrorFunc(m_previousContext, m_previousHandler); }
    ThreadXmlErrorsCollected(const ThreadXmlErrorsCollected&) = delete;
    ThreadXmlErrorsCollected& operator=(const ThreadXmlErrorsCollected&) = delete;

private:
    static void collect(void* problems, xmlError* error)
    {
        if (error)
            static_cast<XmlProblems*>(problems)->add(*error);
    }

    xmlStructuredErrorFunc m_previousHandler;
    void* m_previousContext;
};

// Adds to `total` the line breaks and indentation that JSON_INDENT(2) gives
// `value` at nesting depth `depth`, and the blank after each key; stops once
// the total passes `limit`.
void addIndentation(json_t* value, qsizetype depth, qsizetype limit, qsizetype& total)
{
    if (json_is_array(value) && json_array_size(value) > 0) {
        const auto size = static_cast<qsizetype>(json_array_size(value));
        total += size * (2 * (depth + 1) + 1) + 2 * depth + 1;
        for (qsizetype i = 0; i < size && total <= limit; ++i) {
            addIndentation(json_array_get(value, static_cast<size_t>(i)), depth + 1, limit, total);
        }
    } else if (json_is_object(value) && json_object_size(value) > 0) {
        total += static_cast<qsizetype>(json_object_size(value)) * (2 * (depth + 1) + 2) + 2 * depth + 1;
        const char* key = nullptr;
        json_t* member = nullptr;
        json_object_foreach (value, key, member) {
            if (total > limit) {
                return;
            }
            addIndentation(member, depth + 1, limit, total);
        }
    }
}

KafkaError tooLong(KafkaErrorCode code, const char* kind, qsizetype maxBytes)
{
    return KafkaError(code,
        QStringLiteral("The pretty-printed %1 document would be longer than %2 bytes")
            .arg(QLatin1String(kind), QString::number(maxBytes)));
}

} // namespace

Result<QString, KafkaError> prettyPrintJson(const QString& json, qsizetype maxBytes)
{
    const QByteArray utf8 = json.toUtf8();
    // Jansson reads a copy whose numbers it can hold and whose keys hold no
    // NUL; string values may hold NULs, which it writes as \u0000.
    const JsonNuls nuls(utf8);
    const JsonNumbers numbers(nuls.replaced());
    const QByteArrayView indexed = numbers.indexed();
    const std::unique_ptr<json_t, JsonValueDeleter> root(
        json_loadb(indexed.data(), static_cast<size_t>(indexed.size()), JSON_ALLOW_NUL, nullptr));
    if (!root) {
        // The copy is refused where the document is; the error is the first
        // one Jansson finds in the document as written (which may be a number
        // out of range before the fault).
        json_error_t error;
        const std::unique_ptr<json_t, JsonValueDeleter> refused(
            json_loadb(utf8.constData(), static_cast<size_t>(utf8.size()), JSON_ALLOW_NUL, &error));
        return KafkaError(KafkaErrorCode::JsonParseError,
            QStringLiteral("A parse error occurred when pretty printing the JSON document at line %1, column %2: %3")
                .arg(QString::number(error.line), QString::number(error.column), QString::fromUtf8(error.text)));
    }
    // The indentation alone is counted first; the numbers' texts come in
    // after writing, which the length of the result shows.
    qsizetype indentation = 0;
    addIndentation(root.get(), 0, maxBytes, indentation);
    if (indentation > maxBytes) {
        return tooLong(KafkaErrorCode::JsonParseError, "JSON", maxBytes);
    }
    const std::unique_ptr<char, JsonBufferDeleter> buffer(json_dumps(root.get(), JSON_INDENT(2)));
    if (!buffer) {
        return KafkaError(KafkaErrorCode::JsonParseError,
            QStringLiteral("A write error occurred when pretty printing the JSON document"));
    }
    QByteArray withNumbers;
    QByteArrayView written(buffer.get());
    if (!numbers.isEmpty()) {
        withNumbers = numbers.withNumbersInPlace(written);
        written = withNumbers;
    }
    QByteArray withNuls;
    if (!nuls.isEmpty()) {
        withNuls = nuls.withNulsInPlace(written);
        written = withNuls;
    }
    if (written.size() > maxBytes) {
        return tooLong(KafkaErrorCode::JsonParseError, "JSON", maxBytes);
    }
    return QString::fromUtf8(written);
}

namespace {

// The document parsed from `bytes`, read as `encoding` whatever its
// declaration says, or, when that is null, as its byte-order mark or
// declaration say; then written as UTF-8.
Result<QString, KafkaError> prettyPrintXmlBytes(QByteArrayView bytes, const char* encoding, qsizetype maxBytes)
{
    initializeXmlParser();
    XmlProblems problems;
    const std::unique_ptr<xmlParserCtxt, XmlParserContextDeleter> context(xmlNewParserCtxt());
    std::unique_ptr<xmlDoc, XmlDocDeleter> document;
    if (context && bytes.size() <= INT_MAX) {
        // The parser reports through this context's own handler, never on the
        // standard error stream.
        context->_private = &problems;
        context->sax->serror = &collectParserError;
        document.reset(xmlCtxtReadMemory(context.get(), bytes.data(), static_cast<int>(bytes.size()), nullptr, encoding,
            encoding ? XML_PARSE_IGNORE_ENC : 0));
    }
    if (!document) {
        return KafkaError(KafkaErrorCode::XmlParseError,
            QStringLiteral("A parse error occurred when pretty printing the XML document"), problems.messages);
    }
    xmlChar* rawBuffer = nullptr;
    int size = 0;
    {
        const ThreadXmlErrorsCollected collected(problems);
        // Written as UTF-8 so that non-ASCII characters stay characters.
        xmlDocDumpFormatMemoryEnc(document.get(), &rawBuffer, &size, "UTF-8", 1);
    }
    const std::unique_ptr<xmlChar, XmlBufferDeleter> buffer(rawBuffer);
    if (!buffer) {
        return KafkaError(KafkaErrorCode::XmlWriteError,
            QStringLiteral("A write error occurred when pretty printing the XML document"), problems.messages);
    }
    if (size > maxBytes) {
        return tooLong(KafkaErrorCode::XmlWriteError, "XML", maxBytes);
    }
    return QString::fromUtf8(reinterpret_cast<const char*>(buffer.get()), size);
}

// Whether reading `xml` as UTF-8 text, declaration ignored, can differ from
// how libxml2 read its bytes: they are not UTF-8 throughout, or a
// declaration near the start names an encoding. Otherwise the parser saw the
// same characters both ways.
bool readsOtherwiseAsText(QByteArrayView xml)
{
    static constexpr qsizetype DeclarationLength = 200;
    const QByteArrayView start = xml.first(std::min(xml.size(), DeclarationLength));
    const qsizetype declarationEnd = start.indexOf("?>");
    return (declarationEnd >= 0 && start.first(declarationEnd).contains("encoding")) || !xml.isValidUtf8();
}

} // namespace

Result<QString, KafkaError> prettyPrintXml(const QString& xml, qsizetype maxBytes)
{
    // The text is Unicode whatever its declaration says.
    return prettyPrintXmlBytes(xml.toUtf8(), "UTF-8", maxBytes);
}

Result<QString, KafkaError> prettyPrintXml(const QByteArray& xml, qsizetype maxBytes)
{
    Result<QString, KafkaError> printed = prettyPrintXmlBytes(xml, nullptr, maxBytes);
    if (printed.isError() && printed.error().code == KafkaErrorCode::XmlParseError && readsOtherwiseAsText(xml)) {
        // Bytes that are not what they declare (a UTF-8 document labelled
        // UTF-16, as some serializers write, or an encoding libxml2 does not
        // know) are read as UTF-8 text, declaration ignored.
        Result<QString, KafkaError> asText = prettyPrintXml(QString::fromUtf8(xml), maxBytes);
        if (asText.hasValue()) {
            return asText;
        }
    }
    return printed;
}
