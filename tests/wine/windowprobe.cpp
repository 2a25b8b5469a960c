// Drives the station's Win32 window code on a desktop: another application
// (a second process of this program) shows two windows with BarTender's title
// text and takes the foreground; the station's window system then has to find
// the top one of them by part of its title and pull the station's window in
// front of it. Prints what it saw, one "name: value" line each, for the Wine
// test to check.
//
//   vexora-windowprobe              the station
//   vexora-windowprobe other        the other application

#include "app/WindowSystem.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <windows.h>

namespace {

const char kFirst[] = "First.btw - BarTender Enterprise Automation";
const char kSecond[] = "Label.btw - BarTender Enterprise Automation";

LRESULT CALLBACK windowProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_DESTROY)
        PostQuitMessage(0);
    return DefWindowProcA(w, msg, wp, lp);
}

HWND createWindow(const char* title, int x) {
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = windowProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "VexoraProbe";
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        RegisterClassA(&wc);
        registered = true;
    }
    HWND w = CreateWindowExA(0, "VexoraProbe", title, WS_OVERLAPPEDWINDOW, x, 40, 300, 200, nullptr,
                             nullptr, GetModuleHandleA(nullptr), nullptr);
    ShowWindow(w, SW_SHOWNORMAL);
    UpdateWindow(w);
    return w;
}

void pump(DWORD milliseconds) {
    const DWORD end = GetTickCount() + milliseconds;
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    } while (static_cast<LONG>(end - GetTickCount()) > 0);
}

// Waits until pred has held for settle milliseconds in a row: focus and
// activation also arrive as X events, which may come late.
template <class Pred> bool waitSettled(Pred pred, DWORD settle, DWORD timeout) {
    const DWORD end = GetTickCount() + timeout;
    DWORD since = 0;
    bool holding = false;
    for (;;) {
        if (pred()) {
            if (!holding)
                since = GetTickCount();
            holding = true;
            if (GetTickCount() - since >= settle)
                return true;
        } else {
            holding = false;
        }
        if (static_cast<LONG>(end - GetTickCount()) <= 0)
            return false;
        pump(20);
    }
}

int otherApplication() {
    HWND first = createWindow(kFirst, 60);
    HWND second = createWindow(kSecond, 80);
    SetForegroundWindow(first);
    pump(100);
    SetForegroundWindow(second); // the top one of the two, in front of everything
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

// Which of the three windows is named by w.
const char* which(HWND w, HWND station, HWND first, HWND second) {
    return !w             ? "none"
           : w == station ? "station"
           : w == first   ? "first"
           : w == second  ? "second"
                          : "another";
}

// The first of the three in Z order from the top.
HWND topOf(HWND a, HWND b, HWND c) {
    for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT))
        if (w == a || w == b || w == c)
            return w;
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "other") == 0)
        return otherApplication();
    _setmode(_fileno(stdout), _O_BINARY);

    HWND station = createWindow("Vexora", 20);
    pump(200);

    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" other";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        std::printf("error: the other application did not start\n");
        return 1;
    }
    HWND first = nullptr, second = nullptr;
    const bool otherInFront = waitSettled(
        [&] {
            first = FindWindowA(nullptr, kFirst);
            second = FindWindowA(nullptr, kSecond);
            return first && second && GetForegroundWindow() == second;
        },
        500, 15000);
    std::printf("other application in front: %s\n", otherInFront ? "yes" : "no");
    std::printf("top before: %s\n", which(topOf(station, first, second), station, first, second));

    auto ws = vx::app::createWindowSystem();
    const auto found = ws->findTitleContaining("BarTender Enterprise Automation");
    std::printf("found: %s\n", which(reinterpret_cast<HWND>(found), station, first, second));
    std::printf("title: %s\n", ws->title(found).c_str());
    std::printf("found by other case: %s\n",
                which(reinterpret_cast<HWND>(ws->findTitleContaining("bartender enterprise")),
                      station, first, second));
    std::printf("found first: %s\n",
                which(reinterpret_cast<HWND>(ws->findTitleContaining("First.btw")), station, first,
                      second));

    // As a scan does: the foreground is remembered, then the station comes
    // to the front.
    ws->captureForeground();
    ws->bringToFront(reinterpret_cast<vx::app::NativeWindow>(station));
    waitSettled([&] { return GetForegroundWindow() == station; }, 500, 5000);
    std::printf("foreground after: %s\n", which(GetForegroundWindow(), station, first, second));
    std::printf("top after: %s\n", which(topOf(station, first, second), station, first, second));
    std::printf("active after: %s\n", which(GetActiveWindow(), station, first, second));
    std::printf("found after: %s\n",
                which(reinterpret_cast<HWND>(ws->findTitleContaining("BarTender Enterprise")),
                      station, first, second));

    TerminateProcess(pi.hProcess, 0); // its windows have served
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    DestroyWindow(station);
    return 0;
}
