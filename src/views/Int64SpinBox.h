#pragma once

#include <QAbstractSpinBox>

#include <cstdint>
#include <limits>

// A spin box for whole numbers of 64 bits: offsets and record counts do not
// fit into the int of QSpinBox. The text is the number in decimal digits; a
// text that is not a number within the range never becomes the value, and
// when editing ends the text shows the value again.
class Int64SpinBox : public QAbstractSpinBox {
    Q_OBJECT

public:
    explicit Int64SpinBox(QWidget* parent = nullptr);

    std::int64_t value() const { return m_value; }
    // Clamped to the range.
    void setValue(std::int64_t value);

    std::int64_t minimum() const { return m_minimum; }
    std::int64_t maximum() const { return m_maximum; }
    // The value is clamped to the new range.
    void setRange(std::int64_t minimum, std::int64_t maximum);

    std::int64_t singleStep() const { return m_singleStep; }
    void setSingleStep(std::int64_t step) { m_singleStep = step; }

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& position) const override;
    void fixup(QString& input) const override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void valueChanged(std::int64_t value);

protected:
    StepEnabled stepEnabled() const override;

private:
    void onTextEdited(const QString& text);
    void onEditingFinished();

    std::int64_t m_value = 0;
    std::int64_t m_minimum = 0;
    std::int64_t m_maximum = std::numeric_limits<std::int64_t>::max();
    std::int64_t m_singleStep = 1;
};
