#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace vx::bench {

using Clock = std::chrono::steady_clock;

inline double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// Percentile of a sample, by nearest rank; sorts the sample.
inline double percentile(std::vector<double>& v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    std::size_t i = static_cast<std::size_t>(p / 100.0 * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

inline void figure(const char* name, double value, const char* unit) {
    std::printf("%s: %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

inline double peakRssMb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

// A program run in a process of its own: wall time from start to exit, and
// its peak resident memory.
struct ChildRun {
    double ms = 0;
    double peakMb = 0;
    int exitCode = -1; // also when it was killed; 127: it could not start
};

// Runs args (a path, or a name looked up in PATH) with its standard output
// to /dev/null, and its standard error too when quiet. Forked, not spawned:
// a spawned child shares this process's memory until it runs the program,
// and its peak figure then starts from this process's peak.
inline ChildRun runChild(const std::vector<std::string>& args, bool quiet = false) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto t0 = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        if (quiet)
            dup2(null, 2);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    ChildRun r;
    int status = 0;
    rusage ru{};
    if (pid < 0 || wait4(pid, &status, 0, &ru) != pid)
        return r;
    r.ms = ms(Clock::now() - t0);
    r.peakMb = static_cast<double>(ru.ru_maxrss) / 1024.0;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

} // namespace vx::bench
