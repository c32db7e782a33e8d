#pragma once

#include <QAccessibleWidget>
#include <QHash>
#include <QItemSelection>
#include <QModelIndex>

class RecordListView;

// What assistive technology sees of a RecordListView: a list (as Qt shows a
// QListView) with one child per row of the model's first column, a
// RecordListRowAccessible named with what the row shows.
//
// Asking for the list or for one row costs the same however many rows there
// are: nothing walks the rows. Row interfaces are made when asked for and kept
// by row until the rows move (QAccessibleTableInterface::modelChange, which Qt
// calls for the model change events the view sends while accessibility is
// active; asking for a row after rows came or went unannounced, or for a row
// whose kept interface has moved, keys them again).
//
// A selection may hold millions of rows: the selected counts are exact, but
// selectedCells() and selectedRows() list only the first ReportedSelection
// selected rows, in row order.
class RecordListAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    static constexpr int ReportedSelection = 256;
    // A selection change of more rows than this is announced as one
    // SelectionWithin event of the list rather than one event per row.
    static constexpr int AnnouncedSelectionRows = 64;

    explicit RecordListAccessible(RecordListView* view);
    ~RecordListAccessible() override;

    // Makes QAccessible answer with this class for every RecordListView; the
    // first call registers, later calls do nothing.
    static void registerFactory();
    // The events a QListView sends: Focus with the current row as the child
    // while the list has focus, SelectionAdd and SelectionRemove per row that
    // changed. Nothing while accessibility is inactive.
    static void announceCurrent(RecordListView* view, const QModelIndex& current);
    static void announceSelectionChange(RecordListView* view, const QItemSelection& selected,
        const QItemSelection& deselected);

    RecordListView* view() const;
    // The model index of a row, invalid for a row the list does not have.
    QModelIndex indexOfRow(int row) const;

    // QAccessibleInterface
    QAccessible::State state() const override;
    QAccessibleInterface* focusChild() const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* child(int index) const override;
    int childCount() const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    // QAccessibleTableInterface
    QAccessibleInterface* caption() const override;
    QAccessibleInterface* summary() const override;
    QAccessibleInterface* cellAt(int row, int column) const override;
    int selectedCellCount() const override;
    QList<QAccessibleInterface*> selectedCells() const override;
    QString columnDescription(int column) const override;
    QString rowDescription(int row) const override;
    int selectedColumnCount() const override;
    int selectedRowCount() const override;
    int columnCount() const override;
    int rowCount() const override;
    QList<int> selectedColumns() const override;
    QList<int> selectedRows() const override;
    bool isColumnSelected(int column) const override;
    bool isRowSelected(int row) const override;
    bool selectRow(int row) override;
    bool selectColumn(int column) override;
    bool unselectRow(int row) override;
    bool unselectColumn(int column) override;
    void modelChange(QAccessibleTableModelChangeEvent* event) override;

private:
    // Keys the kept row interfaces by the rows they stand for now, dropping
    // those whose rows are gone.
    void rekeyRows() const;
    void forgetRows() const;

    mutable QHash<int, QAccessible::Id> rowToId;
    // The row count when rowToId was last keyed.
    mutable int keyedRows = 0;
};
