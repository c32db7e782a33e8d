#include "VisibleTextDelegate.h"

#include "VisibleText.h"

VisibleTextDelegate::VisibleTextDelegate(QObject* parent)
    : QStyledItemDelegate(parent)
{
}

QString VisibleTextDelegate::displayText(const QVariant& value, const QLocale& locale) const
{
    return visibleText(QStyledItemDelegate::displayText(value, locale));
}
