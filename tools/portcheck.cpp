// Opens a serial port the way the station does (9600 8N1, exclusive) and
// prints every scan it receives, with its bytes in hex: for checking a
// scanner, its port name and its suffix before setting up a station.
//
//   vexora-portcheck [--station DIR | PORT] [SECONDS]

#include "data/Folder.h"
#include "serial/ComPort.h"
#include "serial/PortRefusal.h"
#include "serial/ThreadSync.h"
#include "settings/StationFolder.h"
#include "settings/StationSettings.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace vx::serial;

namespace {

const char* const kUsageLine = "usage: vexora-portcheck [--station DIR | PORT] [SECONDS]\n";

const char* const kHelp =
    "usage: vexora-portcheck [--station DIR | PORT] [SECONDS]\n"
    "\n"
    "Opens a serial port as the station does (9600 baud, 8 data bits, no parity,\n"
    "one stop bit, exclusively) and prints every scan it receives, its bytes in\n"
    "hex: for checking a scanner, its port name and its suffix.\n"
    "\n"
    "  PORT           the port: COM3 on Windows; a device path (/dev/ttyUSB0) or\n"
    "                 a name in /dev (ttyUSB0) elsewhere\n"
    "  --station DIR  the port of that station's config.ini ([com] num), as\n"
    "                 vexora --station takes the folder\n"
    "  SECONDS        stop after this long (default: until the port is lost or\n"
    "                 the program is ended)\n"
    "  --version      the version\n"
    "  -h, --help     this text\n"
    "\n"
    "Exit status: 0 done, 1 the port could not be opened or was lost,\n"
    "2 wrong command line.\n";

int usageError(const std::string& what) {
    std::fprintf(stderr, "vexora-portcheck: %s\n%s(see --help)\n", what.c_str(), kUsageLine);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string station;
    bool stationGiven = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (a == "--version") {
            std::printf("vexora-portcheck %s\n", VEXORA_VERSION);
            return 0;
        } else if (a == "--station") {
            if (i + 1 >= argc || !*argv[i + 1])
                return usageError("--station needs a folder");
            station = argv[++i];
            stationGiven = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return usageError("unknown option " + a);
        } else {
            args.push_back(a);
        }
    }
    // With a station, the one argument is the time.
    const std::size_t ports = stationGiven ? 0 : 1;
    if (args.size() < ports)
        return usageError("no port given");
    if (args.size() > ports + 1)
        return usageError("unexpected argument " + args[ports + 1]);
    std::string portName;
    if (stationGiven) {
        const auto place = vx::settings::locateStation(vx::data::executableFolder(), station);
        portName = vx::settings::StationSettings(place.folder).portName();
        if (portName.empty()) {
            std::fprintf(stderr, "vexora-portcheck: %sconfig.ini names no port ([com] num)\n",
                         place.folder.c_str());
            return 1;
        }
    } else {
        portName = portNameFromOperator(args[0]);
    }
    const int seconds = args.size() > ports ? std::atoi(args[ports].c_str()) : 0;
    UiSync& sync = UiSync::instance();
    sync.setUiThread(std::this_thread::get_id());
    TComPort port;
    bool lost = false;
    port.OnRxChar = [](TCustomComPort& p, int count) {
        std::string text;
        p.ReadText(text, count);
        std::printf("scan (%d bytes):", static_cast<int>(text.size()));
        for (unsigned char c : text)
            std::printf(" %02X", c);
        std::printf("  \"");
        for (unsigned char c : text)
            std::putchar(c >= 32 && c < 127 ? c : '.');
        std::printf("\"\n");
        std::fflush(stdout);
    };
    port.OnDeviceLost = [&](TCustomComPort&) { lost = true; };
    try {
        port.setPort(portName);
        port.setBaudRate(br9600);
        port.setDataBits(dbEight);
        port.setStopBits(sbOneStopBit);
        port.Parity().setBits(prNone);
        port.OpenPort();
    } catch (const EComPort& e) {
        std::fprintf(stderr, "%s\n", e.what());
        if (e.MessageCode == ComError::OpenFailed)
            if (const auto refusal = diagnosePortRefusal(portName, e.SystemErrorCode))
                std::fprintf(stderr, "%s\n", refusalAdvice(*refusal).c_str());
        return 1;
    }
    std::printf("listening on %s; scan a label\n", port.Port().c_str());
    std::fflush(stdout);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!lost && (seconds == 0 || std::chrono::steady_clock::now() < end)) {
        sync.drain();
        sync.waitForWork(std::chrono::milliseconds(200));
    }
    if (lost)
        std::printf("device lost\n");
    return lost ? 1 : 0;
}
