#include "data/Charset.h"
#include "data/Value.h"

#include <windows.h>

namespace vx::data {

std::string stationCharset() {
    return "CP" + std::to_string(GetACP());
}

std::u16string toUtf16(std::string_view text, const std::string& charset) {
    UINT cp = CP_ACP;
    if (charset == "UTF-8" || charset == "utf-8")
        cp = CP_UTF8;
    else if (charset.size() > 2 && (charset[0] == 'C' || charset[0] == 'c'))
        cp = static_cast<UINT>(std::stoul(charset.substr(2)));
    if (text.empty())
        return {};
    const int n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, text.data(),
                                      static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0)
        throw DbError("The text is not valid " + charset);
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        reinterpret_cast<wchar_t*>(out.data()), n);
    return out;
}

} // namespace vx::data
