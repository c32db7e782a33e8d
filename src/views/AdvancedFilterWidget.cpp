#include "AdvancedFilterWidget.h"

#include "ConditionWidget.h"
#include "Settings.h"
#include "TopicPickerPopover.h"
#include "VisibleText.h"
#include "ui_AdvancedFilterWidget.h"

#include <QKeyEvent>

#include <utility>

namespace {

// Most-recent lists keep this many entries.
constexpr qsizetype RecentLimit = 10;

// The new entries, then the old ones, each once, at most RecentLimit.
QList<QString> mergeRecent(QList<QString> newest, const QList<QString>& previous)
{
    newest.append(previous);
    newest.removeDuplicates();
    if (newest.size() > RecentLimit)
        newest.resize(RecentLimit);
    return newest;
}

bool isPlainReturn(const QEvent* event)
{
    const auto* key = static_cast<const QKeyEvent*>(event);
    constexpr Qt::KeyboardModifiers Held
        = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !(key->modifiers() & Held);
}

} // namespace

AdvancedFilterWidget::AdvancedFilterWidget(Settings& appSettings, QWidget* parent)
    : QCollapsibleGroupBox(parent)
    , ui(std::make_unique<Ui::AdvancedFilterWidget>())
    , topicPickerPopover(new TopicPickerPopover(this))
    , settings(appSettings)
{
    ui->setupUi(this);
    // The rows, filled with the Window role, stand out on the Base role.
    ui->conditionsFrame->setBackgroundRole(QPalette::Base);
    ui->conditionsFrame->setAutoFillBackground(true);
    setFocusProxy(ui->topicButton);
    ui->errorLabel->hide();

    connect(ui->topicButton, &QPushButton::clicked, this, &AdvancedFilterWidget::onTopicButtonClicked);
    connect(topicPickerPopover, &TopicPickerPopover::topicSelected, this, &AdvancedFilterWidget::onTopicSelected);
    connect(ui->addConditionButton, &QPushButton::clicked, this, &AdvancedFilterWidget::onAddConditionClicked);
    connect(ui->deleteButton, &QPushButton::clicked, this, &AdvancedFilterWidget::filterDeleted);
    connect(ui->applyButton, &QPushButton::clicked, this, &AdvancedFilterWidget::onApplyClicked);
    connect(ui->cancelButton, &QPushButton::clicked, this, &AdvancedFilterWidget::onCancelClicked);
    installEventFilter(this);
}

AdvancedFilterWidget::~AdvancedFilterWidget() = default;

void AdvancedFilterWidget::setTopics(QList<KafkaMetadataResponse::Topic> topics)
{
    topicPickerPopover->setTopics(std::move(topics));
}

void AdvancedFilterWidget::setFilter(const Filter& filter)
{
    ui->deleteButton->setVisible(filterState == FilterState::Applied);
    for (ConditionWidget* row : conditionRows()) {
        ui->verticalLayout_2->removeWidget(row);
        delete row;
    }
    filterId = static_cast<std::int32_t>(filter.id);
    topic = filter.topic;
    topicPickerPopover->setCurrentTopicName(topic);
    ui->topicButton->setText(topic.isEmpty() ? QStringLiteral("...") : visibleText(topic));
    for (const FilterCondition& condition : filter.conditions) {
        auto* row = new ConditionWidget(settings, this);
        row->setCondition(condition);
        appendConditionWidget(row);
    }
}

void AdvancedFilterWidget::appendConditionWidget(ConditionWidget* row)
{
    // The row goes from within its own button's click: out of the layout at
    // once, destroyed once the click is over.
    connect(row, &ConditionWidget::removed, this, [this, row] {
        ui->verticalLayout_2->removeWidget(row);
        row->hide();
        row->deleteLater();
    });
    ui->verticalLayout_2->addWidget(row);
}

