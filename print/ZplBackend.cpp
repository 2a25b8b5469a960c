// ZPL label printers: the template filled per label with escaped values, the
// job sent raw (RawPrinter.h).

#include "print/ZplBackend.h"

#include <algorithm>

namespace vx::print {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isPrefix(char c) {
    return c == '^' || c == '~';
}

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

// What the message shows of a stretch of the template: one line, not long.
std::string excerpt(const std::string& text, std::size_t from) {
    std::string out = text.substr(from, 40);
    const std::size_t eol = out.find_first_of("\r\n");
    if (eol != std::string::npos)
        out.erase(eol);
    return out;
}

// ^BCo,h,f,g,e,m: without a mode (N) and in UCC/EAN mode (D) the printer
// reads '>' and the byte after it as an invocation (start code, code change,
// FNC1); in automatic mode (A) and UCC case mode (U) the data is taken as
// it is. A mode the printer does not know falls back to N.
bool code128Invokes(const std::string& parameters) {
    std::size_t field = 0, start = 0;
    for (std::size_t p = 0; p <= parameters.size(); ++p) {
        if (p < parameters.size() && parameters[p] != ',')
            continue;
        if (field == 5) {
            std::string mode = parameters.substr(start, p - start);
            mode.erase(std::remove_if(mode.begin(), mode.end(), isBlank), mode.end());
            return !(mode.size() == 1 && (upper(mode[0]) == 'A' || upper(mode[0]) == 'U'));
        }
        ++field;
        start = p + 1;
    }
    return true;
}

} // namespace

// Reads one template; every fault raises with the template's name and line.
class ZplTemplate::Parser {
public:
    Parser(const std::string& text, const std::string& source) : m_text(text), m_source(source) {}

    std::vector<Piece> pieces;

    void run();

private:
    [[noreturn]] void fail(std::size_t at, const std::string& why) const {
        const long line =
            1 + std::count(m_text.begin(), m_text.begin() + static_cast<long>(at), '\n');
        throw PrintError("the ZPL template \"" + m_source + "\", line " + std::to_string(line) +
                         ": " + why);
    }
    void literal(const std::string& s) {
        if (pieces.empty() || pieces.back().value >= 0)
            pieces.push_back({});
        pieces.back().literal += s;
    }
    // The placeholder starting at a '{', if one does: its end (past '}') and name.
    bool placeholderAt(std::size_t i, std::size_t end, std::size_t& past, std::string& name) const;
    int knownValue(std::size_t at, const std::string& name) const;
    // Parameters of a command, up to the next command: no placeholder may sit here.
    void parameters(std::size_t from, std::size_t to);
    void fieldData(std::size_t command, std::size_t from, std::size_t to);
    std::size_t nextCommand(std::size_t from) const {
        const std::size_t p = m_text.find_first_of("^~", from);
        return p == std::string::npos ? m_text.size() : p;
    }

    const std::string& m_text;
    const std::string& m_source;
    // The ^FH of the field being read, if it has one: its indicator.
    bool m_fieldHex = false;
    char m_indicator = '_';
    // The field is a Code 128 bar code whose data reads '>' as the start of
    // an invocation code.
    bool m_code128 = false;
    // The field is a Code 128 bar code, in any mode.
    bool m_barcode128 = false;
};

bool ZplTemplate::Parser::placeholderAt(std::size_t i, std::size_t end, std::size_t& past,
                                        std::string& name) const {
    std::size_t j = i + 1;
    while (j < end && isNameChar(m_text[j]))
        ++j;
    if (j == i + 1 || j >= end || m_text[j] != '}')
        return false;
    name = m_text.substr(i + 1, j - i - 1);
    past = j + 1;
    return true;
}

int ZplTemplate::Parser::knownValue(std::size_t at, const std::string& name) const {
    if (const int v = labelValueIndex(name); v >= 0)
        return v;
    fail(at,
         "unknown placeholder {" + name + "}; a template may hold {sjy-bh}, {sjy-tt}, {sjy-pic}");
}

void ZplTemplate::Parser::parameters(std::size_t from, std::size_t to) {
    for (std::size_t i = m_text.find('{', from); i < to; i = m_text.find('{', i + 1)) {
        std::size_t past = 0;
        std::string name;
        if (placeholderAt(i, to, past, name)) {
            knownValue(i, name);
            fail(i, "the placeholder {" + name +
                        "} is outside field data; it may only stand in a field's ^FD or ^FV "
                        "text, where it is filled as data");
        }
    }
    literal(m_text.substr(from, to - from));
}

