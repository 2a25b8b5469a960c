#pragma once

#include "tests/support/Processes.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vx::test {

struct WineRun {
    int status = -1; // the program's exit code; -1 when it did not end in time
    std::string out;
    std::string err;
};

// A Wine prefix of its own in a temporary folder, for running the Windows
// build of the station's code under wine64: no network, no dialogs (the
// Mono and Gecko installers are switched off), no debug noise. With a
// desktop, the prefix gets an Xvfb of its own, so no window of another test
// on a shared display can take the focus from it; without, Wine sees no X
// display at all. Every Wine process of the prefix is ended, and the prefix
// and its Xvfb removed, with the object.
class WinePrefix {
public:
    explicit WinePrefix(bool withDesktop = false, std::vector<std::string> env = {});
    ~WinePrefix();
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    // Runs a program: a Windows path, a builtin ("regsvr32") or a file of the
    // Windows build named by windowsProgram().
    WineRun run(const std::vector<std::string>& argv,
                std::chrono::seconds timeout = std::chrono::seconds(120),
                const std::vector<std::string>& env = {});

    // Starts a program as run() does and returns at once; the program ends
    // with the returned object, or with the prefix at the latest. Its output
    // goes to outputFile when one is named.
    std::unique_ptr<Child> start(const std::vector<std::string>& argv,
                                 const std::vector<std::string>& env = {},
                                 const std::string& workdir = {},
                                 const std::string& outputFile = {});

    // Makes COMn the device at unixPath (a pseudo-terminal, say), for this
    // and every later Wine session of the prefix: Wine's mount manager
    // links the COM ports anew whenever the Wine server starts, from the
    // prefix's registry, and would otherwise point COM1 back at /dev/ttyS0.
    void linkSerialPort(int n, const std::string& unixPath);

    // The prefix's own X display (":N"), empty without a desktop.
    const std::string& display() const { return m_display; }
    // The prefix folder; its dosdevices/ holds the drive and port links.
    const std::string& prefix() const { return m_prefix; }

    // A scratch folder beside the prefix, removed with it.
    std::string file(const std::string& name) const { return m_dir.file(name); }

    // The Unix path as Windows programs in the prefix see it (drive Z:).
    static std::string windowsPath(const std::string& unixPath);
    // A program or library of the Windows build (scripts/build-windows.sh).
    static std::string windowsProgram(const std::string& name);

private:
    std::vector<std::string> environment(const std::vector<std::string>& extra) const;

    TempDir m_dir;
    std::string m_prefix;
    pid_t m_xvfb = -1;
    std::string m_display; // ":N", or empty without a desktop
    std::vector<std::string> m_env;
};

} // namespace vx::test
