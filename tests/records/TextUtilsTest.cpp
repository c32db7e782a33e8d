#include "TextUtils.h"

#include <jansson.h>

#include <QTemporaryFile>
#include <QTest>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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
        QTest::newRow("real as the shortest text that reads back") << false << "[0.1]" << "[\n  0.1\n]";
        QTest::newRow("reals as written")
            << false << R"({"price":33.08,"sizes":[1.10,2.50]})"
            << "{\n  \"price\": 33.08,\n  \"sizes\": [\n    1.1,\n    2.5\n  ]\n}";
        QTest::newRow("reals at their limits")
            << false << "[0.30000000000000004,-0.0,5e-324,1.7976931348623157e308,2.2250738585072014e-308]"
            << "[\n  0.30000000000000004,\n  -0.0,\n  5e-324,\n  1.7976931348623157e308,\n  2.2250738585072014e-308\n]";
        QTest::newRow("reals stay reals, exponents without sign or zeros")
            << false << "[1e2,1E+16,1e17,-12345678901234567e-9,0.0001,1e-5]"
            << "[\n  100.0,\n  10000000000000000.0,\n  1e17,\n  -12345678.901234567,\n  0.0001,\n  1e-5\n]";
        QTest::newRow("reals among strings, integers and duplicate keys")
            << false << "{\"a\":\"0.1\",\"b\":[7,{\"c\":0.5}],\"a\":[0.25],\"\\\"\":\"\\\\u0000\"}"
            << "{\n  \"a\": [\n    0.25\n  ],\n  \"b\": [\n    7,\n    {\n      \"c\": 0.5\n    }\n  ],\n  \"\\\"\": \"\\\\u0000\"\n}";
        QTest::newRow("integers beyond 64 bits as written")
            << false
            << R"({"id":18446744073709551615,"ids":[9223372036854775808,-9223372036854775809,)"
               R"(123456789012345678901234567890,9223372036854775807,-9223372036854775808,0.5],"n":{"x":1e2}})"
            << "{\n  \"id\": 18446744073709551615,\n  \"ids\": [\n    9223372036854775808,\n    -9223372036854775809,\n"
               "    123456789012345678901234567890,\n    9223372036854775807,\n    -9223372036854775808,\n"
               "    0.5\n  ],\n  \"n\": {\n    \"x\": 100.0\n  }\n}";
        QTest::newRow("digits in strings untouched")
            << false
            << "{\"18446744073709551615\":\"18446744073709551615\",\"s\":\"a\\\"99999999999999999999\\\\\","
               "\"t\":[-99999999999999999999]}"
            << "{\n  \"18446744073709551615\": \"18446744073709551615\",\n  \"s\": \"a\\\"99999999999999999999\\\\\",\n"
               "  \"t\": [\n    -99999999999999999999\n  ]\n}";
        QTest::newRow("long integer and an escaped NUL")
            << false << "[18446744073709551615,\"\\u0000\"]"
            << jsonError + "line 1, column 21: too big integer near '18446744073709551615'";
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
    // before anything is written), numbers written longer, XML indentation.
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
        QTest::newRow("numbers written longer") << false << "[1e2,1e2]" << qsizetype(19)
                                                << "error 184: The pretty-printed JSON document would be longer than 19 bytes";
        QTest::newRow("numbers within the bound")
            << false << "[1e2,1e2]" << qsizetype(20) << "[\n  100.0,\n  100.0\n]";
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
