#include "tests/support/Screenshot.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <chrono>
#include <cstdio>
#include <memory>

namespace vx::test {
namespace {

int lastError = 0;
int recordError(Display*, XErrorEvent* e) {
    lastError = e->error_code;
    return 0;
}

// The 8-bit value of one colour channel of a pixel.
unsigned channel(unsigned long pixel, unsigned long mask) {
    if (!mask)
        return 0;
    int shift = 0;
    while (!((mask >> shift) & 1))
        ++shift;
    const unsigned long max = mask >> shift;
    return static_cast<unsigned>(((pixel & mask) >> shift) * 255 / max);
}

} // namespace

// One GetImage request on the root window, which holds what every window
// shows and never goes away. xwd reads the window tree and then each window
// by itself, and fails outright when one of them is destroyed in between, as
// a message box closing does.
bool grabScreen(ScreenImage& out, std::string& why) {
    std::unique_ptr<Display, int (*)(Display*)> d(XOpenDisplay(nullptr), XCloseDisplay);
    if (!d) {
        why = "cannot open the X display";
        return false;
    }
    auto* previous = XSetErrorHandler(recordError);
    lastError = 0;
    const Window root = DefaultRootWindow(d.get());
    XWindowAttributes a{};
    XImage* image = nullptr;
    if (XGetWindowAttributes(d.get(), root, &a))
        image = XGetImage(d.get(), root, 0, 0, static_cast<unsigned>(a.width),
                          static_cast<unsigned>(a.height), AllPlanes, ZPixmap);
    XSync(d.get(), False);
    XSetErrorHandler(previous);
    if (!image) {
        why = "GetImage on the root window failed, X error " + std::to_string(lastError);
        return false;
    }
    out.width = image->width;
    out.height = image->height;
    out.rgb.assign(static_cast<std::size_t>(image->width) * image->height * 3, '\0');
    const bool bgrx = image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
                      image->red_mask == 0xFF0000 && image->green_mask == 0xFF00 &&
                      image->blue_mask == 0xFF;
    char* to = out.rgb.data();
    for (int y = 0; y < image->height; ++y) {
        const char* row = image->data + static_cast<std::ptrdiff_t>(y) * image->bytes_per_line;
        for (int x = 0; x < image->width; ++x, to += 3) {
            if (bgrx) { // the usual 24-bit screen, read as it lies
                to[0] = row[x * 4 + 2];
                to[1] = row[x * 4 + 1];
                to[2] = row[x * 4];
                continue;
            }
            const unsigned long p = XGetPixel(image, x, y);
            to[0] = static_cast<char>(channel(p, image->red_mask));
            to[1] = static_cast<char>(channel(p, image->green_mask));
            to[2] = static_cast<char>(channel(p, image->blue_mask));
        }
    }
    XDestroyImage(image);
    return true;
}

bool screenshot(const std::string& pngPath, std::string& why) {
    ScreenImage image;
    if (!grabScreen(image, why))
        return false;
    FILE* out = ::popen(("pnmtopng > '" + pngPath + "'").c_str(), "w");
    if (!out) {
        why = "cannot run pnmtopng";
        return false;
    }
    const std::string header =
        "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
    const bool written =
        std::fwrite(header.data(), 1, header.size(), out) == header.size() &&
        std::fwrite(image.rgb.data(), 1, image.rgb.size(), out) == image.rgb.size();
    if (::pclose(out) != 0 || !written) {
        why = "pnmtopng failed";
        return false;
    }
    return true;
}

WindowChurn::WindowChurn() {
    m_thread = std::thread([this] {
        Display* d = XOpenDisplay(nullptr);
        if (!d)
            return;
        while (!m_stop) {
            const Window w =
                XCreateSimpleWindow(d, DefaultRootWindow(d), 10, 10, 300, 200, 0, 0, 0xFFFFFF);
            XMapWindow(d, w);
            XSync(d, False);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            XDestroyWindow(d, w);
            XSync(d, False);
            ++m_windows;
        }
        XCloseDisplay(d);
    });
}

WindowChurn::~WindowChurn() {
    m_stop = true;
    m_thread.join();
}

} // namespace vx::test
