#pragma once

#include <QAbstractItemView>
#include <QElapsedTimer>
#include <QItemSelection>
#include <QSize>
#include <QString>

// The records tab's list of records (a KafkaRecordModel painted by a
// KafkaRecordListItemDelegate): the rows of the model's first column, one
// below the other, each as high as the delegate makes the first row and as
// wide as the viewport, however long its key (the delegate elides it).
//
// Because every row has the same height, where a row lies is arithmetic:
// nothing is laid out ahead of painting, painting and hit-testing touch only
// the rows in view, and inserting a row costs the same with ten rows as with
// millions, however fast rows arrive. The vertical scroll bar counts rows (in
// pixels with ScrollPerPixel) and is brought up to date once per turn of the
// event loop, not per insertion.
//
// Rows arriving keep what the user looks at in place: once scrolled away
// from the very top, the row at the top of the view stays at the top when
// rows go in above it (at the very top, the view keeps showing the first
// rows); rows going in below the view move nothing. The selection stays as
// it was, a record that lands inside a selected range joining it, and
// arrivals announce no selection change.
//
// Typing in it moves to a row whose key, as the row shows it, starts with
// what was typed, ignoring case, as Qt's lists do: letters typed within
// QApplication::keyboardInputInterval() of each other make one search, which
// starts at the current row (a new search and a repeated letter at the row
// after it) and wraps around at the end.
//
// A key press costs a bounded time however long the list and its keys are:
// it compares at most TypeAheadRows rows, and of each key only the first
// characters that the typed text needs are decoded. A row further than that
// from the current one is not found by that key press.
class RecordListView : public QAbstractItemView {
    Q_OBJECT

public:
    static constexpr int TypeAheadRows = 50'000;

    explicit RecordListView(QWidget* parent = nullptr);

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    void keyboardSearch(const QString& search) override;
    void doItemsLayout() override;
    void setModel(QAbstractItemModel* model) override;
    void reset() override;

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;

    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* event) override;
    // Also announce the current row and the selection to assistive
    // technology, as a QListView does (see RecordListAccessible).
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;

private:
    void takeSelectionAside();
    void restoreSelection();
    void updatePendingGeometries();

    int rowCount() const;
    // The size of every row: the delegate's size of the first row, measured
    // again after each layout, 1 x 1 at least. Invalid while there are no rows.
    QSize rowSize() const;
    // Rows of the viewport's height that are wholly in view, at least 1.
    int wholeRowsInView() const;
    // Content y of the viewport's top edge.
    qint64 contentTop() const;
    // The row at viewport y (which may be beyond either end of the rows).
    qint64 rowAtY(int y) const;
    // The rectangle of a row in viewport coordinates.
    QRect rowRect(int row) const;
    // The row that the search finds, or -1.
    int findKeyStartingWith(const QString& text, int startRow) const;

    mutable QSize measuredRowSize;
    // Rows inserted above the view that the scroll bar's value has yet to
    // take up, and whether the scroll bars wait for that update.
    qint64 rowsInsertedAboveView = 0;
    bool geometriesPending = false;
    // The scroll bar is taking up rows inserted above the view.
    bool keepingRowsInPlace = false;
    // The selection while a batch of records goes in.
    QItemSelection setAsideSelection;
    QString typed;
    QElapsedTimer sinceLastKey;
};
