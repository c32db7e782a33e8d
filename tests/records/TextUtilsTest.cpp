#include "TextUtils.h"

#include <jansson.h>

#include <QTest>

#include <cstdlib>

namespace {

// One line per outcome: the text, or "error <code>: <message>".
QString describe(const Result<QString, KafkaError>& result)
{
    if (result.isError()) {
        const KafkaError& error = result.error();
        return QString("error %1: %2").arg(QString::number(static_cast<int>(error.code)), error.message);
    }
    return result.value();
}

// Jansson's allocator, refusing every request above a limit, for as long as
// the object lives.
class LimitedJsonAllocator {
public:
    explicit LimitedJsonAllocator(size_t limit)
    {
        json_get_alloc_funcs(&m_previousMalloc, &m_previousFree);
        s_limit = limit;
        json_set_alloc_funcs(&limitedMalloc, &std::free);
    }
    ~LimitedJsonAllocator() { json_set_alloc_funcs(m_previousMalloc, m_previousFree); }

    LimitedJsonAllocator(const LimitedJsonAllocator&) = delete;
    LimitedJsonAllocator& operator=(const LimitedJsonAllocator&) = delete;

private:
    static void* limitedMalloc(size_t size) { return size > s_limit ? nullptr : std::malloc(size); }

    static inline size_t s_limit = 0;
    json_malloc_t m_previousMalloc = nullptr;
    json_free_t m_previousFree = nullptr;
};

} // namespace

class TextUtilsTest : public QObject {
    Q_OBJECT

private slots:
    void prettyPrintJson_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");

        QTest::newRow("keys keep document order")
            << R"({"b":1,"a":[true,null,"x"]})"
            << "{\n  \"b\": 1,\n  \"a\": [\n    true,\n    null,\n    \"x\"\n  ]\n}";
        QTest::newRow("nested objects") << R"([{"k":{"n":-2}},{}])"
                                        << "[\n  {\n    \"k\": {\n      \"n\": -2\n    }\n  },\n  {}\n]";
        QTest::newRow("already indented") << "{\n    \"a\" :  1\n}" << "{\n  \"a\": 1\n}";
        QTest::newRow("real with 17 significant digits") << "[0.1]" << "[\n  0.10000000000000001\n]";
        QTest::newRow("non-ASCII stays UTF-8") << R"({"été":"Noël \u00e0"})" << "{\n  \"été\": \"Noël à\"\n}";
        QTest::newRow("later duplicate key wins") << R"({"a":1,"b":2,"a":3})" << "{\n  \"a\": 3,\n  \"b\": 2\n}";
        QTest::newRow("empty array") << "[]" << "[]";

        QTest::newRow("bare number")
            << "42"
            << "error 184: A parse error occurred when pretty printing the JSON document at line 1, column 2: "
               "'[' or '{' expected near '42'";
        QTest::newRow("unclosed object")
            << "{\n  \"a\": 1\n"
            << "error 184: A parse error occurred when pretty printing the JSON document at line 3, column 0: "
               "'}' expected near end of file";
        QTest::newRow("empty text")
            << ""
            << "error 184: A parse error occurred when pretty printing the JSON document at line 1, column 0: "
               "'[' or '{' expected near end of file";
    }

    void prettyPrintJson()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(describe(::prettyPrintJson(input)), expected);
    }

    // A serializer that cannot allocate its output is a failure, not an
    // empty document. Parsing the nested arrays needs only small blocks; the
    // indented output needs a large one.
    void prettyPrintJsonWriteFailure()
    {
        const QString nested = QString("[").repeated(60) + QString("]").repeated(60);
        QVERIFY(::prettyPrintJson(nested).hasValue());

        const LimitedJsonAllocator allocator(1024);
        QCOMPARE(describe(::prettyPrintJson(nested)),
            "error 184: A write error occurred when pretty printing the JSON document");
    }

    void prettyPrintXml_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");

        const QString declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        QTest::newRow("one line nested") << "<a><b>1</b><c x=\"y\"><d/></c></a>"
                                         << declaration + "<a>\n  <b>1</b>\n  <c x=\"y\">\n    <d/>\n  </c>\n</a>\n";
        QTest::newRow("already indented kept")
            << "<a>\n    <b>1</b>\n</a>" << declaration + "<a>\n    <b>1</b>\n</a>\n";
        QTest::newRow("mixed content kept") << "<p>one <b>two</b> three</p>"
                                            << declaration + "<p>one <b>two</b> three</p>\n";
        QTest::newRow("declaration replaced")
            << "<?xml version=\"1.0\" standalone=\"yes\"?><a/>"
            << "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<a/>\n";
        QTest::newRow("non-ASCII stays characters") << "<a t=\"é\"><b>Noël à l'été</b></a>"
                                                    << declaration + "<a t=\"é\">\n  <b>Noël à l'été</b>\n</a>\n";
        QTest::newRow("declared encoding ignored: the text is Unicode")
            << "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>été</a>" << declaration + "<a>été</a>\n";
        QTest::newRow("character references become characters")
            << "<a>&#233;&#x20AC;&amp;</a>" << declaration + "<a>é€&amp;</a>\n";

        QTest::newRow("not XML") << "not xml"
                                 << "error 185: A parse error occurred when pretty printing the XML document";
        QTest::newRow("unclosed element") << "<a><b></a>"
                                          << "error 185: A parse error occurred when pretty printing the XML document";
        QTest::newRow("empty text") << "" << "error 185: A parse error occurred when pretty printing the XML document";
    }

    void prettyPrintXml()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(describe(::prettyPrintXml(input)), expected);
    }
};

QTEST_GUILESS_MAIN(TextUtilsTest)
#include "TextUtilsTest.moc"
