#include "data/ControlNames.h"

namespace vx::data {

std::string withControlNames(std::string_view bytes) {
    static const char* const kNames[] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL",
                                         "BS",  "HT",  "LF",  "VT",  "FF",  "CR",  "SO",  "SI",
                                         "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB",
                                         "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    std::string shown;
    shown.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c < 0x20)
            shown += std::string("<") + kNames[c] + ">";
        else if (c == 0x7F)
            shown += "<DEL>";
        else
            shown += static_cast<char>(c);
    }
    return shown;
}

} // namespace vx::data
