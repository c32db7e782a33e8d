#include "RecordListView.h"

#include "KafkaRecordListItemDelegate.h"
#include "KafkaRecordModel.h"

#include <QApplication>

#include <algorithm>

RecordListView::RecordListView(QWidget* parent)
    : QListView(parent)
{
}

void RecordListView::keyboardSearch(const QString& search)
{
    const auto* records = qobject_cast<const KafkaRecordModel*>(model());
    if (!records) {
        QListView::keyboardSearch(search);
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
