#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>

class QPainter;
class QPainterPath;

// A frameless popup drawn as a rounded bubble whose arrow points at an anchor
// point on the screen. The caller places it with setPosition and shows it;
// every show and resize moves it next to the anchor, inside the parent's
// window horizontally (Above, Below) or vertically (Left, Right) where it
// fits. A click outside the bubble closes it, and every close emits closed().
// The window is cut to the bubble, so that nothing around it shows where the
// screen cannot show a translucent window.
class Popover : public QWidget {
    Q_OBJECT

public:
    // The side of the anchor point on which the bubble opens.
    enum class Position : int { Right = 0, Above = 1, Left = 2, Below = 3 };
    Q_ENUM(Position)

    explicit Popover(QWidget* parent = nullptr);

    // Stores the anchor (global coordinates) and the side; moves nothing until
    // the next show or resize.
    void setPosition(const QPoint& point, Position position);
    QPoint point() const { return m_point; }
    Position position() const { return m_position; }

    // The bubble without the band around it in which the arrow is drawn.
    QRect bubbleRect() const;

signals:
    void closed();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void repositionWidget();
    // The bubble's outline with the arrow, in widget coordinates.
    QPainterPath bubblePath() const;
    void drawBubble(QPainter& painter) const;
    // Cuts the window to the bubble, for screens without translucency.
    void updateMask();

    QPoint m_point;
    Position m_position = Position::Left;
};
