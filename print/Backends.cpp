#include "print/Backends.h"

#include "print/ZplBackend.h"

#ifndef _WIN32
#include "print/GLabelsBackend.h"
#endif

namespace vx::print {
namespace {

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

} // namespace

std::string templateExtension(const std::string& path) {
    const std::size_t name = path.find_last_of("/\\");
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (name != std::string::npos && dot < name))
        return {};
    return lower(path.substr(dot));
}

void BackendFactory::add(const std::string& extension, BackendMaker maker, BackendReady ready) {
    m_entries.push_back({lower(extension), std::move(maker), std::move(ready)});
}

bool BackendFactory::accepts(const std::string& templatePath) const {
    const std::string ext = templateExtension(templatePath);
    for (const Entry& e : m_entries)
        if (e.extension == ext)
            return true;
    return false;
}

bool BackendFactory::ready(const std::string& templatePath) const {
    const std::string ext = templateExtension(templatePath);
    for (const Entry& e : m_entries)
        if (e.extension == ext)
            return !e.ready || e.ready();
    return false;
}

std::unique_ptr<PrintBackend> BackendFactory::make(const JobParams& job) const {
    const std::string ext = templateExtension(job.templatePath);
    for (const Entry& e : m_entries)
        if (e.extension == ext)
            return e.maker(job);
    if (ext == ".btw")
        throw PrintError("BarTender templates (.btw) print only on Windows, with BarTender");
    std::string known;
    for (const Entry& e : m_entries)
        known += (known.empty() ? "" : ", ") + e.extension;
    throw PrintError("no print back end takes templates of type \"" + ext +
                     "\" (this station prints " + known + ")");
}

std::vector<std::string> BackendFactory::extensions() const {
    std::vector<std::string> out;
    for (const Entry& e : m_entries)
        out.push_back(e.extension);
    return out;
}

bool directPrintAvailable(const BackendFactory& backends, const std::string& templatePath) {
    return !templatePath.empty() && backends.ready(templatePath);
}

BackendFactory platformBackends() {
    BackendFactory f;
#ifdef _WIN32
    f.add(
        ".btw", [](const JobParams&) { return makeBarTenderBackend(); }, &barTenderRegistered);
#else
    f.add(".glabels", [](const JobParams& job) {
        auto backend = std::make_unique<GLabelsBackend>(job.printer, "Vexora " + job.rangeText());
        backend->setCharset(job.charset);
        return backend;
    });
#endif
    f.add(".zpl", [](const JobParams& job) {
        return std::make_unique<ZplBackend>(job.printer, "Vexora " + job.rangeText());
    });
    return f;
}

std::string templateFilter([[maybe_unused]] const BackendFactory& factory) {
#ifdef _WIN32
    return "BT模板 (*.btw)|*.btw|所有文件 (*.*)|*.*";
#else
    std::string names, patterns;
    for (const std::string& ext : factory.extensions()) {
        names += (names.empty() ? "*" : " *") + ext;
        patterns += (patterns.empty() ? "*" : ";*") + ext;
    }
    return "标签模板 (" + names + ")|" + patterns + "|所有文件 (*.*)|*.*";
#endif
}

} // namespace vx::print
