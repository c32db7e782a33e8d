#include "RecordListView.h"

#include "KafkaRecordListItemDelegate.h"
#include "KafkaRecordModel.h"
#include "RecordListAccessible.h"
#include "SteadyScrollBar.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QSignalBlocker>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <utility>

namespace {

// Rows far outside the viewport get rectangles at this distance at most, so
// that the geometry Qt computes with them stays far from overflowing.
constexpr qint64 FarAway = qint64(1) << 28;

int clampedCoordinate(qint64 value)
{
    return int(std::clamp(value, -FarAway, FarAway));
}

} // namespace

RecordListView::RecordListView(QWidget* parent)
    : QAbstractItemView(parent)
{
    // Rows arriving change the range at every turn of the event loop; the
    // bar is drawn again only when that shows.
    setVerticalScrollBar(new SteadyScrollBar(Qt::Vertical));
    // Assistive technology sees a list of the rows.
    RecordListAccessible::registerFactory();
}

int RecordListView::rowCount() const
{
    return model() ? model()->rowCount(rootIndex()) : 0;
}

QSize RecordListView::rowSize() const
{
    if (measuredRowSize.isValid())
        return measuredRowSize;
    if (rowCount() == 0)
        return {};
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QModelIndex first = model()->index(0, 0, rootIndex());
    measuredRowSize = itemDelegateForIndex(first)->sizeHint(option, first).expandedTo(QSize(1, 1));
    return measuredRowSize;
}

int RecordListView::wholeRowsInView() const
{
    const QSize size = rowSize();
    return size.isValid() ? std::max(1, viewport()->height() / size.height()) : 1;
}

qint64 RecordListView::contentTop() const
{
    const qint64 value = verticalScrollBar()->value();
    const QSize size = rowSize();
    const qint64 height = size.isValid() ? size.height() : 0;
    // Rows inserted above the view since the scroll bar was last set keep
    // the rows in view where they are.
    if (verticalScrollMode() == ScrollPerPixel)
        return value + rowsInsertedAboveView * height;
    return (value + rowsInsertedAboveView) * height;
}

qint64 RecordListView::rowAtY(int y) const
{
    const QSize size = rowSize();
    if (!size.isValid())
        return -1;
    const qint64 content = contentTop() + y;
    // Rounded down, also above the first row.
    return content >= 0 ? content / size.height() : -1 - (-content - 1) / size.height();
}

QRect RecordListView::rowRect(int row) const
{
    const QSize size = rowSize();
    if (!size.isValid())
        return {};
    const qint64 top = qint64(row) * size.height() - contentTop();
    return QRect(-horizontalOffset(), clampedCoordinate(top), viewport()->width(), size.height());
}

QRect RecordListView::visualRect(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != model() || index.parent() != rootIndex() || index.column() != 0)
        return {};
    return rowRect(index.row());
}

void RecordListView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    executeDelayedItemsLayout();
    updatePendingGeometries();
    if (!visualRect(index).isValid())
        return;
    const qint64 row = index.row();
    QScrollBar* bar = verticalScrollBar();
    qint64 wanted = bar->value();
    if (verticalScrollMode() == ScrollPerItem) {
        const int inView = wholeRowsInView();
        switch (hint) {
        case EnsureVisible:
            if (row < wanted)
                wanted = row;
            else if (row >= wanted + inView)
                wanted = row - inView + 1;
            break;
        case PositionAtTop:
            wanted = row;
            break;
        case PositionAtBottom:
            wanted = row - inView + 1;
            break;
        case PositionAtCenter:
            wanted = row - inView / 2;
            break;
        }
    } else {
        const qint64 height = rowSize().height();
        const qint64 top = row * height;
        const qint64 viewHeight = viewport()->height();
        switch (hint) {
        case EnsureVisible:
            if (top < wanted)
                wanted = top;
            else if (top + height > wanted + viewHeight)
                wanted = top + height - viewHeight;
            break;
        case PositionAtTop:
            wanted = top;
            break;
        case PositionAtBottom:
            wanted = top + height - viewHeight;
            break;
        case PositionAtCenter:
            wanted = top + height / 2 - viewHeight / 2;
            break;
        }
    }
    bar->setValue(int(std::clamp<qint64>(wanted, bar->minimum(), bar->maximum())));
}

