#pragma once

#include "Error.h"
#include "Popover.h"

#include <QList>
#include <QModelIndex>

#include <memory>

class ErrorListModel;

namespace Ui {
class ErrorsPopover;
}

// The bubble that the status-bar errors button opens: the errors of the
// current tab (or of the main window) on the left, the selected one's
// message with its causes on the right, and "Clear all", which empties the
// owner's list. It points at the list only while shown; whoever opens it
// hands the list again each time. GUI thread only.
class ErrorsPopover : public Popover {
    Q_OBJECT

public:
    explicit ErrorsPopover(QWidget* parent = nullptr);
    ~ErrorsPopover() override;

    // The list must outlive the popover's showing.
    void setErrors(QList<KafkaError>& errors);

signals:
    // The list was emptied.
    void dataChanged();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private slots:
    void onErrorSelected(const QModelIndex& current, const QModelIndex& previous);
    void onClearAllErrors();

private:
    void refreshDetailsPane();

    std::unique_ptr<Ui::ErrorsPopover> ui;
    std::unique_ptr<ErrorListModel> errorListModel;

    friend class ErrorsPopoverTest;
};
