#include "CustomStyle.h"

#include <QIcon>

CustomStyle::CustomStyle(QStyle* baseStyle)
    : QProxyStyle(baseStyle)
{
}

QIcon CustomStyle::standardIcon(StandardPixmap standardIcon, const QStyleOption* option, const QWidget* widget) const
{
    if (standardIcon == SP_DialogCloseButton)
        return QIcon(QStringLiteral(":/resources/close-16.png"));
    return QProxyStyle::standardIcon(standardIcon, option, widget);
}
