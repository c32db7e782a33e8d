#pragma once

#include <QLabel>

// The amber banner in which forms and tabs show the message of a failure.
// Its owner sets the text and shows or hides it. Messages often quote what a
// broker or the user supplied (topic names, group ids, record contents), so
// the text is always shown as plain text, never interpreted as markup.
class ErrorLabel : public QLabel {
    Q_OBJECT

public:
    explicit ErrorLabel(QWidget* parent = nullptr);
};
