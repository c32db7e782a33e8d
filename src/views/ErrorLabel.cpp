#include "ErrorLabel.h"

#include <QColor>
#include <QFont>
#include <QPalette>

ErrorLabel::ErrorLabel(QWidget* parent)
    : QLabel(parent)
{
    // Set in the label's own palette, so a later change of the application
    // palette leaves the banner amber.
    QPalette banner = palette();
    const QColor textColor = banner.color(QPalette::HighlightedText);
    banner.setBrush(backgroundRole(), QBrush(QColor(224, 183, 22)));
    banner.setBrush(foregroundRole(), QBrush(textColor));
    setPalette(banner);

    QFont medium = font();
    medium.setWeight(QFont::Medium);
    setFont(medium);

    setAutoFillBackground(true);
    setFrameShape(QFrame::Box);
    setLineWidth(0);
    setMargin(6);
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard | Qt::LinksAccessibleByMouse);
    setWordWrap(true);
}
