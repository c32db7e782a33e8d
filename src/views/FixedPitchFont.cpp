#include "FixedPitchFont.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QStringList>

#include <utility>

namespace {

// Narrow and wide characters, digits and the blank: in a fixed-pitch font they
// all advance by the same width.
constexpr QStringView SampleCharacters = u"iIl1.:|_ 0WMm@";

bool hasEqualAdvances(const QFont& font)
{
    const QFontMetricsF metrics(font);
    const qreal advance = metrics.horizontalAdvance(SampleCharacters.front());
    for (const QChar character : SampleCharacters) {
        if (metrics.horizontalAdvance(character) != advance)
            return false;
    }
    return true;
}

} // namespace

QFont fixedPitchFont()
{
    const QFont systemFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (hasEqualAdvances(systemFont))
        return systemFont;
    const QStringList families = QFontDatabase::families();
    QStringList candidates;
    for (const QString& family : families) {
        if (QFontDatabase::isFixedPitch(family))
            candidates.append(family);
    }
    for (const QString& family : families) {
        if (!QFontDatabase::isFixedPitch(family) && family.contains(QStringLiteral("Mono"), Qt::CaseInsensitive))
            candidates.append(family);
    }
    for (const QString& family : std::as_const(candidates)) {
        QFont font = systemFont;
        font.setFamily(family);
        if (hasEqualAdvances(font))
            return font;
    }
    return systemFont;
}
