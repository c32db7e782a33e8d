#include "TextUtils.h"

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
#include <array>
#include <charconv>
#include <climits>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

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

// The shortest text that reads back to the same double, laid out as Jansson
// lays out its reals: plain digits for decimal exponents from -4 up to 16 and
// an exponent otherwise, a ".0" when neither a point nor an exponent shows
// that it is a real, and an exponent without '+' or leading zeros.
QByteArray shortestRealText(double value)
{
    // The longest texts written here have 24 characters: "-2.2250738585072014e-308"
    // and, in plain digits, "-0.00012345678901234567" (23).
    constexpr std::size_t TextCapacity = 32;
    std::array<char, TextCapacity> scientific {};
    const auto scientificEnd
        = std::to_chars(scientific.data(), scientific.data() + scientific.size(), value, std::chars_format::scientific).ptr;
    const std::string_view scientificText(scientific.data(), static_cast<std::size_t>(scientificEnd - scientific.data()));
    const std::size_t exponentAt = scientificText.find('e');
    int exponent = 0;
    const std::string_view exponentText = scientificText.substr(exponentAt + 1);
    std::from_chars(exponentText.data() + (exponentText.front() == '+' ? 1 : 0), exponentText.data() + exponentText.size(),
        exponent);

    std::array<char, TextCapacity> fixed {};
    QByteArray text;
    if (exponent >= -4 && exponent < 17) {
        const auto fixedEnd = std::to_chars(fixed.data(), fixed.data() + fixed.size(), value, std::chars_format::fixed).ptr;
        text = QByteArray(fixed.data(), fixedEnd - fixed.data());
        if (!text.contains('.'))
            text.append(".0");
        return text;
    }
    text = QByteArray(scientificText.data(), static_cast<qsizetype>(exponentAt + 1));
    if (exponent < 0)
        text.append('-');
    return text.append(QByteArray::number(exponent < 0 ? -exponent : exponent));
}

// Jansson writes every real with 17 significant digits (33.08 becomes
// 33.079999999999998). Each real of the parsed document is therefore swapped
// for a placeholder string, a NUL followed by the index of the real's text in
// `numbers`, which Jansson writes as "\u0000<index>"; the written placeholders
// are then replaced by those texts (the reals' shortest texts appended here,
// after the texts of any integers that were replaced before parsing). A
// string of the document never holds a NUL (the parser refuses \u0000
// without JSON_ALLOW_NUL, and a document is parsed with it only when it has
// none of its own), and in the written text a '"' followed by "\u0000" can
// only open a placeholder: an escaped quote or a closing one is never
// followed by an escaped NUL.
void replaceRealsByPlaceholders(json_t* root, std::vector<QByteArray>& numbers)
{
    const auto placeholder = [&numbers](const json_t* real) {
        const QByteArray text = QByteArray(1, '\0') + QByteArray::number(static_cast<qulonglong>(numbers.size()));
        numbers.push_back(shortestRealText(json_real_value(real)));
        return json_stringn_nocheck(text.constData(), static_cast<size_t>(text.size()));
    };
    // Containers still to visit; as deep as the parser allows nesting.
    std::vector<json_t*> containers { root };
    while (!containers.empty()) {
        json_t* container = containers.back();
        containers.pop_back();
        if (json_is_array(container)) {
            for (size_t index = 0; index < json_array_size(container); ++index) {
                json_t* element = json_array_get(container, index);
                if (json_is_real(element))
                    json_array_set_new(container, index, placeholder(element));
                else if (json_is_array(element) || json_is_object(element))
                    containers.push_back(element);
            }
            continue;
        }
        for (void* iterator = json_object_iter(container); iterator;
             iterator = json_object_iter_next(container, iterator)) {
            json_t* member = json_object_iter_value(iterator);
            if (json_is_real(member))
                json_object_iter_set_new(container, iterator, placeholder(member));
            else if (json_is_array(member) || json_is_object(member))
                containers.push_back(member);
        }
    }
}

bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// Whether `token` is a JSON integer (no fraction, no exponent, no leading
// zero) outside the signed 64-bit range, which Jansson refuses.
bool isLongInteger(QByteArrayView token)
{
    const QByteArrayView digits = token.startsWith('-') ? token.sliced(1) : token;
    if (digits.isEmpty() || (digits.front() == '0' && digits.size() > 1)
        || !std::all_of(digits.begin(), digits.end(), isAsciiDigit)) {
        return false;
    }
    long long value = 0;
    return std::from_chars(token.data(), token.data() + token.size(), value).ec == std::errc::result_out_of_range;
}

