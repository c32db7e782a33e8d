#pragma once

#include "UserPrompts.h"

// Prompts answered from queues instead of by a person, installed while they
// live; an empty queue answers as a cancelled dialog.
class AnsweringPrompts final : public UserPrompts {
public:
    AnsweringPrompts() { UserPrompts::install(this); }
    ~AnsweringPrompts() override { UserPrompts::install(nullptr); }

    QList<QStringList> files; // openFileNames, or the first for openFileName
    QStringList directories;
    QList<QMessageBox::StandardButton> buttons;
    QStringList told; // the texts of information and warning messages, in order

    QStringList openFileNames(QWidget*, const QString&, const QString&, const QString&) override
    {
        return files.isEmpty() ? QStringList() : files.takeFirst();
    }
    QString openFileName(QWidget*, const QString&, const QString&, const QString&) override
    {
        return files.isEmpty() ? QString() : files.takeFirst().value(0);
    }
    QString existingDirectory(QWidget*, const QString&, const QString&) override
    {
        return directories.isEmpty() ? QString() : directories.takeFirst();
    }
    QMessageBox::StandardButton question(QWidget*, const QString&, const QString&, QMessageBox::StandardButtons) override
    {
        return buttons.isEmpty() ? QMessageBox::NoButton : buttons.takeFirst();
    }
    void information(QWidget*, const QString&, const QString& text) override { told.append(text); }
    void warning(QWidget*, const QString&, const QString& text) override { told.append(text); }
};
