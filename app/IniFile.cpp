#include "app/IniFile.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vx::app {
namespace {

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

std::string_view trim(std::string_view s) {
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

struct Line {
    std::string text; // without its line end
};

// Splits the file into lines; remembers whether it used CR LF so a rewrite
// keeps the file's own convention (a new file gets CR LF, as on Windows).
bool loadLines(const std::string& path, std::vector<std::string>& lines, bool& crlf) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream buf;
    buf << in.rdbuf();
    const std::string data = buf.str();
    crlf = data.find("\r\n") != std::string::npos || data.find('\n') == std::string::npos;
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t nl = data.find('\n', start);
        std::size_t end = nl == std::string::npos ? data.size() : nl;
        std::size_t textEnd = end;
        if (textEnd > start && data[textEnd - 1] == '\r')
            --textEnd;
        lines.emplace_back(data.substr(start, textEnd - start));
        if (nl == std::string::npos)
            break;
        start = nl + 1;
    }
    return true;
}

// "[name]" → name; anything else → no section header.
bool sectionName(std::string_view line, std::string_view& name) {
    line = trim(line);
    if (line.size() < 2 || line.front() != '[')
        return false;
    std::size_t close = line.find(']');
    if (close == std::string_view::npos)
        return false;
    name = trim(line.substr(1, close - 1));
    return true;
}

bool keyValue(std::string_view line, std::string_view& key, std::string_view& value) {
    std::string_view t = trim(line);
    if (t.empty() || t.front() == ';')
        return false;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = trim(line.substr(0, eq));
    value = trim(line.substr(eq + 1));
    return true;
}

void writeAtomically(const std::string& path, const std::string& data) {
    const std::string tmp = path + ".tmp";
#if defined(_WIN32)
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
        out.flush();
        if (!out) {
            std::remove(tmp.c_str());
            throw IniWriteError(path);
        }
    }
    std::remove(path.c_str()); // rename does not replace on Windows' C runtime
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        throw IniWriteError(path);
    }
#else
    mode_t mode = S_IRUSR | S_IWUSR;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        mode = st.st_mode & 07777;
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        throw IniWriteError(path);
    ::fchmod(fd, mode); // the umask must not widen or narrow what we chose
    std::size_t done = 0;
    bool ok = true;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (ok && ::fsync(fd) != 0)
        ok = false;
    if (::close(fd) != 0)
        ok = false;
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        throw IniWriteError(path);
    }
#endif
}

} // namespace

IniWriteError::IniWriteError(const std::string& path)
    : std::runtime_error("Unable to write to " + path) {}

IniFile::IniFile(std::string path) : m_path(std::move(path)) {}

std::string IniFile::readString(const std::string& section, const std::string& key,
                                const std::string& defaultValue) const {
    std::vector<std::string> lines;
    bool crlf = true;
    if (!loadLines(m_path, lines, crlf))
        return defaultValue;
    bool inSection = false;
    for (const std::string& line : lines) {
        std::string_view name;
        if (sectionName(line, name)) {
            inSection = iequals(name, section);
            continue;
        }
        std::string_view k, v;
        if (inSection && keyValue(line, k, v) && iequals(k, key)) {
            if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
                v = v.substr(1, v.size() - 2);
            if (v.size() > kMaxValueBytes)
                v = v.substr(0, kMaxValueBytes);
            return std::string(v);
        }
    }
    return defaultValue;
}

void IniFile::writeString(const std::string& section, const std::string& key,
                          const std::string& value) const {
    std::vector<std::string> lines;
    bool crlf = true;
    loadLines(m_path, lines, crlf);

    const std::string entry = key + "=" + value;
    bool inSection = false, sectionSeen = false, done = false;
    std::size_t insertAt = 0; // after the last non-blank line of the section
    for (std::size_t i = 0; i < lines.size() && !done; ++i) {
        std::string_view name;
        if (sectionName(lines[i], name)) {
            if (inSection)
                break; // the section ended without the key
            inSection = iequals(name, section);
            if (inSection) {
                sectionSeen = true;
                insertAt = i + 1;
            }
            continue;
        }
        if (!inSection)
            continue;
        std::string_view k, v;
        if (keyValue(lines[i], k, v) && iequals(k, key)) {
            lines[i] = entry;
            done = true;
        } else if (!trim(lines[i]).empty()) {
            insertAt = i + 1;
        }
    }
    if (!done) {
        if (sectionSeen) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
        } else {
            lines.push_back("[" + section + "]");
            lines.push_back(entry);
        }
    }

    const char* eol = crlf ? "\r\n" : "\n";
    std::string out;
    for (const std::string& l : lines) {
        out += l;
        out += eol;
    }
    writeAtomically(m_path, out);
}

} // namespace vx::app
