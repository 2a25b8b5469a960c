#pragma once

#include <stdexcept>
#include <string>

namespace vx::settings {

// Raised when a value cannot be written; the text names the file, as the
// station's message box shows it: "Unable to write to <path>", followed by
// the reason where the file itself is not at fault.
class IniWriteError : public std::runtime_error {
public:
    explicit IniWriteError(const std::string& path, const std::string& why = {});
};

// The settings file, with the behaviour of the Windows private-profile
// functions the station was designed around:
//  - a missing key reads as the caller's default, a present empty key as "";
//  - section and key names match without regard to ASCII case;
//  - a value read is cut to 2047 bytes and at a NUL byte; one pair of
//    enclosing quotes is dropped;
//  - a line ends at CR LF, LF or a bare CR;
//  - a file that starts with a UTF-16 byte-order mark (Notepad's "Unicode") is
//    read and written in UTF-16, one with a UTF-8 byte-order mark (what many
//    editors save) in UTF-8, the mark kept; names and values cross the
//    interface in the station's code page all the same. Any other file is
//    taken byte for byte;
//  - a read-only file is a failed write, whoever runs the station;
//  - nothing is cached: every read opens the file, every write rewrites it, so
//    several objects on one path always see the same contents.
// Unlike those functions, a write never leaves a half-written file: the new
// contents go to a temporary file in the same folder ("<path>.tmp", made
// afresh, never opened through a link) that then replaces the old one, and every line the write
// does not change is kept byte for byte, line end included. A new file is created readable by its
// owner only (it holds the database password); an existing file keeps its
// permissions.
class IniFile {
public:
    static constexpr std::size_t kMaxValueBytes = 2047;
    // The station's code page: Windows' ANSI code page on Windows; UTF-8
    // elsewhere, which is what Qt 6 takes for the local 8-bit encoding there.
    static constexpr unsigned kStationCodePage = 0;

    // codePage is a Windows code page number (936 for GBK, 65001 for UTF-8);
    // it only matters for UTF-16 files.
    explicit IniFile(std::string path, unsigned codePage = kStationCodePage);

    const std::string& fileName() const { return m_path; }

    std::string readString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    // A section, key or value holding CR, LF or NUL is refused (IniWriteError)
    // and nothing is written: it would add lines of its own to the file.
    void writeString(const std::string& section, const std::string& key,
                     const std::string& value) const;

private:
    std::string m_path;
    unsigned m_codePage;
};

} // namespace vx::settings
