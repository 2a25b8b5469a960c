#include "data/Charset.h"
#include "data/Value.h"

#include <cerrno>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <vector>

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

std::u16string toUtf16(std::string_view text, const std::string& charset) {
    iconv_t cd = iconv_open("UTF-16LE", charset.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw DbError("Unknown character set \"" + charset + "\"");
    std::vector<char> out(text.size() * 4 + 4);
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* to = out.data();
    std::size_t outLeft = out.size();
    const std::size_t rc = iconv(cd, &in, &inLeft, &to, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1))
        throw DbError("The text is not valid " + charset);
    const std::size_t bytes = out.size() - outLeft;
    std::u16string result(bytes / 2, u'\0');
    for (std::size_t i = 0; i < result.size(); ++i)
        result[i] = static_cast<char16_t>(static_cast<unsigned char>(out[2 * i]) |
                                          static_cast<unsigned char>(out[2 * i + 1]) << 8);
    return result;
}

} // namespace vx::data
