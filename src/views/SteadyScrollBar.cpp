#include "SteadyScrollBar.h"

#include <QStyle>
#include <QStyleOptionSlider>

SteadyScrollBar::SteadyScrollBar(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent)
{
}

SteadyScrollBar::Look SteadyScrollBar::look() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return { style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
        value() == minimum(), value() == maximum() };
}

void SteadyScrollBar::sliderChange(SliderChange change)
{
    // An update already due draws the present state anyway.
    if (change == SliderRangeChange && everDrawn && look() == drawn)
        return;
    QScrollBar::sliderChange(change);
}

void SteadyScrollBar::paintEvent(QPaintEvent* event)
{
    drawn = look();
    everDrawn = true;
    QScrollBar::paintEvent(event);
}
