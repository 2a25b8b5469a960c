#include "app/ParentConsole.h"

namespace vx::app {

void useParentConsole() {
    // A program started from a terminal writes to it already.
}

} // namespace vx::app
