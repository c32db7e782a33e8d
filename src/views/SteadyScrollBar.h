#pragma once

#include <QRect>
#include <QScrollBar>

// A scroll bar that is not drawn again when its range changes in a way that
// leaves what it shows as it is. A list of a million rows that grows at every
// turn of the event loop changes the range each time, while the handle,
// small and at the same place, does not move; drawing the bar took more of
// such a turn than everything else the list did. Any other change (value,
// size, style, state) is drawn as QScrollBar draws it.
class SteadyScrollBar : public QScrollBar {
    Q_OBJECT

public:
    explicit SteadyScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // What a range change can alter in the drawing: where the handle is and
    // how long, and whether either end is reached (arrows and pages).
    struct Look {
        QRect handle;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look&) const = default;
    };

    Look look() const;

    // The look when the bar was last drawn.
    Look drawn;
    bool everDrawn = false;
};
