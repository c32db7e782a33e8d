#pragma once

#include "Error.h"
#include "Filter.h"
#include "KafkaMetadataResponse.h"
#include "QCollapsibleGroupBox.h"
#include "Result.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

class ConditionWidget;
class TopicPickerPopover;
struct Settings;

namespace Ui {
class AdvancedFilterWidget;
}

// The editor of one record filter in the records tab: a collapsible box whose
// body names the topic (chosen in a topic picker) and holds one row per
// condition. Apply checks the editor into a Filter, records the header names
// and expected strings it used in the settings' recent lists (saving the
// settings file) and emits filterUpdated; the records tab applies the filter.
// Return or Enter without modifiers anywhere in the editor applies too.
//
// GUI thread only.
class AdvancedFilterWidget : public QCollapsibleGroupBox {
    Q_OBJECT

public:
    enum class FilterState : std::int32_t { New = 0, Applied = 1 };

    // The settings are shared with the rest of the application.
    AdvancedFilterWidget(Settings& settings, QWidget* parent = nullptr);
    ~AdvancedFilterWidget() override;

    // Written by the records tab.
    FilterState filterState = FilterState::New;
    // The id of the edited filter; -1 until setFilter.
    std::int32_t filterId = -1;

    // The topics the topic picker offers.
    void setTopics(QList<KafkaMetadataResponse::Topic> topics);
    // Replaces the topic and every condition row; Delete is shown only in
    // the Applied state.
    void setFilter(const Filter& filter);

    // The editor's filter from the rows, or the first problem: no topic, a
    // row's own problem (the first failing row), no condition.
    Result<Filter, KafkaError> buildFilter(const QList<ConditionWidget*>& rows) const;
    // Puts the filter's header names and expected strings (or patterns) at
    // the front of the settings' recent lists (the last condition's first),
    // without duplicates and at most 10 each, and saves the settings file.
    // The lists change also when saving fails.
    std::optional<KafkaError> updateRecentSettings(const Filter& filter);
    void appendConditionWidget(ConditionWidget* row);

    void addError(const KafkaError& error);
    void clearErrors();

    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    void onApplyClicked();
    void onCancelClicked();

signals:
    void filterUpdated(Filter filter);
    void filterDeleted();
    void editCancelled();

private:
    void onTopicButtonClicked();
    void onTopicSelected(const KafkaMetadataResponse::Topic& topic);
    void onAddConditionClicked();
    QList<ConditionWidget*> conditionRows() const;

    QString topic;
    std::unique_ptr<Ui::AdvancedFilterWidget> ui;
    // Child of the editor.
    TopicPickerPopover* topicPickerPopover = nullptr;
    Settings& settings;
};
