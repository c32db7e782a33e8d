#include "Repository.h"
#include "SyntaxHighlighter.h"

#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

using namespace Highlighting;

namespace {

// In the order of TextStyle.
const char* const StyleNames[] = { "key", "string", "escape", "number", "keyword", "punctuation", "element",
    "attribute", "value", "entity", "comment", "cdata", "pi", "doctype" };
static_assert(std::size(StyleNames) == TextStyleCount);

// The formats of every block as "style(text)", blocks separated by " | ".
QString describe(const QTextDocument& document, const Theme& theme, int only = -1)
{
    QStringList blocks;
    const QTextBlock end = only < 0 ? QTextBlock() : document.findBlockByNumber(only).next();
    for (QTextBlock block = only < 0 ? document.begin() : document.findBlockByNumber(only);
         block.isValid() && block != end;
         block = block.next()) {
        QStringList ranges;
        for (const QTextLayout::FormatRange& range : block.layout()->formats()) {
            int style = 0;
            while (style < TextStyleCount && theme.format(TextStyle(style)) != range.format)
                ++style;
            const QString text = block.text().mid(range.start, range.length);
            ranges << (style < TextStyleCount ? StyleNames[style] : "?") + ('(' + text + ')');
        }
        blocks << ranges.join(' ');
    }
    return blocks.join(QStringLiteral(" | "));
}

} // namespace

class SyntaxHighlighterTest : public QObject {
    Q_OBJECT

private:
    const Repository repository {};
    const Theme theme = repository.theme(QStringLiteral("ayu Mirage"));

private slots:
    // After the text is set, and after switching the definition of highlighted text.
    void highlighting_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("definition");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");

        QTest::newRow("JSON keys, values, escapes")
            << "" << "JSON" << "{\"a\\\"b\" : \"x\\ny\\u00e9\", \"n\": -1.5e3, \"t\": [true, false, null]}"
            << "punctuation({) key(\"a) escape(\\\") key(b\") punctuation(:) string(\"x) escape(\\n) string(y)"
               " escape(\\u00e9) string(\") punctuation(,) key(\"n\") punctuation(:) number(-1.5e3) punctuation(,)"
               " key(\"t\") punctuation(:) punctuation([) keyword(true) punctuation(,) keyword(false)"
               " punctuation(,) keyword(null) punctuation(]})";
        QTest::newRow("JSON unterminated string, bare word")
            << "" << "JSON" << "[\"ab\\\n  word ]"
            << "punctuation([) string(\"ab) escape(\\) | punctuation(])";
        QTest::newRow("XML tags, attributes, references")
            << "" << "XML" << "<a x=\"1 &amp; 2\" y='&#x41;'>t&lt;&bad</a><b/>"
            << "element(<a) attribute(x) value(\"1 ) entity(&amp;) value( 2\") attribute(y) value(') entity(&#x41;)"
               " value(') element(>) entity(&lt;) element(</a><b/>)";
        QTest::newRow("XML declaration, doctype with subset over lines")
            << "" << "XML" << "<?xml version=\"1.0\"?><!DOCTYPE a [\n<!ENTITY e \"v\">\n]><a>&e;</a>"
            << "pi(<?xml version=\"1.0\"?>) doctype(<!DOCTYPE a [) | doctype(<!ENTITY e \"v\">) | "
               "doctype(]>) element(<a>) entity(&e;) element(</a>)";
        QTest::newRow("XML comment and CDATA over lines")
            << "" << "XML" << "<!-- <a>\n-- -->x<![CDATA[ <b>\n]] ]]><c>"
            << "comment(<!-- <a>) | comment(-- -->) cdata(<![CDATA[ <b>) | cdata(]] ]]>) element(<c>)";
        QTest::newRow("no highlighting for None") << "" << "None" << "{\"a\": 1}" << "";
        QTest::newRow("JSON switched to XML")
            << "JSON" << "XML" << "<a x=\"1\"/>" << "element(<a) attribute(x) value(\"1\") element(/>)";
        QTest::newRow("None switched to JSON") << "None" << "JSON" << "[1]" << "punctuation([) number(1) punctuation(])";
    }

    void highlighting()
    {
        QFETCH(QString, before);
        QFETCH(QString, definition);
        QFETCH(QString, text);
        QFETCH(QString, expected);

        QTextDocument document;
        document.documentLayout(); // without a layout the document reports no changes
        SyntaxHighlighter highlighter(&document);
        highlighter.setTheme(theme);
        highlighter.setDefinition(repository.definitionForName(before.isEmpty() ? definition : before));
        document.setPlainText(text);
        highlighter.setDefinition(repository.definitionForName(definition));
        QCOMPARE(describe(document, theme), expected);
    }

    // A long document: the top at once, the rest from the event loop with the state carried over.
    void longDocument()
    {
        QTextDocument document;
        document.documentLayout();
        auto* highlighter = new SyntaxHighlighter(&document);
        highlighter->setTheme(theme);
        highlighter->setDefinition(repository.definitionForName(QStringLiteral("XML")));
        document.setPlainText("<!-- x\n" + QStringLiteral("<a>\n").repeated(60'000) + "-->\n<b>");

        QCOMPARE(describe(document, theme, 1), "comment(<a>)");
        QCOMPARE(describe(document, theme, document.blockCount() - 1), "");
        QTRY_COMPARE_WITH_TIMEOUT(describe(document, theme, document.blockCount() - 1), "element(<b>)", 60'000);
        QCOMPARE(describe(document, theme, 60'000), "comment(<a>)");
    }
};

QTEST_MAIN(SyntaxHighlighterTest)
#include "SyntaxHighlighterTest.moc"
