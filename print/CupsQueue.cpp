#include "print/CupsQueue.h"

#include "print/PrintJob.h"
#include "print/Process.h"

#include <sstream>

namespace vx::print {
namespace {

using namespace std::chrono_literals;

// lpstat's output in the C locale, the words it is read by; empty when it
// fails.
std::string lpstat(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"env", "LC_ALL=C", "LANG=C", "lpstat"};
    argv.insert(argv.end(), args.begin(), args.end());
    try {
        const ProcessResult r = runProcess(argv, 10s);
        return r.succeeded() ? r.output : std::string();
    } catch (const PrintError&) {
        return {};
    }
}

} // namespace

std::string cupsQueueHolds(const std::string& queue) {
    std::string name = queue;
    if (name.empty()) {
        // "system default destination: NAME"
        const std::string d = lpstat({"-d"});
        const std::size_t colon = d.find(": ");
        if (colon == std::string::npos)
            return {};
        name = d.substr(colon + 2);
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r'))
            name.pop_back();
        if (name.empty())
            return {};
    }
    // "printer NAME disabled since DATE -" and the reason on the next line,
    // or "printer NAME is idle.  enabled since DATE".
    std::istringstream out(lpstat({"-p", name}));
    std::string line;
    if (!std::getline(out, line) || line.rfind("printer " + name + " disabled", 0) != 0)
        return {};
    std::string reason;
    if (std::getline(out, reason)) {
        const std::size_t first = reason.find_first_not_of(" \t");
        reason = first == std::string::npos ? std::string() : reason.substr(first);
    }
    return "the print queue \"" + name + "\" is disabled" +
           (reason.empty() || reason == "reason unknown" ? "" : " (" + reason + ")") +
           ": the job waits in it and is not printed until the queue is enabled";
}

} // namespace vx::print
