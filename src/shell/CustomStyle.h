#pragma once

#include <QProxyStyle>

// The program's one adjustment of the "fusion" style: the dialog close icon,
// which Qt also puts on the close buttons of tabs, is the program's own.
class CustomStyle : public QProxyStyle {
    Q_OBJECT

public:
    // Takes ownership of the base style, as every QProxyStyle does.
    explicit CustomStyle(QStyle* baseStyle);

    QIcon standardIcon(StandardPixmap standardIcon, const QStyleOption* option = nullptr,
        const QWidget* widget = nullptr) const override;
};
