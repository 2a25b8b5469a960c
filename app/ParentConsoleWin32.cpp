#include "app/ParentConsole.h"

#include <cstdio>
#include <windows.h>

namespace vx::app {

void useParentConsole() {
    // Output redirected to a file or a pipe stays there.
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out != nullptr && out != INVALID_HANDLE_VALUE)
        return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS))
        return; // started from the desktop: nobody to tell
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
}

} // namespace vx::app
