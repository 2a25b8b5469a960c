#include "print/ErrorLog.h"

#include <cstdio>
#include <ctime>

namespace vx::print {
namespace {

// A message from a program can span lines; a log entry is one line.
std::string oneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\r')
            continue;
        if (c == '\n') {
            if (!out.empty() && out.back() != ' ')
                out += " / ";
            continue;
        }
        out += c;
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '/'))
        out.pop_back();
    return out;
}

} // namespace

ErrorLog::ErrorLog(std::string path, Clock clock)
    : m_path(std::move(path)), m_clock(clock ? std::move(clock) : Clock(&ErrorLog::localTimeNow)) {}

std::string ErrorLog::localTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &now);
#else
    localtime_r(&now, &tm);
#endif
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

std::string ErrorLog::line(const std::string& time, const JobParams& job,
                           const JobOutcome& outcome) {
    const std::string sent = outcome.sent ? std::to_string(*outcome.sent) : "an unknown number";
    const std::string backend = "; template \"" + job.templatePath + "\"; back end " +
                                (outcome.backend.empty() ? "none" : outcome.backend) + ": ";
    if (outcome.ok)
        return time + "  print job " + job.rangeText() + " not printed; " + sent + " of " +
               std::to_string(outcome.labels) + " label(s) held in the queue" + backend +
               oneLine(outcome.held);
    return time + "  print job " + job.rangeText() +
           (outcome.cancelled ? " cancelled; " : " failed; ") + sent + " of " +
           std::to_string(outcome.labels) + " label(s) sent to the printer" + backend +
           oneLine(outcome.message);
}

void ErrorLog::finished(const JobParams& job, const JobOutcome& outcome) {
    if (outcome.ok && outcome.held.empty())
        return;
    const std::string text = line(m_clock(), job, outcome) + "\r\n";
    std::lock_guard lock(m_mutex);
    std::FILE* f = std::fopen(m_path.c_str(), "ab");
    if (!f) {
        // A folder the station may not write to: the failure still shows
        // somewhere rather than nowhere.
        std::fprintf(stderr, "%s (cannot write %s)\n", text.substr(0, text.size() - 2).c_str(),
                     m_path.c_str());
        return;
    }
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

} // namespace vx::print
