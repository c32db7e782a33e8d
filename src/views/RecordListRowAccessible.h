#pragma once

#include <QAccessible>
#include <QPersistentModelIndex>
#include <QPointer>

class RecordListView;

// One row of a RecordListView for assistive technology: a list item named
// with what the row shows (the key, the position and the timestamp of its
// record), selected, focused while it is the current row of the focused list,
// offscreen and invisible while scrolled out of view. Its action toggles the
// row's selection. It follows its row as rows are inserted and removed above
// it, and is no longer valid once its row is gone.
class RecordListRowAccessible : public QAccessibleInterface,
                                public QAccessibleTableCellInterface,
                                public QAccessibleActionInterface {
public:
    RecordListRowAccessible(RecordListView* view, const QModelIndex& index);

    // The row's model index now; invalid once the row is gone.
    QModelIndex index() const;
    RecordListView* view() const;

    // QAccessibleInterface
    bool isValid() const override;
    QObject* object() const override;
    QWindow* window() const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int index) const override;
    int childCount() const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QString text(QAccessible::Text type) const override;
    void setText(QAccessible::Text type, const QString& text) override;
    QRect rect() const override;
    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    // QAccessibleTableCellInterface
    bool isSelected() const override;
    QList<QAccessibleInterface*> columnHeaderCells() const override;
    QList<QAccessibleInterface*> rowHeaderCells() const override;
    int columnIndex() const override;
    int rowIndex() const override;
    int columnExtent() const override;
    int rowExtent() const override;
    QAccessibleInterface* table() const override;

    // QAccessibleActionInterface
    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;
    QStringList keyBindingsForAction(const QString& actionName) const override;

private:
    QPointer<RecordListView> m_view;
    QPersistentModelIndex m_index;
};
