#include "Theme.h"

#include <utility>

namespace Highlighting {

Theme::Theme(QString name, Formats formats)
    : m_name(std::move(name))
    , m_formats(std::move(formats))
{
}

} // namespace Highlighting
