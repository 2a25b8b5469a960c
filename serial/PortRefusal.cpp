#include "serial/PortRefusal.h"

namespace vx::serial {

std::string refusalAdvice(const PortRefusal& r) {
    const std::string denied = "Permission denied on " + r.device + ": ";
    if (r.groupMayOpen && r.memberOnRecord && !r.memberNow)
        return denied + "user " + r.user + " was added to the group " + r.group +
               ", which takes effect at the next login.\nLog out and in again (or restart "
               "the computer).";
    if (r.groupMayOpen && !r.memberOnRecord)
        return denied + "only members of the group " + r.group + " may open it, and user " +
               r.user + " is not one.\nAdd the user to the group, then log out and in again:\n" +
               "  sudo usermod -aG " + r.group + " " + r.user;
    return denied + "user " + r.user +
           " may not open it. Ask the administrator for read and write access to the device.";
}

} // namespace vx::serial
