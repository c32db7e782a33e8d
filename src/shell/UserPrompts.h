#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

class QWidget;

// The questions the program puts to the user in standard dialogs: choosing
// files and directories, and message boxes. Everything that asks goes through
// current(), so that tests can install prompts that answer without a person.
// The built-in prompts are Qt's own file dialogs and message boxes.
//
// GUI thread only, like the dialogs themselves.
class UserPrompts {
public:
    virtual ~UserPrompts() = default;

    // Existing files chosen with a file dialog; empty when cancelled.
    virtual QStringList openFileNames(QWidget* parent, const QString& caption, const QString& directory,
        const QString& filter) = 0;
    // One existing file; empty when cancelled.
    virtual QString openFileName(QWidget* parent, const QString& caption, const QString& directory,
        const QString& filter) = 0;
    // An existing directory (only directories are shown); empty when cancelled.
    virtual QString existingDirectory(QWidget* parent, const QString& caption, const QString& directory) = 0;

    // The button the user chose; NoButton when the box was closed otherwise.
    virtual QMessageBox::StandardButton question(QWidget* parent, const QString& title, const QString& text,
        QMessageBox::StandardButtons buttons) = 0;
    virtual void information(QWidget* parent, const QString& title, const QString& text) = 0;
    virtual void warning(QWidget* parent, const QString& title, const QString& text) = 0;

    // The installed prompts, or the built-in ones.
    static UserPrompts& current();
    // Installs prompts owned by the caller, which keeps them alive until it
    // installs nullptr again (back to the built-in ones).
    static void install(UserPrompts* prompts);
};
