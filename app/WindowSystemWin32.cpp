// Win32 window system: the top-level window walk and the foreground switch
// with attached thread input.

#include "app/WindowSystem.h"

#include <windows.h>

namespace vx::app {
namespace {

class Win32WindowSystem final : public WindowSystem {
public:
    NativeWindow findTitleContaining(const std::string& text) override {
        HWND w = GetWindow(GetDesktopWindow(), GW_CHILD);
        if (w)
            w = GetWindow(w, GW_HWNDFIRST);
        for (; w; w = GetWindow(w, GW_HWNDNEXT)) {
            char buf[256] = {};
            if (GetWindowTextA(w, buf, sizeof buf) > 0 &&
                std::string(buf).find(text) != std::string::npos)
                return reinterpret_cast<NativeWindow>(w);
        }
        return 0;
    }

    void captureForeground() override {
        m_foregroundThread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
    }

    void bringToFront(NativeWindow window) override {
        HWND w = reinterpret_cast<HWND>(window);
        if (!w)
            return;
        const DWORD stationThread = GetWindowThreadProcessId(w, nullptr);
        AttachThreadInput(m_foregroundThread, stationThread, TRUE);
        SetForegroundWindow(w);
        AttachThreadInput(m_foregroundThread, stationThread, FALSE);
    }

    std::string title(NativeWindow window) override {
        char buf[256] = {};
        GetWindowTextA(reinterpret_cast<HWND>(window), buf, sizeof buf);
        return buf;
    }

private:
    DWORD m_foregroundThread = 0;
};

} // namespace

std::unique_ptr<WindowSystem> createWindowSystem() {
    return std::make_unique<Win32WindowSystem>();
}

} // namespace vx::app
