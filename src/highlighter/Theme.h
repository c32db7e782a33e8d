#pragma once

#include "TextStyle.h"

#include <QString>
#include <QTextCharFormat>

#include <array>

namespace Highlighting {

// The formats of the text styles under one name, as a repository hands them
// out. A default constructed theme (and one for an unknown name) is invalid
// and gives every style the empty format.
class Theme {
public:
    using Formats = std::array<QTextCharFormat, TextStyleCount>;

    Theme() = default;

    bool isValid() const { return !m_name.isEmpty(); }
    QString name() const { return m_name; }
    const QTextCharFormat& format(TextStyle style) const { return m_formats[std::size_t(style)]; }

    bool operator==(const Theme& other) const = default;

private:
    friend class Repository;

    Theme(QString name, Formats formats);

    QString m_name;
    Formats m_formats;
};

} // namespace Highlighting
