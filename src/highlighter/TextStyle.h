#pragma once

#include <functional>

namespace Highlighting {

// The kinds of text the tokenizers tell apart; a theme gives each its format.
enum class TextStyle {
    Key,
    String,
    Escape,
    Number,
    Keyword,
    Punctuation,
    Element,
    Attribute,
    AttributeValue,
    Entity,
    Comment,
    CData,
    ProcessingInstruction,
    Doctype,
};

inline constexpr int TextStyleCount = int(TextStyle::Doctype) + 1;

// Receives the styled spans of one line (start and length in UTF-16 units).
// A later span overrides an earlier one where they overlap.
using SpanSink = std::function<void(int start, int length, TextStyle style)>;

} // namespace Highlighting
