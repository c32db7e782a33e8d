// Feeds arbitrary text to the preparation of shown text: the indentation
// count of JSON and the breaking of long lines, whose promises it checks.
#include "ShownText.h"

#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the line length, the rest is the text.
    const qsizetype maxLineLength = 2 + data[0] % 32;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    if (jsonIndentation(text, 1 << 20) < 0)
        std::abort();

    const QString broken = withLongLinesBroken(text, maxLineLength);
    // Only line breaks are added (text from UTF-8 holds whole surrogate pairs
    // only, so a break between two halves was added).
    if (QString(broken).remove(QLatin1Char('\n')) != QString(text).remove(QLatin1Char('\n')))
        std::abort();
    for (qsizetype i = 1; i + 1 < broken.size(); ++i) {
        if (broken.at(i) == QLatin1Char('\n') && broken.at(i - 1).isHighSurrogate() && broken.at(i + 1).isLowSurrogate())
            std::abort();
    }
    for (const QString& line : broken.split(QLatin1Char('\n'))) {
        if (line.size() > maxLineLength)
            std::abort();
    }
    return 0;
}