QModelIndex RecordListView::indexAt(const QPoint& point) const
{
    const qint64 row = rowAtY(point.y());
    if (row < 0 || row >= rowCount())
        return {};
    const QRect rect = rowRect(int(row));
    if (point.x() < rect.left() || point.x() > rect.right())
        return {};
    return model()->index(int(row), 0, rootIndex());
}

void RecordListView::doItemsLayout()
{
    // The delegate, the font or the style may have changed the rows' size.
    measuredRowSize = QSize();
    QAbstractItemView::doItemsLayout();
}

QModelIndex RecordListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers)
{
    const int count = rowCount();
    if (count == 0)
        return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return model()->index(0, 0, rootIndex());
    const qint64 page = std::max(1, wholeRowsInView() - 1);
    qint64 row = current.row();
    switch (cursorAction) {
    case MoveUp:
    case MovePrevious:
        --row;
        break;
    case MoveDown:
    case MoveNext:
        ++row;
        break;
    case MovePageUp:
        row -= page;
        break;
    case MovePageDown:
        row += page;
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = count - 1;
        break;
    case MoveLeft:
    case MoveRight:
        break;
    }
    return model()->index(int(std::clamp<qint64>(row, 0, count - 1)), 0, rootIndex());
}

int RecordListView::horizontalOffset() const
{
    return horizontalScrollBar()->value();
}

int RecordListView::verticalOffset() const
{
    return int(std::min<qint64>(contentTop(), INT_MAX / 2));
}

bool RecordListView::isIndexHidden(const QModelIndex&) const
{
    return false;
}

void RecordListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command)
{
    if (!selectionModel())
        return;
    const QRect area = rect.normalized();
    const qint64 count = rowCount();
    const qint64 first = std::max<qint64>(rowAtY(area.top()), 0);
    const qint64 last = std::min<qint64>(rowAtY(area.bottom()), count - 1);
    QItemSelection selection;
    if (first <= last)
        selection.select(model()->index(int(first), 0, rootIndex()), model()->index(int(last), 0, rootIndex()));
    selectionModel()->select(selection, command);
}

QRegion RecordListView::visualRegionForSelection(const QItemSelection& selection) const
{
    // Only what is in view: a selection of a million rows is one rectangle.
    const qint64 firstInView = rowAtY(0);
    const qint64 lastInView = rowAtY(viewport()->height() - 1);
    QRegion region;
    for (const QItemSelectionRange& range : selection) {
        if (!range.isValid() || range.parent() != rootIndex() || range.left() > 0)
            continue;
        const qint64 first = std::max<qint64>(range.top(), firstInView);
        const qint64 last = std::min<qint64>(range.bottom(), lastInView);
        if (first <= last)
            region += rowRect(int(first)).united(rowRect(int(last)));
    }
    return region;
}

void RecordListView::setModel(QAbstractItemModel* model)
{
    if (auto* records = qobject_cast<KafkaRecordModel*>(this->model())) {
        disconnect(records, &KafkaRecordModel::batchAboutToBeInserted, this, &RecordListView::takeSelectionAside);
        disconnect(records, &KafkaRecordModel::batchInserted, this, &RecordListView::restoreSelection);
    }
    QAbstractItemView::setModel(model);
    if (auto* records = qobject_cast<KafkaRecordModel*>(model)) {
        connect(records, &KafkaRecordModel::batchAboutToBeInserted, this, &RecordListView::takeSelectionAside);
        connect(records, &KafkaRecordModel::batchInserted, this, &RecordListView::restoreSelection);
    }
}

void RecordListView::reset()
{
    rowsInsertedAboveView = 0;
    setAsideSelection.clear();
    QAbstractItemView::reset();
}

void RecordListView::takeSelectionAside()
{
    // Qt's selection model splits a selected range at every row inserted
    // inside it and walks all its ranges at every insertion: records
    // arriving among a large selection would cost more with each one. The
    // selection goes aside while the batch goes in, its ranges held by
    // persistent indexes that follow the rows, and comes back whole: a record
    // that lands inside a selected range joins it.
    QItemSelectionModel* selections = selectionModel();
    if (!selections || !selections->hasSelection())
        return;
    setAsideSelection = selections->selection();
    const QSignalBlocker quiet(selections);
    selections->clearSelection();
}

