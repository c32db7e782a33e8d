#include "JsonNuls.h"

#include <bitset>
#include <cctype>

namespace {

constexpr char16_t FirstPrivateUse = 0xE000;
constexpr char16_t LastPrivateUse = 0xF8FF;
constexpr QByteArrayView NulEscape = "\\u0000";

bool isPrivateUse(char32_t c)
{
    return c >= FirstPrivateUse && c <= LastPrivateUse;
}

// The value of the four hexadecimal digits at `at`, or -1.
int hexValue(QByteArrayView text, qsizetype at)
{
    if (at + 4 > text.size())
        return -1;
    int value = 0;
    for (qsizetype i = at; i < at + 4; ++i) {
        const char c = text[i];
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return -1;
        value = value * 16 + (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return value;
}

// A private-use character that `json` holds nowhere, in UTF-8, or empty.
// Every \uXXXX counts, escaped or not, and every three-byte sequence that
// reads as one; counting too many only narrows the choice.
QByteArray unusedPrivateUse(QByteArrayView json)
{
    std::bitset<LastPrivateUse - FirstPrivateUse + 1> used;
    for (qsizetype at = 0; at < json.size(); ++at) {
        const auto byte = static_cast<unsigned char>(json[at]);
        if (byte == '\\' && at + 1 < json.size() && json[at + 1] == 'u') {
            const int value = hexValue(json, at + 2);
            if (value >= 0 && isPrivateUse(char32_t(value)))
                used.set(std::size_t(value - FirstPrivateUse));
        } else if ((byte & 0xF0) == 0xE0 && at + 2 < json.size()) {
            const char32_t c = (char32_t(byte & 0x0F) << 12) | (char32_t(json[at + 1] & 0x3F) << 6)
                | char32_t(json[at + 2] & 0x3F);
            if (isPrivateUse(c))
                used.set(std::size_t(c - FirstPrivateUse));
        }
    }
    for (std::size_t i = 0; i < used.size(); ++i) {
        if (!used.test(i)) {
            const char32_t c = FirstPrivateUse + char32_t(i);
            const char utf8[] { char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F)) };
            return QByteArray(utf8, 3);
        }
    }
    return {};
}

} // namespace

JsonNuls::JsonNuls(QByteArrayView json)
    : m_json(json)
{
    if (json.indexOf(NulEscape) < 0)
        return;
    // Strings are read as Jansson reads them: a backslash escapes the
    // character after it, a quote not escaped ends the string.
    QByteArray replaced;
    qsizetype copied = 0;
    bool inString = false;
    for (qsizetype at = 0; at < json.size(); ++at) {
        const char c = json[at];
        if (!inString) {
            inString = c == '"';
            continue;
        }
        if (c == '"') {
            inString = false;
        } else if (c == '\\') {
            if (json.sliced(at).startsWith(NulEscape)) {
                if (m_standIn.isEmpty()) {
                    m_standIn = unusedPrivateUse(json);
                    if (m_standIn.isEmpty())
                        return;
                    replaced.reserve(json.size());
                }
                replaced.append(json.sliced(copied, at - copied)).append(m_standIn);
                copied = at + NulEscape.size();
                at = copied - 1;
            } else {
                ++at;
            }
        }
    }
    if (!m_standIn.isEmpty())
        m_replaced = replaced.append(json.sliced(copied));
}

QByteArrayView JsonNuls::replaced() const
{
    return m_standIn.isEmpty() ? m_json : QByteArrayView(m_replaced);
}

QByteArray JsonNuls::withNulsInPlace(QByteArrayView written) const
{
    if (m_standIn.isEmpty())
        return written.toByteArray();
    QByteArray result = written.toByteArray();
    return result.replace(m_standIn, NulEscape.toByteArray());
}
