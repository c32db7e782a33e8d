#include "RecordListRowAccessible.h"

#include "KafkaRecordListItemDelegate.h"
#include "KafkaRecordModel.h"
#include "RecordListView.h"

#include <QItemSelectionModel>

RecordListRowAccessible::RecordListRowAccessible(RecordListView* view, const QModelIndex& index)
    : m_view(view)
    , m_index(index)
{
}

QModelIndex RecordListRowAccessible::index() const
{
    if (!m_view || m_index.model() != m_view->model())
        return {};
    return m_index;
}

RecordListView* RecordListRowAccessible::view() const
{
    return m_view;
}

bool RecordListRowAccessible::isValid() const
{
    return index().isValid();
}

QObject* RecordListRowAccessible::object() const
{
    // A row is no object of its own; QAccessible keys interfaces of objects
    // by the object, which would take the list's place.
    return nullptr;
}

QWindow* RecordListRowAccessible::window() const
{
    const QAccessibleInterface* list = parent();
    return list ? list->window() : nullptr;
}

QAccessibleInterface* RecordListRowAccessible::childAt(int, int) const
{
    return nullptr;
}

QAccessibleInterface* RecordListRowAccessible::parent() const
{
    return QAccessible::queryAccessibleInterface(m_view.data());
}

QAccessibleInterface* RecordListRowAccessible::child(int) const
{
    return nullptr;
}

int RecordListRowAccessible::childCount() const
{
    return 0;
}

int RecordListRowAccessible::indexOfChild(const QAccessibleInterface*) const
{
    return -1;
}

QString RecordListRowAccessible::text(QAccessible::Text type) const
{
    const QModelIndex row = index();
    if (!row.isValid())
        return {};
    if (type == QAccessible::Name) {
        const auto* records = qobject_cast<const KafkaRecordModel*>(row.model());
        const auto* delegate = qobject_cast<const KafkaRecordListItemDelegate*>(m_view->itemDelegateForIndex(row));
        if (records && delegate)
            return delegate->shownText(records->record(row));
        const QVariant accessible = row.data(Qt::AccessibleTextRole);
        return accessible.isValid() ? accessible.toString() : row.data(Qt::DisplayRole).toString();
    }
    if (type == QAccessible::Description)
        return row.data(Qt::AccessibleDescriptionRole).toString();
    return {};
}

void RecordListRowAccessible::setText(QAccessible::Text, const QString&)
{
    // The rows are read-only.
}

QRect RecordListRowAccessible::rect() const
{
    const QModelIndex row = index();
    if (!row.isValid() || !m_view->isVisible())
        return {};
    const QRect inViewport = m_view->visualRect(row);
    return QRect(m_view->viewport()->mapToGlobal(inViewport.topLeft()), inViewport.size());
}

QAccessible::Role RecordListRowAccessible::role() const
{
    return QAccessible::ListItem;
}

QAccessible::State RecordListRowAccessible::state() const
{
    QAccessible::State state;
    const QModelIndex row = index();
    if (!row.isValid()) {
        state.invalid = true;
        return state;
    }
    const QWidget* viewport = m_view->viewport();
    if (!m_view->isVisible()) {
        state.invisible = true;
    } else if (!viewport->rect().intersects(m_view->visualRect(row))) {
        state.invisible = true;
        state.offscreen = true;
    }
    const Qt::ItemFlags flags = row.flags();
    if (!flags.testFlag(Qt::ItemIsEnabled))
        state.disabled = true;
    if (flags.testFlag(Qt::ItemIsSelectable) && m_view->selectionMode() != QAbstractItemView::NoSelection) {
        state.selectable = true;
        state.focusable = true;
        state.multiSelectable = m_view->selectionMode() == QAbstractItemView::MultiSelection;
        state.extSelectable = m_view->selectionMode() == QAbstractItemView::ExtendedSelection;
    }
    state.selected = isSelected();
    // As the row is painted: with focus only while the list has it.
    state.focused = row == m_view->currentIndex() && (m_view->hasFocus() || viewport->hasFocus());
    return state;
}

void* RecordListRowAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TableCellInterface)
        return static_cast<QAccessibleTableCellInterface*>(this);
    if (type == QAccessible::ActionInterface)
        return static_cast<QAccessibleActionInterface*>(this);
    return nullptr;
}

bool RecordListRowAccessible::isSelected() const
{
    const QModelIndex row = index();
    return row.isValid() && m_view->selectionModel() && m_view->selectionModel()->isSelected(row);
}

QList<QAccessibleInterface*> RecordListRowAccessible::columnHeaderCells() const
{
    return {};
}

QList<QAccessibleInterface*> RecordListRowAccessible::rowHeaderCells() const
{
    return {};
}

int RecordListRowAccessible::columnIndex() const
{
    return isValid() ? 0 : -1;
}

int RecordListRowAccessible::rowIndex() const
{
    const QModelIndex row = index();
    return row.isValid() ? row.row() : -1;
}

int RecordListRowAccessible::columnExtent() const
{
    return 1;
}

int RecordListRowAccessible::rowExtent() const
{
    return 1;
}

QAccessibleInterface* RecordListRowAccessible::table() const
{
    return parent();
}

QStringList RecordListRowAccessible::actionNames() const
{
    return { toggleAction() };
}

void RecordListRowAccessible::doAction(const QString& actionName)
{
    const int row = rowIndex();
    QAccessibleInterface* list = parent();
    QAccessibleTableInterface* rows = list ? list->tableInterface() : nullptr;
    if (actionName != toggleAction() || row < 0 || !rows)
        return;
    if (isSelected())
        rows->unselectRow(row);
    else
        rows->selectRow(row);
}

QStringList RecordListRowAccessible::keyBindingsForAction(const QString&) const
{
    return {};
}
