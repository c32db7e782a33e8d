#include "ConditionWidget.h"

#include "Int64SpinBox.h"
#include "Settings.h"
#include "ui_ConditionWidget.h"

#include <QCalendarWidget>
#include <QDateTime>
#include <QRegularExpression>
#include <QStyle>
#include <QTextCharFormat>

#include <limits>
#include <optional>

namespace {

using Target = FilterCondition::Target;
using Operator = FilterCondition::Operator;

template <typename Enum>
std::optional<Enum> currentItem(const QComboBox* comboBox)
{
    const QVariant data = comboBox->currentData();
    if (!data.isValid())
        return std::nullopt;
    return data.value<Enum>();
}

template <typename Enum>
void selectItem(QComboBox* comboBox, Enum value)
{
    for (int i = 0; i < comboBox->count(); ++i) {
        if (comboBox->itemData(i).template value<Enum>() == value) {
            comboBox->setCurrentIndex(i);
            return;
        }
    }
}

bool isText(Target target)
{
    return target == Target::Key || target == Target::Header || target == Target::Body;
}

bool isNumber(Target target)
{
    return target == Target::Offset || target == Target::Partition;
}

bool shown(const QWidget* widget)
{
    return !widget->isHidden();
}

} // namespace

ConditionWidget::ConditionWidget(const Settings& appSettings, QWidget* parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::ConditionWidget>())
    , settings(appSettings)
{
    ui->setupUi(this);
    setBackgroundRole(QPalette::Window);
    setFocusProxy(ui->targetComboBox);
    ui->removeButton->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));

    const std::pair<QString, Target> targets[] = {
        { tr("Key"), Target::Key },
        { tr("Header"), Target::Header },
        { tr("Body"), Target::Body },
        { tr("Records"), Target::Records },
        { tr("Timestamp"), Target::Timestamp },
        { tr("Offset"), Target::Offset },
        { tr("Partition"), Target::Partition },
    };
    for (const auto& [label, target] : targets)
        ui->targetComboBox->addItem(label, QVariant::fromValue(target));
    ui->headerNameComboBox->addItems(settings.recentHeaders);
    ui->expectedStringComboBox->addItems(settings.recentExpectedStrings);

    // Saturday and Sunday drawn like the other days.
    for (QDateTimeEdit* edit : { ui->startDateTimeEdit, ui->endDateTimeEdit }) {
        QCalendarWidget* calendar = edit->calendarWidget();
        for (Qt::DayOfWeek day : { Qt::Saturday, Qt::Sunday }) {
            QTextCharFormat format = calendar->weekdayTextFormat(day);
            format.setForeground(palette().color(QPalette::Text));
            calendar->setWeekdayTextFormat(day, format);
        }
    }
    setDefaultTimes();

    connect(ui->targetComboBox, &QComboBox::currentIndexChanged, this, &ConditionWidget::onTargetChanged);
    connect(ui->operatorComboBox, &QComboBox::currentIndexChanged, this, &ConditionWidget::onOperatorChanged);
    connect(ui->removeButton, &QPushButton::clicked, this, &ConditionWidget::removed);
    // A new row: Key "contains" with only the expected-string box.
    onTargetChanged();
}

ConditionWidget::~ConditionWidget() = default;

void ConditionWidget::setDefaultTimes()
{
    const QDateTime now = QDateTime::currentDateTime();
    ui->startDateTimeEdit->setDateTime(QDateTime(now.date(), QTime(now.time().hour(), 0, 0)));
    ui->endDateTimeEdit->setDateTime(QDateTime(now.date(), QTime(23, 59, 59)));
}

void ConditionWidget::configureSpinBox(Int64SpinBox* spinBox, FilterCondition::Target target)
{
    const std::int64_t maximum = target == Target::Partition ? std::numeric_limits<std::int32_t>::max()
                                                             : std::numeric_limits<std::int64_t>::max();
    spinBox->setRange(target == Target::Records ? 1 : 0, maximum);
    spinBox->setSingleStep(target == Target::Partition ? 1 : 100);
}

