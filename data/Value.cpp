#include "data/Value.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace vx::data {

std::optional<std::int64_t> parseInteger(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    std::int64_t v = 0;
    const char* b = text.data();
    const char* e = b + text.size();
    auto r = std::from_chars(b, e, v);
    if (text.empty() || r.ec != std::errc() || r.ptr != e)
        return std::nullopt;
    return v;
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

std::string lowerAscii(std::string text) {
    for (char& c : text)
        c = lowerAscii(c);
    return text;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

std::string Value::asText() const {
    switch (type) {
    case Type::Null:
        return {};
    case Type::Integer:
        return std::to_string(integer);
    case Type::Bit:
        return integer ? "True" : "False";
    case Type::Real: {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15g", real);
        return buf;
    }
    case Type::Text:
    case Type::Binary:
        return bytes;
    }
    return {};
}

std::int64_t Value::asInt() const {
    switch (type) {
    case Type::Integer:
    case Type::Bit:
        return integer;
    case Type::Real:
        return static_cast<std::int64_t>(real);
    case Type::Text:
        if (auto v = parseInteger(bytes))
            return *v;
        break;
    default:
        break;
    }
    throw DbError("value '" + asText() + "' is not an integer");
}

} // namespace vx::data
