// gLabels on Linux: glabels-3-batch renders the labels, CUPS prints them.

#include "print/GLabelsBackend.h"

#include "data/Charset.h"
#include "print/CupsQueue.h"
#include "print/Process.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <unistd.h>
#include <zlib.h>

namespace vx::print {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string gunzip(const std::string& data, const std::string& path) {
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
        throw PrintError("zlib: cannot start inflating");
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    std::string out;
    char buf[16384];
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(buf);
        z.avail_out = sizeof buf;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(buf, sizeof buf - z.avail_out);
    }
    inflateEnd(&z);
    if (rc != Z_STREAM_END)
        throw PrintError("the template \"" + path + "\" is not a valid compressed gLabels file");
    return out;
}

// The attributes of one start tag, "<Name a="1" b='2'/>".
std::map<std::string, std::string> attributes(std::string_view tag) {
    std::map<std::string, std::string> out;
    std::size_t i = tag.find_first_of(" \t\r\n");
    while (i != std::string_view::npos && i < tag.size()) {
        i = tag.find_first_not_of(" \t\r\n", i);
        if (i == std::string_view::npos)
            break;
        const std::size_t eq = tag.find('=', i);
        if (eq == std::string_view::npos)
            break;
        std::string name(tag.substr(i, eq - i));
        name.erase(name.find_last_not_of(" \t\r\n") + 1);
        const std::size_t q = tag.find_first_of("\"'", eq);
        if (q == std::string_view::npos)
            break;
        const std::size_t qe = tag.find(tag[q], q + 1);
        if (qe == std::string_view::npos)
            break;
        out[name] = std::string(tag.substr(q + 1, qe - q - 1));
        i = qe + 1;
    }
    return out;
}

// Every start tag of the element name in the document.
std::vector<std::map<std::string, std::string>> elements(const std::string& xml,
                                                         const std::string& name) {
    std::vector<std::map<std::string, std::string>> out;
    const std::string open = "<" + name;
    for (std::size_t p = xml.find(open); p != std::string::npos; p = xml.find(open, p + 1)) {
        const char after = p + open.size() < xml.size() ? xml[p + open.size()] : '>';
        if (!(after == ' ' || after == '\t' || after == '\r' || after == '\n' || after == '/' ||
              after == '>'))
            continue;
        const std::size_t end = xml.find('>', p);
        if (end == std::string::npos)
            break;
        out.push_back(attributes(std::string_view(xml).substr(p, end - p)));
    }
    return out;
}

