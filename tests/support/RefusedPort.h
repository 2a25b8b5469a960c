#pragma once

#include "tests/support/TempDir.h"

#include <string>

namespace vx::test {

// A serial device the system refuses to open (EACCES) as it refuses a user
// who is not in the device's group: a file of the group dialout, readable
// and writable by its owner and that group only, opened by a user in
// neither. Root passes every permission check, so the refusal needs the user
// nobody: a child process run as nobody, or this thread's file accesses made
// as nobody (AsNobody). Making it needs root and a group dialout.
class RefusedPort {
public:
    RefusedPort();
    // Whether one can be made here; why not in why.
    static bool available(std::string& why);

    // The device, in a folder everyone may enter.
    const std::string& path() const { return m_path; }

    // While it lives, the file accesses of this thread (and of nothing else)
    // are checked as the user nobody's: setfsuid, which glibc does not pass
    // to the process's other threads. Folders the thread writes in must be
    // open to everyone meanwhile.
    class AsNobody {
    public:
        AsNobody();
        ~AsNobody();
        AsNobody(const AsNobody&) = delete;
        AsNobody& operator=(const AsNobody&) = delete;
    };

private:
    TempDir m_dir;
    std::string m_path;
};

} // namespace vx::test
