#pragma once

#include "Error.h"

#include <QString>

// The text as a view shows a name that another program chose (a topic, a
// group, a member or client id, a header key): every control character
// (line breaks and tabs included), line and paragraph separator and
// bidirectional formatting character (U+061C, U+200E, U+200F, U+202A to
// U+202E, U+2066 to U+2069) becomes U+FFFD, so that the name stays on its
// line, cannot reorder the text around it and shows what it holds. Used where
// text is drawn only; requests, filters and the clipboard take the name as it
// is. A text without such characters comes back unchanged, without a copy.
QString visibleText(const QString& text);

// An error as a label shows it: its message, then its causes' messages, a
// line each, as visibleText shows them.
QString visibleErrorLines(const KafkaError& error);
