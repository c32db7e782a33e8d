#include "MeasuredComboBox.h"

#include <QAbstractItemModel>
#include <QEvent>
#include <QFontMetricsF>
#include <QStyle>
#include <QStyleOptionComboBox>

#include <algorithm>
#include <cmath>

MeasuredComboBox::MeasuredComboBox(QWidget* parent)
    : QComboBox(parent)
{
    QAbstractItemModel* items = model();
    connect(items, &QAbstractItemModel::rowsInserted, this, &MeasuredComboBox::forgetWidestItemText);
    connect(items, &QAbstractItemModel::rowsRemoved, this, &MeasuredComboBox::forgetWidestItemText);
    connect(items, &QAbstractItemModel::dataChanged, this, &MeasuredComboBox::forgetWidestItemText);
    connect(items, &QAbstractItemModel::modelReset, this, &MeasuredComboBox::forgetWidestItemText);
}

int MeasuredComboBox::widestText(const QStringList& texts, const QFontMetrics& metrics)
{
    int widest = 0;
    for (const QString& text : texts)
        widest = std::max(widest, metrics.boundingRect(text).width());
    return widest;
}

void MeasuredComboBox::setWidestItemText(int width)
{
    widestItemText = width;
    updateGeometry();
}

QSize MeasuredComboBox::sizeHint() const
{
    if (widestItemText < 0 || sizeAdjustPolicy() != AdjustToContents || count() == 0)
        return QComboBox::sizeHint();
    // As QComboBox computes it, with the widest text as given.
    const QFontMetrics metrics = fontMetrics();
    QSize contents(widestItemText, std::max(int(std::ceil(QFontMetricsF(metrics).height())), 14) + 2);
    if (minimumContentsLength() > 0)
        contents.setWidth(std::max(contents.width(), minimumContentsLength() * metrics.horizontalAdvance(QLatin1Char('X'))));
    if (!placeholderText().isEmpty())
        contents.setWidth(std::max(contents.width(), metrics.boundingRect(placeholderText()).width()));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    return style()->sizeFromContents(QStyle::CT_ComboBox, &option, contents, this);
}

void MeasuredComboBox::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        forgetWidestItemText();
    QComboBox::changeEvent(event);
}

void MeasuredComboBox::forgetWidestItemText()
{
    widestItemText = -1;
}
