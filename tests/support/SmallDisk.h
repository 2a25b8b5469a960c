#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace vx::test {

// What a disk that cannot take more writes looks like to the code under test.
enum class DiskTrouble {
    Full,     // writes beyond a few kilobytes fail with "no space" (or "file too large")
    ReadOnly, // the folder's filesystem takes no writes at all
};

struct ChildResult {
    bool ran = false;    // false: this machine cannot make such a disk (the test skips)
    int exitCode = -1;   // the child's exit code; -1 if it died by a signal
    std::string output;  // what the body returned
    std::string howMade; // "tmpfs" or "file size limit"
};

// Runs body in a child process that sees folder on a disk of its own: a
// tmpfs of `bytes` mounted on the folder in a private mount namespace
// (remounted read-only for ReadOnly), so only the child sees it. Where this
// machine allows no mounts, a full disk is stood in for by a limit on file
// sizes (RLIMIT_FSIZE, which fails writes with "file too large"), and a
// read-only folder by its permissions where the child is not root.
// prepare, when set, runs in the child on the writable disk before it is
// made read-only. The body's text comes back in output; the body may call
// relieve to give a full disk room again (a larger tmpfs, a raised limit).
using TroubledBody = std::function<std::string(const std::function<void()>& relieve)>;
ChildResult runOnTroubledDisk(const std::string& folder, DiskTrouble trouble, std::size_t bytes,
                              const TroubledBody& body, const std::function<void()>& prepare = {});

} // namespace vx::test