QList<ConditionWidget*> AdvancedFilterWidget::conditionRows() const
{
    QList<ConditionWidget*> rows;
    for (int i = 0; i < ui->verticalLayout_2->count(); ++i) {
        if (auto* row = qobject_cast<ConditionWidget*>(ui->verticalLayout_2->itemAt(i)->widget()))
            rows.append(row);
    }
    return rows;
}

void AdvancedFilterWidget::addError(const KafkaError& error)
{
    ui->errorLabel->setText(visibleText(error.message));
    ui->errorLabel->show();
}

void AdvancedFilterWidget::clearErrors()
{
    ui->errorLabel->hide();
}

void AdvancedFilterWidget::onTopicButtonClicked()
{
    const QSize size = ui->topicButton->size();
    const QPoint anchor = ui->topicButton->mapToGlobal(QPoint(size.width() / 2, (3 * size.height()) / 4));
    topicPickerPopover->setCurrentTopicName(topic);
    topicPickerPopover->setPosition(anchor, Popover::Position::Below);
    topicPickerPopover->show();
}

void AdvancedFilterWidget::onTopicSelected(const KafkaMetadataResponse::Topic& selected)
{
    topic = selected.name;
    ui->topicButton->setText(visibleText(topic));
}

void AdvancedFilterWidget::onAddConditionClicked()
{
    auto* row = new ConditionWidget(settings, this);
    appendConditionWidget(row);
    row->setFocus(Qt::OtherFocusReason);
}

void AdvancedFilterWidget::onApplyClicked()
{
    clearErrors();
    Result<Filter, KafkaError> filter = buildFilter(conditionRows());
    if (filter.isError()) {
        addError(filter.error());
        return;
    }
    if (const std::optional<KafkaError> error = updateRecentSettings(filter.value())) {
        addError(*error);
        return;
    }
    emit filterUpdated(std::move(filter).value());
    collapse();
}

void AdvancedFilterWidget::onCancelClicked()
{
    collapse();
    emit editCancelled();
}

Result<Filter, KafkaError> AdvancedFilterWidget::buildFilter(const QList<ConditionWidget*>& rows) const
{
    if (topic.isEmpty())
        return KafkaError(KafkaErrorCode::MissingFilterValue, tr("The topic is required"));
    Filter filter;
    filter.id = filterId;
    filter.topic = topic;
    for (const ConditionWidget* row : rows) {
        Result<FilterCondition, KafkaError> condition = row->condition();
        if (condition.isError())
            return std::move(condition).error();
        filter.conditions.append(std::move(condition).value());
    }
    if (filter.conditions.isEmpty())
        return KafkaError(KafkaErrorCode::MissingFilterValue, tr("At least one condition is required"));
    return filter;
}

std::optional<KafkaError> AdvancedFilterWidget::updateRecentSettings(const Filter& filter)
{
    QList<QString> headers;
    QList<QString> expected;
    for (const FilterCondition& condition : filter.conditions) {
        if (condition.target == FilterCondition::Target::Header)
            headers.prepend(condition.headerName);
        if (!condition.expectedString.isEmpty())
            expected.prepend(condition.expectedString);
        else if (!condition.regex.pattern().isEmpty())
            expected.prepend(condition.regex.pattern());
    }
    settings.recentHeaders = mergeRecent(std::move(headers), settings.recentHeaders);
    settings.recentExpectedStrings = mergeRecent(std::move(expected), settings.recentExpectedStrings);
    return Settings::saveToFile(settings);
}

// Return applies from anywhere in the editor. The shortcut override, which
// comes up from the focused widget first, applies; the key press that
// follows it is taken here too, or it would reach the box, which toggles on
// Return and would open the editor again.
bool AdvancedFilterWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == this && (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)
        && isPlainReturn(event)) {
        event->accept();
        if (event->type() == QEvent::ShortcutOverride)
            onApplyClicked();
        return true;
    }
    return QCollapsibleGroupBox::eventFilter(watched, event);
}
