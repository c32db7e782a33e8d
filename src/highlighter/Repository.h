#pragma once

#include "Definition.h"
#include "Theme.h"

#include <QString>

namespace Highlighting {

// The definitions and themes that are built in: the definitions "JSON" and
// "XML" and the dark theme "ayu Mirage". Names are matched exactly; any
// other name gives an invalid definition or theme.
class Repository {
public:
    Definition definitionForName(const QString& name) const;
    Theme theme(const QString& name) const;
};

} // namespace Highlighting
