// Feeds arbitrary text to the JSON pretty printer and holds it to Jansson:
// - what Jansson reads (NULs in strings allowed) is formatted, and what is
//   formatted Jansson reads but for the range of its numbers and for NULs in
//   keys (which it is given as a character the input holds nowhere);
// - the formatted text is what Jansson writes of the document, but that every
//   number is written as in the input: the number tokens come out unchanged
//   and in order (a repeated key's later value takes the earlier one's place,
//   so then each is one of the input's).
#include "TextUtils.h"

#include <jansson.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace {

struct JsonDeleter {
    void operator()(json_t* value) const { json_decref(value); }
};
using Json = std::unique_ptr<json_t, JsonDeleter>;

struct JsonBufferDeleter {
    void operator()(char* buffer) const { std::free(buffer); }
};

Json parsed(std::string_view json, std::size_t flags)
{
    return Json(json_loadb(json.data(), json.size(), flags, nullptr));
}

// The number tokens of a document that Jansson reads, where nothing else
// touches a number: outside strings, the runs of characters numbers are made of.
std::vector<std::string_view> numberTokens(std::string_view json)
{
    std::vector<std::string_view> tokens;
    for (std::size_t i = 0; i < json.size(); ++i) {
        if (json[i] == '"') {
            for (++i; i < json.size() && json[i] != '"'; ++i)
                i += json[i] == '\\' ? 1 : 0;
        } else if (json[i] == '-' || (json[i] >= '0' && json[i] <= '9')) {
            const std::size_t end = std::min(json.find_first_not_of("0123456789+-.eE", i), json.size());
            tokens.push_back(json.substr(i, end - i));
            i = end - 1;
        }
    }
    return tokens;
}

// `json` with each of its number tokens written as 0.
std::string zeroed(std::string_view json, const std::vector<std::string_view>& tokens)
{
    std::string result;
    const char* copied = json.data();
    for (const std::string_view token : tokens) {
        result.append(copied, token.data()).append("0");
        copied = token.data() + token.size();
    }
    return result.append(copied, json.data() + json.size());
}

// `json` with every \u0000 inside a string written as a private-use
// character that the input holds nowhere, neither as itself nor as an escape
// of any case, which `standIn` names in UTF-8; `json` itself, and `standIn`
// empty, when it holds no \u0000; nothing when it holds every such character.
std::optional<std::string> withStandIn(std::string_view json, std::string& standIn)
{
    standIn.clear();
    if (json.find("\\u0000") == std::string_view::npos)
        return std::string(json);
    std::string lowered(json);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
        [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    for (char32_t c = 0xE000; c <= 0xF8FF && standIn.empty(); ++c) {
        const std::string utf8 { char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F)) };
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(c));
        if (json.find(utf8) == std::string_view::npos && lowered.find(escape) == std::string::npos)
            standIn = utf8;
    }
    if (standIn.empty())
        return std::nullopt;
    std::string result;
    for (std::size_t i = 0; i < json.size(); ++i) {
        result += json[i];
        if (json[i] != '"')
            continue;
        for (++i; i < json.size() && json[i] != '"'; ++i) {
            if (json.substr(i, 6) == "\\u0000") {
                result += standIn;
                i += 5;
            } else {
                result += json[i];
                if (json[i] == '\\' && i + 1 < json.size())
                    result += json[++i];
            }
        }
        if (i < json.size())
            result += json[i];
    }
    return result;
}

// What Jansson writes of `json` read with a stand-in for NULs, with \u0000
// again in its place.
std::string writtenWithNuls(const json_t* root, const std::string& standIn)
{
    const std::unique_ptr<char, JsonBufferDeleter> written(json_dumps(root, JSON_INDENT(2)));
    if (!written)
        return {};
    std::string result(written.get());
    if (!standIn.empty()) {
        for (std::size_t at = result.find(standIn); at != std::string::npos; at = result.find(standIn, at + 6))
            result.replace(at, standIn.size(), "\\u0000");
    }
    return result;
}

bool isJsonNumber(std::string_view token)
{
    static const std::regex number("-?(0|[1-9][0-9]*)(\\.[0-9]+)?([eE][+-]?[0-9]+)?");
    return std::regex_match(token.begin(), token.end(), number);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QByteArray utf8 = text.toUtf8();
    const std::string_view input(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    const Result<QString, KafkaError> printed = prettyPrintJson(text);
    const std::vector<std::string_view> inputNumbers = numberTokens(input);
    std::string standIn;
    const std::optional<std::string> readable = withStandIn(zeroed(input, inputNumbers), standIn);
    if (!readable)
        return 0;
    const std::string& inputZeroed = *readable;

    if (printed.isError()) {
        if (parsed(input, JSON_ALLOW_NUL))
            std::abort();
        // Refused while only numbers out of range stand in Jansson's way.
        // (Long tokens are left out: the expression matcher recurses per character.)
        const bool numbersValid = std::all_of(inputNumbers.begin(), inputNumbers.end(),
            [](std::string_view token) { return token.size() <= 64 && isJsonNumber(token); });
        if (numbersValid && parsed(inputZeroed, JSON_ALLOW_NUL))
            std::abort();
        return 0;
    }

    const Json inputRoot = parsed(inputZeroed, JSON_ALLOW_NUL);
    if (!inputRoot)
        std::abort();
    const std::string expected = writtenWithNuls(inputRoot.get(), standIn);
    const QByteArray output = printed.value().toUtf8();
    const std::string_view outputView(output.constData(), static_cast<std::size_t>(output.size()));
    const std::vector<std::string_view> outputNumbers = numberTokens(outputView);
    if (expected.empty() || zeroed(outputView, outputNumbers) != expected)
        std::abort();

    if (parsed(inputZeroed, JSON_ALLOW_NUL | JSON_REJECT_DUPLICATES)) {
        if (!std::equal(outputNumbers.begin(), outputNumbers.end(), inputNumbers.begin(), inputNumbers.end()))
            std::abort();
    } else {
        for (const std::string_view number : outputNumbers) {
            if (std::find(inputNumbers.begin(), inputNumbers.end(), number) == inputNumbers.end())
                std::abort();
        }
    }
    return 0;
}
