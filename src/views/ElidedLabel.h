#pragma once

#include <QLabel>

// A one-line plain-text label that fits any width: its size hint is that of
// the whole text, but it can be made as narrow as an ellipsis, and what does
// not fit is elided at the right. The whole text is its tooltip.
class ElidedLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(const QString& text, QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
