#include "data/Charset.h"
#include "data/Value.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

namespace vx::data {

std::string stationCharset() {
    // The environment's locale, whether or not the program has applied it.
    std::string name;
    if (locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0))) {
        if (const char* cs = nl_langinfo_l(CODESET, loc))
            name = cs;
        freelocale(loc);
    }
    // The C locale's "ANSI_X3.4-1968" names no text beyond ASCII; desktops
    // and Qt take UTF-8 there.
    if (name.empty() || name == "ANSI_X3.4-1968" || name == "ASCII")
        return "UTF-8";
    return name;
}

bool iconvAppend(
    std::string& out, const char* to, const char* from, std::string_view text,
    const std::function<std::size_t(std::string_view rest, std::string& out)>& invalid) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    char buf[1024];
    char* in = const_cast<char*>(text.data());
    std::size_t left = text.size();
    try {
        while (left > 0) {
            char* dst = buf;
            std::size_t room = sizeof buf;
            const std::size_t rc = iconv(cd, &in, &left, &dst, &room);
            out.append(buf, static_cast<std::size_t>(dst - buf));
            if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
                const std::size_t skip = std::clamp<std::size_t>(invalid({in, left}, out), 1, left);
                in += skip;
                left -= skip;
                iconv(cd, nullptr, nullptr, nullptr, nullptr); // a fresh shift state after it
            }
        }
    } catch (...) {
        iconv_close(cd);
        throw;
    }
    iconv_close(cd);
    return true;
}

std::u16string toUtf16(std::string_view text, const std::string& charset) {
    std::string le;
    const bool known = iconvAppend(le, "UTF-16LE", charset.c_str(), text,
                                   [&](std::string_view, std::string&) -> std::size_t {
                                       throw DbError("The text is not valid " + charset);
                                   });
    if (!known)
        throw DbError("Unknown character set \"" + charset + "\"");
    std::u16string result(le.size() / 2, u'\0');
    for (std::size_t i = 0; i < result.size(); ++i)
        result[i] = static_cast<char16_t>(static_cast<unsigned char>(le[2 * i]) |
                                          static_cast<unsigned char>(le[2 * i + 1]) << 8);
    return result;
}

std::string toUtf8Escaped(std::string_view bytes, const std::string& charset) {
    bool ascii = true;
    for (unsigned char c : bytes)
        ascii = ascii && c < 0x80;
    if (ascii)
        return std::string(bytes);
    const auto escape = [](std::string_view rest, std::string& out) -> std::size_t {
        char esc[8];
        std::snprintf(esc, sizeof esc, "\\x%02X", static_cast<unsigned char>(rest[0]));
        out += esc;
        return 1;
    };
    std::string out;
    if (!iconvAppend(out, "UTF-8", charset.c_str(), bytes, escape))
        iconvAppend(out, "UTF-8", "UTF-8", bytes, escape);
    return out;
}

} // namespace vx::data
