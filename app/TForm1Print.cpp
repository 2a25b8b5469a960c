// The print area's handlers.

#include "app/TForm1.h"

namespace vx::app {

void TForm1::Edit_willprnKeyDown(int key) {
    if (key == 112) // F1
        openHelp();
}

} // namespace vx::app