// The document with each integer outside the signed 64-bit range replaced by
// a placeholder (as for reals, "\u0000<index>" in quotes) whose index is that
// of the integer's text, as written, appended to `numbers`. Strings are
// skipped, whatever digits they hold. Nothing when there is no such integer,
// or when a string of the document holds an escaped NUL: it is parsed with
// JSON_ALLOW_NUL, so a NUL of its own could pass for a placeholder.
std::optional<QByteArray> withLongIntegersReplaced(QByteArrayView json, std::vector<QByteArray>& numbers)
{
    static constexpr std::string_view NumberCharacters = "0123456789+-.eE";
    QByteArray replaced;
    qsizetype copied = 0;
    qsizetype position = 0;
    while (position < json.size()) {
        const char c = json[position];
        if (c == '"') {
            // An escape sequence is skipped whole as far as it could hold a quote.
            for (++position; position < json.size() && json[position] != '"'; ++position) {
                if (json[position] == '\\') {
                    if (json.sliced(position + 1).startsWith("u0000")) {
                        return std::nullopt;
                    }
                    ++position;
                }
            }
            ++position;
            continue;
        }
        if (c != '-' && !isAsciiDigit(c)) {
            ++position;
            continue;
        }
        qsizetype end = position;
        while (end < json.size() && NumberCharacters.find(json[end]) != std::string_view::npos) {
            ++end;
        }
        const QByteArrayView token = json.sliced(position, end - position);
        if (isLongInteger(token)) {
            replaced.append(json.sliced(copied, position - copied));
            replaced.append("\"\\u0000").append(QByteArray::number(static_cast<qulonglong>(numbers.size()))).append('"');
            numbers.push_back(token.toByteArray());
            copied = end;
        }
        position = end;
    }
    if (numbers.empty()) {
        return std::nullopt;
    }
    return replaced.append(json.sliced(copied));
}

QByteArray withNumbersInPlace(const char* written, const std::vector<QByteArray>& numbers)
{
    static constexpr std::string_view PlaceholderStart = "\"\\u0000";
    const std::string_view text(written);
    QByteArray result;
    result.reserve(static_cast<qsizetype>(text.size()));
    std::size_t position = 0;
    for (std::size_t start = text.find(PlaceholderStart); start != std::string_view::npos;
         start = text.find(PlaceholderStart, position)) {
        const std::size_t digits = start + PlaceholderStart.size();
        const std::size_t end = text.find('"', digits);
        if (end == std::string_view::npos)
            break;
        std::size_t index = numbers.size();
        std::from_chars(text.data() + digits, text.data() + end, index);
        if (index >= numbers.size())
            break;
        result.append(text.data() + position, static_cast<qsizetype>(start - position));
        result.append(numbers[index]);
        position = end + 1;
    }
    result.append(text.data() + position, static_cast<qsizetype>(text.size() - position));
    return result;
}

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
    json_error_t error;
    std::unique_ptr<json_t, JsonValueDeleter> root(
        json_loadb(utf8.constData(), static_cast<size_t>(utf8.size()), 0, &error));
    // The texts that placeholders stand for: integers Jansson cannot hold, then reals.
    std::vector<QByteArray> numbers;
    if (!root && json_error_code(&error) == json_error_numeric_overflow) {
        if (const std::optional<QByteArray> replaced = withLongIntegersReplaced(utf8, numbers)) {
            root.reset(json_loadb(replaced->constData(), static_cast<size_t>(replaced->size()), JSON_ALLOW_NUL, nullptr));
        }
    }
    // A document that still fails is reported as the first parse found it.
    if (!root) {
        return KafkaError(KafkaErrorCode::JsonParseError,
            QStringLiteral("A parse error occurred when pretty printing the JSON document at line %1, column %2: %3")
                .arg(QString::number(error.line), QString::number(error.column), QString::fromUtf8(error.text)));
    }
    // The indentation alone is counted first; numbers may still come out a
    // few times longer than written, which the length of the result shows.
    qsizetype indentation = 0;
    addIndentation(root.get(), 0, maxBytes, indentation);
    if (indentation > maxBytes) {
        return tooLong(KafkaErrorCode::JsonParseError, "JSON", maxBytes);
    }
    replaceRealsByPlaceholders(root.get(), numbers);
    const std::unique_ptr<char, JsonBufferDeleter> buffer(json_dumps(root.get(), JSON_INDENT(2)));
    if (!buffer) {
        return KafkaError(KafkaErrorCode::JsonParseError,
            QStringLiteral("A write error occurred when pretty printing the JSON document"));
    }
    QByteArray withNumbers;
    QByteArrayView written(buffer.get());
    if (!numbers.empty()) {
        withNumbers = withNumbersInPlace(buffer.get(), numbers);
        written = withNumbers;
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
