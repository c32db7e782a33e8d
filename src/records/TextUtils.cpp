#include "TextUtils.h"

#include "KafkaErrorCode.h"

#include <jansson.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <QByteArray>

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

// The parser's global state is set up once, whichever thread comes first.
void initializeXmlParser()
{
    static const bool initialized = [] {
        xmlInitParser();
        return true;
    }();
    (void)initialized;
}

} // namespace

Result<QString, KafkaError> prettyPrintJson(const QString& json)
{
    const QByteArray utf8 = json.toUtf8();
    json_error_t error;
    const std::unique_ptr<json_t, JsonValueDeleter> root(
        json_loadb(utf8.constData(), static_cast<size_t>(utf8.size()), 0, &error));
    if (!root) {
        return KafkaError(KafkaErrorCode::JsonParseError,
            QStringLiteral("A parse error occurred when pretty printing the JSON document at line %1, column %2: %3")
                .arg(QString::number(error.line), QString::number(error.column), QString::fromUtf8(error.text)));
    }
    const std::unique_ptr<char, JsonBufferDeleter> buffer(json_dumps(root.get(), JSON_INDENT(2)));
    if (!buffer) {
        return KafkaError(KafkaErrorCode::JsonParseError,
            QStringLiteral("A write error occurred when pretty printing the JSON document"));
    }
    return QString::fromUtf8(buffer.get());
}

Result<QString, KafkaError> prettyPrintXml(const QString& xml)
{
    initializeXmlParser();
    const QByteArray utf8 = xml.toUtf8();
    // The text is UTF-8 whatever its declaration says.
    std::unique_ptr<xmlDoc, XmlDocDeleter> document;
    if (utf8.size() <= INT_MAX) {
        document.reset(xmlReadMemory(
            utf8.constData(), static_cast<int>(utf8.size()), nullptr, "UTF-8", XML_PARSE_IGNORE_ENC));
    }
    if (!document) {
        return KafkaError(KafkaErrorCode::XmlParseError,
            QStringLiteral("A parse error occurred when pretty printing the XML document"));
    }
    xmlChar* rawBuffer = nullptr;
    int size = 0;
    // Written as UTF-8 so that non-ASCII characters stay characters.
    xmlDocDumpFormatMemoryEnc(document.get(), &rawBuffer, &size, "UTF-8", 1);
    const std::unique_ptr<xmlChar, XmlBufferDeleter> buffer(rawBuffer);
    if (!buffer) {
        return KafkaError(KafkaErrorCode::XmlWriteError,
            QStringLiteral("A write error occurred when pretty printing the XML document"));
    }
    return QString::fromUtf8(reinterpret_cast<const char*>(buffer.get()), size);
}