void ZplTemplate::Parser::fieldData(std::size_t command, std::size_t from, std::size_t to) {
    struct Part {
        std::string literal;
        int value;
    };
    std::vector<Part> parts;
    std::size_t copied = from;
    for (std::size_t i = m_text.find('{', from); i < to; i = m_text.find('{', i + 1)) {
        std::size_t past = 0;
        std::string name;
        if (!placeholderAt(i, to, past, name))
            continue;
        parts.push_back({m_text.substr(copied, i - copied), knownValue(i, name)});
        copied = past;
        i = past - 1;
    }
    const std::string rest = m_text.substr(copied, to - copied);
    const std::string commandText = m_text.substr(command, 3);
    if (parts.empty()) {
        literal(commandText + rest);
        return;
    }
    // The values go through the field hex escape: the field needs ^FH. One
    // added here takes '_', so the template's own '_' in this field are
    // escaped to stay what they were.
    char indicator = m_indicator;
    auto own = [&](const std::string& s) {
        if (m_fieldHex)
            return s;
        std::string out;
        for (char c : s)
            out += c == '_' ? std::string("_5F") : std::string(1, c);
        return out;
    };
    if (!m_fieldHex) {
        indicator = '_';
        literal("^FH_");
    }
    // Such a field's '>' must be written ">0", which '>' as the indicator
    // would read as an escape.
    if (m_code128 && indicator == '>')
        fail(command, "a Code 128 field with placeholders cannot take '>' as its ^FH "
                      "indicator; '>' starts an invocation code there");
    literal(commandText);
    for (const Part& p : parts) {
        literal(own(p.literal));
        pieces.back().value = p.value;
        pieces.back().indicator = indicator;
        pieces.back().code128 = m_code128;
        pieces.back().barcode = m_barcode128;
    }
    literal(own(rest));
}

void ZplTemplate::Parser::run() {
    std::size_t i = 0;
    if (m_text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        i = 3; // a byte order mark from a Windows editor
    while (i < m_text.size() && isBlank(m_text[i]))
        ++i;
    if (i >= m_text.size())
        fail(i, "it holds no label format (^XA ... ^XZ)");
    if (!(m_text[i] == '^' && i + 2 < m_text.size() && upper(m_text[i + 1]) == 'X' &&
          upper(m_text[i + 2]) == 'A'))
        fail(i, "text before ^XA: \"" + excerpt(m_text, i) +
                    "\"; the template must be one label format, ^XA ... ^XZ, and nothing else");
    const std::string lineEnd = m_text.find("\r\n") != std::string::npos ? "\r\n" : "\n";

    bool ended = false;
    std::size_t at = i;
    literal("^XA");
    i += 3;
    while (!ended) {
        const std::size_t next = nextCommand(i);
        parameters(i, next);
        if (next >= m_text.size())
            fail(next, "no ^XZ ends the label format");
        if (next + 2 >= m_text.size())
            fail(next, "the template ends inside a command");
        at = next;
        const char prefix = m_text[at];
        const std::string code{upper(m_text[at + 1]), upper(m_text[at + 2])};
        i = at + 3;
        if (prefix == '^' && code == "XZ") {
            literal(m_text.substr(at, 3));
            ended = true;
        } else if (prefix == '^' && code == "XA") {
            fail(at, "a second ^XA before the first format's ^XZ");
        } else if (code == "FD" || code == "FV") {
            const std::size_t end = nextCommand(i);
            fieldData(at, i, end);
            i = end;
        } else if (code == "FX") {
            // A comment, braces and all, up to the next command: the printer
            // ignores it, so it is not sent with every label.
            i = nextCommand(i);
        } else if (code == "CC" || code == "CT") {
            // Changing a prefix would turn other characters into commands,
            // which the values are not escaped against; setting it to what it
            // is anyway (as designers' exports do) is harmless.
            const char given = i < m_text.size() ? m_text[i] : '\0';
            if (given != (code == "CC" ? '^' : '~'))
                fail(at, std::string(1, prefix) + code +
                             " changes a command prefix; the station's values are escaped for "
                             "^ and ~ only");
            literal(m_text.substr(at, 4));
            i = at + 4;
        } else {
            literal(m_text.substr(at, 3));
            if (code == "FH") {
                const char given = i < m_text.size() ? m_text[i] : '^';
                m_fieldHex = true;
                m_indicator = isPrefix(given) || isBlank(given) ? '_' : given;
            } else if (code == "FS") {
                m_fieldHex = false;
                m_code128 = false;
                m_barcode128 = false;
            } else if (prefix == '^' && code[0] == 'B' && code != "BY") {
                // The field's bar code; ^BY only sets the module widths.
                m_barcode128 = code == "BC";
                m_code128 = m_barcode128 && code128Invokes(m_text.substr(i, nextCommand(i) - i));
            }
        }
    }
    // After ^XZ: blanks only, but another format is named as such.
    std::size_t rest = i;
    while (rest < m_text.size() && isBlank(m_text[rest]))
        ++rest;
    if (rest < m_text.size()) {
        int formats = 1;
        for (std::size_t p = i; p + 2 < m_text.size(); ++p)
            if (m_text[p] == '^' && upper(m_text[p + 1]) == 'X' && upper(m_text[p + 2]) == 'A')
                ++formats;
        if (formats > 1)
            fail(rest, "it holds " + std::to_string(formats) +
                           " label formats (^XA ... ^XZ); it must hold exactly one, the label's "
                           "(printer settings belong in the printer, not in every label)");
        fail(rest, "text after ^XZ: \"" + excerpt(m_text, rest) +
                       "\"; the template must be one label format, ^XA ... ^XZ, and nothing else");
    }
    literal(lineEnd);
}

std::string zplFieldEscape(const std::string& value, char indicator, bool code128) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c >= 0x7F || ch == '^' || ch == '~' || ch == '\\' || ch == indicator) {
            out += indicator;
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else if (ch == '>' && code128) {
            // Undone by ^FH, '>' would still start an invocation. In the
            // invocation table ">0" is the sign itself (value 30); "><" is
            // value 62, which subsets A and B print as '^'. The '0' is
            // escaped in turn where '0' is the indicator.
            out += '>';
            out += indicator == '0' ? std::string{indicator, '3', '0'} : std::string("0");
        } else {
            out += ch;
        }
    }
    return out;
}

