#include "TopicPicker.h"

#include "TopicListModel.h"
#include "VisibleTextDelegate.h"
#include "ui_TopicPicker.h"

#include <QSortFilterProxyModel>

#include <utility>

TopicPicker::TopicPicker(QWidget* parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::TopicPicker>())
{
    ui->setupUi(this);
    topicListModel = new TopicListModel(this);
    proxyModel = new QSortFilterProxyModel(this);
    proxyModel->setSourceModel(topicListModel);
    ui->topicListView->setModel(proxyModel);
    // The list and its filter keep the names as they are.
    ui->topicListView->setItemDelegate(new VisibleTextDelegate(ui->topicListView));

    connect(ui->filterEdit, &QLineEdit::textChanged, proxyModel, &QSortFilterProxyModel::setFilterFixedString);
    connect(ui->topicListView, &QListView::activated, this, &TopicPicker::selectTopicAt);
    // When the filter hides the current row, the list (single selection)
    // makes the next listed row current and selected; Return chooses that.
    connect(ui->filterEdit, &QLineEdit::returnPressed, this, [this] {
        const QModelIndex current = ui->topicListView->currentIndex();
        if (current.isValid()) {
            selectTopicAt(current);
        }
    });
}

TopicPicker::~TopicPicker() = default;

void TopicPicker::setTopics(QList<KafkaMetadataResponse::Topic> topics)
{
    topicListModel->setTopics(std::move(topics));
}

void TopicPicker::setCurrentTopicName(const QString& name)
{
    // An earlier filter may still hide the topic; it would be dropped when
    // mapped to the list, and the list would open without a current row.
    ui->filterEdit->clear();
    const QModelIndex found = topicListModel->findTopicWithName(name);
    if (!found.isValid()) {
        ui->topicListView->clearSelection();
    }
    ui->topicListView->selectionModel()->setCurrentIndex(
        proxyModel->mapFromSource(found), QItemSelectionModel::ClearAndSelect);
}

void TopicPicker::showEvent(QShowEvent* event)
{
    ui->filterEdit->clear();
    ui->filterEdit->setFocus(Qt::OtherFocusReason);
    const QModelIndex current = ui->topicListView->currentIndex();
    if (current.isValid()) {
        ui->topicListView->scrollTo(current, QAbstractItemView::PositionAtCenter);
    } else {
        ui->topicListView->scrollToTop();
    }
    QWidget::showEvent(event);
}

void TopicPicker::selectTopicAt(const QModelIndex& proxyIndex)
{
    // A copy: the model may change while the signal is handled.
    const KafkaMetadataResponse::Topic topic = topicListModel->topic(proxyModel->mapToSource(proxyIndex));
    emit topicSelected(topic);
}