void ConditionWidget::onTargetChanged()
{
    const std::optional<Target> target = currentItem<Target>(ui->targetComboBox);
    if (!target)
        return;
    ui->headerNameComboBox->setVisible(*target == Target::Header);

    QList<std::pair<QString, Operator>> operators;
    if (isText(*target)) {
        operators = { { tr("contains"), Operator::Containing }, { tr("equals"), Operator::EqualTo },
            { tr("matches"), Operator::Matching } };
    } else if (*target == Target::Timestamp) {
        operators = { { tr("between"), Operator::Between }, { tr("greater than"), Operator::GreaterThan },
            { tr("lower than"), Operator::LowerThan } };
    } else if (*target == Target::Records) {
        operators = { { tr("lastest"), Operator::Last }, { tr("first"), Operator::First } };
    } else {
        operators = { { tr("equals"), Operator::EqualTo }, { tr("between"), Operator::Between },
            { tr("greater than"), Operator::GreaterThan }, { tr("lower than"), Operator::LowerThan } };
    }
    // Adding the first operator selects it, which shows its inputs.
    ui->operatorComboBox->clear();
    for (const auto& [label, operation] : operators)
        ui->operatorComboBox->addItem(label, QVariant::fromValue(operation));
}

void ConditionWidget::onOperatorChanged()
{
    const std::optional<Target> target = currentItem<Target>(ui->targetComboBox);
    const std::optional<Operator> operation = currentItem<Operator>(ui->operatorComboBox);
    // Also while the operator list is rebuilt.
    if (!target || !operation)
        return;
    carryNumberOver(*target, *operation);
    showInputsFor(*target, *operation);
    for (Int64SpinBox* spinBox : { ui->valueSpinBox, ui->minSpinBox, ui->maxSpinBox })
        configureSpinBox(spinBox, *target);
}

// The number typed for the previous operator goes to the box of the new one;
// only from a box that the previous operator showed.
void ConditionWidget::carryNumberOver(FilterCondition::Target target, FilterCondition::Operator operation)
{
    Int64SpinBox* value = ui->valueSpinBox;
    if (isNumber(target)) {
        switch (operation) {
        case Operator::EqualTo:
            if (shown(ui->minSpinBox))
                value->setValue(ui->minSpinBox->value());
            return;
        case Operator::GreaterThan:
            if (shown(value))
                ui->minSpinBox->setValue(value->value());
            return;
        case Operator::LowerThan:
            if (shown(value))
                ui->maxSpinBox->setValue(value->value());
            return;
        case Operator::Between:
            if (shown(value)) {
                ui->minSpinBox->setValue(value->value());
                ui->maxSpinBox->setValue(value->value());
            }
            return;
        default:
            return;
        }
    }
    if (target == Target::Records && shown(value)) {
        if (operation == Operator::First)
            ui->maxSpinBox->setValue(value->value());
        else if (operation == Operator::Last)
            ui->minSpinBox->setValue(value->value());
    }
}

void ConditionWidget::showInputsFor(FilterCondition::Target target, FilterCondition::Operator operation)
{
    const bool timestamp = target == Target::Timestamp;
    const bool number = isNumber(target);
    const bool records = target == Target::Records;
    const bool between = operation == Operator::Between;
    const bool greater = operation == Operator::GreaterThan;
    const bool lower = operation == Operator::LowerThan;

    ui->expectedStringComboBox->setVisible(isText(target));
    ui->startDateTimeEdit->setVisible(timestamp && (greater || between));
    ui->secondAndLabel->setVisible(timestamp && between);
    ui->endDateTimeEdit->setVisible(timestamp && (lower || between));
    ui->valueSpinBox->setVisible(number && operation == Operator::EqualTo);
    ui->minSpinBox->setVisible((number && (greater || between)) || (records && operation == Operator::Last));
    ui->firstAndLabel->setVisible(number && between);
    ui->maxSpinBox->setVisible((number && (lower || between)) || (records && operation == Operator::First));
}

