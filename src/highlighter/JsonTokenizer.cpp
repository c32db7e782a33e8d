#include "JsonTokenizer.h"

#include <algorithm>

namespace Highlighting {

namespace {

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool isNumberPart(QChar c)
{
    return (c >= u'0' && c <= u'9') || c == u'.' || c == u'e' || c == u'E' || c == u'+' || c == u'-';
}

bool isWordPart(QChar c)
{
    return c.isLetterOrNumber() || c == u'_';
}

// The length of the escape at `at` (a backslash): \uXXXX or a backslash and
// one character; a backslash at the end of the line stands alone.
qsizetype escapeLength(QStringView line, qsizetype at)
{
    if (at + 1 >= line.size()) {
        return 1;
    }
    if (line[at + 1] != u'u') {
        return 2;
    }
    qsizetype length = 2;
    while (length < 6 && at + length < line.size() && isHexDigit(line[at + length])) {
        ++length;
    }
    return length;
}

// The position after the string opening at `at`: after its closing quote,
// or the end of the line for an unterminated string.
qsizetype stringEnd(QStringView line, qsizetype at)
{
    qsizetype end = at + 1;
    while (end < line.size() && line[end] != u'"') {
        end += line[end] == u'\\' ? escapeLength(line, end) : 1;
    }
    return std::min(end + 1, line.size());
}

// Styles the string opening at `at` and returns the position after it.
qsizetype string(QStringView line, qsizetype at, const SpanSink& sink)
{
    const qsizetype end = stringEnd(line, at);
    qsizetype next = end;
    while (next < line.size() && line[next].isSpace()) {
        ++next;
    }
    const bool isKey = next < line.size() && line[next] == u':';
    sink(int(at), int(end - at), isKey ? TextStyle::Key : TextStyle::String);

    for (qsizetype i = at + 1; i < end;) {
        if (line[i] == u'\\') {
            const qsizetype length = escapeLength(line, i);
            sink(int(i), int(length), TextStyle::Escape);
            i += length;
        } else {
            ++i;
        }
    }
    return end;
}

} // namespace

void JsonTokenizer::tokenize(QStringView line, const SpanSink& sink)
{
    qsizetype at = 0;
    while (at < line.size()) {
        const QChar c = line[at];
        qsizetype end = at + 1;
        if (c == u'"') {
            end = string(line, at, sink);
        } else if (c == u'{' || c == u'}' || c == u'[' || c == u']' || c == u',' || c == u':') {
            sink(int(at), 1, TextStyle::Punctuation);
        } else if (c == u'-' || (c >= u'0' && c <= u'9')) {
            while (end < line.size() && isNumberPart(line[end])) {
                ++end;
            }
            sink(int(at), int(end - at), TextStyle::Number);
        } else if (isWordPart(c)) {
            while (end < line.size() && isWordPart(line[end])) {
                ++end;
            }
            const QStringView word = line.sliced(at, end - at);
            if (word == u"true" || word == u"false" || word == u"null") {
                sink(int(at), int(end - at), TextStyle::Keyword);
            }
        }
        at = end;
    }
}

} // namespace Highlighting
