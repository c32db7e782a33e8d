#include "Application.h"

#include "CustomStyle.h"
#include "MainWindow.h"
#include "ViewsResources.h"

#include <QApplication>
#include <QColor>
#include <QGuiApplication>
#include <QPalette>
#include <QStyleFactory>

static void registerShellResources()
{
    Q_INIT_RESOURCE(ShellResources);
}

void initShellResources()
{
    registerShellResources();
    initViewsResources();
}

void setupDarkPalette(QApplication& application)
{
    const QColor text(208, 209, 212);
    const QColor disabledText(137, 138, 140);
    const QColor base(46, 47, 49);

    QPalette palette;
    palette.setColor(QPalette::Window, QColor(60, 61, 64));
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, QColor(41, 41, 43));
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Disabled, QPalette::Text, disabledText);
    palette.setColor(QPalette::Link, text);
    palette.setColor(QPalette::Disabled, QPalette::Link, disabledText);
    palette.setColor(QPalette::Button, QColor(74, 75, 80));
    palette.setColor(QPalette::Disabled, QPalette::Button, QColor(69, 70, 75));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, disabledText);
    palette.setColor(QPalette::PlaceholderText, disabledText);
    palette.setColor(QPalette::BrightText, QColor(Qt::red));
    palette.setColor(QPalette::Highlight, QColor(191, 199, 213));
    palette.setColor(QPalette::HighlightedText, QColor(45, 44, 39));
    QApplication::setPalette(palette);
    Q_UNUSED(application)
}

QIcon loadMainIcon(const QString& name)
{
    QIcon icon;
    for (const int size : { 16, 20, 24, 32, 40, 48, 64, 96, 128, 256 })
        icon.addFile(QStringLiteral(":/resources/%1-%2.png").arg(name).arg(size));
    return icon;
}

void setupApplicationLook(QApplication& application)
{
    initShellResources();
    QApplication::setStyle(new CustomStyle(QStyleFactory::create(QStringLiteral("fusion"))));
    setupDarkPalette(application);
    QApplication::setWindowIcon(loadMainIcon(QStringLiteral("skelvane")));
}

int runApplication(int argc, char** argv)
{
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::Floor);
    QCoreApplication::setApplicationName(QStringLiteral("skelvane"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Skelvane"));

    QApplication application(argc, argv);
    setupApplicationLook(application);

    MainWindow mainWindow;
    mainWindow.show();
    return QApplication::exec();
}
