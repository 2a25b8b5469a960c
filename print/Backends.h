#pragma once

#include "print/PrintJob.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vx::print {

using BackendMaker = std::function<std::unique_ptr<PrintBackend>(const JobParams&)>;
// Whether a back end can print on this machine now, asked when a template is
// chosen and at start-up; none: always.
using BackendReady = std::function<bool()>;

// The print back ends by the extension of the template they print.
class BackendFactory {
public:
    // extension with its dot (".glabels"); compared without regard to ASCII case.
    void add(const std::string& extension, BackendMaker maker, BackendReady ready = {});
    // Raises PrintError when no back end takes the template's type.
    std::unique_ptr<PrintBackend> make(const JobParams& job) const;
    bool accepts(const std::string& templatePath) const;
    // A back end takes the template's type and can print here now.
    bool ready(const std::string& templatePath) const;
    // In the order they were added.
    std::vector<std::string> extensions() const;

private:
    struct Entry {
        std::string extension;
        BackendMaker maker;
        BackendReady ready;
    };
    std::vector<Entry> m_entries;
};

// The extension of a path's file name, from its last dot, dot included, in
// lower case; empty when the name has none.
std::string templateExtension(const std::string& path);

// Whether choosing this template enables the direct-print switch: one of the
// station's back ends prints it and can print here. BarTender's can where its
// automation server is registered: the job starts a BarTender of its own, so
// BarTender's window need not be open.
bool directPrintAvailable(const BackendFactory& backends, const std::string& templatePath);

// The back ends this platform prints with: BarTender (.btw) on Windows,
// gLabels (.glabels) elsewhere, and ZPL label printers (.zpl) on both.
BackendFactory platformBackends();

// The template dialog's filter, "name (*.a)|*.a|所有文件 (*.*)|*.*" style:
// on Windows the BarTender filter as it always was; elsewhere the first entry
// lists the types the factory accepts.
std::string templateFilter(const BackendFactory& factory);

#ifdef _WIN32
// BarTender through COM automation (late-bound IDispatch on the ProgID
// BarTender.Application.10), on the calling thread.
std::unique_ptr<PrintBackend> makeBarTenderBackend();
// Whether that ProgID names a registered automation server.
bool barTenderRegistered();
#endif

} // namespace vx::print
