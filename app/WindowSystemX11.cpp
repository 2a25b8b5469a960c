// X11 window system: walks the window manager's client list and activates
// windows through _NET_ACTIVE_WINDOW.

#include "app/WindowSystem.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cstring>
#include <vector>

namespace vx::app {
namespace {

class NoWindowSystem final : public WindowSystem {
public:
    NativeWindow findTitleContaining(const std::string&) override { return 0; }
    void captureForeground() override {}
    void bringToFront(NativeWindow) override {}
    std::string title(NativeWindow) override { return {}; }
};

class X11WindowSystem final : public WindowSystem {
public:
    explicit X11WindowSystem(Display* d) : m_display(d) {}
    ~X11WindowSystem() override { XCloseDisplay(m_display); }

    NativeWindow findTitleContaining(const std::string& text) override {
        // _NET_CLIENT_LIST_STACKING lists bottom to top; walk from the top.
        std::vector<Window> clients = windowList("_NET_CLIENT_LIST_STACKING");
        if (clients.empty())
            clients = windowList("_NET_CLIENT_LIST");
        if (clients.empty())
            clients = topLevelChildren();
        for (auto it = clients.rbegin(); it != clients.rend(); ++it) {
            const std::string t = title(*it);
            if (!t.empty() && t.find(text) != std::string::npos)
                return *it;
        }
        return 0;
    }

    void captureForeground() override {}

    void bringToFront(NativeWindow window) override {
        if (!window)
            return;
        const Window w = static_cast<Window>(window);
        const Window root = DefaultRootWindow(m_display);
        // Source indication 2 ("pager"): window managers honour it where they
        // refuse an application's own request to take the focus.
        XEvent ev;
        std::memset(&ev, 0, sizeof ev);
        ev.xclient.type = ClientMessage;
        ev.xclient.window = w;
        ev.xclient.message_type = XInternAtom(m_display, "_NET_ACTIVE_WINDOW", False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = 2;
        ev.xclient.data.l[1] = CurrentTime;
        XSendEvent(m_display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &ev);
        XMapRaised(m_display, w);
        XFlush(m_display);
    }

    std::string title(NativeWindow window) override {
        const Window w = static_cast<Window>(window);
        Atom utf8 = XInternAtom(m_display, "UTF8_STRING", False);
        std::string t = property(w, XInternAtom(m_display, "_NET_WM_NAME", False), utf8);
        if (!t.empty())
            return t;
        char* name = nullptr;
        if (XFetchName(m_display, w, &name) && name) {
            t = name;
            XFree(name);
        }
        return t;
    }

private:
    std::vector<Window> windowList(const char* atomName) {
        std::vector<Window> out;
        Atom atom = XInternAtom(m_display, atomName, True);
        if (atom == None)
            return out;
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(m_display, DefaultRootWindow(m_display), atom, 0, 65536, False,
                               XA_WINDOW, &type, &format, &count, &after, &data) == Success &&
            data) {
            if (type == XA_WINDOW && format == 32) {
                const auto* ws = reinterpret_cast<const unsigned long*>(data);
                out.assign(ws, ws + count);
            }
            XFree(data);
        }
        return out;
    }

    // Without a window manager: the root's children, bottom to top.
    std::vector<Window> topLevelChildren() {
        std::vector<Window> out;
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int n = 0;
        if (XQueryTree(m_display, DefaultRootWindow(m_display), &root, &parent, &children, &n) &&
            children) {
            out.assign(children, children + n);
            XFree(children);
        }
        return out;
    }

    std::string property(Window w, Atom atom, Atom type) {
        Atom actual = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::string out;
        if (XGetWindowProperty(m_display, w, atom, 0, 1024, False, type, &actual, &format, &count,
                               &after, &data) == Success &&
            data) {
            if (actual == type && format == 8)
                out.assign(reinterpret_cast<const char*>(data), count);
            XFree(data);
        }
        return out;
    }

    Display* m_display;
};

} // namespace

std::unique_ptr<WindowSystem> createWindowSystem() {
    if (Display* d = XOpenDisplay(nullptr))
        return std::make_unique<X11WindowSystem>(d);
    return std::make_unique<NoWindowSystem>();
}

} // namespace vx::app
