#pragma once

// Grabs of the windows that tests show, saved under the build directory's
// screenshots/ for a person to look at.

#include <QDir>
#include <QString>
#include <QWidget>

inline bool saveScreenshot(QWidget& widget, const QString& name)
{
    QDir directory(QStringLiteral(SKELVANE_SCREENSHOT_DIR));
    if (!directory.mkpath(QStringLiteral(".")))
        return false;
    return widget.grab().save(directory.filePath(name + QStringLiteral(".png")));
}
