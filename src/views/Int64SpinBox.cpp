#include "Int64SpinBox.h"

#include <QLineEdit>
#include <QStyleOptionSpinBox>
#include <QtNumeric>

#include <algorithm>

namespace {

// Digits the box is made wide enough for; longer numbers scroll.
constexpr int ShownDigits = 12;

} // namespace

Int64SpinBox::Int64SpinBox(QWidget* parent)
    : QAbstractSpinBox(parent)
{
    lineEdit()->setText(QString::number(m_value));
    connect(lineEdit(), &QLineEdit::textEdited, this, &Int64SpinBox::onTextEdited);
    connect(this, &QAbstractSpinBox::editingFinished, this, &Int64SpinBox::onEditingFinished);
}

void Int64SpinBox::setValue(std::int64_t value)
{
    value = std::clamp(value, m_minimum, m_maximum);
    const bool changed = value != m_value;
    m_value = value;
    const QString text = QString::number(value);
    if (lineEdit()->text() != text)
        lineEdit()->setText(text);
    if (changed)
        emit valueChanged(value);
}

void Int64SpinBox::setRange(std::int64_t minimum, std::int64_t maximum)
{
    m_minimum = minimum;
    m_maximum = std::max(minimum, maximum);
    setValue(m_value);
}

void Int64SpinBox::stepBy(int steps)
{
    std::int64_t delta = 0;
    std::int64_t next = 0;
    if (qMulOverflow(std::int64_t(steps), m_singleStep, &delta) || qAddOverflow(m_value, delta, &next))
        next = steps > 0 ? m_maximum : m_minimum;
    setValue(next);
    selectAll();
}

QValidator::State Int64SpinBox::validate(QString& input, int& /*position*/) const
{
    if (input.isEmpty() || (input == QLatin1String("-") && m_minimum < 0))
        return QValidator::Intermediate;
    bool ok = false;
    const qlonglong number = input.toLongLong(&ok);
    if (!ok)
        return QValidator::Invalid;
    if (number > m_maximum && number >= 0)
        return QValidator::Invalid;
    // More digits may still bring a number up into the range.
    if (number < m_minimum)
        return QValidator::Intermediate;
    return QValidator::Acceptable;
}

void Int64SpinBox::fixup(QString& input) const
{
    input = QString::number(m_value);
}

QAbstractSpinBox::StepEnabled Int64SpinBox::stepEnabled() const
{
    if (isReadOnly())
        return StepNone;
    StepEnabled enabled = StepNone;
    if (m_value < m_maximum)
        enabled |= StepUpEnabled;
    if (m_value > m_minimum)
        enabled |= StepDownEnabled;
    return enabled;
}

QSize Int64SpinBox::sizeHint() const
{
    ensurePolished();
    const int digits = std::min<int>(ShownDigits,
        int(std::max(QString::number(m_minimum).size(), QString::number(m_maximum).size())));
    // Two pixels more for the cursor.
    const QSize text(fontMetrics().horizontalAdvance(QString(digits, QLatin1Char('9'))) + 2,
        lineEdit()->sizeHint().height());
    QStyleOptionSpinBox option;
    initStyleOption(&option);
    return style()->sizeFromContents(QStyle::CT_SpinBox, &option, text, this);
}

QSize Int64SpinBox::minimumSizeHint() const
{
    return sizeHint();
}

void Int64SpinBox::onTextEdited(const QString& text)
{
    QString input = text;
    int position = 0;
    if (validate(input, position) == QValidator::Acceptable)
        setValue(input.toLongLong());
}

void Int64SpinBox::onEditingFinished()
{
    lineEdit()->setText(QString::number(m_value));
}
