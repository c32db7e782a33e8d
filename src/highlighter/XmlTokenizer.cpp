#include "XmlTokenizer.h"

namespace Highlighting {

namespace {

enum State {
    Text,
    Tag, // after an element name, among attributes
    DoubleQuotedValue,
    SingleQuotedValue,
    Comment,
    CData,
    ProcessingInstruction,
    Doctype,
    DoctypeSubset, // inside the [ ] of a document type declaration
};

bool isNameStart(QChar c)
{
    return c.isLetter() || c == u'_' || c == u':';
}

bool isNamePart(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u':' || c == u'-' || c == u'.';
}

// One line on its way through the states.
class Scanner {
public:
    Scanner(QStringView line, State state, const SpanSink& sink)
        : m_line(line)
        , m_state(state)
        , m_sink(sink)
    {
    }

    State run()
    {
        while (m_at < m_line.size()) {
            switch (m_state) {
            case Text:
                text();
                break;
            case Tag:
                tag();
                break;
            case DoubleQuotedValue:
            case SingleQuotedValue:
                quotedValue(m_at);
                break;
            case Comment:
                delimited(m_at, u"-->", TextStyle::Comment);
                break;
            case CData:
                delimited(m_at, u"]]>", TextStyle::CData);
                break;
            case ProcessingInstruction:
                delimited(m_at, u"?>", TextStyle::ProcessingInstruction);
                break;
            case Doctype:
            case DoctypeSubset:
                doctype(m_at);
                break;
            }
        }
        return m_state;
    }

private:
    bool startsWith(QStringView text) const { return m_line.sliced(m_at).startsWith(text); }

    void mark(qsizetype start, qsizetype end, TextStyle style) const { m_sink(int(start), int(end - start), style); }

    qsizetype nameEnd(qsizetype from) const
    {
        while (from < m_line.size() && isNamePart(m_line[from])) {
            ++from;
        }
        return from;
    }

    // Character data up to the next markup; references in it are styled.
    void text()
    {
        const QChar c = m_line[m_at];
        if (c == u'&') {
            m_at = entity(m_at);
        } else if (c != u'<') {
            ++m_at;
        } else if (startsWith(u"<!--")) {
            m_state = Comment;
            delimited(m_at + 4, u"-->", TextStyle::Comment);
        } else if (startsWith(u"<![CDATA[")) {
            m_state = CData;
            delimited(m_at + 9, u"]]>", TextStyle::CData);
        } else if (startsWith(u"<?")) {
            m_state = ProcessingInstruction;
            delimited(m_at + 2, u"?>", TextStyle::ProcessingInstruction);
        } else if (startsWith(u"<!DOCTYPE")) {
            m_state = Doctype;
            doctype(m_at + 9);
        } else {
            const qsizetype nameStart = m_at + (startsWith(u"</") ? 2 : 1);
            if (nameStart < m_line.size() && isNameStart(m_line[nameStart])) {
                const qsizetype end = nameEnd(nameStart);
                mark(m_at, end, TextStyle::Element);
                m_at = end;
                m_state = Tag;
            } else {
                ++m_at;
            }
        }
    }

    // Attribute names and values up to the end of the tag.
    void tag()
    {
        const QChar c = m_line[m_at];
        if (c == u'>' || (c == u'/' && startsWith(u"/>"))) {
            const qsizetype end = m_at + (c == u'>' ? 1 : 2);
            mark(m_at, end, TextStyle::Element);
            m_at = end;
            m_state = Text;
        } else if (c == u'"' || c == u'\'') {
            m_state = c == u'"' ? DoubleQuotedValue : SingleQuotedValue;
            quotedValue(m_at + 1);
        } else if (isNameStart(c)) {
            const qsizetype end = nameEnd(m_at);
            mark(m_at, end, TextStyle::Attribute);
            m_at = end;
        } else {
            ++m_at;
        }
    }

    // The attribute value from m_at, whose closing quote is searched from `from`.
    void quotedValue(qsizetype from)
    {
        const QChar quote = m_state == DoubleQuotedValue ? u'"' : u'\'';
        const qsizetype found = m_line.indexOf(quote, from);
        const qsizetype end = found < 0 ? m_line.size() : found + 1;
        mark(m_at, end, TextStyle::AttributeValue);
        for (qsizetype i = m_at; i < end;) {
            i = m_line[i] == u'&' ? entity(i) : i + 1;
        }
        m_at = end;
        if (found >= 0) {
            m_state = Tag;
        }
    }

    // A construct from m_at whose terminator is searched from `from`; the
    // state is left as it is while the terminator is not on this line.
    void delimited(qsizetype from, QStringView terminator, TextStyle style)
    {
        const qsizetype found = m_line.indexOf(terminator, from);
        const qsizetype end = found < 0 ? m_line.size() : found + terminator.size();
        mark(m_at, end, style);
        m_at = end;
        if (found >= 0) {
            m_state = Text;
        }
    }

    // The document type declaration from m_at: it ends at the first '>'
    // outside its internal subset.
    void doctype(qsizetype from)
    {
        qsizetype end = from;
        while (end < m_line.size() && m_state != Text) {
            const QChar c = m_line[end++];
            if (c == u'[') {
                m_state = DoctypeSubset;
            } else if (c == u']') {
                m_state = Doctype;
            } else if (c == u'>' && m_state == Doctype) {
                m_state = Text;
            }
        }
        mark(m_at, end, TextStyle::Doctype);
        m_at = end;
    }

    // Styles the reference at `at` (an ampersand) if it is one (&name;, &#10;
    // or &#x1F;) and returns the position after what was looked at.
    qsizetype entity(qsizetype at) const
    {
        qsizetype end = at + 1;
        if (end < m_line.size() && m_line[end] == u'#') {
            ++end;
        }
        const qsizetype nameStart = end;
        end = nameEnd(end);
        if (end == nameStart || end >= m_line.size() || m_line[end] != u';') {
            return at + 1;
        }
        mark(at, end + 1, TextStyle::Entity);
        return end + 1;
    }

    QStringView m_line;
    qsizetype m_at = 0;
    State m_state;
    const SpanSink& m_sink;
};

} // namespace

int XmlTokenizer::tokenize(QStringView line, int state, const SpanSink& sink)
{
    const State start = state >= Text && state <= DoctypeSubset ? State(state) : Text;
    return Scanner(line, start, sink).run();
}

} // namespace Highlighting
