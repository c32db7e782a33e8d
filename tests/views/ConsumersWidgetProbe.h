#pragma once

// What the consumer groups tab shows, read as a user reads it: the table's
// rows and the texts of its labels.

#include "ConsumerAssignmentModel.h"
#include "ConsumersWidget.h"
#include "ErrorLabel.h"

#include <QLabel>
#include <QTableView>

// Each row as its cells in the given columns joined by spaces, sorted.
inline QStringList shownRows(const ConsumersWidget& widget, const QList<int>& columns)
{
    const QAbstractItemModel& model = *widget.findChild<QTableView*>()->model();
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row) {
        QStringList cells;
        for (int column : columns)
            cells.append(model.index(row, column).data().toString());
        rows.append(cells.join(' '));
    }
    rows.sort();
    return rows;
}

// The texts of the labels other than the error label, captions included.
inline QStringList shownTexts(const ConsumersWidget& widget)
{
    QStringList texts;
    for (const QLabel* label : widget.findChildren<QLabel*>()) {
        if (!qobject_cast<const ErrorLabel*>(label) && !label->text().isEmpty())
            texts.append(label->text());
    }
    return texts;
}
