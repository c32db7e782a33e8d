#pragma once

// Drives one condition row of the filter editor as a user does.

#include "ConditionWidget.h"
#include "Int64SpinBox.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLayout>
#include <QTest>

#include <algorithm>

class ConditionRowDriver {
public:
    explicit ConditionRowDriver(ConditionWidget* row) : m_row(row) {}

    template <typename Enum>
    void choose(Enum value)
    {
        for (QComboBox* combo : m_row->findChildren<QComboBox*>()) {
            for (int i = 0; i < combo->count(); ++i) {
                const QVariant data = combo->itemData(i);
                if (data.metaType() == QMetaType::fromType<Enum>() && data.value<Enum>() == value)
                    return combo->setCurrentIndex(i);
            }
        }
        QFAIL("no such item in the row");
    }

    // The shown inputs left to right: "header", "text", "number", "time" and "and".
    QString describeInputs() const
    {
        QStringList kinds;
        for (QWidget* input : inputs()) {
            kinds.append(qobject_cast<Int64SpinBox*>(input) ? "number"
                    : qobject_cast<QDateTimeEdit*>(input)   ? "time"
                    : qobject_cast<QLabel*>(input)          ? "and"
                    : input == textBox()                    ? "text"
                                                            : "header");
        }
        return kinds.join(' ');
    }

    QList<Int64SpinBox*> numberBoxes() const { return shown<Int64SpinBox>(); }
    QList<QDateTimeEdit*> timeEdits() const { return shown<QDateTimeEdit>(); }
    QComboBox* textBox() const { return shown<QComboBox>().value(shown<QComboBox>().size() - 1); }

    static void typeNumber(Int64SpinBox* box, qint64 value)
    {
        box->selectAll();
        QTest::keyClicks(box, QString::number(value));
    }

private:
    QList<QWidget*> inputs() const
    {
        m_row->layout()->activate();
        QList<QWidget*> found;
        for (QWidget* child : m_row->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            const auto* combo = qobject_cast<QComboBox*>(child);
            if (((combo && combo->isEditable()) || qobject_cast<QAbstractSpinBox*>(child) || qobject_cast<QLabel*>(child))
                && child->isVisibleTo(m_row))
                found.append(child);
        }
        std::sort(found.begin(), found.end(), [](QWidget* a, QWidget* b) { return a->x() < b->x(); });
        return found;
    }

    template <typename Widget>
    QList<Widget*> shown() const
    {
        QList<Widget*> found;
        for (QWidget* input : inputs()) {
            if (auto* widget = qobject_cast<Widget*>(input))
                found.append(widget);
        }
        return found;
    }

    ConditionWidget* m_row;
};
