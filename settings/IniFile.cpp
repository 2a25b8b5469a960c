#include "settings/IniFile.h"

#include "data/Value.h"
#include "settings/IniFilePlatform.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

namespace vx::settings {
namespace {

// Blanks around names and values; Ctrl-Z too, the end-of-file mark that DOS
// editors leave on a file's last line.
std::string_view trim(std::string_view s) {
    auto isBlank = [](char c) {
        return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A';
    };
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace

namespace detail {

// ---------------------------------------------------------------------------
// UTF-8 and UTF-16.
//
// The text of a UTF-16 file is held as UTF-8 while it is searched and edited.
// A lone surrogate, which Windows accepts in a UTF-16 file, is kept as its
// own three bytes there so that lines a write does not touch come back
// unchanged (lenient = true). Text that leaves for the station's code page is
// strict UTF-8: a lone surrogate becomes U+FFFD, as Windows' conversion does.

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isHighSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool isLowSurrogate(char32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

std::string utf8FromUtf16(std::u16string_view s, bool lenient) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t c = s[i];
        if (isHighSurrogate(c) && i + 1 < s.size() && isLowSurrogate(s[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if ((isHighSurrogate(c) || isLowSurrogate(c)) && !lenient) {
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    return out;
}

// Bytes that are no UTF-8 become U+FFFD, one for each longest start of a
// sequence that could have become a character, as Unicode recommends: a
// character cut short is one, as Wine's profile functions read it too.
std::u16string utf16FromUtf8(std::string_view s, bool lenient) {
    std::u16string out;
    out.reserve(s.size());
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned char b = *p;
        // C0, C1 and F5 to FF start no character at all.
        const std::size_t n = b < 0x80   ? 1
                              : b < 0xC2 ? 0
                              : b < 0xE0 ? 2
                              : b < 0xF0 ? 3
                              : b < 0xF5 ? 4
                                         : 0;
        char32_t c = 0xFFFD;
        std::size_t used = 1;
        if (n == 1) {
            c = b;
        } else if (n > 1) {
            // What the second byte may be, which rules out overlong forms,
            // surrogates (unless lenient) and values past U+10FFFF.
            unsigned char low = 0x80, high = 0xBF;
            if (b == 0xE0)
                low = 0xA0;
            else if (b == 0xED && !lenient)
                high = 0x9F;
            else if (b == 0xF0)
                low = 0x90;
            else if (b == 0xF4)
                high = 0x8F;
            char32_t v = b & (0x7F >> n);
            std::size_t i = 1;
            for (; i < n && p + i < end; ++i) {
                const unsigned char next = p[i];
                if (i == 1 ? next < low || next > high : (next & 0xC0) != 0x80)
                    break;
                v = (v << 6) | (next & 0x3F);
            }
            used = i;
            if (i == n)
                c = v;
        }
        p += used;
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

} // namespace detail

namespace {

using namespace detail;

// At most max bytes of s in the code page, never half a character.
std::string toCodePageCut(std::u16string_view s, unsigned codePage, std::size_t max) {
    std::string all = toCodePage(s, codePage);
    if (all.size() <= max)
        return all;
    std::string out;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = isHighSurrogate(s[i]) && i + 1 < s.size() ? 2 : 1;
        const std::string c = toCodePage(s.substr(i, n), codePage);
        if (out.size() + c.size() > max)
            break;
        out += c;
        i += n;
    }
    return out;
}

// ---------------------------------------------------------------------------
// The file as lines.

// A file with a byte-order mark is text in its encoding; any other file is
// bytes. The UTF-8 mark is read as Wine's profile functions read it: Windows'
// own take it for three characters of the first line, whose section is then
// never found, and a [Database] saved by an editor would read as defaults.
enum class Encoding { Bytes, Utf8, Utf16Le, Utf16Be };

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

struct Line {
    std::string text; // UTF-8 in a UTF-16 file, the file's own bytes otherwise
    std::string eol;  // "\r\n", "\n", "\r", or "" on a last line without one
};

struct Contents {
    Encoding encoding = Encoding::Bytes;
    std::vector<Line> lines;

    // What a new line ends with: the file's first line end, CR LF in a file
    // without one (as Windows writes).
    std::string newLineEnd() const {
        for (const Line& l : lines)
            if (!l.eol.empty())
                return l.eol;
        return "\r\n";
    }
};

std::vector<Line> splitLines(std::string_view data) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < data.size()) {
        const std::size_t end = data.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back({std::string(data.substr(start)), ""});
            break;
        }
        const std::size_t eolSize =
            data[end] == '\r' && end + 1 < data.size() && data[end + 1] == '\n' ? 2 : 1;
        lines.push_back(
            {std::string(data.substr(start, end - start)), std::string(data.substr(end, eolSize))});
        start = end + eolSize;
    }
    return lines;
}

bool loadContents(const std::string& path, Contents& contents) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream buf;
    buf << in.rdbuf();
    const std::string data = buf.str();
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(data[i]); };
    if (data.size() >= 2 &&
        ((byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF))) {
        const bool little = byte(0) == 0xFF;
        contents.encoding = little ? Encoding::Utf16Le : Encoding::Utf16Be;
        std::u16string units;
        units.reserve(data.size() / 2);
        for (std::size_t i = 2; i + 1 < data.size(); i += 2) {
            const unsigned lo = little ? byte(i) : byte(i + 1);
            const unsigned hi = little ? byte(i + 1) : byte(i);
            units += static_cast<char16_t>(lo | hi << 8);
        }
        contents.lines = splitLines(utf8FromUtf16(units, true));
    } else if (std::string_view(data).substr(0, kUtf8Mark.size()) == kUtf8Mark) {
        // What many editors save: the mark is no part of the first line.
        contents.encoding = Encoding::Utf8;
        contents.lines = splitLines(std::string_view(data).substr(kUtf8Mark.size()));
    } else {
        contents.lines = splitLines(data);
    }
    return true;
}

std::string serialise(const Contents& contents) {
    std::string text;
    for (const Line& l : contents.lines) {
        text += l.text;
        text += l.eol;
    }
    if (contents.encoding == Encoding::Bytes)
        return text;
    if (contents.encoding == Encoding::Utf8)
        return std::string(kUtf8Mark) + text;
    const bool little = contents.encoding == Encoding::Utf16Le;
    std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t c : utf16FromUtf8(text, true)) {
        const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
        out += little ? lo : hi;
        out += little ? hi : lo;
    }
    return out;
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

} // namespace

IniWriteError::IniWriteError(const std::string& path, const std::string& why)
    : std::runtime_error("Unable to write to " + path + (why.empty() ? "" : ": " + why)) {}

IniFile::IniFile(std::string path, unsigned codePage)
    : m_path(std::move(path)), m_codePage(codePage) {}

std::string IniFile::readString(const std::string& section, const std::string& key,
                                const std::string& defaultValue) const {
    Contents contents;
    if (!loadContents(m_path, contents))
        return defaultValue;
    // In a text file names and values are UTF-8 as searched and edited.
    const bool text = contents.encoding != Encoding::Bytes;
    const auto inFile = [&](const std::string& s) {
        return text ? utf8FromUtf16(fromCodePage(s, m_codePage), false) : s;
    };
    const std::string wantedSection = inFile(section), wantedKey = inFile(key);
    bool inSection = false;
    for (const Line& line : contents.lines) {
        std::string_view name;
        if (sectionName(line.text, name)) {
            inSection = data::equalsNoCase(name, wantedSection);
            continue;
        }
        std::string_view k, v;
        if (inSection && keyValue(line.text, k, v) && data::equalsNoCase(k, wantedKey)) {
            // A value ends at a NUL byte, as a C string handed back by Windows.
            v = v.substr(0, v.find('\0'));
            if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
                v = v.substr(1, v.size() - 2);
            if (text)
                return toCodePageCut(utf16FromUtf8(v, true), m_codePage, kMaxValueBytes);
            return std::string(v.substr(0, kMaxValueBytes));
        }
    }
    return defaultValue;
}

void IniFile::writeString(const std::string& section, const std::string& key,
                          const std::string& value) const {
    // Written as they are, a line break would start a line of its own (a key
    // or a section nobody meant to set) and a NUL would cut the value.
    for (const std::string* s : {&section, &key, &value})
        if (s->find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
            throw IniWriteError(m_path, "a name or value holds a line break or a NUL byte");
    Contents contents;
    loadContents(m_path, contents);
    // In a text file names and values are UTF-8 as searched and edited.
    const bool text = contents.encoding != Encoding::Bytes;
    const auto inFile = [&](const std::string& s) {
        return text ? utf8FromUtf16(fromCodePage(s, m_codePage), false) : s;
    };
    const std::string wantedSection = inFile(section), wantedKey = inFile(key);
    const std::string entry = inFile(key + "=" + value);
    std::vector<Line>& lines = contents.lines;

    bool inSection = false, sectionSeen = false, done = false;
    std::size_t insertAt = 0; // after the last non-blank line of the section
    for (std::size_t i = 0; i < lines.size() && !done; ++i) {
        std::string_view name;
        if (sectionName(lines[i].text, name)) {
            if (inSection)
                break; // the section ended without the key
            inSection = data::equalsNoCase(name, wantedSection);
            if (inSection) {
                sectionSeen = true;
                insertAt = i + 1;
            }
            continue;
        }
        if (!inSection)
            continue;
        std::string_view k, v;
        if (keyValue(lines[i].text, k, v) && data::equalsNoCase(k, wantedKey)) {
            lines[i].text = entry;
            done = true;
        } else if (!trim(lines[i].text).empty()) {
            insertAt = i + 1;
        }
    }
    if (!done) {
        const std::string eol = contents.newLineEnd();
        std::vector<Line> added;
        if (!sectionSeen) {
            insertAt = lines.size();
            added.push_back({"[" + inFile(section) + "]", eol});
        }
        added.push_back({entry, eol});
        if (insertAt > 0 && lines[insertAt - 1].eol.empty())
            lines[insertAt - 1].eol = eol;
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), added.begin(),
                     added.end());
    }
    writeAtomically(m_path, serialise(contents));
}

} // namespace vx::settings