ZplTemplate ZplTemplate::parse(const std::string& text, const std::string& source) {
    Parser p(text, source);
    p.run();
    ZplTemplate t;
    t.m_pieces = std::move(p.pieces);
    return t;
}

ZplTemplate ZplTemplate::read(const std::string& path) {
    return parse(readTemplateFile(path), path);
}

void ZplTemplate::render(const LabelValues& values, std::string& out) const {
    for (const Piece& p : m_pieces) {
        out += p.literal;
        if (p.value >= 0)
            out +=
                zplFieldEscape(values[static_cast<std::size_t>(p.value)], p.indicator, p.code128);
    }
}

void ZplTemplate::checkBarcodeValues(const LabelValues& values) const {
    for (const Piece& p : m_pieces) {
        if (p.value < 0 || !p.barcode)
            continue;
        const std::string& v = values[static_cast<std::size_t>(p.value)];
        if (const std::string why = code128Problem(v); !why.empty())
            throw UnprintableValue("the " + kLabelValueNames[static_cast<std::size_t>(p.value)] +
                                   " text \"" + shownBytes(v) +
                                   "\" cannot go into the template's Code 128 bar code: " + why);
    }
}

ZplBackend::ZplBackend(std::string printer, std::string title, RawTimeouts timeouts)
    : m_printer(std::move(printer)), m_title(std::move(title)), m_timeouts(timeouts) {}

void ZplBackend::create() {
#ifdef _WIN32
    m_destination = parseRawDestination(m_printer, true);
#else
    m_destination = parseRawDestination(m_printer, false);
#endif
}

void ZplBackend::open(const std::string& templatePath, bool, const std::string&) {
    m_template = ZplTemplate::read(templatePath);
    m_open = true;
}

void ZplBackend::SetNamedSubStringValue(const std::string& name, const std::string& value) {
    if (!m_open)
        throw PrintError("SetNamedSubStringValue without an open template");
    const int v = labelValueIndex(name);
    if (v < 0)
        throw PrintError("no named value \"" + name +
                         "\"; ZPL templates hold sjy-bh, sjy-tt, sjy-pic");
    m_values[static_cast<std::size_t>(v)] = value;
}

void ZplBackend::printout(std::int32_t copies, bool) {
    if (!m_open)
        throw PrintError("printout without an open template");
    m_template.checkBarcodeValues(m_values);
    for (std::int32_t i = 0; i < copies; ++i) {
        m_template.render(m_values, m_job);
        m_labelEnds.push_back(m_job.size());
    }
}

void ZplBackend::Close(std::int32_t) {
    if (!m_open)
        throw PrintError("Close without an open template");
    m_open = false;
    if (m_labelEnds.empty())
        return; // nothing was printed, nothing goes to the printer
    auto wholeLabels = [&](std::size_t bytes) {
        return static_cast<int>(std::upper_bound(m_labelEnds.begin(), m_labelEnds.end(), bytes) -
                                m_labelEnds.begin());
    };
    RawTimeouts timeouts = m_timeouts;
    timeouts.watch = [&](std::size_t taken) {
        reportSent(wholeLabels(taken));
        return !cancelRequested();
    };
    const RawSendResult sent = sendRaw(m_destination, m_job, m_title, timeouts);
    m_sent.reset();
    if (sent.accepted)
        m_sent = wholeLabels(*sent.accepted);
    m_held = sent.held;
    const std::string all = std::to_string(m_labelEnds.size());
    const std::string took =
        m_sent ? "the printer took " + std::to_string(*m_sent) + " of " + all + " label(s) whole"
               : "how many of the " + all + " label(s) the printer took is unknown, at most " +
                     std::to_string(wholeLabels(sent.reached)) +
                     " reached it whole: check the last label printed before printing again";
    if (sent.cancelled)
        throw JobCancelled("cancelled by the operator while sending; " + took);
    if (!sent.ok)
        throw PrintError(sent.message + "; " + took);
}

void ZplBackend::release() {
    m_open = false;
}

} // namespace vx::print
