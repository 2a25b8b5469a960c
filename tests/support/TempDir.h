#pragma once

#include <string>

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

} // namespace vx::test
