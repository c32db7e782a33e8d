#pragma once

#include "TextStyle.h"

#include <QStringView>

namespace Highlighting {

// Splits one line of JSON into styled spans. A string followed by a colon is a
// key, any other string a value; escapes are marked inside both. JSON strings
// cannot span lines, so a line needs no state from the one before.
class JsonTokenizer {
public:
    static void tokenize(QStringView line, const SpanSink& sink);
};

} // namespace Highlighting
