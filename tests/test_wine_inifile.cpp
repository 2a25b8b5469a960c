// The settings file against Windows' own GetPrivateProfileStringA and
// WritePrivateProfileStringA, run under Wine: hand-made files are read and
// written by Windows' functions, by the station's Windows build (both in one
// Wine process, vexora-iniprobe) and by the station's Linux build, and the
// answers compared. Wine runs with the Chinese ANSI code page (936), so UTF-16
// values reach the station as GBK bytes.

#include "settings/IniFile.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wine.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <optional>
#include <sstream>
#include <sys/stat.h>

using vx::settings::IniFile;
using vx::settings::IniWriteError;
using vx::test::readFile;
using vx::test::utf16;
using vx::test::WinePrefix;
using vx::test::writeFile;
using namespace std::string_literals;

namespace {

constexpr unsigned kGbk = 936;

// Where the station knowingly gives another answer than Wine: what Wine
// gives, what the station gives, and why.
struct Known {
    std::string wine;
    std::string ours;
    std::string why;
};

struct Read {
    std::string section, key;
    std::optional<Known> known = {};
};

struct ReadCase {
    std::string name;
    std::string file;
    std::vector<Read> reads;
};

struct Write {
    std::string section, key, value;
};

struct WriteCase {
    std::string name;
    std::optional<std::string> file; // none: the write creates it
    std::vector<Write> writes;
    std::vector<Read> reads; // afterwards, of every file written
    bool readOnly = false;
    std::optional<Known> writeKnown = {}; // "ok"/"error" where Wine's write differs
};

const std::string kDefault = "DEF";

// The station's own settings file: every key it reads, with a GBK template
// path (模板\标签) and a password with the characters that need care.
const char16_t kStationConfig[] =
    u"[Database]\r\nservername=127.0.0.1\\SQLEXPRESS\r\n"
    u"dataname=labels\r\nusername=sa\r\nmm=p@ss;w0rd \"x\"\r\n"
    u"[com]\r\nnum=COM3\r\n[STR]\r\nstrstart=3\r\nstrnum=8\r\n"
    u"[print]\r\nlienum=2\r\nlastnum=41\r\nbtfile=D:\\模板\\标签 A.btw\r\n";

std::string stationConfigGbk(const std::string& eol) {
    std::string out;
    for (char16_t c : std::u16string_view(kStationConfig)) {
        if (c == u'\r')
            continue;
        if (c == u'\n')
            out += eol;
        else if (c == u'模')
            out += "\xc4\xa3";
        else if (c == u'板')
            out += "\xb0\xe5";
        else if (c == u'标')
            out += "\xb1\xea";
        else if (c == u'签')
            out += "\xc7\xa9";
        else
            out += static_cast<char>(c);
    }
    return out;
}

const std::string kUtf8Mark = "\xEF\xBB\xBF";

// The station's file as an editor saves it in UTF-8.
std::string utf8(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

const std::vector<Read> kStationKeys = {
    {"Database", "servername"}, {"Database", "dataname"}, {"Database", "username"},
    {"Database", "mm"},         {"com", "num"},           {"STR", "strstart"},
    {"STR", "strnum"},          {"print", "lienum"},      {"print", "lastnum"},
    {"print", "btfile"}};

std::vector<ReadCase> readCases() {
    const std::string long2050(2050, 'x'), quoted2047 = '"' + std::string(2047, 'x') + '"';
    std::u16string longGbk = u"[a]\r\nk=";
    longGbk += std::u16string(1100, u'标') + u"\r\n";
    return {
        {"the station's file, CR LF", stationConfigGbk("\r\n"), kStationKeys},
        {"the station's file, LF", stationConfigGbk("\n"), kStationKeys},
        {"the station's file, CR", stationConfigGbk("\r"), kStationKeys},
        {"the station's file, UTF-16", utf16(kStationConfig), kStationKeys},
        {"blanks around names and values",
         "[ Database ]\r\n  servername =  srv1 \r\n\tdataname\t=\tdb\t\r\n",
         {{"Database", "servername"}, {"database", "DATANAME"}}},
        {"names inside blanks", "[my sec]\r\nmy key = a  b \r\n", {{"my sec", "my key"}}},
        {"missing and empty", "[STR]\r\nstrnum=\r\n", {{"STR", "strnum"}, {"STR", "strstart"}}},
        {"comment lines", "; station\r\n[a]\r\n;k=1\r\nk=3\r\n#m=1\r\n", {{"a", "k"}, {"a", "#m"}}},
        {"inline semicolon is part of the value", "[a]\r\nk=p;w} ; x\r\n", {{"a", "k"}}},
        {"quotes",
         "[a]\r\na='x'\r\nb=\"x\r\nc=\"x' \r\nd= \"x\" \r\ne=\"\"\r\nf=\"\r\ng=\" a \"\r\n",
         {{"a", "a"}, {"a", "b"}, {"a", "c"}, {"a", "d"}, {"a", "e"}, {"a", "f"}, {"a", "g"}}},
        {"duplicate keys: the first counts", "[a]\r\nK=1\r\nk=2\r\n", {{"a", "k"}}},
        {"a second section of the same name",
         "[a]\r\nk=1\r\n[b]\r\nx=1\r\n[A]\r\nm=2\r\nk=3\r\n",
         {{"a", "k"},
          {"a", "m",
           Known{kDefault, "2",
                 "Wine stops at the first section of a name; Windows also finds a key in a "
                 "later section of the same name, and so does the station."}}}},
        {"keys before any section", "k=0\r\n[a]\r\nk=1\r\n", {{"a", "k"}}},
        {"equals signs",
         "[a]\r\nk\r\n=v\r\nm==v\r\nn = v = w\r\n",
         {{"a", "k"}, {"a", "m"}, {"a", "n"}}},
        {"section header oddities",
         "[a\r\nk=1\r\n[b] junk\r\nm=2\r\n  [c]  \r\n\r\n   n=3\r\n",
         {{"a", "k"}, {"b", "m"}, {"c", "n"}}},
        {"empty file", "", {{"a", "k"}}},
        {"no line end at the end", "[a]\r\nk=1", {{"a", "k"}}},
        {"LF only", "[a]\nk=1\nm=2\n", {{"a", "k"}, {"a", "m"}}},
        {"bare CR", "[a]\rk=1\rm=2\r", {{"a", "k"}, {"a", "m"}}},
        {"mixed line ends",
         "[a]\rk=1\rm=2\r\n[b]\nz=3\n\r[c]\r\r\ny=4",
         {{"a", "k"}, {"a", "m"}, {"b", "z"}, {"c", "y"}}},
        {"NUL bytes",
         "[a]\r\nk=1\0\0x\r\nm=2 \0\r\nq=\"3\"\0\r\n[b]\r\nz=4\r\n\0\0\0\0"s,
         {{"a", "k"}, {"a", "m"}, {"a", "q"}, {"b", "z"}}},
        {"Ctrl-Z and other blanks",
         "[a]\r\nk=1\x1a\r\nm=\v2\f\r\nn=3\x1a\x1a",
         {{"a", "k"}, {"a", "m"}, {"a", "n"}}},
        {"values cut to 2047 bytes",
         "[p]\r\nk=" + long2050 + "\r\nq=" + quoted2047 + "\r\n",
         {{"p", "k"},
          {"p", "q",
           Known{std::string(2046, 'x'), std::string(2047, 'x'),
                 "Wine gives a quoted value of 2047 bytes one byte short (it cuts to the "
                 "buffer before it drops the quotes); Windows gives all 2047."}}}},
        {"GBK values and names",
         "[a]\r\nk=\xb1\xea\xc7\xa9\r\n\xc3\xdc\xc2\xeb=x\r\nbad=\x81\r\n",
         {{"a", "k"},
          {"a", "\xc3\xdc\xc2\xeb"},
          {"a", "bad",
           Known{"?", "\x81",
                 "Windows decodes an 8-bit file in the ANSI code page and encodes it back, so "
                 "a byte that is no character becomes '?'; the station keeps file bytes as "
                 "they are."}}}},
        // Wine skips a UTF-8 byte-order mark and reads the file as UTF-8;
        // Windows takes the mark for three characters of the first line, so
        // that line's section is never found. The station reads as Wine does.
        {"UTF-8 byte-order mark",
         "\xEF\xBB\xBF[a]\r\nk=1\r\n[b]\r\nm=2\r\n",
         {{"a", "k"}, {"b", "m"}}},
        {"the station's file, UTF-8 with a byte-order mark", kUtf8Mark + utf8(kStationConfig),
         kStationKeys},
        {"UTF-8 byte-order mark, bytes that are no UTF-8",
         kUtf8Mark + "[a]\r\nk=\x81x\r\nm=\xE6\xA0\r\nn=\xC0\xAFy\r\no=\xED\xA0\x80z\r\n"
                     "q=\xF4\x90\x80\x80w\r\nr=\xE6\xA0\x87\xE7\r\n",
         {{"a", "k"},
          {"a", "m"},
          {"a", "n"},
          {"a", "o",
           Known{"??z", "?z",
                 "an encoded surrogate: Wine gives up on it after two bytes; the station keeps "
                 "it as the one character a UTF-16 file may hold, and a GBK value has no room "
                 "for it either way"}},
          {"a", "q",
           Known{"???w", "????w",
                 "a sequence past U+10FFFF: Wine replaces its first two bytes together; the "
                 "station replaces each byte that starts no character, as Unicode recommends"}},
          {"a", "r"}}},
        {"UTF-8 byte-order mark only", kUtf8Mark, {{"a", "k"}}},
        {"UTF-16 LE",
         utf16(u"[Database]\r\nservername=srv\r\ndataname=\"标签库\"\r\n"),
         {{"Database", "servername"}, {"database", "dataname"}, {"Database", "mm"}}},
        {"UTF-16 LE with bare CR", utf16(u"[a]\rk=1\rm=标\r"), {{"a", "k"}, {"a", "m"}}},
        {"UTF-16 BE", utf16(u"[a]\r\nk=标\r\n", true), {{"a", "k"}}},
        {"UTF-16 without a byte-order mark is not UTF-16",
         utf16(u"[a]\r\nk=1\r\n").substr(2),
         {{"a", "k"}}},
        {"UTF-16 byte-order mark only", "\xFF\xFE", {{"a", "k"}}},
        {"UTF-16 with characters GBK lacks",
         utf16(u"[a]\r\nk=\U0001F600\r\nm=x") + std::string("\x00\xD8", 2) +
             utf16(u"y\r\n").substr(2),
         {{"a", "k"}, {"a", "m"}}},
        {"UTF-16 value cut on a character", utf16(longGbk), {{"a", "k"}}},
    };
}

std::vector<WriteCase> writeCases() {
    // Every key the station writes, as its settings actions write them.
    const std::vector<Write> stationWrites = {{"Database", "servername", "srv2"},
                                              {"Database", "dataname", "\xb1\xea\xc7\xa9"},
                                              {"Database", "username", "op"},
                                              {"Database", "mm", " pw ;x"},
                                              {"com", "num", "COM7"},
                                              {"STR", "strstart", "1"},
                                              {"STR", "strnum", "0"},
                                              {"print", "lienum", "1"},
                                              {"print", "lastnum", "42"},
                                              {"print", "btfile", "E:\\\xb1\xea\xc7\xa9.btw"}};
    return {
        {"the station's writes, 8-bit", stationConfigGbk("\r\n"), stationWrites, kStationKeys},
        {"the station's writes, UTF-16", utf16(kStationConfig), stationWrites, kStationKeys},
        {"the station's writes, new file", std::nullopt, stationWrites, kStationKeys},
        {"the station's writes, UTF-8 with a byte-order mark", kUtf8Mark + utf8(kStationConfig),
         stationWrites, kStationKeys},
        {"new file", std::nullopt, {{"print", "lastnum", "0"}}, {{"print", "lastnum"}}},
        {"replace, add a key, add a section",
         "; c\r\n[Database]\r\n servername = a \r\n\r\n[print]\r\nLastNum=5\r\n",
         {{"PRINT", "lastnum", "6"}, {"Database", "mm", "p;w}"}, {"com", "num", "COM3"}},
         {{"print", "lastnum"}, {"Database", "mm"}, {"com", "num"}, {"Database", "servername"}}},
        {"values with blanks, quotes, nothing",
         "[a]\r\nk=1\r\n",
         {{"a", "k", " x "}, {"a", "q", "\"y\""}, {"a", "e", ""}},
         {{"a", "k"}, {"a", "q"}, {"a", "e"}}},
        {"GBK section and value",
         "",
         {{"\xb4\xf2\xd3\xa1", "k", "\xb1\xea"}},
         {{"\xb4\xf2\xd3\xa1", "k"}}},
        {"a second section of the same name",
         "[a]\r\nk=1\r\n[b]\r\n[a]\r\nm=2\r\n",
         {{"a", "m", "3"}},
         {{"a", "m"}, {"a", "k"}}},
        {"no line end at the end", "[a]\r\nk=1", {{"a", "m", "2"}}, {{"a", "k"}, {"a", "m"}}},
        {"bare CR",
         "[STR]\rstrstart=3\rstrnum=4\r[print]\rlienum=2",
         {{"STR", "strnum", "5"}, {"print", "lastnum", "9"}},
         {{"STR", "strstart"}, {"STR", "strnum"}, {"print", "lienum"}, {"print", "lastnum"}}},
        {"long value", "[a]\r\n", {{"a", "k", std::string(3000, 'x')}}, {{"a", "k"}}},
        {"UTF-16",
         utf16(u"[print]\r\nlastnum=5\r\nbtfile=标签.btw\r\n"),
         {{"print", "lastnum", "6"}, {"Database", "dataname", "\xb1\xea"}},
         {{"print", "lastnum"}, {"Database", "dataname"}, {"print", "btfile"}}},
        {"UTF-16 with bare CR",
         utf16(u"[a]\rk=1\r"),
         {{"a", "k", "2"}, {"b", "z", "3"}},
         {{"a", "k"}, {"b", "z"}}},
        {"read-only file",
         "[a]\r\nk=1\r\n",
         {{"a", "k", "2"}},
         {{"a", "k",
           Known{"2", "1",
                 "Wine run as root writes a file without write permission, since Unix lets "
                 "root open it; Windows refuses a read-only file to administrators too, and "
                 "so does the station."}}},
         true,
         Known{"ok", "error", "as above"}},
        {"a line break in a value",
         "[a]\r\nk=1\r\n",
         {{"a", "k", "2\r\n[evil]\r\nx=3"}},
         {{"a", "k", Known{"2", "1", "Windows writes the line break as it is"}},
          {"evil", "x",
           Known{"3", kDefault,
                 "so its value becomes a section and a key of their own; the station "
                 "refuses the write instead"}}},
         false,
         Known{"ok", "error", "as above"}},
    };
}

std::string hex(const std::string& s) {
    if (s.empty())
        return "-";
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string unhex(const std::string& h) {
    std::string out;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2)
        out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
    return out;
}

std::string shown(const std::string& s) {
    std::string out;
    for (unsigned char c : s.substr(0, 40)) {
        char b[8];
        std::snprintf(b, sizeof b, c >= 32 && c < 127 ? "%c" : "\\x%02x", c);
        out += b;
    }
    return s.size() > 40 ? out + "... (" + std::to_string(s.size()) + " bytes)" : out;
}

// Builds the probe's command file and reads its answers back in order.
class Probe {
public:
    void read(const std::string& impl, const std::string& path, const Read& r) {
        m_commands << "read " << impl << ' ' << hex(WinePrefix::windowsPath(path)) << ' '
                   << hex(r.section) << ' ' << hex(r.key) << ' ' << hex(kDefault) << '\n';
    }
    void write(const std::string& impl, const std::string& path, const Write& w) {
        m_commands << "write " << impl << ' ' << hex(WinePrefix::windowsPath(path)) << ' '
                   << hex(w.section) << ' ' << hex(w.key) << ' ' << hex(w.value) << '\n';
    }
    void run(WinePrefix& wine) {
        const std::string file = wine.file("commands.txt");
        writeFile(file, m_commands.str());
        const auto r = wine.run(
            {WinePrefix::windowsProgram("vexora-iniprobe.exe"), WinePrefix::windowsPath(file)});
        ASSERT_EQ(r.status, 0) << r.err;
        std::istringstream out(r.out);
        std::string line;
        ASSERT_TRUE(std::getline(out, line));
        ASSERT_EQ(line, "acp 936") << "Wine must run with the GBK code page";
        while (std::getline(out, line))
            m_answers.push_back(line);
    }
    std::string next() {
        if (m_next >= m_answers.size())
            return "(no answer)";
        const std::string a = m_answers[m_next++];
        return a.rfind("value ", 0) == 0 ? unhex(a.substr(6)) : a;
    }

private:
    std::ostringstream m_commands;
    std::vector<std::string> m_answers;
    std::size_t m_next = 0;
};

class WineIniFile : public ::testing::Test {
protected:
    // One prefix for the suite: setting one up is most of a test's time.
    // Wine's ANSI code page follows the locale's name: Chinese → 936.
    static void SetUpTestSuite() { s_wine = new WinePrefix(false, {"LC_ALL=zh_CN.UTF-8"}); }
    static void TearDownTestSuite() {
        delete s_wine;
        s_wine = nullptr;
    }
    void SetUp() override { ASSERT_NE(s_wine, nullptr) << "no Wine prefix"; }
    static WinePrefix* s_wine;
};

WinePrefix* WineIniFile::s_wine = nullptr;

TEST_F(WineIniFile, ReadsAgreeWithWindows) {
    const auto cases = readCases();
    Probe probe;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string path = s_wine->file("read" + std::to_string(i) + ".ini");
        writeFile(path, cases[i].file);
        for (const char* impl : {"win", "ours"})
            for (const Read& r : cases[i].reads)
                probe.read(impl, path, r);
        files.push_back(path);
    }
    probe.run(*s_wine);
    if (HasFatalFailure())
        return;

    int reads = 0;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        std::vector<std::string> windows, oursOnWine;
        for (std::size_t j = 0; j < cases[i].reads.size(); ++j)
            windows.push_back(probe.next());
        for (std::size_t j = 0; j < cases[i].reads.size(); ++j)
            oursOnWine.push_back(probe.next());
        for (std::size_t j = 0; j < cases[i].reads.size(); ++j, ++reads) {
            const Read& r = cases[i].reads[j];
            SCOPED_TRACE(cases[i].name + ": [" + r.section + "] " + r.key);
            const std::string ours = IniFile(files[i], kGbk).readString(r.section, r.key, kDefault);
            std::string expected = windows[j];
            if (r.known) {
                EXPECT_EQ(shown(windows[j]), shown(r.known->wine))
                    << "Wine no longer differs here: " << r.known->why;
                expected = r.known->ours;
            }
            EXPECT_EQ(shown(ours), shown(expected)) << "Linux build";
            EXPECT_EQ(shown(oursOnWine[j]), shown(expected)) << "Windows build";
        }
    }
    std::cout << cases.size() << " files, " << reads << " reads compared\n";
    EXPECT_GE(reads, 60);
}

