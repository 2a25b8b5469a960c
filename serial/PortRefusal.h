#pragma once

#include <optional>
#include <string>

namespace vx::serial {

// Why the system refused to open a port to this user (EACCES, the commonest
// first-run failure on Linux: serial devices belong to a group such as
// dialout, and a new user is not in it), in terms the user can act on.
struct PortRefusal {
    std::string device; // the device's path, as opened
    std::string user;   // the user the program runs as
    std::string group;  // the device's group; "" when it has none by name
    // The group may read and write the device, so joining it is the remedy.
    bool groupMayOpen = false;
    // The user is listed in the group, and this process has the group (a
    // user added to it has it only from the next login).
    bool memberOnRecord = false;
    bool memberNow = false;
};

// For a port whose opening failed with the system's error number: the
// refusal, or nothing when the error is not a refused permission or the
// platform gives no such refusal (Windows). Implemented per platform, beside
// the device.
std::optional<PortRefusal> diagnosePortRefusal(const std::string& port, int systemError);

// What to do, in English (for the command-line tools), one or more lines
// without a final line break: join the group with usermod and log in again;
// log in again; or ask for the device's rights.
std::string refusalAdvice(const PortRefusal& refusal);

} // namespace vx::serial
