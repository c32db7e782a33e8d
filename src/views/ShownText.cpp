#include "ShownText.h"

#include <algorithm>

QString withLongLinesBroken(QString text, qsizetype maxLineLength)
{
    QString broken;
    qsizetype copied = 0;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\n')) {
            lineStart = i + 1;
            continue;
        }
        if (i - lineStart < maxLineLength)
            continue;
        // A surrogate pair goes to the next line whole.
        const qsizetype at = text.at(i).isLowSurrogate() && i - 1 > lineStart ? i - 1 : i;
        if (broken.isNull())
            broken.reserve(text.size() + text.size() / std::max<qsizetype>(maxLineLength - 1, 1) + 1);
        broken += QStringView(text).sliced(copied, at - copied);
        broken += QLatin1Char('\n');
        copied = at;
        lineStart = at;
    }
    if (broken.isNull())
        return text;
    broken += QStringView(text).sliced(copied);
    return broken;
}

// Every member of a non-empty array or object goes on a line of its own,
// indented by two blanks a level, and the closing bracket on a line of its
// own one level up; a key is followed by ": ".
qsizetype jsonIndentation(QStringView json, qsizetype limit)
{
    qsizetype total = 0;
    qsizetype depth = 0;
    bool inString = false;
    // After an opening bracket, until the first character that is not white
    // space: an empty container adds nothing.
    bool opened = false;
    for (qsizetype i = 0; i < json.size() && total <= limit; ++i) {
        const QChar c = json[i];
        if (inString) {
            if (c == QLatin1Char('\\'))
                ++i;
            else if (c == QLatin1Char('"'))
                inString = false;
            continue;
        }
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            continue;
        const bool closing = c == QLatin1Char(']') || c == QLatin1Char('}');
        if (opened && !closing)
            total += 1 + 2 * depth; // the first member's line
        if (closing) {
            depth = std::max<qsizetype>(depth - 1, 0);
            if (!opened)
                total += 1 + 2 * depth; // the closing bracket's line
        }
        opened = false;
        if (c == QLatin1Char('"')) {
            inString = true;
        } else if (c == QLatin1Char('[') || c == QLatin1Char('{')) {
            ++depth;
            opened = true;
        } else if (c == QLatin1Char(',')) {
            total += 1 + 2 * depth;
        } else if (c == QLatin1Char(':')) {
            total += 1;
        }
    }
    return total;
}
