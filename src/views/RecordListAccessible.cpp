#include "RecordListAccessible.h"

#include "RecordListRowAccessible.h"
#include "RecordListView.h"

#include <QItemSelectionModel>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace {

// First and last row of a run of rows.
using RowSpan = std::pair<int, int>;

// The rows of the view's list that a selection holds, as ascending runs that
// neither overlap nor touch. Costs the number of ranges, not of rows.
std::vector<RowSpan> rowSpans(const QAbstractItemView* view, const QItemSelection& selection)
{
    std::vector<RowSpan> spans;
    for (const QItemSelectionRange& range : selection) {
        if (range.isValid() && range.model() == view->model() && range.parent() == view->rootIndex()
            && range.left() <= 0 && range.right() >= 0)
            spans.emplace_back(range.top(), range.bottom());
    }
    std::sort(spans.begin(), spans.end());
    std::vector<RowSpan> merged;
    for (const RowSpan& span : spans) {
        if (!merged.empty() && qint64(span.first) <= qint64(merged.back().second) + 1)
            merged.back().second = std::max(merged.back().second, span.second);
        else
            merged.push_back(span);
    }
    return merged;
}

std::vector<RowSpan> selectedSpans(const QAbstractItemView* view)
{
    const QItemSelectionModel* selections = view->selectionModel();
    return selections ? rowSpans(view, selections->selection()) : std::vector<RowSpan> {};
}

qint64 rowsIn(const std::vector<RowSpan>& spans)
{
    qint64 rows = 0;
    for (const auto& [first, last] : spans)
        rows += qint64(last) - first + 1;
    return rows;
}

// The first `limit` rows of the spans.
QList<int> firstRows(const std::vector<RowSpan>& spans, int limit)
{
    QList<int> rows;
    for (const auto& [first, last] : spans) {
        for (int row = first; row <= last && rows.size() < limit; ++row)
            rows.append(row);
    }
    return rows;
}

void announceRows(RecordListView* view, const std::vector<RowSpan>& spans, QAccessible::Event type)
{
    for (const int row : firstRows(spans, RecordListAccessible::AnnouncedSelectionRows)) {
        QAccessibleEvent event(view, type);
        event.setChild(row);
        QAccessible::updateAccessibility(&event);
    }
}

QAccessibleInterface* recordListFactory(const QString& className, QObject* object)
{
    if (className != QLatin1String("RecordListView"))
        return nullptr;
    // QAccessible keeps the interface until the view is destroyed.
    auto* view = qobject_cast<RecordListView*>(object);
    return view ? new RecordListAccessible(view) : nullptr;
}

} // namespace

RecordListAccessible::RecordListAccessible(RecordListView* view)
    : QAccessibleWidget(view, QAccessible::List)
{
}

RecordListAccessible::~RecordListAccessible()
{
    forgetRows();
}

void RecordListAccessible::registerFactory()
{
    static std::once_flag registered;
    std::call_once(registered, [] { QAccessible::installFactory(recordListFactory); });
}

void RecordListAccessible::announceCurrent(RecordListView* view, const QModelIndex& current)
{
    if (!QAccessible::isActive() || !current.isValid() || current.parent() != view->rootIndex()
        || current.column() != 0 || !(view->hasFocus() || view->viewport()->hasFocus()))
        return;
    QAccessibleEvent event(view, QAccessible::Focus);
    event.setChild(current.row());
    QAccessible::updateAccessibility(&event);
}

void RecordListAccessible::announceSelectionChange(RecordListView* view, const QItemSelection& selected,
    const QItemSelection& deselected)
{
    if (!QAccessible::isActive())
        return;
    const std::vector<RowSpan> added = rowSpans(view, selected);
    const std::vector<RowSpan> removed = rowSpans(view, deselected);
    if (rowsIn(added) + rowsIn(removed) > AnnouncedSelectionRows) {
        QAccessibleEvent event(view, QAccessible::SelectionWithin);
        QAccessible::updateAccessibility(&event);
        return;
    }
    announceRows(view, added, QAccessible::SelectionAdd);
    announceRows(view, removed, QAccessible::SelectionRemove);
}

RecordListView* RecordListAccessible::view() const
{
    return static_cast<RecordListView*>(widget());
}