void RecordListView::restoreSelection()
{
    QItemSelectionModel* selections = selectionModel();
    if (!selections || setAsideSelection.isEmpty())
        return;
    // Nothing was chosen or dropped: nobody hears of it. The second call
    // settles the ranges as an insertion settles them, so that a Shift-click
    // afterwards extends the selection as it would have.
    const QSignalBlocker quiet(selections);
    selections->select(std::exchange(setAsideSelection, {}), QItemSelectionModel::ClearAndSelect);
    selections->select(QItemSelection(), QItemSelectionModel::Select);
}

void RecordListView::rowsInserted(const QModelIndex& parent, int start, int end)
{
    QAbstractItemView::rowsInserted(parent, start, end);
    if (parent != rootIndex())
        return;
    // Once the user has scrolled away from the very top, the row at the top
    // of the view stays there when rows go in above it; at the very top the
    // view keeps showing the first rows. Rows inserted below the view move
    // nothing in it.
    if (contentTop() > 0 && start <= rowAtY(0))
        rowsInsertedAboveView += end - start + 1;
    else if (start <= rowAtY(viewport()->height()))
        viewport()->update();
    // The scroll bars follow once per turn of the event loop, however many
    // insertions the turn brings.
    if (!geometriesPending) {
        geometriesPending = true;
        QMetaObject::invokeMethod(this, &RecordListView::updatePendingGeometries, Qt::QueuedConnection);
    }
}

void RecordListView::updatePendingGeometries()
{
    if (geometriesPending)
        updateGeometries();
}

void RecordListView::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end)
{
    updatePendingGeometries();
    QAbstractItemView::rowsAboutToBeRemoved(parent, start, end);
    if (parent == rootIndex())
        scheduleDelayedItemsLayout();
}

void RecordListView::updateGeometries()
{
    geometriesPending = false;
    const QSize size = rowSize();
    const qint64 count = rowCount();
    QScrollBar* vertical = verticalScrollBar();
    // Rows are as wide as the viewport, whatever their keys.
    horizontalScrollBar()->setRange(0, 0);
    if (!size.isValid()) {
        vertical->setRange(0, 0);
        rowsInsertedAboveView = 0;
    } else {
        const qint64 top = contentTop();
        const int viewHeight = viewport()->height();
        if (verticalScrollMode() == ScrollPerItem) {
            const int inView = wholeRowsInView();
            vertical->setSingleStep(1);
            vertical->setPageStep(inView);
            vertical->setRange(0, int(std::max<qint64>(0, count - inView)));
        } else {
            vertical->setSingleStep(size.height());
            vertical->setPageStep(viewHeight);
            vertical->setRange(0, int(std::clamp<qint64>(count * size.height() - viewHeight, 0, INT_MAX)));
        }
        if (rowsInsertedAboveView != 0) {
            // The rows in view stay where they are drawn: the scroll bar
            // takes up the rows that went in above them.
            rowsInsertedAboveView = 0;
            const qint64 value = verticalScrollMode() == ScrollPerItem ? top / size.height() : top;
            const QScopedValueRollback keep(keepingRowsInPlace, true);
            vertical->setValue(int(std::clamp<qint64>(value, vertical->minimum(), vertical->maximum())));
        }
    }
    QAbstractItemView::updateGeometries();
}

void RecordListView::scrollContentsBy(int dx, int dy)
{
    // What the view shows does not move when the scroll bar takes up rows
    // inserted above it.
    if (keepingRowsInPlace)
        return;
    if (verticalScrollMode() == ScrollPerItem && dy != 0) {
        // The scroll bar counts rows; the viewport moves by pixels, and a
        // move past its height shows only new rows whatever its length.
        const QSize size = rowSize();
        const qint64 limit = qint64(viewport()->height()) + (size.isValid() ? size.height() : 1);
        dy = int(std::clamp(qint64(dy) * (size.isValid() ? size.height() : 1), -limit, limit));
    }
    QAbstractItemView::scrollContentsBy(dx, dy);
}