// PATH lookup, as the shell does it.
bool findProgram(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return ::access(name.c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (::access(((dir.empty() ? "." : dir) + "/" + name).c_str(), X_OK) == 0)
            return true;
    return false;
}

// The page count of a PDF: its page tree's largest /Count.
long pdfPageCount(const std::string& pdf) {
    long count = -1;
    for (std::size_t p = pdf.find("/Count"); p != std::string::npos;
         p = pdf.find("/Count", p + 1)) {
        std::size_t d = pdf.find_first_not_of(" \r\n\t", p + 6);
        if (d == std::string::npos)
            break;
        count = std::max(count, std::strtol(pdf.c_str() + d, nullptr, 10));
    }
    return count;
}

// Every start tag of the document with its name and attributes.
std::vector<std::pair<std::string, std::map<std::string, std::string>>>
startTags(const std::string& xml) {
    std::vector<std::pair<std::string, std::map<std::string, std::string>>> out;
    for (std::size_t p = xml.find('<'); p != std::string::npos; p = xml.find('<', p + 1)) {
        if (p + 1 >= xml.size() || xml[p + 1] == '/' || xml[p + 1] == '?' || xml[p + 1] == '!')
            continue;
        const std::size_t end = xml.find('>', p);
        if (end == std::string::npos)
            break;
        const std::string_view tag = std::string_view(xml).substr(p, end - p);
        const std::size_t nameEnd = tag.find_first_of(" \t\r\n/", 1);
        out.push_back(
            {std::string(tag.substr(1, nameEnd == std::string_view::npos ? std::string_view::npos
                                                                         : nameEnd - 1)),
             attributes(tag)});
    }
    return out;
}

bool endsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// Text in charset as UTF-8, which gLabels reads its merge data in; nothing
// when it is not text in that character set.
std::optional<std::string> toUtf8(const std::string& text, const std::string& charset) {
    std::string out;
    bool valid = true;
    const bool known = data::iconvAppend(out, "UTF-8", charset.c_str(), text,
                                         [&](std::string_view rest, std::string&) {
                                             valid = false;
                                             return rest.size();
                                         });
    if (!known)
        throw PrintError("unknown character set \"" + charset + "\"");
    if (!valid)
        return std::nullopt;
    return out;
}

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace

GLabelsTemplate readGLabelsTemplate(const std::string& path) {
    std::string xml = readTemplateFile(path);
    if (xml.size() >= 2 && static_cast<unsigned char>(xml[0]) == 0x1f &&
        static_cast<unsigned char>(xml[1]) == 0x8b)
        xml = gunzip(xml, path);
    if (xml.find("<Glabels-document") == std::string::npos)
        throw PrintError("\"" + path + "\" is not a gLabels 3 label file");

    GLabelsTemplate t;
    const auto merges = elements(xml, "Merge");
    std::string type;
    if (!merges.empty() && merges.front().count("type"))
        type = merges.front().at("type");
    static const std::pair<const char*, char> kTypes[] = {{"Text/Comma/Line1Keys", ','},
                                                          {"Text/Tab/Line1Keys", '\t'},
                                                          {"Text/Colon/Line1Keys", ':'},
                                                          {"Text/Semicolon/Line1Keys", ';'}};
    bool known = false;
    for (const auto& [name, separator] : kTypes) {
        if (type == name) {
            t.separator = separator;
            known = true;
        }
    }
    if (!known)
        throw PrintError("the template \"" + path + "\" merges " +
                         (type.empty() ? std::string("no data") : "\"" + type + "\"") +
                         "; it needs a text merge source with the keys in line 1 "
                         "(Text/Comma/Line1Keys) whose fields are sjy-bh, sjy-tt, sjy-pic");
    // Every merge field the template uses must be one the station fills,
    // or the labels print with that field empty.
    for (const auto& [tag, attrs] : startTags(xml)) {
        for (const auto& [name, value] : attrs) {
            const bool fieldName =
                (tag == "Field" && name == "name") || name == "field" || endsWith(name, "_field");
            if (!fieldName || value.empty())
                continue;
            const int index = labelValueIndex(value);
            if (index < 0)
                throw PrintError("the template \"" + path + "\" merges the field " + value +
                                 ", which the station does not fill; a template may use the "
                                 "fields sjy-bh, sjy-tt, sjy-pic");
            if (tag == "Object-barcode" && name == "field" && attrs.count("style")) {
                std::string style = attrs.at("style");
                std::string lower = style;
                for (char& c : lower)
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                if (lower.rfind("code128", 0) == 0)
                    t.barcodes.push_back({index, lower == "code128c", style});
            }
        }
    }
    int labels = 0;
    for (const auto& layout : elements(xml, "Layout")) {
        const int nx = layout.count("nx") ? std::atoi(layout.at("nx").c_str()) : 1;
        const int ny = layout.count("ny") ? std::atoi(layout.at("ny").c_str()) : 1;
        labels += std::max(nx, 0) * std::max(ny, 0);
    }
    t.labelsPerSheet = std::max(labels, 1);
    return t;
}

std::string mergeField(const std::string& value) {
    std::string out = "\"";
    for (char c : value) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

std::string mergeData(const std::vector<LabelValues>& labels, char separator) {
    std::string out;
    auto line = [&](const LabelValues& fields) {
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i)
                out += separator;
            out += mergeField(fields[i]);
        }
        out += '\n';
    };
    line(kLabelValueNames);
    for (const auto& l : labels)
        line(l);
    return out;
}

GLabelsBackend::GLabelsBackend(std::string printer, std::string title)
    : GLabelsBackend(std::move(printer), std::move(title), Programs{}) {}

GLabelsBackend::GLabelsBackend(std::string printer, std::string title, Programs programs)
    : m_printer(std::move(printer)), m_title(std::move(title)), m_programs(std::move(programs)) {}

GLabelsBackend::~GLabelsBackend() {
    if (!m_keep)
        removeWorkFolder();
}

void GLabelsBackend::create() {
    for (const std::string* program : {&m_programs.batch, &m_programs.lp})
        if (!findProgram(*program))
            throw PrintError(*program + " was not found; install Debian's glabels and " +
                             "cups-client (scripts/install-deps.sh)");
}

void GLabelsBackend::open(const std::string& templatePath, bool, const std::string&) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(templatePath, ec);
    m_template = ec ? templatePath : absolute.string();
    m_layout = readGLabelsTemplate(m_template);
    m_open = true;
}

