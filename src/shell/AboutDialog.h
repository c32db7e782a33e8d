#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class AboutDialog;
}

// The About dialog: name and version, the application icon, the authors,
// the terms of use and the open-source components the program is built
// with, each with its licence text from the resources.
class AboutDialog : public QDialog {
    Q_OBJECT

public:
    struct OpenSourceComponentInfo {
        const char* name;
        const char* licenseResource;
    };

    explicit AboutDialog(QWidget* parent = nullptr);
    ~AboutDialog() override;

    // The component of a row of the list; the index must be a row's.
    static const OpenSourceComponentInfo* findOpenSourceComponentInfo(int index);

private:
    void showLicense(int row);

    std::unique_ptr<Ui::AboutDialog> ui;
};
