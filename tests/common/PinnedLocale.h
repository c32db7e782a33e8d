#pragma once

// Tests see the same time zone and locale on every machine. Call before the
// application object exists (from initMain or main).

#include <QByteArray>
#include <QLocale>

#include <ctime>

inline void pinTimeZoneAndLocale()
{
    qputenv("TZ", QByteArrayLiteral("UTC"));
    tzset();
    QLocale::setDefault(QLocale::c());
}
