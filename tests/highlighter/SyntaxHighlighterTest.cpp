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

QString styleName(const Theme& theme, const QTextCharFormat& format)
{
    for (int style = 0; style < TextStyleCount; ++style) {
        if (theme.format(TextStyle(style)) == format) {
            return QString::fromLatin1(StyleNames[style]);
        }
    }
    return QStringLiteral("?");
}

// The formats of one block as "style(text)", separated by spaces.
QString describe(const QTextBlock& block, const Theme& theme)
{
    QStringList ranges;
    const QString text = block.text();
    for (const QTextLayout::FormatRange& range : block.layout()->formats()) {
        ranges << styleName(theme, range.format) + '(' + text.mid(range.start, range.length) + ')';
    }
    return ranges.join(' ');
}

// The formats of every block, blocks separated by " | ".
QString describe(const QTextDocument& document, const Theme& theme)
{
    QStringList blocks;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        blocks << describe(block, theme);
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
    // Highlighting after the text is set, and after the definition is switched
    // on text already highlighted with another one.
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
        QTest::newRow("XML tag and value over lines")
            << "" << "XML" << "<a\n  b=\"1\n2\" c='3'\n/>t"
            << "element(<a) | attribute(b) value(\"1) | value(2\") attribute(c) value('3') | element(/>)";
        QTest::newRow("no highlighting for None") << "" << "None" << "{\"a\": 1}" << "";
        QTest::newRow("JSON switched to XML")
            << "JSON" << "XML" << "<a x=\"1\"/>" << "element(<a) attribute(x) value(\"1\") element(/>)";
        QTest::newRow("XML switched to None") << "XML" << "None" << "<a>\n</a>" << " | ";
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

    // A long document is highlighted from the top at once and to its end from
    // the event loop, with the state carried across the slices.
    void longDocument()
    {
        QTextDocument document;
        document.documentLayout();
        auto* highlighter = new SyntaxHighlighter(&document);
        highlighter->setTheme(theme);
        highlighter->setDefinition(repository.definitionForName(QStringLiteral("XML")));
        document.setPlainText("<!-- x\n" + QStringLiteral("<a>\n").repeated(60'000) + "-->\n<b>");

        QCOMPARE(describe(document.findBlockByNumber(1), theme), "comment(<a>)");
        QCOMPARE(describe(document.lastBlock(), theme), "");
        QTRY_COMPARE_WITH_TIMEOUT(describe(document.lastBlock(), theme), "element(<b>)", 60'000);
        QCOMPARE(describe(document.findBlockByNumber(60'000), theme), "comment(<a>)");
    }
};

QTEST_MAIN(SyntaxHighlighterTest)
#include "SyntaxHighlighterTest.moc"
