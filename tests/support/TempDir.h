#pragma once

#include <string>
#include <string_view>

namespace vx::test {

// A fresh folder under the system's temp folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    // path/name
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    // path with a trailing separator, as the station keeps its folder
    std::string folder() const { return m_path + "/"; }

private:
    std::string m_path;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// The bytes of a UTF-16 file with its byte-order mark; little endian is how
// Notepad saves "Unicode".
std::string utf16(std::u16string_view text, bool bigEndian = false);

} // namespace vx::test