void RecordListView::paintEvent(QPaintEvent* event)
{
    const qint64 count = rowCount();
    if (count == 0 || !rowSize().isValid())
        return;
    QPainter painter(viewport());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QStyle::State state = option.state;
    const bool enabled = state.testFlag(QStyle::State_Enabled);
    const QModelIndex current = currentIndex();
    const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
    const QItemSelectionModel* selections = selectionModel();

    const QRect area = event->rect();
    const qint64 first = std::max<qint64>(rowAtY(area.top()), 0);
    const qint64 last = std::min<qint64>(rowAtY(area.bottom()), count - 1);
    for (qint64 row = first; row <= last; ++row) {
        const QModelIndex index = model()->index(int(row), 0, rootIndex());
        option.rect = rowRect(int(row));
        option.state = state;
        if (selections && selections->isSelected(index))
            option.state |= QStyle::State_Selected;
        if (enabled) {
            if (model()->flags(index).testFlag(Qt::ItemIsEnabled)) {
                option.palette.setCurrentColorGroup(QPalette::Normal);
            } else {
                option.state &= ~QStyle::State_Enabled;
                option.palette.setCurrentColorGroup(QPalette::Disabled);
            }
        }
        if (focus && index == current) {
            option.state |= QStyle::State_HasFocus;
            if (this->state() == EditingState)
                option.state |= QStyle::State_Editing;
        }
        itemDelegateForIndex(index)->paint(&painter, option, index);
    }
}

void RecordListView::keyboardSearch(const QString& search)
{
    const auto* records = qobject_cast<const KafkaRecordModel*>(model());
    if (!records) {
        QAbstractItemView::keyboardSearch(search);
        return;
    }
    const int rows = records->rowCount();
    if (rows == 0)
        return;
    const QModelIndex current = currentIndex();
    // Every call counts as a key press, also one that starts a new search.
    const bool timed = sinceLastKey.isValid();
    const qint64 elapsed = timed ? sinceLastKey.restart() : 0;
    if (!timed)
        sinceLastKey.start();
    bool skipCurrent = false;
    if (search.isEmpty() || !timed || elapsed > QApplication::keyboardInputInterval()) {
        typed = search;
        skipCurrent = current.isValid();
    } else if (typed.size() <= KafkaRecordListItemDelegate::ShownKeyLength) {
        // A text longer than any key line matches no row (a letter held
        // down is searched for alone), so it grows no further.
        typed += search;
    }
    if (typed.isEmpty())
        return;
    // The same letter again and again steps through the rows starting with it.
    QString text = typed;
    if (typed.size() > 1 && typed.count(typed.back()) == typed.size()) {
        skipCurrent = true;
        text = typed.back();
    }
    int start = current.isValid() ? current.row() : 0;
    if (skipCurrent)
        start = start + 1 < rows ? start + 1 : 0;
    const int found = findKeyStartingWith(text, start);
    if (found >= 0)
        setCurrentIndex(records->index(found));
}

int RecordListView::findKeyStartingWith(const QString& text, int startRow) const
{
    const auto* records = static_cast<const KafkaRecordModel*>(model());
    const int rows = records->rowCount();
    // A line break in the key takes up to two characters for one shown, so
    // twice the typed text's length covers the part of the line compared.
    const qsizetype shownLength = std::min<qsizetype>(2 * text.size() + 2, KafkaRecordListItemDelegate::ShownKeyLength);
    const int scanned = std::min(rows, TypeAheadRows);
    for (int n = 0; n < scanned; ++n) {
        const int row = (startRow + n) % rows;
        const QByteArray& key = records->record(records->index(row)).key;
        if (KafkaRecordListItemDelegate::keyLine(key, shownLength).startsWith(text, Qt::CaseInsensitive))
            return row;
    }
    return -1;
}

void RecordListView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    RecordListAccessible::announceCurrent(this, current);
    QAbstractItemView::currentChanged(current, previous);
}

void RecordListView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    RecordListAccessible::announceSelectionChange(this, selected, deselected);
    QAbstractItemView::selectionChanged(selected, deselected);
}
