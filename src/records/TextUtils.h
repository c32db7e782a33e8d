#pragma once

#include "Error.h"
#include "Result.h"

#include <QByteArray>
#include <QString>

#include <limits>

// Re-indents a JSON document (an object or an array at the top level) by two
// spaces per level, keeping the keys in document order; of a repeated key the
// last value is kept, in the first one's place. Every number is written with
// exactly the characters it has in the document (1.10, 1e2, -0,
// 12345678901234567.89, 1.0e400), whatever Jansson could hold of it; a NUL in
// a string is written as \u0000. Fails with KafkaErrorCode::JsonParseError,
// also when the result would take more than maxBytes bytes of UTF-8: the
// indentation grows with the square of the nesting depth (a few megabytes of
// nested arrays would take gigabytes), and that is found before the result is
// written.
Result<QString, KafkaError> prettyPrintJson(
    const QString& json, qsizetype maxBytes = std::numeric_limits<qsizetype>::max());

// Re-indents an XML document by two spaces per level where elements hold only
// elements; existing whitespace text is kept. The result starts with an XML
// declaration (UTF-8) and ends with a newline; non-ASCII characters stay
// characters. The text is taken as it stands: an encoding it declares is
// ignored. Fails with KafkaErrorCode::XmlParseError or XmlWriteError,
// whose causes are libxml2's messages (at most ten, with line and column);
// libxml2 prints nothing. Also fails with XmlWriteError when the result takes
// more than maxBytes bytes of UTF-8 (libxml2 bounds its indentation, so the
// result is at most a few dozen times the document). Callable from several
// threads at once.
Result<QString, KafkaError> prettyPrintXml(
    const QString& xml, qsizetype maxBytes = std::numeric_limits<qsizetype>::max());

// As above, for the bytes of an XML document that tells its own encoding: its
// byte-order mark or its declaration decide (ISO-8859-1, windows-1252, UTF-16
// and whatever else libxml2 reads), UTF-8 when it has neither. The result is
// UTF-8 and declares so. Bytes that cannot be read as they declare are read
// as UTF-8 text as above; when that fails too, the error is the first one.
Result<QString, KafkaError> prettyPrintXml(
    const QByteArray& xml, qsizetype maxBytes = std::numeric_limits<qsizetype>::max());
