#include "UserPrompts.h"

#include <QFileDialog>

namespace {

// The texts often quote names the user or a file chose: never markup.
QMessageBox::StandardButton showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title,
    const QString& text, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, title, text, buttons, parent);
    box.setTextFormat(Qt::PlainText);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

class DialogPrompts final : public UserPrompts {
public:
    QStringList openFileNames(QWidget* parent, const QString& caption, const QString& directory,
        const QString& filter) override
    {
        return QFileDialog::getOpenFileNames(parent, caption, directory, filter);
    }

    QString openFileName(QWidget* parent, const QString& caption, const QString& directory,
        const QString& filter) override
    {
        return QFileDialog::getOpenFileName(parent, caption, directory, filter);
    }

    QString existingDirectory(QWidget* parent, const QString& caption, const QString& directory) override
    {
        return QFileDialog::getExistingDirectory(parent, caption, directory, QFileDialog::ShowDirsOnly);
    }

    QMessageBox::StandardButton question(QWidget* parent, const QString& title, const QString& text,
        QMessageBox::StandardButtons buttons) override
    {
        return showMessage(parent, QMessageBox::Question, title, text, buttons);
    }

    void information(QWidget* parent, const QString& title, const QString& text) override
    {
        showMessage(parent, QMessageBox::Information, title, text, QMessageBox::Ok);
    }

    void warning(QWidget* parent, const QString& title, const QString& text) override
    {
        showMessage(parent, QMessageBox::Warning, title, text, QMessageBox::Ok);
    }
};

// GUI thread only, as every caller.
UserPrompts* installed = nullptr;

} // namespace

UserPrompts& UserPrompts::current()
{
    static DialogPrompts dialogs;
    return installed ? *installed : dialogs;
}

void UserPrompts::install(UserPrompts* prompts)
{
    installed = prompts;
}
