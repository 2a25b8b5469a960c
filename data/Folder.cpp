#include "data/Folder.h"

#include "data/NewFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace vx::data {

void makeFolders(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && isSeparator(p.back()))
        p.pop_back();
    if (p.empty() || platform::isFolder(p))
        return;
    // The parents first, from the top; a drive ("C:") or the root is there.
    std::size_t cut = p.size();
    while (cut > 0 && !isSeparator(p[cut - 1]))
        --cut;
    if (cut > 1 && !(cut == 3 && p[1] == ':'))
        makeFolders(p.substr(0, cut - 1));
    std::string why;
    if (!platform::makeFolder(p, why))
        throw FileError("Cannot create folder \"" + p + "\". " + why);
}

std::string absolutePath(const std::string& path) {
    if (path.empty() || platform::isAbsolute(path))
        return path;
    std::string cwd = platform::currentFolder();
    if (!cwd.empty() && !isSeparator(cwd.back()))
        cwd += '/';
    return path == "." ? cwd : cwd + (path.rfind("./", 0) == 0 ? path.substr(2) : path);
}

std::string homeFolder() {
    return platform::homeFolder();
}

std::string executableFolder() {
    std::string path = platform::executablePath();
    while (!path.empty() && !isSeparator(path.back()))
        path.pop_back();
    return path;
}

void copyToNewFile(const std::string& from, const std::string& to) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(from.c_str(), "rb"),
                                                             &std::fclose);
    if (!in)
        throw FileError("Cannot open file \"" + from + "\". " + std::strerror(errno));
    NewFile out(to);
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in.get())) > 0)
        out.write(std::string_view(buf, n));
    if (std::ferror(in.get()))
        throw FileError("Cannot read file \"" + from + "\". " + std::strerror(errno));
    out.commit();
}

bool isSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

} // namespace vx::data