TEST_F(WineIniFile, WritesReadBackAsWindowsWritesDo) {
    const auto cases = writeCases();
    Probe probe;
    struct Files {
        std::string windows, oursOnWine, ours;
    };
    std::vector<Files> files;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const WriteCase& c = cases[i];
        const std::string base = s_wine->file("write" + std::to_string(i));
        Files f{base + "-win.ini", base + "-ours-win.ini", base + "-ours.ini"};
        for (const std::string* p : {&f.windows, &f.oursOnWine, &f.ours})
            if (c.file) {
                writeFile(*p, *c.file);
                if (c.readOnly) {
                    ASSERT_EQ(::chmod(p->c_str(), 0444), 0);
                }
            }
        for (const Write& w : c.writes)
            probe.write("win", f.windows, w);
        for (const Write& w : c.writes)
            probe.write("ours", f.oursOnWine, w);
        // Windows' reader on both files, then the station's.
        for (const std::string* p : {&f.windows, &f.oursOnWine})
            for (const Read& r : c.reads)
                probe.read("win", *p, r);
        for (const Read& r : c.reads)
            probe.read("ours", f.oursOnWine, r);
        files.push_back(f);
    }
    probe.run(*s_wine);
    if (HasFatalFailure())
        return;
    std::size_t writes = 0, reads = 0;
    for (const WriteCase& c : cases) {
        writes += c.writes.size();
        reads += c.reads.size();
    }
    std::cout << cases.size() << " files, " << writes << " writes, " << reads
              << " keys read back by both readers\n";

    for (std::size_t i = 0; i < cases.size(); ++i) {
        const WriteCase& c = cases[i];
        const Files& f = files[i];
        SCOPED_TRACE(c.name);
        for (const Write& w : c.writes) {
            std::string ours = "ok";
            try {
                IniFile(f.ours, kGbk).writeString(w.section, w.key, w.value);
            } catch (const IniWriteError&) {
                ours = "error";
            }
            const std::string windows = probe.next();
            if (c.writeKnown) {
                EXPECT_EQ(windows, c.writeKnown->wine) << c.writeKnown->why;
                EXPECT_EQ(ours, c.writeKnown->ours);
            } else {
                EXPECT_EQ(ours, windows) << "Linux build";
            }
        }
        for (std::size_t j = 0; j < c.writes.size(); ++j) {
            const std::string expected = c.writeKnown ? c.writeKnown->ours : "ok";
            EXPECT_EQ(probe.next(), expected) << "Windows build";
        }
        EXPECT_EQ(shown(readFile(f.oursOnWine)), shown(readFile(f.ours)))
            << "the Windows and the Linux build write the same bytes";
        if (c.file && c.file->rfind("\xFF\xFE", 0) == 0) {
            EXPECT_EQ(readFile(f.ours).substr(0, 2), "\xFF\xFE") << "still UTF-16";
        }
        if (c.file && c.file->rfind(kUtf8Mark, 0) == 0) {
            EXPECT_EQ(readFile(f.windows).substr(0, 3), kUtf8Mark) << "Wine keeps the mark";
            EXPECT_EQ(readFile(f.ours).substr(0, 3), kUtf8Mark) << "so does the station";
        }

        std::vector<std::string> windowsOnWindows, windowsOnOurs, oursOnOurs;
        for (auto* answers : {&windowsOnWindows, &windowsOnOurs, &oursOnOurs})
            for (std::size_t j = 0; j < c.reads.size(); ++j)
                answers->push_back(probe.next());
        for (std::size_t j = 0; j < c.reads.size(); ++j) {
            const Read& r = c.reads[j];
            SCOPED_TRACE("[" + r.section + "] " + r.key);
            std::string expected = windowsOnWindows[j];
            if (r.known) {
                EXPECT_EQ(shown(expected), shown(r.known->wine)) << r.known->why;
                expected = r.known->ours;
            }
            EXPECT_EQ(shown(windowsOnOurs[j]), shown(expected))
                << "Windows reads the station's file as its own";
            EXPECT_EQ(shown(oursOnOurs[j]), shown(expected)) << "Windows build";
            EXPECT_EQ(shown(IniFile(f.ours, kGbk).readString(r.section, r.key, kDefault)),
                      shown(expected))
                << "Linux build";
        }
    }
}

} // namespace
