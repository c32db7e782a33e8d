#pragma once

#include <QIcon>
#include <QString>

class QApplication;

// Start-up of the program: resources, style, palette and icon, the main
// window and the event loop.

// Registers the embedded resources of the shell and of the views (icons and
// licence texts). Calling it again does nothing.
void initShellResources();

// The fixed dark palette, installed application-wide.
void setupDarkPalette(QApplication& application);

// The icon of the given name in every size the resources hold.
QIcon loadMainIcon(const QString& name);

// Installs the style, palette and window icon on the application.
void setupApplicationLook(QApplication& application);

// The whole program: prepares the application, shows the main window, runs
// the event loop and returns its exit code. The main window is destroyed
// before the application object.
int runApplication(int argc, char** argv);
