#pragma once

#include "TextStyle.h"

#include <QString>
#include <QStringView>

namespace Highlighting {

// The syntax of one language, as a repository hands it out. A default
// constructed definition (and one for an unknown name) is invalid and styles
// nothing.
class Definition {
public:
    Definition() = default;

    bool isValid() const { return m_tokenizer != nullptr; }
    // "JSON", "XML"; empty when invalid.
    QString name() const { return m_name; }

    // Styles `line`, which begins in `state` (the state returned for the line
    // before, -1 for the first line), and returns the state at its end; -1
    // when invalid.
    int highlightLine(QStringView line, int state, const SpanSink& sink) const;

    bool operator==(const Definition& other) const = default;

private:
    friend class Repository;
    using Tokenizer = int (*)(QStringView line, int state, const SpanSink& sink);

    Definition(QString name, Tokenizer tokenizer);

    QString m_name;
    Tokenizer m_tokenizer = nullptr;
};

} // namespace Highlighting
