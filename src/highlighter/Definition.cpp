#include "Definition.h"

#include <utility>

namespace Highlighting {

Definition::Definition(QString name, Tokenizer tokenizer)
    : m_name(std::move(name))
    , m_tokenizer(tokenizer)
{
}

int Definition::highlightLine(QStringView line, int state, const SpanSink& sink) const
{
    return m_tokenizer ? m_tokenizer(line, state, sink) : -1;
}

} // namespace Highlighting