void GLabelsBackend::SetNamedSubStringValue(const std::string& name, const std::string& value) {
    if (!m_open)
        throw PrintError("SetNamedSubStringValue without an open template");
    // Other names fill no merge column.
    const int i = labelValueIndex(name);
    if (i < 0)
        return;
    const std::string charset = m_charset.empty() ? data::stationCharset() : m_charset;
    const auto utf8 = toUtf8(value, charset);
    if (!utf8)
        throw UnprintableValue("the " + name + " text \"" + shownBytes(value) + "\" is not " +
                               charset + " text, the character set the station's texts are in");
    m_values[static_cast<std::size_t>(i)] = *utf8;
}

void GLabelsBackend::printout(std::int32_t copies, bool) {
    if (!m_open)
        throw PrintError("printout without an open template");
    for (const GLabelsTemplate::Barcode& b : m_layout.barcodes) {
        const std::string& v = m_values[static_cast<std::size_t>(b.value)];
        if (const std::string why = code128Problem(v, b.digitPairs); !why.empty())
            throw UnprintableValue("the " + kLabelValueNames[static_cast<std::size_t>(b.value)] +
                                   " text \"" + shownBytes(v) +
                                   "\" cannot go into the template's " + b.style +
                                   " bar code: " + why);
    }
    for (std::int32_t i = 0; i < copies; ++i)
        m_labels.push_back(m_values);
}

void GLabelsBackend::Close(std::int32_t) {
    if (!m_open)
        throw PrintError("Close without an open template");
    m_open = false;
    if (m_labels.empty())
        return; // nothing was printed, nothing goes to the printer

    removeWorkFolder();
    std::string pattern = (fs::temp_directory_path() / "vexora-print-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw PrintError("cannot make a work folder in " + fs::temp_directory_path().string() +
                         ": " + std::strerror(errno));
    m_work = pattern;
    const std::string merge = m_work + "/labels.txt";
    m_pdf = m_work + "/labels.pdf";
    {
        std::ofstream out(merge, std::ios::binary);
        out << mergeData(m_labels, m_layout.separator);
        if (!out.flush())
            throw PrintError("cannot write the merge data " + merge);
    }

    // About 5 ms a label here; the allowance covers a slow machine tenfold.
    const auto allowed = 60s + std::chrono::milliseconds(50) * m_labels.size();
    const ProcessResult render =
        runProcess({m_programs.batch, "-o", m_pdf, "-i", merge, m_template}, allowed,
                   [this] { return cancelRequested(); });
    if (render.cancelled)
        throw JobCancelled("cancelled by the operator while " + m_programs.batch +
                           " rendered the labels; nothing was sent");
    // glabels-3-batch ends with 0 even when it could not read its input, so
    // its messages and its output are checked too.
    const std::string said = trimmed(render.output);
    if (!render.succeeded())
        throw PrintError(m_programs.batch + " failed (" + render.describe() + "): " + said);
    for (const char* fault : {"cannot open glabels file", "gl_merge_text_open"})
        if (said.find(fault) != std::string::npos)
            throw PrintError(m_programs.batch + ": " + said);
    std::string pdf;
    try {
        pdf = readTemplateFile(m_pdf);
    } catch (const PrintError&) {
        throw PrintError(m_programs.batch + " wrote no PDF: " + said);
    }
    const long sheets = static_cast<long>((m_labels.size() + m_layout.labelsPerSheet - 1) /
                                          static_cast<std::size_t>(m_layout.labelsPerSheet));
    const long pages = pdfPageCount(pdf);
    if (pages != sheets)
        throw PrintError(m_programs.batch + " rendered " + std::to_string(pages) + " page(s) for " +
                         std::to_string(m_labels.size()) + " label(s): " + said);

    // The last moment a cancel keeps the labels from the printer.
    if (cancelRequested())
        throw JobCancelled("cancelled by the operator; nothing was sent");
    std::vector<std::string> lp{m_programs.lp, "-t", m_title};
    if (!m_printer.empty()) {
        lp.push_back("-d");
        lp.push_back(m_printer);
    }
    lp.push_back(m_pdf);
    const ProcessResult sent = runProcess(lp, 60s);
    if (!sent.succeeded())
        throw PrintError("lp failed (" + sent.describe() + "): " + trimmed(sent.output));
    m_sent = static_cast<int>(m_labels.size());
    m_held = cupsQueueHolds(m_printer);
}

void GLabelsBackend::release() {
    m_open = false;
}

void GLabelsBackend::quit(std::int32_t) {
    if (!m_keep)
        removeWorkFolder();
}

void GLabelsBackend::removeWorkFolder() {
    if (m_work.empty())
        return;
    std::error_code ec;
    fs::remove_all(m_work, ec);
    m_work.clear();
}

} // namespace vx::print
