#include "JsonNumbers.h"

#include <array>
#include <charconv>
#include <string_view>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

qsizetype digitsEnd(QByteArrayView text, qsizetype at)
{
    while (at < text.size() && isDigit(text[at]))
        ++at;
    return at;
}

// Just past the string whose opening quote is at `start`: past the first quote
// after it with an even number of backslashes right before it (an odd number
// escapes it), or the end of `text` when there is none.
qsizetype stringEnd(QByteArrayView text, qsizetype start)
{
    for (qsizetype quote = text.indexOf('"', start + 1); quote >= 0; quote = text.indexOf('"', quote + 1)) {
        qsizetype backslashes = 0;
        while (text[quote - 1 - backslashes] == '\\')
            ++backslashes;
        if (backslashes % 2 == 0)
            return quote + 1;
    }
    return text.size();
}

// Just past the number that starts at `start` (a minus or a digit), taken as
// Jansson's reader takes it: an optional minus, a lone zero or digits not
// starting with one, then optionally a point and digits, then optionally an
// exponent letter, a sign and digits. -1 when the reader refuses what is there.
qsizetype numberEnd(QByteArrayView text, qsizetype start)
{
    qsizetype at = start;
    if (text[at] == '-')
        ++at;
    if (at == text.size() || !isDigit(text[at]))
        return -1;
    if (text[at] == '0') {
        ++at;
        if (at < text.size() && isDigit(text[at]))
            return -1;
    } else {
        at = digitsEnd(text, at);
    }
    if (at < text.size() && text[at] == '.') {
        const qsizetype end = digitsEnd(text, at + 1);
        if (end == at + 1)
            return -1;
        at = end;
    }
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-'))
            ++at;
        const qsizetype end = digitsEnd(text, at);
        if (end == at)
            return -1;
        at = end;
    }
    return at;
}

} // namespace

JsonNumbers::JsonNumbers(QByteArrayView json)
    : m_json(json)
{
    qsizetype copied = 0;
    qsizetype at = 0;
    while (at < json.size()) {
        const char c = json[at];
        if (c == '"') {
            at = stringEnd(json, at);
            continue;
        }
        if (c != '-' && !isDigit(c)) {
            ++at;
            continue;
        }
        // A number directly followed by a point, an exponent letter or a minus
        // is a fault wherever it stands; its index would run into them.
        const qsizetype end = numberEnd(json, at);
        if (end < 0 || (end < json.size() && std::string_view(".eE-").find(json[end]) != std::string_view::npos))
            break;
        if (m_texts.empty())
            m_indexed.reserve(json.size());
        m_indexed.append(json.sliced(copied, at - copied));
        std::array<char, 24> index {};
        const auto indexEnd = std::to_chars(index.data(), index.data() + index.size(), m_texts.size()).ptr;
        m_indexed.append(index.data(), indexEnd - index.data());
        m_texts.push_back(json.sliced(at, end - at));
        m_textBytes += end - at;
        copied = at = end;
    }
    if (!m_texts.empty())
        m_indexed.append(json.sliced(copied));
}

QByteArrayView JsonNumbers::indexed() const
{
    return m_texts.empty() ? m_json : QByteArrayView(m_indexed);
}

QByteArray JsonNumbers::withNumbersInPlace(QByteArrayView written) const
{
    QByteArray result;
    result.reserve(written.size() + m_textBytes);
    qsizetype copied = 0;
    qsizetype at = 0;
    while (at < written.size()) {
        const char c = written[at];
        if (c == '"') {
            at = stringEnd(written, at);
            continue;
        }
        if (!isDigit(c)) {
            ++at;
            continue;
        }
        const qsizetype end = digitsEnd(written, at);
        std::size_t index = m_texts.size();
        std::from_chars(written.data() + at, written.data() + end, index);
        if (index < m_texts.size()) {
            result.append(written.sliced(copied, at - copied)).append(m_texts[index]);
            copied = end;
        }
        at = end;
    }
    return result.append(written.sliced(copied));
}
