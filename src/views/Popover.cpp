#include "Popover.h"

#include <QApplication>
#include <QBitmap>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

namespace {

// Width of the band around the bubble that holds the arrow.
constexpr int bubbleInset = 10;
constexpr int contentsMargin = 16;
// Side of the squares in which the rounded corners are drawn.
constexpr int cornerSize = 15;
constexpr int arrowHalfWidth = 10;

// Start of a centred span of the given length, moved inside [first, last]
// when it sticks out on one side only.
int placeSpan(int anchor, int length, int first, int last)
{
    const int start = anchor - length / 2;
    const int overflowAfter = start + length - last;
    const int overflowBefore = first - start;
    if (overflowAfter > 0 && overflowBefore < 0) {
        return last - length;
    }
    if (overflowBefore > 0 && overflowAfter < 0) {
        return first;
    }
    return start;
}

} // namespace

Popover::Popover(QWidget* parent)
    : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

void Popover::setPosition(const QPoint& point, Position position)
{
    m_point = point;
    m_position = position;
    setContentsMargins(contentsMargin, contentsMargin, contentsMargin, contentsMargin);
}

QRect Popover::bubbleRect() const
{
    return rect().adjusted(bubbleInset, bubbleInset, -bubbleInset, -bubbleInset);
}

void Popover::repositionWidget()
{
    const QWidget* parent = parentWidget();
    if (parent == nullptr || parent->window() == nullptr) {
        return;
    }
    const QRect window = parent->window()->geometry();
    int x = 0;
    int y = 0;
    switch (m_position) {
    case Position::Above:
    case Position::Below:
        x = placeSpan(m_point.x(), width(), window.left(), window.right());
        y = m_position == Position::Above ? m_point.y() - height() : m_point.y();
        break;
    case Position::Left:
    case Position::Right:
        y = placeSpan(m_point.y(), height(), window.top(), window.bottom());
        x = m_position == Position::Left ? m_point.x() - width() : m_point.x();
        break;
    }
    move(x, y);
}

void Popover::mouseReleaseEvent(QMouseEvent* event)
{
    if (!bubbleRect().contains(event->position().toPoint())) {
        close();
    }
}

QPainterPath Popover::bubblePath() const
{
    const QPointF anchor = mapFromGlobal(m_point);
    const qreal left = bubbleInset;
    const qreal top = bubbleInset;
    const qreal right = width() - bubbleInset;
    const qreal bottom = height() - bubbleInset;

    // Clockwise from the left end of the top-left corner; the arrow is drawn
    // on the side that faces the anchor.
    QPainterPath path;
    path.moveTo(left, top + cornerSize / 2.0);
    path.arcTo(left, top, cornerSize, cornerSize, 180, -90);
    if (m_position == Position::Below) {
        path.lineTo(anchor.x() - arrowHalfWidth, top);
        path.lineTo(anchor);
        path.lineTo(anchor.x() + arrowHalfWidth, top);
    }
    path.arcTo(right - cornerSize, top, cornerSize, cornerSize, 90, -90);
    if (m_position == Position::Left) {
        path.lineTo(right, anchor.y() - arrowHalfWidth);
        path.lineTo(anchor);
        path.lineTo(right, anchor.y() + arrowHalfWidth);
    }
    path.arcTo(right - cornerSize, bottom - cornerSize, cornerSize, cornerSize, 0, -90);
    if (m_position == Position::Above) {
        path.lineTo(anchor.x() + arrowHalfWidth, bottom);
        path.lineTo(anchor);
        path.lineTo(anchor.x() - arrowHalfWidth, bottom);
    }
    path.arcTo(left, bottom - cornerSize, cornerSize, cornerSize, 270, -90);
    if (m_position == Position::Right) {
        path.lineTo(left, anchor.y() + arrowHalfWidth);
        path.lineTo(anchor);
        path.lineTo(left, anchor.y() - arrowHalfWidth);
    }
    path.closeSubpath();
    return path;
}

void Popover::drawBubble(QPainter& painter) const
{
    const QPalette palette = QApplication::palette();
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(palette.color(QPalette::AlternateBase));
    pen.setCosmetic(true);
    painter.setPen(pen);
    painter.setBrush(palette.brush(QPalette::Button));
    painter.drawPath(bubblePath());
}

// A screen that shows no translucency (X11 without a compositing manager,
// many remote desktops) shows a translucent window's transparent pixels in
// black. The window is therefore cut to the pixels that the bubble paints,
// its antialiased edge included; where translucency shows, the cut takes
// away only pixels that are transparent anyway.
void Popover::updateMask()
{
    QImage painted(size(), QImage::Format_ARGB32_Premultiplied);
    painted.fill(Qt::transparent);
    {
        QPainter painter(&painted);
        drawBubble(painter);
    }
    // Premultiplied, a pixel left unpainted is exactly 0. In a QBitmap the
    // pixels that match the colour come out clear, the painted ones set.
    setMask(QBitmap::fromImage(painted.createMaskFromColor(qRgba(0, 0, 0, 0), Qt::MaskInColor)));
}

void Popover::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawBubble(painter);
}

void Popover::resizeEvent(QResizeEvent*)
{
    repositionWidget();
    updateMask();
}

void Popover::closeEvent(QCloseEvent*)
{
    emit closed();
}

void Popover::showEvent(QShowEvent*)
{
    repositionWidget();
    updateMask();
}
