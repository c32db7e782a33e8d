#pragma once

#include "TextStyle.h"

#include <QStringView>

namespace Highlighting {

// Splits one line of XML into styled spans: element and attribute names,
// attribute values, entity and character references, comments, CDATA
// sections, processing instructions and the document type declaration. What
// is still open at the end of a line (a comment, a tag with attributes to
// come, a quoted value, ...) is carried to the next line as its state.
class XmlTokenizer {
public:
    // Styles `line`, which begins in `state` (the state returned for the line
    // before; any other value, such as -1 for the first line, starts in
    // character data), and returns the state at its end.
    static int tokenize(QStringView line, int state, const SpanSink& sink);
};

} // namespace Highlighting
