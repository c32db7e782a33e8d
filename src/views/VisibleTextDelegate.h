#pragma once

#include <QStyledItemDelegate>

// Draws an item view's texts as visibleText shows them, for views of names
// that other programs chose; the model keeps every name as it is, so
// filtering, sorting and copying see the real name.
class VisibleTextDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    explicit VisibleTextDelegate(QObject* parent = nullptr);

    QString displayText(const QVariant& value, const QLocale& locale) const override;
};
