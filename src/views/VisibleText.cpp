#include "VisibleText.h"

#include <QStringList>

#include <algorithm>

namespace {

bool isHidden(QChar c)
{
    switch (c.unicode()) {
    case 0x061C: // Arabic letter mark
    case 0x200E: // left-to-right mark
    case 0x200F: // right-to-left mark
    case 0x2028: // line separator
    case 0x2029: // paragraph separator
        return true;
    default:
        // Embeddings, overrides and isolates with their terminators.
        return c.category() == QChar::Other_Control || (c.unicode() >= 0x202A && c.unicode() <= 0x202E)
            || (c.unicode() >= 0x2066 && c.unicode() <= 0x2069);
    }
}

} // namespace

QString visibleText(const QString& text)
{
    if (std::none_of(text.cbegin(), text.cend(), isHidden))
        return text;
    QString shown = text;
    std::replace_if(shown.begin(), shown.end(), isHidden, QChar(QChar::ReplacementCharacter));
    return shown;
}

QString visibleErrorLines(const KafkaError& error)
{
    QStringList lines { visibleText(error.message) };
    for (const KafkaError& cause : error.causes)
        lines.append(visibleText(cause.message));
    return lines.join(QLatin1Char('\n'));
}
