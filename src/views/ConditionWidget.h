#pragma once

#include "Error.h"
#include "FilterCondition.h"
#include "Result.h"

#include <QFrame>

#include <memory>

class Int64SpinBox;
struct Settings;

namespace Ui {
class ConditionWidget;
}

// One row of the filter editor: edits one filter condition. The row offers a
// target (what of the record is tested), the operators of that target, and
// exactly the inputs the chosen pair needs: a header name, an expected text
// or regular expression, one or two numbers, or one or two date-times.
// Numbers are 64-bit (offsets and record counts).
//
// GUI thread only.
class ConditionWidget : public QFrame {
    Q_OBJECT

public:
    // The header name and expected string boxes offer the settings' recent
    // lists as they are now.
    ConditionWidget(const Settings& settings, QWidget* parent = nullptr);
    ~ConditionWidget() override;

    // The condition the row describes, or the first problem found
    // (MissingFilterValue, InvalidValue or InvalidFilterRange).
    Result<FilterCondition, KafkaError> condition() const;
    void setCondition(const FilterCondition& condition);

    // Start: today at the current hour; end: today at 23:59:59 (local time).
    void setDefaultTimes();
    // Minimum 1 for Records, else 0; up to the largest partition index for
    // Partition, else the largest 64-bit number; steps of 1 for Partition,
    // else 100.
    static void configureSpinBox(Int64SpinBox* spinBox, FilterCondition::Target target);

signals:
    void removed();

private:
    void onTargetChanged();
    void onOperatorChanged();
    void carryNumberOver(FilterCondition::Target target, FilterCondition::Operator operation);
    void showInputsFor(FilterCondition::Target target, FilterCondition::Operator operation);

    std::unique_ptr<Ui::ConditionWidget> ui;
    const Settings& settings;
};
