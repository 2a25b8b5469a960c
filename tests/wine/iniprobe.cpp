// Runs settings-file reads and writes through Windows' private-profile
// functions or through the station's own IniFile, for comparing the two under
// Wine. Every field of the command file is hex, so any byte can be given.
//
//   vexora-iniprobe COMMANDFILE
//
//   read  win|ours PATH SECTION KEY DEFAULT   → "value HEX"
//   write win|ours PATH SECTION KEY VALUE     → "ok" or "error"
//
// The first output line is "acp N", the ANSI code page the run had.

#include "settings/IniFile.h"

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <io.h>
#include <sstream>
#include <string>
#include <vector>
#include <windows.h>

namespace {

std::string unhex(const std::string& h) {
    std::string out;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2)
        out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
    return out;
}

std::string hex(const std::string& s) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vexora-iniprobe COMMANDFILE\n");
        return 2;
    }
    _setmode(_fileno(stdout), _O_BINARY); // LF, not CR LF, for the test reading it
    std::ifstream in(argv[1]);
    std::printf("acp %u\n", GetACP());
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string op, impl, path, section, key, arg;
        fields >> op >> impl >> path >> section >> key >> arg;
        path = unhex(path);
        section = unhex(section);
        key = unhex(key);
        arg = unhex(arg);
        if (op == "read" && impl == "win") {
            // The buffer the station reads a value into: 2047 bytes and the NUL.
            char buf[2048] = {};
            GetPrivateProfileStringA(section.c_str(), key.c_str(), arg.c_str(), buf, sizeof buf,
                                     path.c_str());
            std::printf("value %s\n", hex(buf).c_str());
        } else if (op == "read") {
            std::printf("value %s\n",
                        hex(vx::settings::IniFile(path).readString(section, key, arg)).c_str());
        } else if (op == "write" && impl == "win") {
            const bool ok =
                WritePrivateProfileStringA(section.c_str(), key.c_str(), arg.c_str(), path.c_str());
            std::printf("%s\n", ok ? "ok" : "error");
        } else if (op == "write") {
            try {
                vx::settings::IniFile(path).writeString(section, key, arg);
                std::printf("ok\n");
            } catch (const vx::settings::IniWriteError&) {
                std::printf("error\n");
            }
        } else {
            std::printf("bad command\n");
        }
    }
    return 0;
}
