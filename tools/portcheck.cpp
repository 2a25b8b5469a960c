// Opens a serial port the way the station does (9600 8N1, exclusive) and
// prints every scan it receives, with its bytes in hex: for checking a
// scanner, its port name and its suffix before setting up a station.
//
//   vexora-portcheck PORT [SECONDS]

#include "serial/ComPort.h"
#include "serial/ThreadSync.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

using namespace vx::serial;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: vexora-portcheck PORT [SECONDS]\n");
        return 2;
    }
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 0;
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
        port.setPort(portNameFromOperator(argv[1]));
        port.setBaudRate(br9600);
        port.setDataBits(dbEight);
        port.setStopBits(sbOneStopBit);
        port.Parity().setBits(prNone);
        port.OpenPort();
    } catch (const EComPort& e) {
        std::fprintf(stderr, "%s\n", e.what());
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
