#pragma once

#include <stdexcept>
#include <string>

namespace vx::app {

// Raised when a value cannot be written; the text names the file, as the
// station's message box shows it: "Unable to write to <path>".
class IniWriteError : public std::runtime_error {
public:
    explicit IniWriteError(const std::string& path);
};

// The settings file, with the behaviour of the Windows private-profile
// functions the station was designed around:
//  - a missing key reads as the caller's default, a present empty key as "";
//  - section and key names match without regard to ASCII case;
//  - a value read is cut to 2047 bytes; one pair of enclosing quotes is dropped;
//  - nothing is cached: every read opens the file, every write rewrites it, so
//    several objects on one path always see the same contents.
// Unlike those functions, a write never leaves a half-written file: the new
// contents go to a temporary file in the same folder that then replaces the
// old one. A new file is created readable by its owner only (it holds the
// database password); an existing file keeps its permissions.
class IniFile {
public:
    static constexpr std::size_t kMaxValueBytes = 2047;

    explicit IniFile(std::string path);

    const std::string& fileName() const { return m_path; }

    std::string readString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    void writeString(const std::string& section, const std::string& key,
                     const std::string& value) const;

private:
    std::string m_path;
};

} // namespace vx::app
