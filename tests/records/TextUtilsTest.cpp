#include "TextUtils.h"

#include <jansson.h>

#include <QTemporaryFile>
#include <QTest>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

// One line per outcome: the text, or "error <code>: <message>".
QString describe(const Result<QString, KafkaError>& result)
{
    if (result.isError())
        return QString("error %1: %2").arg(QString::number(int(result.error().code)), result.error().message);
    return result.value();
}

// What `work` writes to the standard error stream.
template <typename Work>
QByteArray standardErrorOf(Work work)
{
    QTemporaryFile file;
    const int saved = ::dup(STDERR_FILENO);
    if (!file.open() || ::dup2(file.handle(), STDERR_FILENO) < 0)
        return "<not captured>";
    work();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    file.seek(0);
    return file.readAll();
}

struct JsonDeleter {
    void operator()(json_t* value) const { json_decref(value); }
};
using Json = std::unique_ptr<json_t, JsonDeleter>;

// How the pretty printer's outcome compares with Jansson's reading of
// `document`, NULs in strings allowed: "refused alike" (with Jansson's error
// as the message), "read alike" (the formatted text reads back to the values
// Jansson read), or what differs.
QString againstJansson(const QByteArray& document)
{
    json_error_t error;
    const Json read(json_loadb(document.constData(), size_t(document.size()), JSON_ALLOW_NUL, &error));
    const QString printed = describe(::prettyPrintJson(QString::fromUtf8(document)));
    if (!read) {
        const QString refused = "error 184: A parse error occurred when pretty printing the JSON document at "
            + QString("line %1, column %2: %3")
                  .arg(QString::number(error.line), QString::number(error.column), QString::fromUtf8(error.text));
        return printed == refused ? "refused alike" : printed + " instead of " + refused;
    }
    const QByteArray written = printed.toUtf8();
    const Json reread(json_loadb(written.constData(), size_t(written.size()), JSON_ALLOW_NUL, nullptr));
    return reread && json_equal(read.get(), reread.get()) ? "read alike" : "other values: " + printed;
}

// A random JSON document of numbers Jansson can hold, strings (keys repeat)
// and literals, given up to two random edits among the characters that make
// or break numbers, strings and structure.
void appendRandomValue(QByteArray& json, std::mt19937& random, int depth)
{
    static const std::vector<const char*> Numbers { "0", "-0", "7", "1.10", "1e2", "-12.5E-3", "0.0e+0", "42", "3.0" };
    static const std::vector<const char*> Scalars { "\"a\"", "\"\\u0000\"", "\"\\\"1\\\\\"", "true", "null" };
    static const std::vector<const char*> Keys { "\"a\":", "\"b\":", "\"\\\"\":" };
    const auto pick = [&random](const std::vector<const char*>& items) { return items[random() % items.size()]; };
    const unsigned kind = depth == 0 ? 2 + random() % 2 : random() % (depth < 3 ? 4 : 2);
    if (kind < 2) {
        json += pick(kind == 0 ? Numbers : Scalars);
        return;
    }
    json += kind == 2 ? '[' : '{';
    const unsigned count = random() % 4;
    for (unsigned i = 0; i < count; ++i) {
        json += i > 0 ? "," : "";
        json += kind == 3 ? pick(Keys) : "";
        appendRandomValue(json, random, depth + 1);
    }
    json += kind == 2 ? ']' : '}';
}

QByteArray randomDocument(std::mt19937& random)
{
    static const QByteArray EditCharacters("01-+.eE,:\"\\ [}x\0", 16);
    QByteArray json;
    appendRandomValue(json, random, 0);
    for (unsigned edits = random() % 3; edits > 0; --edits) {
        const auto at = qsizetype(random() % (json.size() + 1));
        if (random() % 2 == 0 && at < json.size())
            json.remove(at, 1);
        else
            json.insert(at, EditCharacters[qsizetype(random() % EditCharacters.size())]);
    }
    return json;
}

// Jansson's allocator in prettyPrintJsonWriteFailure: refuses blocks above 1 KiB.
void* limitedMalloc(size_t size) { return size > 1024 ? nullptr : std::malloc(size); }

} // namespace

