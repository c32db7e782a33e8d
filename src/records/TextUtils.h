#pragma once

#include "Error.h"
#include "Result.h"

#include <QString>

// Re-indents a JSON document (an object or an array at the top level) by two
// spaces per level, keeping the keys in document order. Each real number is
// written as the shortest text that reads back to the same double (33.08, not
// 33.079999999999998), always with a point or an exponent. Fails with
// KafkaErrorCode::JsonParseError.
Result<QString, KafkaError> prettyPrintJson(const QString& json);

// Re-indents an XML document by two spaces per level where elements hold only
// elements; existing whitespace text is kept. The result starts with an XML
// declaration (UTF-8) and ends with a newline; non-ASCII characters stay
// characters. Fails with KafkaErrorCode::XmlParseError or XmlWriteError,
// whose causes are libxml2's messages (at most ten, with line and column);
// libxml2 prints nothing. Callable from several threads at once.
Result<QString, KafkaError> prettyPrintXml(const QString& xml);
