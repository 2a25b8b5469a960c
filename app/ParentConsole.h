#pragma once

namespace vx::app {

// The station is a window program: on Windows it has no console of its own,
// so what it prints (--help, --version, a wrong command line) goes to the
// console it was started from, unless its output is redirected already.
// Nothing to do elsewhere. One file per platform.
void useParentConsole();

} // namespace vx::app
