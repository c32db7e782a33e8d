#pragma once

#include <QString>
#include <QStringView>

// Preparing text for the views that show record values and headers.
//
// A text view lays out a line as a whole whenever it shows part of it, at a
// cost that grows with the square of the line's length: a line of a few
// hundred thousand characters freezes the window for seconds. So whatever
// made a text (pretty printing, a value that did not format, a header), it is
// shown in lines of bounded length.

// `text` with line breaks inserted so that no line has more than
// maxLineLength characters (at least 2; a break never parts a surrogate
// pair); `text` itself when no line is that long.
QString withLongLinesBroken(QString text, qsizetype maxLineLength);

// The characters that re-indenting the JSON text `json` by two spaces a level
// adds at least (line breaks, indentation, a blank after each colon), counted
// without parsing it; counting stops once the count passes `limit`. Nesting
// deepens the indentation of every line inside it, so this grows with the
// square of the depth: a few megabytes of deeply nested JSON would take
// gigabytes, and parsing them alone takes many times their size.
qsizetype jsonIndentation(QStringView json, qsizetype limit);