QModelIndex RecordListAccessible::indexOfRow(int row) const
{
    const QAbstractItemModel* model = view()->model();
    if (!model || row < 0 || row >= model->rowCount(view()->rootIndex()))
        return {};
    return model->index(row, 0, view()->rootIndex());
}

QAccessible::State RecordListAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    switch (view()->selectionMode()) {
    case QAbstractItemView::MultiSelection:
        state.multiSelectable = true;
        break;
    case QAbstractItemView::ExtendedSelection:
        state.extSelectable = true;
        state.multiSelectable = true;
        break;
    default:
        break;
    }
    return state;
}

QAccessibleInterface* RecordListAccessible::focusChild() const
{
    // The rows are the list's only children; without focus in the list, none
    // has it.
    const QModelIndex current = view()->currentIndex();
    const bool focused = view()->hasFocus() || view()->viewport()->hasFocus();
    if (focused && current.isValid() && current.parent() == view()->rootIndex() && current.column() == 0)
        return child(current.row());
    return nullptr;
}

QAccessibleInterface* RecordListAccessible::childAt(int x, int y) const
{
    const QModelIndex index = view()->indexAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
    return index.isValid() ? child(index.row()) : nullptr;
}

QAccessibleInterface* RecordListAccessible::child(int index) const
{
    const QModelIndex modelIndex = indexOfRow(index);
    if (!modelIndex.isValid())
        return nullptr;
    // Rows inserted or removed while no model change reached this list
    // (accessibility inactive) leave the keys behind their rows.
    if (rowCount() != keyedRows)
        rekeyRows();
    if (const auto kept = rowToId.constFind(index); kept != rowToId.constEnd()) {
        auto* row = static_cast<RecordListRowAccessible*>(QAccessible::accessibleInterface(*kept));
        if (row && row->index() == modelIndex)
            return row;
        rekeyRows();
        if (const auto rekeyed = rowToId.constFind(index); rekeyed != rowToId.constEnd())
            return QAccessible::accessibleInterface(*rekeyed);
    }
    // QAccessible owns the row from here; forgetRows() and rekeyRows() end it.
    auto* row = new RecordListRowAccessible(view(), modelIndex);
    rowToId.insert(index, QAccessible::registerAccessibleInterface(row));
    return row;
}

int RecordListAccessible::childCount() const
{
    return rowCount();
}

int RecordListAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    const auto* row = dynamic_cast<const RecordListRowAccessible*>(child);
    return row && row->view() == view() ? row->rowIndex() : -1;
}

void* RecordListAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TableInterface)
        return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessibleInterface* RecordListAccessible::caption() const
{
    return nullptr;
}

QAccessibleInterface* RecordListAccessible::summary() const
{
    return nullptr;
}

QAccessibleInterface* RecordListAccessible::cellAt(int row, int column) const
{
    return column == 0 ? child(row) : nullptr;
}

int RecordListAccessible::selectedCellCount() const
{
    return int(rowsIn(selectedSpans(view())));
}

QList<QAccessibleInterface*> RecordListAccessible::selectedCells() const
{
    QList<QAccessibleInterface*> cells;
    for (const int row : selectedRows()) {
        if (QAccessibleInterface* cell = child(row))
            cells.append(cell);
    }
    return cells;
}

QString RecordListAccessible::columnDescription(int column) const
{
    const QAbstractItemModel* model = view()->model();
    return model && column == 0 ? model->headerData(column, Qt::Horizontal).toString() : QString();
}

QString RecordListAccessible::rowDescription(int row) const
{
    const QAbstractItemModel* model = view()->model();
    return indexOfRow(row).isValid() ? model->headerData(row, Qt::Vertical).toString() : QString();
}

int RecordListAccessible::selectedColumnCount() const
{
    return isColumnSelected(0) ? 1 : 0;
}

int RecordListAccessible::selectedRowCount() const
{
    return selectedCellCount();
}

int RecordListAccessible::columnCount() const
{
    return view()->model() ? 1 : 0;
}

int RecordListAccessible::rowCount() const
{
    const QAbstractItemModel* model = view()->model();
    return model ? model->rowCount(view()->rootIndex()) : 0;
}

QList<int> RecordListAccessible::selectedColumns() const
{
    return isColumnSelected(0) ? QList<int> { 0 } : QList<int> {};
}

