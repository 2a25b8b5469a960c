// The Windows build's serial port under Wine, byte by byte:
// vexora-portcheck.exe reads COM1, a pseudo-terminal of the test's own, and
// prints each scan it is handed. Wine reports no serial events on a
// pseudo-terminal, so the port is polled there; and Wine keeps a read
// pending until the next byte arrives even when the port's time-outs say
// "return at once".

#include "tests/support/Processes.h"
#include "tests/support/Pty.h"
#include "tests/support/Wine.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using vx::test::readFile;
using vx::test::waitUntil;
using vx::test::WinePrefix;

namespace {

class WinePort : public ::testing::Test {
protected:
    void SetUp() override {
        wine.linkSerialPort(1, pty.slavePath());
        check = wine.start({WinePrefix::windowsProgram("vexora-portcheck.exe"), "COM1"}, {}, {},
                           output);
        ASSERT_TRUE(waitUntil(
            [&] { return readFile(output).find("listening on COM1") != std::string::npos; }, 60s))
            << readFile(output);
    }

    // The scans printed so far, as the tool shows them between quotes:
    // bytes outside printable ASCII as dots.
    std::vector<std::string> scans() const {
        std::vector<std::string> out;
        const std::string text = readFile(output);
        for (std::size_t at = 0; (at = text.find("  \"", at)) != std::string::npos;) {
            const std::size_t end = text.find('"', at + 3);
            if (end == std::string::npos)
                break;
            out.push_back(text.substr(at + 3, end - at - 3));
            at = end;
        }
        return out;
    }

    WinePrefix wine;
    vx::test::Pty pty;
    std::string output = wine.file("portcheck.out");
    std::unique_ptr<vx::test::Child> check;
};

} // namespace

TEST_F(WinePort, EachScanIsHandedOverWithoutWaitingForTheNextBytes) {
    // Each scan is sent as soon as the one before has been handed over, so
    // that it arrives while the polling thread is between two looks at the
    // port, or just after it has started a read that finds nothing.
    std::vector<std::string> sent;
    for (int i = 1; i <= 20; ++i) {
        char code[16];
        std::snprintf(code, sizeof code, "VX%06d\r", i);
        pty.write(code);
        sent.push_back(std::string(code, 8) + ".");
        ASSERT_TRUE(waitUntil([&] { return scans().size() >= sent.size(); }, 10s))
            << sent.back() << " was not handed over while no more bytes came; so far:\n"
            << readFile(output);
    }
    EXPECT_EQ(scans(), sent);
}
