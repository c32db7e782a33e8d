#pragma once

#include <QElapsedTimer>
#include <QListView>
#include <QString>

// The records tab's list of records (a KafkaRecordModel painted by a
// KafkaRecordListItemDelegate). Typing in it moves to a row whose key, as the
// row shows it, starts with what was typed, ignoring case, as Qt's lists do:
// letters typed within QApplication::keyboardInputInterval() of each other
// make one search, which starts at the current row (a new search and a
// repeated letter at the row after it) and wraps around at the end.
//
// A key press costs a bounded time however long the list and its keys are:
// it compares at most TypeAheadRows rows, and of each key only the first
// characters that the typed text needs are decoded. A row further than that
// from the current one is not found by that key press.
class RecordListView : public QListView {
    Q_OBJECT

public:
    static constexpr int TypeAheadRows = 50'000;

    explicit RecordListView(QWidget* parent = nullptr);

    void keyboardSearch(const QString& search) override;

private:
    // The row that the search finds, or -1.
    int findKeyStartingWith(const QString& text, int startRow) const;

    QString typed;
    QElapsedTimer sinceLastKey;
};
