#include "data/Charset.h"
#include "data/Value.h"

#include <cstdio>
#include <windows.h>

namespace vx::data {
namespace {

UINT codePage(const std::string& charset) {
    if (charset == "UTF-8" || charset == "utf-8")
        return CP_UTF8;
    if (charset.size() > 2 && (charset[0] == 'C' || charset[0] == 'c'))
        return static_cast<UINT>(std::stoul(charset.substr(2)));
    return CP_ACP;
}

// The UTF-16 of bytes that are whole characters in the code page; 0 when
// they are not.
int decode(UINT cp, const char* bytes, std::size_t size, wchar_t* out, int room) {
    return MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, bytes, static_cast<int>(size), out, room);
}

void appendUtf8(std::string& out, const wchar_t* text, int n) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, n, nullptr, 0, nullptr, nullptr);
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(size));
    WideCharToMultiByte(CP_UTF8, 0, text, n, out.data() + at, size, nullptr, nullptr);
}

} // namespace

std::string stationCharset() {
    return "CP" + std::to_string(GetACP());
}

std::u16string toUtf16(std::string_view text, const std::string& charset) {
    const UINT cp = codePage(charset);
    if (text.empty())
        return {};
    const int n = decode(cp, text.data(), text.size(), nullptr, 0);
    if (n <= 0)
        throw DbError("The text is not valid " + charset);
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    decode(cp, text.data(), text.size(), reinterpret_cast<wchar_t*>(out.data()), n);
    return out;
}

std::string toUtf8Escaped(std::string_view text, const std::string& charset) {
    const UINT cp = codePage(charset);
    if (text.empty())
        return {};
    // Mostly the whole text converts at once.
    if (const int n = decode(cp, text.data(), text.size(), nullptr, 0); n > 0) {
        std::wstring wide(static_cast<std::size_t>(n), L'\0');
        decode(cp, text.data(), text.size(), wide.data(), n);
        std::string out;
        appendUtf8(out, wide.data(), n);
        return out;
    }
    // Otherwise one character at a time: the shortest run of bytes (a
    // character has at most four) that is one, or the byte escaped.
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        wchar_t wide[4];
        int n = 0;
        std::size_t len = 1;
        for (; len <= 4 && i + len <= text.size(); ++len)
            if ((n = decode(cp, text.data() + i, len, wide, 4)) > 0)
                break;
        if (n > 0) {
            appendUtf8(out, wide, n);
            i += len;
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", static_cast<unsigned char>(text[i]));
            out += esc;
            ++i;
        }
    }
    return out;
}

} // namespace vx::data
