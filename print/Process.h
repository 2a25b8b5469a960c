#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace vx::print {

// How a program run by a back end ended.
struct ProcessResult {
    int exitCode = -1;      // valid when signal == 0 and !timedOut
    int signal = 0;         // the signal that ended it, if one did
    bool timedOut = false;  // killed after the time allowed
    bool cancelled = false; // killed because cancelled() said so
    std::string output;     // its standard output and error, interleaved

    bool succeeded() const { return !timedOut && signal == 0 && exitCode == 0; }
    // "exit code 2", "killed by signal 11", "did not finish in time".
    std::string describe() const;
};

// Runs argv[0] (looked up in PATH) with the arguments, standard input empty,
// and waits for it at most timeout; a program still running then is killed,
// as it is as soon as cancelled (asked while it runs) returns true.
// Raises PrintError when the program cannot be started at all.
ProcessResult runProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                         const std::function<bool()>& cancelled = {});

} // namespace vx::print