class TextUtilsTest : public QObject {
    Q_OBJECT

private slots:
    void prettyPrint_data()
    {
        QTest::addColumn<bool>("xml");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");

        const QString jsonError = "error 184: A parse error occurred when pretty printing the JSON document at ";
        QTest::newRow("keys keep document order")
            << false << R"({"b":1,"a":[true,null,"x"]})"
            << "{\n  \"b\": 1,\n  \"a\": [\n    true,\n    null,\n    \"x\"\n  ]\n}";
        QTest::newRow("real as written") << false << "[0.1]" << "[\n  0.1\n]";
        QTest::newRow("reals as written")
            << false << R"({"price":33.08,"sizes":[1.10,2.50]})"
            << "{\n  \"price\": 33.08,\n  \"sizes\": [\n    1.10,\n    2.50\n  ]\n}";
        QTest::newRow("reals no double holds")
            << false << R"({"amount":12345678901234567.89,"rate":1.10,"sci":6.02214076e23,"big":9007199254740993.0})"
            << "{\n  \"amount\": 12345678901234567.89,\n  \"rate\": 1.10,\n  \"sci\": 6.02214076e23,\n"
               "  \"big\": 9007199254740993.0\n}";
        QTest::newRow("reals beyond the range of doubles")
            << false << "{\"f\":1.0e400,\"g\":[-1E+400,1e-400,0.1000000000000000055511151231257827,-0,-0.0e-0]}"
            << "{\n  \"f\": 1.0e400,\n  \"g\": [\n    -1E+400,\n    1e-400,\n    0.1000000000000000055511151231257827,\n"
               "    -0,\n    -0.0e-0\n  ]\n}";
        QTest::newRow("reals at their limits")
            << false << "[0.30000000000000004,-0.0,5e-324,1.7976931348623157e308,2.2250738585072014e-308]"
            << "[\n  0.30000000000000004,\n  -0.0,\n  5e-324,\n  1.7976931348623157e308,\n  2.2250738585072014e-308\n]";
        QTest::newRow("exponents as written")
            << false << "[1e2,1E+16,1e17,-12345678901234567e-9,0.0001,1e-5]"
            << "[\n  1e2,\n  1E+16,\n  1e17,\n  -12345678901234567e-9,\n  0.0001,\n  1e-5\n]";
        QTest::newRow("reals among strings, integers and duplicate keys")
            << false << "{\"a\":\"0.1\",\"b\":[7,{\"c\":0.5}],\"a\":[0.25],\"\\\"\":\"\\\\u0000\"}"
            << "{\n  \"a\": [\n    0.25\n  ],\n  \"b\": [\n    7,\n    {\n      \"c\": 0.5\n    }\n  ],\n  \"\\\"\": \"\\\\u0000\"\n}";
        QTest::newRow("integers beyond 64 bits as written")
            << false
            << R"({"id":18446744073709551615,"ids":[9223372036854775808,-9223372036854775809,)"
               R"(123456789012345678901234567890,9223372036854775807,-9223372036854775808,0.5],"n":{"x":1e2}})"
            << "{\n  \"id\": 18446744073709551615,\n  \"ids\": [\n    9223372036854775808,\n    -9223372036854775809,\n"
               "    123456789012345678901234567890,\n    9223372036854775807,\n    -9223372036854775808,\n"
               "    0.5\n  ],\n  \"n\": {\n    \"x\": 1e2\n  }\n}";
        QTest::newRow("digits in strings untouched")
            << false
            << "{\"18446744073709551615\":\"18446744073709551615\",\"s\":\"a\\\"99999999999999999999\\\\\","
               "\"t\":[-99999999999999999999]}"
            << "{\n  \"18446744073709551615\": \"18446744073709551615\",\n  \"s\": \"a\\\"99999999999999999999\\\\\",\n"
               "  \"t\": [\n    -99999999999999999999\n  ]\n}";
        QTest::newRow("long integer and an escaped NUL")
            << false << "[18446744073709551615,\"\\u0000\"]" << "[\n  18446744073709551615,\n  \"\\u0000\"\n]";
        QTest::newRow("NULs in strings")
            << false << "{\"a\":\"x\\u0000y\",\"b\":[\"\\u0000\",\"\\u00001\",2]}"
            << "{\n  \"a\": \"x\\u0000y\",\n  \"b\": [\n    \"\\u0000\",\n    \"\\u00001\",\n    2\n  ]\n}";
        QTest::newRow("NULs in keys")
            << false << "{\"a\\u0000\":1,\"b\":{\"\\u0000\\u0000\":\"\\u0000\"}}"
            << "{\n  \"a\\u0000\": 1,\n  \"b\": {\n    \"\\u0000\\u0000\": \"\\u0000\"\n  }\n}";
        QTest::newRow("repeated key with a NUL: the later value, no other key")
            << false << R"({"k\u0000":1,"k":2,"k\u0000":3,"\u006b\u0000":4.0})"
            << "{\n  \"k\\u0000\": 4.0,\n  \"k\": 2\n}";
        // The first private-use characters stand in the document (as
        // themselves, escaped, and in an escaped backslash's text): a NUL in a
        // key is still told apart from each.
        QTest::newRow("NUL in a key beside private-use characters")
            << false
            << "{\"\\uE001\":\"\uE000\",\"\\\\uE002\":0,\"\uE003\\u0000\":1,\"\\u0000\":\"\\\\u0000\"}"
            << "{\n  \"\uE001\": \"\uE000\",\n  \"\\\\uE002\": 0,\n  \"\uE003\\u0000\": 1,\n"
               "  \"\\u0000\": \"\\\\u0000\"\n}";
        QTest::newRow("repeated key: the later number in the first place")
            << false << R"({"a":1.50,"b":[2e0],"a":-0.0e0})" << "{\n  \"a\": -0.0e0,\n  \"b\": [\n    2e0\n  ]\n}";
        QTest::newRow("long integer in an invalid document")
            << false << "[18446744073709551615,]"
            << jsonError + "line 1, column 21: too big integer near '18446744073709551615'";
        QTest::newRow("leading zero") << false << "[018446744073709551615]"
                                      << jsonError + "line 1, column 2: invalid token near '0'";
        QTest::newRow("non-ASCII JSON stays UTF-8")
            << false << R"({"été":"Noël \u00e0"})" << "{\n  \"été\": \"Noël à\"\n}";
        QTest::newRow("bare number") << false << "42" << jsonError + "line 1, column 2: '[' or '{' expected near '42'";
        QTest::newRow("unclosed object")
            << false << "{\n  \"a\": 1\n" << jsonError + "line 3, column 0: '}' expected near end of file";

        const QString declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        QTest::newRow("one line nested") << true << "<a><b>1</b><c x=\"y\"><d/></c></a>"
                                         << declaration + "<a>\n  <b>1</b>\n  <c x=\"y\">\n    <d/>\n  </c>\n</a>\n";
        QTest::newRow("already indented kept") << true << "<a>\n    <b>1</b>\n</a>" << declaration + "<a>\n    <b>1</b>\n</a>\n";
        QTest::newRow("non-ASCII XML stays characters")
            << true << "<a t=\"é\"><b>Noël à l'été</b></a>" << declaration + "<a t=\"é\">\n  <b>Noël à l'été</b>\n</a>\n";
        QTest::newRow("declared encoding ignored: the text is Unicode")
            << true << "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>été</a>" << declaration + "<a>été</a>\n";
        QTest::newRow("character references become characters")
            << true << "<a>&#233;&#x20AC;&amp;</a>" << declaration + "<a>é€&amp;</a>\n";
        QTest::newRow("not XML") << true << "not xml"
                                 << "error 185: A parse error occurred when pretty printing the XML document";
    }