QList<int> RecordListAccessible::selectedRows() const
{
    return firstRows(selectedSpans(view()), ReportedSelection);
}

bool RecordListAccessible::isColumnSelected(int column) const
{
    // The column is selected when every row is.
    const int rows = rowCount();
    if (column != 0 || rows == 0)
        return false;
    const std::vector<RowSpan> spans = selectedSpans(view());
    return spans.size() == 1 && spans.front().first <= 0 && spans.front().second >= rows - 1;
}

bool RecordListAccessible::isRowSelected(int row) const
{
    const QModelIndex index = indexOfRow(row);
    return index.isValid() && view()->selectionModel() && view()->selectionModel()->isSelected(index);
}

bool RecordListAccessible::selectRow(int row)
{
    QItemSelectionModel* selections = view()->selectionModel();
    const QModelIndex index = indexOfRow(row);
    if (!index.isValid() || !selections)
        return false;
    switch (view()->selectionMode()) {
    case QAbstractItemView::NoSelection:
        return false;
    case QAbstractItemView::SingleSelection:
        view()->clearSelection();
        break;
    case QAbstractItemView::ContiguousSelection:
        // A row away from the selection starts a new one.
        if (!isRowSelected(row - 1) && !isRowSelected(row + 1))
            view()->clearSelection();
        break;
    default:
        break;
    }
    selections->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    return true;
}

bool RecordListAccessible::selectColumn(int)
{
    // A list selects rows.
    return false;
}

bool RecordListAccessible::unselectRow(int row)
{
    QItemSelectionModel* selections = view()->selectionModel();
    const QModelIndex index = indexOfRow(row);
    if (!index.isValid() || !selections)
        return false;
    QItemSelection selection(index, index);
    switch (view()->selectionMode()) {
    case QAbstractItemView::SingleSelection:
        // The user cannot leave such a list without a selection either.
        if (selectedRowCount() == 1)
            return false;
        break;
    case QAbstractItemView::ContiguousSelection:
        if (selectedRowCount() == 1)
            return false;
        // Unselecting a row inside the selection keeps the rows above it.
        if ((row == 0 || isRowSelected(row - 1)) && isRowSelected(row + 1))
            selection = QItemSelection(index, indexOfRow(rowCount() - 1));
        break;
    default:
        break;
    }
    selections->select(selection, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    return true;
}

bool RecordListAccessible::unselectColumn(int)
{
    return false;
}

void RecordListAccessible::modelChange(QAccessibleTableModelChangeEvent* event)
{
    if (rowToId.isEmpty())
        return;
    switch (event->modelChangeType()) {
    case QAccessibleTableModelChangeEvent::ModelReset:
        forgetRows();
        keyedRows = rowCount();
        break;
    case QAccessibleTableModelChangeEvent::RowsInserted:
    case QAccessibleTableModelChangeEvent::RowsRemoved:
    case QAccessibleTableModelChangeEvent::ColumnsInserted:
    case QAccessibleTableModelChangeEvent::ColumnsRemoved:
        // The row interfaces follow their rows (persistent indexes): the
        // kept ones at or after the first changed row move to new keys, and
        // those of removed rows go.
        rekeyRows();
        break;
    case QAccessibleTableModelChangeEvent::DataChanged:
        // Names are read from the model when asked for.
        break;
    }
}

void RecordListAccessible::rekeyRows() const
{
    const QModelIndex root = view()->rootIndex();
    QHash<int, QAccessible::Id> rekeyed;
    rekeyed.reserve(rowToId.size());
    for (const QAccessible::Id id : std::as_const(rowToId)) {
        auto* row = static_cast<RecordListRowAccessible*>(QAccessible::accessibleInterface(id));
        if (!row)
            continue;
        const QModelIndex index = row->index();
        if (index.isValid() && index.column() == 0 && index.parent() == root && !rekeyed.contains(index.row()))
            rekeyed.insert(index.row(), id);
        else
            QAccessible::deleteAccessibleInterface(id);
    }
    rowToId = std::move(rekeyed);
    keyedRows = rowCount();
}

void RecordListAccessible::forgetRows() const
{
    // Also called while the list is destroyed: touches nothing of it.
    for (const QAccessible::Id id : std::as_const(rowToId))
        QAccessible::deleteAccessibleInterface(id);
    rowToId.clear();
}
