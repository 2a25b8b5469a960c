#pragma once

#include "print/PrintWorker.h"

#include <functional>
#include <mutex>
#include <string>

namespace vx::print {

// The station's error log beside the executable: one line for every print
// job that failed or was cancelled, with the labels the printer took, so the
// rest can be printed again, and for every job that a queue holds unprinted,
// since the operator otherwise believes the labels were printed. Lines end
// with CR LF, like every text file the station writes.
class ErrorLog : public JobObserver {
public:
    static constexpr const char* kFileName = "error.log";
    using Clock = std::function<std::string()>;

    // path: the log file, created on the first failure. clock: the time
    // stamp of a line (local time, "2026-04-24 09:15:02" by default).
    explicit ErrorLog(std::string path, Clock clock = {});

    void finished(const JobParams& job, const JobOutcome& outcome) override;

    // The line written for a failed or held job, without its line end.
    static std::string line(const std::string& time, const JobParams& job,
                            const JobOutcome& outcome);
    static std::string localTimeNow();

private:
    std::string m_path;
    Clock m_clock;
    std::mutex m_mutex;
};

} // namespace vx::print
