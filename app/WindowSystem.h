#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vx::app {

// Native window handle: an X11 Window or a Win32 HWND.
using NativeWindow = std::uintptr_t;

// The desktop's top-level windows, as the station needs them: finding
// BarTender's window by part of its title, and pulling a window to the
// front over another application's. One implementation per platform.
class WindowSystem {
public:
    virtual ~WindowSystem() = default;
    // The first top-level window whose title contains text (case-sensitive),
    // walked in stacking order from the top; 0 when none matches.
    virtual NativeWindow findTitleContaining(const std::string& text) = 0;
    // Remembers which window is in front as a scan arrives (Win32 needs its
    // thread to attach input to).
    virtual void captureForeground() = 0;
    // Makes window the active, front-most window, even over another
    // application's window.
    virtual void bringToFront(NativeWindow window) = 0;
    // The title of a window (for tests and diagnostics).
    virtual std::string title(NativeWindow window) = 0;
};

// The platform's window system; a stand-in that finds nothing and activates
// nothing where no desktop is reachable (no X display, say).
std::unique_ptr<WindowSystem> createWindowSystem();

} // namespace vx::app
