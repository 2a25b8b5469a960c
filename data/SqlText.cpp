#include "data/SqlText.h"

#include "data/Value.h"

namespace vx::data {
namespace {

bool endsName(char c) {
    return c == ' ' || c == ',' || c == ';' || c == ')' || c == '\r' || c == '\n';
}

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// True when before ends with "cast(" (blanks allowed) and after begins with
// "as varbinary".
bool castToVarbinary(std::string_view before, std::string_view after) {
    auto end = before.size();
    while (end > 0 && blank(before[end - 1]))
        --end;
    if (end < 5)
        return false;
    const std::string_view open = before.substr(end - 5, 5);
    if (!equalsNoCase(open.substr(0, 4), "cast") || open[4] != '(')
        return false;
    std::size_t i = 0;
    auto word = [&](std::string_view w) {
        while (i < after.size() && blank(after[i]))
            ++i;
        if (!equalsNoCase(after.substr(i, w.size()), w))
            return false;
        i += w.size();
        return true;
    };
    return word("as") && i < after.size() && blank(after[i]) && word("varbinary");
}

} // namespace

ParsedSql parseParameters(std::string_view sql) {
    ParsedSql out;
    out.text.reserve(sql.size());
    char quote = 0;
    for (std::size_t i = 0; i < sql.size(); ++i) {
        char c = sql[i];
        if (quote) {
            out.text += c;
            if (c == quote)
                quote = 0;
            continue;
        }
        if (c == '\'' || c == '"' || c == '`') {
            quote = c;
            out.text += c;
            continue;
        }
        if (c != ':') {
            out.text += c;
            continue;
        }
        if (i + 1 < sql.size() && sql[i + 1] == ':') {
            out.text += ':';
            ++i;
            continue;
        }
        std::size_t end = i + 1;
        while (end < sql.size() && !endsName(sql[end]))
            ++end;
        if (end == i + 1) { // a lone colon names nothing
            out.text += c;
            continue;
        }
        out.names.emplace_back(sql.substr(i + 1, end - i - 1));
        out.binary.push_back(castToVarbinary(out.text, sql.substr(end)));
        out.text += '?';
        i = end - 1;
    }
    return out;
}

std::vector<ParsedSql> splitStatements(const ParsedSql& batch) {
    std::vector<ParsedSql> out;
    ParsedSql cur;
    std::size_t nameIndex = 0;
    const std::string& s = batch.text;
    auto flush = [&] {
        bool blank = cur.text.find_first_not_of(" \t\r\n") == std::string::npos;
        if (!blank)
            out.push_back(std::move(cur));
        cur = {};
    };
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '\'' || c == '"' || c == '`' || c == '[') {
            char close = c == '[' ? ']' : c;
            std::size_t end = s.find(close, i + 1);
            if (end == std::string::npos)
                end = s.size() - 1;
            cur.text.append(s, i, end - i + 1);
            i = end;
        } else if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
            std::size_t end = s.find('\n', i);
            if (end == std::string::npos)
                end = s.size() - 1;
            cur.text.append(s, i, end - i + 1);
            i = end;
        } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            std::size_t end = s.find("*/", i + 2);
            end = end == std::string::npos ? s.size() - 1 : end + 1;
            cur.text.append(s, i, end - i + 1);
            i = end;
        } else if (c == ';') {
            flush();
        } else {
            if (c == '?' && nameIndex < batch.names.size()) {
                cur.binary.push_back(nameIndex < batch.binary.size() && batch.binary[nameIndex]);
                cur.names.push_back(batch.names[nameIndex++]);
            }
            cur.text += c;
        }
    }
    flush();
    return out;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i)
            out += "\r\n";
        out += lines[i];
    }
    return out;
}

} // namespace vx::data
