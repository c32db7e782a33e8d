#include "Repository.h"

#include "JsonTokenizer.h"
#include "XmlTokenizer.h"

#include <QColor>

namespace Highlighting {

namespace {

QTextCharFormat coloured(const char* colour, bool italic = false)
{
    QTextCharFormat format;
    format.setForeground(QColor(QLatin1String(colour)));
    if (italic) {
        format.setFontItalic(true);
    }
    return format;
}

// Muted pastels for a dark blue-grey background. Every style has a format of
// its own, so that each can be told from the others.
Theme::Formats mirageFormats()
{
    Theme::Formats formats;
    const auto set = [&formats](TextStyle style, QTextCharFormat format) { formats[std::size_t(style)] = format; };
    set(TextStyle::Key, coloured("#78c8e6"));
    set(TextStyle::String, coloured("#b8d88c"));
    set(TextStyle::Escape, coloured("#8fdcc2"));
    set(TextStyle::Number, coloured("#c6b1f2"));
    set(TextStyle::Keyword, coloured("#f0a868"));
    set(TextStyle::Punctuation, coloured("#9aa3b2"));
    set(TextStyle::Element, coloured("#66c4dc"));
    set(TextStyle::Attribute, coloured("#eecb7a"));
    set(TextStyle::AttributeValue, coloured("#a9d47e"));
    set(TextStyle::Entity, coloured("#ec8d7e"));
    set(TextStyle::Comment, coloured("#6b7486", true));
    set(TextStyle::CData, coloured("#93c9a9"));
    set(TextStyle::ProcessingInstruction, coloured("#e39a76"));
    set(TextStyle::Doctype, coloured("#cf9ddc"));
    return formats;
}

int jsonLine(QStringView line, int, const SpanSink& sink)
{
    JsonTokenizer::tokenize(line, sink);
    return 0;
}

} // namespace

Definition Repository::definitionForName(const QString& name) const
{
    if (name == u"JSON") {
        return Definition(name, &jsonLine);
    }
    if (name == u"XML") {
        return Definition(name, &XmlTokenizer::tokenize);
    }
    return {};
}

Theme Repository::theme(const QString& name) const
{
    if (name == u"ayu Mirage") {
        return Theme(name, mirageFormats());
    }
    return {};
}

} // namespace Highlighting