void ConditionWidget::setCondition(const FilterCondition& condition)
{
    selectItem(ui->targetComboBox, condition.target);
    ui->headerNameComboBox->setCurrentText(condition.headerName);
    selectItem(ui->operatorComboBox, condition.operation);
    ui->expectedStringComboBox->setCurrentText(
        condition.operation == Operator::Matching ? condition.regex.pattern() : condition.expectedString);
    ui->valueSpinBox->setValue(condition.value);
    if (condition.target != Target::Timestamp) {
        setDefaultTimes();
        ui->minSpinBox->setValue(condition.min);
        ui->maxSpinBox->setValue(condition.max);
        return;
    }
    // A time the operator does not use keeps what it showed.
    if (condition.operation == Operator::GreaterThan || condition.operation == Operator::Between)
        ui->startDateTimeEdit->setDateTime(QDateTime::fromMSecsSinceEpoch(condition.min));
    if (condition.operation == Operator::LowerThan || condition.operation == Operator::Between)
        ui->endDateTimeEdit->setDateTime(QDateTime::fromMSecsSinceEpoch(condition.max));
    ui->minSpinBox->setValue(0);
    ui->maxSpinBox->setValue(0);
}

Result<FilterCondition, KafkaError> ConditionWidget::condition() const
{
    const std::optional<Target> target = currentItem<Target>(ui->targetComboBox);
    if (!target)
        return KafkaError(KafkaErrorCode::MissingFilterValue, tr("The condition target is required"));
    const std::optional<Operator> operation = currentItem<Operator>(ui->operatorComboBox);
    if (!operation)
        return KafkaError(KafkaErrorCode::MissingFilterValue, tr("The condition operation is required"));

    FilterCondition result;
    result.target = *target;
    result.operation = *operation;
    if (*target == Target::Header) {
        result.headerName = ui->headerNameComboBox->currentText();
        if (result.headerName.isEmpty())
            return KafkaError(KafkaErrorCode::MissingFilterValue, tr("The header name is required"));
    }

    if (isText(*target)) {
        const QString text = ui->expectedStringComboBox->currentText();
        if (*operation == Operator::Matching) {
            if (text.isEmpty()) {
                return KafkaError(KafkaErrorCode::MissingFilterValue, tr("The regular expression pattern is required"));
            }
            QRegularExpression regex(text);
            if (!regex.isValid()) {
                return KafkaError(
                    KafkaErrorCode::InvalidValue, tr("Invalid regular expression: %1").arg(regex.errorString()));
            }
            result.regex = std::move(regex);
        } else {
            if (text.isEmpty())
                return KafkaError(KafkaErrorCode::MissingFilterValue, tr("The expected string is required"));
            result.expectedString = text;
        }
    } else if (*target == Target::Timestamp) {
        const bool between = *operation == Operator::Between;
        if (between || *operation == Operator::GreaterThan)
            result.min = ui->startDateTimeEdit->dateTime().toMSecsSinceEpoch();
        if (between || *operation == Operator::LowerThan)
            result.max = ui->endDateTimeEdit->dateTime().toMSecsSinceEpoch();
        if (between && result.min > result.max) {
            return KafkaError(
                KafkaErrorCode::InvalidFilterRange, tr("The end time must be greater than the start time"));
        }
    } else if (isNumber(*target)) {
        const bool between = *operation == Operator::Between;
        if (*operation == Operator::EqualTo)
            result.value = ui->valueSpinBox->value();
        if (between || *operation == Operator::GreaterThan)
            result.min = ui->minSpinBox->value();
        if (between || *operation == Operator::LowerThan)
            result.max = ui->maxSpinBox->value();
        if (between && result.max < result.min) {
            return KafkaError(
                KafkaErrorCode::InvalidFilterRange, tr("The upper bound must be greater than the lower bound"));
        }
    } else if (*target == Target::Records) {
        if (*operation == Operator::First)
            result.max = ui->maxSpinBox->value();
        else
            result.min = ui->minSpinBox->value();
    }
    return result;
}
