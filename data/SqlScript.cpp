#include "data/SqlScript.h"

#include "data/NewFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace vx::data {

std::string scriptText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 16);
    // A line exists once any of its bytes was read, a CR that is dropped
    // included; the end of the text after a line break starts none.
    bool inLine = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\x1A')
            break;
        if (c == '\n') {
            out += "\r\n";
            inLine = false;
            continue;
        }
        inLine = true;
        if (c != '\r')
            out += c;
    }
    if (inLine)
        out += "\r\n";
    return out;
}

std::string readSqlScript(const std::string& path) {
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> f(std::fopen(path.c_str(), "rb"));
    if (!f)
        throw FileError("Cannot open file \"" + path + "\". " + std::strerror(errno));
    std::string bytes;
    char buf[1 << 16];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f.get())) > 0;)
        bytes.append(buf, n);
    if (std::ferror(f.get()))
        throw FileError("Read error in \"" + path + "\". " + std::strerror(errno));
    return scriptText(bytes);
}

} // namespace vx::data