    void prettyPrint()
    {
        QFETCH(bool, xml);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(describe(xml ? ::prettyPrintXml(input) : ::prettyPrintJson(input)), expected);
    }

    // XML bytes are read as their byte-order mark or declaration say; bytes
    // that are not what they declare are read as UTF-8 text.
    void prettyPrintXmlBytes_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("expected");
        const QString declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        QTest::newRow("ISO-8859-1") << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xE9</a>")
                                    << declaration + "<a>café</a>\n";
        QTest::newRow("UTF-16 with BOM") << QByteArray::fromHex("fffe3c006100200074003d002200ac2022003e00e9003c002f0061003e00")
                                         << declaration + "<a t=\"€\">é</a>\n";
        QTest::newRow("labelled UTF-16, UTF-8 content")
            << QByteArray("<?xml version=\"1.0\" encoding=\"utf-16\"?><a>caf\xC3\xA9</a>") << declaration + "<a>café</a>\n";
        QTest::newRow("unknown encoding")
            << QByteArray("<?xml version=\"1.0\" encoding=\"x-unknown\"?><a>caf\xC3\xA9</a>") << declaration + "<a>café</a>\n";
        QTest::newRow("not XML either way") << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xE9")
                                            << "error 185: A parse error occurred when pretty printing the XML document";
    }

    void prettyPrintXmlBytes()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, expected);
        QCOMPARE(describe(::prettyPrintXml(input)), expected);
    }

    // Any finite double comes back as a real that reads back to the same bits.
    void realsReadBack()
    {
        constexpr int Samples = 20000;
        std::mt19937_64 random(20260);
        for (int sample = 0; sample < Samples; ++sample) {
            const double value = std::bit_cast<double>(random());
            if (!std::isfinite(value))
                continue;
            const QString printed = ::prettyPrintJson("[" + QString::number(value, 'e', 16) + "]").value();
            const QString text = printed.mid(4, printed.size() - 6);
            QVERIFY2(text.contains('.') || text.contains('e'), qPrintable(text));
            QCOMPARE(std::bit_cast<quint64>(std::strtod(text.toLatin1().constData(), nullptr)),
                std::bit_cast<quint64>(value));
        }
    }

    // The numbers are read apart from Jansson, which must still accept and
    // refuse the same documents (the same message) and read the formatted
    // text back to the same values.
    void readsAsJansson_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("outcome");
        const QString refused = "refused alike";
        QTest::newRow("point after a fraction") << QByteArray("[1.5.3]") << refused;
        QTest::newRow("exponent after an exponent") << QByteArray("[1e5e3,2]") << refused;
        QTest::newRow("minus after a number") << QByteArray("[7,5-3]") << refused;
        QTest::newRow("leading zeros") << QByteArray("[0,01]") << refused;
        QTest::newRow("negative leading zero") << QByteArray("[-00.5]") << refused;
        QTest::newRow("point without digits") << QByteArray("[1.e5]") << refused;
        QTest::newRow("exponent without digits") << QByteArray("[1e+]") << refused;
        QTest::newRow("lone minus") << QByteArray("[-,1]") << refused;
        QTest::newRow("number as a key") << QByteArray("{1:2}") << refused;
        QTest::newRow("letters around numbers") << QByteArray("[true1]") << refused;
        QTest::newRow("number after a string") << QByteArray("[\"a\"1]") << refused;
        QTest::newRow("number after the document") << QByteArray("[1] 2") << refused;
        QTest::newRow("NUL before the fault") << QByteArray("[\"\\u0000\",1,]") << refused;
        QTest::newRow("digits in an unclosed string") << QByteArray("[\"1,2]") << refused;
        QTest::newRow("invalid escape before digits") << QByteArray("[\"\\u12\"3]") << refused;
        QTest::newRow("nesting deeper than Jansson reads")
            << QByteArray("[").repeated(2049) + "1" + QByteArray("]").repeated(2049) << refused;
        QTest::newRow("escaped quotes and backslashes before numbers")
            << QByteArray("[\"\\\\\",1,\"\\\"\",-2,\"\\\\\\\"\",{\"3\":4}]") << QString("read alike");
        QTest::newRow("NUL byte right after an integer") << QByteArray("[1\0,2]", 6) << QString("read alike");
        QTest::newRow("NUL byte right after a real") << QByteArray("[-2.5\0]", 7) << QString("read alike");
        QTest::newRow("NUL byte after a blank") << QByteArray("[1 \0]", 5) << refused;
        QTest::newRow("white space around numbers") << QByteArray("[ 1 ,\t-2.5e+3\r\n]") << QString("read alike");
    }

    void readsAsJansson()
    {
        QFETCH(QByteArray, document);
        QFETCH(QString, outcome);
        QCOMPARE(againstJansson(document), outcome);
    }

    void randomDocumentsReadAsJansson()
    {
        constexpr int Samples = 20000;
        std::mt19937 random(4711);
        int readAlike = 0;
        for (int sample = 0; sample < Samples; ++sample) {
            const QByteArray document = randomDocument(random);
            const QString outcome = againstJansson(document);
            QVERIFY2(outcome == "read alike" || outcome == "refused alike", qPrintable(document + " -> " + outcome));
            readAlike += outcome == "read alike" ? 1 : 0;
        }
        // Both ways are taken often.
        QVERIFY(readAlike > Samples / 4 && readAlike < Samples * 3 / 4);
    }

    // libxml2 prints nothing, also when two threads print at once as the GUI
    // and filter threads do: its diagnostics become the error's causes.
    void xmlProblemsAreCollected_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QStringList>("causes");
        QTest::newRow("not XML") << "not xml" << QStringList { "185 Line 1, column 1: Start tag expected, '<' not found" };
        QTest::newRow("mismatched tags")
            << "<a>\n<secret>p4ss</a>"
            << QStringList { "185 Line 2, column 17: Opening and ending tag mismatch: secret line 2 and a",
                   "185 Line 2, column 17: Premature end of data in tag a line 1" };
    }

    void xmlProblemsAreCollected()
    {
        QFETCH(QString, input);
        QFETCH(QStringList, causes);
        std::vector<Result<QString, KafkaError>> results(2);
        QCOMPARE(standardErrorOf([&] {
            std::vector<std::jthread> threads;
            for (auto& result : results)
                threads.emplace_back([&result, &input] { result = ::prettyPrintXml(input); });
        }),
            QByteArray());
        for (const auto& result : results) {
            QStringList described;
            for (const KafkaError& cause : result.error().causes)
                described.append(QString("%1 %2").arg(QString::number(int(cause.code)), cause.message));
            QCOMPARE(described, causes);
        }
    }

    // A serializer that cannot allocate its output fails instead of returning
    // an empty document: parsing needs only small blocks, the output a large one.
    // A result longer than the given bound is refused: deep nesting (found
    // before anything is written), the numbers' texts, XML indentation.
    void prettyPrintBounded_data()
    {
        QTest::addColumn<bool>("xml");
        QTest::addColumn<QString>("input");
        QTest::addColumn<qsizetype>("maxBytes");
        QTest::addColumn<QString>("expected");
        const QString nested = QString("[").repeated(40) + QString("]").repeated(40);
        const QString nestedPretty = ::prettyPrintJson(nested).value();
        QTest::newRow("nesting within the bound") << false << nested << nestedPretty.toUtf8().size() << nestedPretty;
        // Over two thousand lines of indentation up to 2,000 blanks each.
        QTest::newRow("deep nesting") << false << QString("[").repeated(1000) + QString("]").repeated(1000)
                                      << qsizetype(1'000'000)
                                      << "error 184: The pretty-printed JSON document would be longer than 1000000 bytes";
        QTest::newRow("numbers over the bound") << false << "[1e2,1e2]" << qsizetype(15)
                                                << "error 184: The pretty-printed JSON document would be longer than 15 bytes";
        QTest::newRow("numbers within the bound")
            << false << "[1e2,1e2]" << qsizetype(16) << "[\n  1e2,\n  1e2\n]";
        QTest::newRow("XML indentation") << true << QString("<a>").repeated(50) + QString("</a>").repeated(50)
                                         << qsizetype(2000)
                                         << "error 186: The pretty-printed XML document would be longer than 2000 bytes";
    }

    void prettyPrintBounded()
    {
        QFETCH(bool, xml);
        QFETCH(QString, input);
        QFETCH(qsizetype, maxBytes);
        QFETCH(QString, expected);
        QCOMPARE(describe(xml ? ::prettyPrintXml(input, maxBytes) : ::prettyPrintJson(input, maxBytes)), expected);
    }

    void prettyPrintJsonWriteFailure()
    {
        const QString nested = QString("[").repeated(60) + QString("]").repeated(60);
        QVERIFY(::prettyPrintJson(nested).hasValue());
        json_malloc_t previousMalloc = nullptr;
        json_free_t previousFree = nullptr;
        json_get_alloc_funcs(&previousMalloc, &previousFree);
        json_set_alloc_funcs(&limitedMalloc, &std::free);
        const QString failed = describe(::prettyPrintJson(nested));
        json_set_alloc_funcs(previousMalloc, previousFree);
        QCOMPARE(failed, "error 184: A write error occurred when pretty printing the JSON document");
    }
};

QTEST_GUILESS_MAIN(TextUtilsTest)
#include "TextUtilsTest.moc"
