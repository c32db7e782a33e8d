#pragma once

#include <QWidget>

#include <memory>

class QCollapsibleGroupBoxPrivate;

// A container with a one-line header (an arrow and a title widget) whose
// content, laid out by the box's own layout, expands and collapses with an
// animated height. Clicking the header, or Return, Enter or Space while the
// box has focus, toggles it.
//
// While collapsed, the box's child widgets are taken out of the focus chain;
// when it expands they get back the focus policy each had when it was added.
class QCollapsibleGroupBox : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool expanded READ isExpanded WRITE setExpanded NOTIFY expandedChanged)

public:
    explicit QCollapsibleGroupBox(QWidget* parent = nullptr);
    ~QCollapsibleGroupBox() override;

    QWidget* titleWidget() const;
    // Takes the widget over and schedules the previous title widget, if it
    // is another one, for deletion; null removes the title. The title gets
    // its size hint where the box is wide enough, else it is narrowed, down
    // to its minimum size hint.
    void setTitleWidget(QWidget* widget);

    bool isExpanded() const;
    void setExpanded(bool expanded);

    // Milliseconds; -1 follows the style's animation duration, 0 animates
    // nothing. Takes effect at the next expand or collapse.
    int animationDuration() const;
    void setAnimationDuration(int milliseconds);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

public slots:
    void toggle();
    void expand();
    void collapse();
    // Records the widget's focus policy as the one to give back on expanding,
    // and takes the widget out of the focus chain while the box is collapsed.
    void overrideFocusPolicyOf(QWidget* widget);

signals:
    void titleChanged();
    void expandedChanged();

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutTitle();
    void updateHeaderSize();
    int contentHeight() const;
    void layoutContent();
    void applyFocusPolicies();
    void startAnimation();
    void onAnimationValueChanged(qreal value);
    QRect headerRect() const;

    std::unique_ptr<QCollapsibleGroupBoxPrivate> d;
};
