#include "tests/support/RefusedPort.h"

#include <grp.h>
#include <stdexcept>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vx::test {
namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

} // namespace

bool RefusedPort::available(std::string& why) {
    if (::geteuid() != 0) {
        why = "needs root, to give a device to the group dialout and to open it as nobody";
        return false;
    }
    if (!::getgrnam("dialout")) {
        why = "no group dialout on this machine";
        return false;
    }
    return true;
}

RefusedPort::RefusedPort() : m_path(m_dir.file("ttyVX0")) {
    const group* dialout = ::getgrnam("dialout");
    writeFile(m_path, "");
    if (!dialout || ::chmod(m_dir.path().c_str(), 0755) != 0 ||
        ::chown(m_path.c_str(), 0, dialout->gr_gid) != 0 || ::chmod(m_path.c_str(), 0660) != 0)
        throw std::runtime_error("cannot give " + m_path + " to the group dialout");
}

RefusedPort::AsNobody::AsNobody() {
    ::setfsgid(kNoGroup);
    ::setfsuid(kNobody);
}

RefusedPort::AsNobody::~AsNobody() {
    ::setfsuid(0);
    ::setfsgid(0);
}

} // namespace vx::test
