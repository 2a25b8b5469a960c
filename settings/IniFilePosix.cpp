// POSIX: code pages through iconv (UTF-8 directly); the new file replaces the
// old one by rename, keeping its permissions.

#include "data/Charset.h"
#include "settings/IniFile.h"
#include "settings/IniFilePlatform.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vx::settings::detail {
namespace {

constexpr unsigned kUtf8 = 65001;

// Through iconv for any code page but UTF-8; what the code page cannot
// express becomes '?', as Windows' default character: one for each byte
// (unit 1) or UTF-16 unit (unit 2) it cannot convert.
std::string iconvAll(const char* to, const char* from, std::string_view in, std::size_t unit,
                     std::string_view replacement) {
    std::string out;
    data::iconvAppend(out, to, from, in, [&](std::string_view rest, std::string& o) {
        o += replacement;
        return std::min(unit, rest.size());
    });
    return out;
}

std::string iconvName(unsigned codePage) {
    return "CP" + std::to_string(codePage);
}

} // namespace

std::u16string fromCodePage(std::string_view s, unsigned codePage) {
    if (codePage == 0 || codePage == kUtf8)
        return utf16FromUtf8(s, false);
    const std::string le =
        iconvAll("UTF-16LE", iconvName(codePage).c_str(), s, 1, std::string_view("?\0", 2));
    std::u16string out(le.size() / 2, u'\0');
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(le[2 * i]) |
                                       static_cast<unsigned char>(le[2 * i + 1]) << 8);
    return out;
}

std::string toCodePage(std::u16string_view s, unsigned codePage) {
    if (codePage == 0 || codePage == kUtf8)
        return utf8FromUtf16(s, false);
    std::string le;
    le.reserve(s.size() * 2);
    for (char16_t c : s) {
        le += static_cast<char>(c & 0xFF);
        le += static_cast<char>(c >> 8);
    }
    return iconvAll(iconvName(codePage).c_str(), "UTF-16LE", le, 2, "?");
}

void writeAtomically(const std::string& path, const std::string& data) {
    const std::string tmp = path + ".tmp";
    mode_t mode = S_IRUSR | S_IWUSR;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
        // A file without any write bit is read-only as Windows' attribute is:
        // root, who may write it anyway, is refused too.
        if ((mode & 0222) == 0 || ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
            throw IniWriteError(path);
    }
    // A temporary file left by a crash goes first; the new one is then made
    // afresh: a link planted under its name is never followed, and anything
    // that takes the name in between makes the write fail.
    if (::unlink(tmp.c_str()) != 0 && errno != ENOENT)
        throw IniWriteError(path);
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
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
}

} // namespace vx::settings::detail
