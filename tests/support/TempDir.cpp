#include "tests/support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>

namespace vx::test {

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vexora-test-XXXXXX").string();
#ifdef _WIN32
    // No mkdtemp: a new random name until one is free (the window suites
    // built for Windows).
    std::random_device random;
    for (int attempt = 0;; ++attempt) {
        std::string name = tmpl;
        for (auto i = name.size() - 6; i < name.size(); ++i)
            name[i] = "abcdefghijklmnopqrstuvwxyz0123456789"[random() % 36];
        if (std::filesystem::create_directory(name)) {
            m_path = name;
            return;
        }
        if (attempt == 100)
            throw std::runtime_error("cannot create a folder beside " + tmpl);
    }
#else
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = tmpl;
#endif
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string utf16(std::u16string_view text, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t c : text) {
        const char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
        out += bigEndian ? high : low;
        out += bigEndian ? low : high;
    }
    return out;
}

} // namespace vx::test
