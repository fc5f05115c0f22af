// A small X client for the window tests and the start-up benchmark: it watches
// top-level windows, sends close requests the way a window manager does, and
// reads a window's properties and pixels. No window manager is needed.
//
//   x11probe watch                one line per event on a top-level window, until stdin closes:
//                                   <seconds> create <xid>
//                                   <seconds> map <xid> <x> <y> <width> <height>
//                                   <seconds> opacity <xid> <_NET_WM_WINDOW_OPACITY value | none | gone>
//                                   <seconds> unmap <xid> | destroy <xid>
//                                 seconds are CLOCK_MONOTONIC (Python's time.monotonic()).
//   x11probe close <xid> [count]  sends count WM_DELETE_WINDOW client messages (default 1)
//   x11probe describe <xid>       one JSON object: place, size, _NET_WM_NAME, size hints, icon sizes, opacity
//   x11probe shot <xid> <file>    the window's pixels as a binary PPM
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

struct DisplayCloser {
    void operator()(Display* d) const { XCloseDisplay(d); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

struct XFreer {
    void operator()(void* p) const { XFree(p); }
};
struct ImageDestroyer {
    void operator()(XImage* image) const { XDestroyImage(image); }
};

// Windows come and go while we look at them; a BadWindow must not end the probe.
int ignoreErrors(Display*, XErrorEvent*) { return 0; }

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

Atom atom(Display* d, const char* name) { return XInternAtom(d, name, False); }

// The items of a 32-bit property (as longs, Xlib's way), or nothing when it is absent.
std::optional<std::vector<unsigned long>> cardinals(Display* d, Window w, Atom property) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* raw = nullptr;
    if (XGetWindowProperty(d, w, property, 0, 1 << 24, False, AnyPropertyType, &type, &format, &count, &after,
                           &raw) != Success)
        return std::nullopt;
    const std::unique_ptr<unsigned char, XFreer> data{raw};
    if (type == None || format != 32) return std::nullopt;
    // Xlib hands 32-bit items over as longs, sign-extended on 64-bit systems.
    const auto* items = reinterpret_cast<const unsigned long*>(data.get());
    std::vector<unsigned long> values(items, items + count);
    for (unsigned long& value : values) value &= 0xFFFFFFFFUL;
    return values;
}

std::optional<std::string> bytesProperty(Display* d, Window w, Atom property) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* raw = nullptr;
    if (XGetWindowProperty(d, w, property, 0, 1 << 20, False, AnyPropertyType, &type, &format, &count, &after,
                           &raw) != Success)
        return std::nullopt;
    const std::unique_ptr<unsigned char, XFreer> data{raw};
    if (type == None || format != 8) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(data.get()), count);
}

// The current value; "none" when the property is absent (GTK's way of saying
// fully opaque), "gone" when the window no longer exists.
std::string opacityText(Display* d, Window w) {
    const auto value = cardinals(d, w, atom(d, "_NET_WM_WINDOW_OPACITY"));
    if (value && !value->empty()) return std::to_string(value->front());
    // Asked only now: a window destroyed during the read fails this too.
    XWindowAttributes attributes;
    return XGetWindowAttributes(d, w, &attributes) ? "none" : "gone";
}

struct Place {
    int x = 0, y = 0;
    unsigned width = 0, height = 0;
};

Place placeOf(Display* d, Window w) {
    Window root, child;
    int x, y;
    unsigned width, height, border, depth;
    Place place;
    if (!XGetGeometry(d, w, &root, &x, &y, &width, &height, &border, &depth)) return place;
    XTranslateCoordinates(d, w, root, 0, 0, &place.x, &place.y, &child);
    place.width = width;
    place.height = height;
    return place;
}

int watch(Display* d) {
    const Window root = DefaultRootWindow(d);
    const Atom opacity = atom(d, "_NET_WM_WINDOW_OPACITY");
    XSelectInput(d, root, SubstructureNotifyMask);
    XSync(d, False);
    std::printf("%.6f ready\n", now());
    std::fflush(stdout);
    pollfd fds[2] = {{ConnectionNumber(d), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        while (XPending(d)) {
            XEvent event;
            XNextEvent(d, &event);
            const double t = now();
            switch (event.type) {
                case CreateNotify: {
                    const Window w = event.xcreatewindow.window;
                    XSelectInput(d, w, PropertyChangeMask);
                    XSync(d, False);
                    // Whatever was set before we listened.
                    std::printf("%.6f create 0x%lx\n%.6f opacity 0x%lx %s\n", t, w, t, w, opacityText(d, w).c_str());
                    break;
                }
                case MapNotify: {
                    const Window w = event.xmap.window;
                    const Place p = placeOf(d, w);
                    std::printf("%.6f map 0x%lx %d %d %u %u\n", t, w, p.x, p.y, p.width, p.height);
                    break;
                }
                case UnmapNotify:
                    std::printf("%.6f unmap 0x%lx\n", t, event.xunmap.window);
                    break;
                case DestroyNotify:
                    std::printf("%.6f destroy 0x%lx\n", t, event.xdestroywindow.window);
                    break;
                case PropertyNotify:
                    if (event.xproperty.atom != opacity) break;
                    std::printf("%.6f opacity 0x%lx %s\n", t, event.xproperty.window,
                                event.xproperty.state == PropertyDelete
                                    ? "none"
                                    : opacityText(d, event.xproperty.window).c_str());
                    break;
                default:
                    break;
            }
            std::fflush(stdout);
        }
        if (poll(fds, 2, -1) < 0) return 1;
        if (fds[1].revents) {
            char buffer[64];
            if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0) return 0;
        }
    }
}

int closeRequests(Display* d, Window w, int count) {
    for (int i = 0; i < count; ++i) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = w;
        event.xclient.message_type = atom(d, "WM_PROTOCOLS");
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(atom(d, "WM_DELETE_WINDOW"));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(d, w, False, NoEventMask, &event);
    }
    XSync(d, False);
    return 0;
}

std::string hex(const std::string& bytes) {
    std::string text;
    char digits[3];
    for (unsigned char c : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", c);
        text += digits;
    }
    return text;
}

int describe(Display* d, Window w) {
    const Place p = placeOf(d, w);
    XWindowAttributes attributes{};
    XGetWindowAttributes(d, w, &attributes);
    const auto name = bytesProperty(d, w, atom(d, "_NET_WM_NAME"));
    XSizeHints hints{};
    long supplied = 0;
    XGetWMNormalHints(d, w, &hints, &supplied);
    std::string icons;
    if (const auto icon = cardinals(d, w, atom(d, "_NET_WM_ICON"))) {
        // width, height, then width * height pixels, for each image
        for (std::size_t i = 0; i + 1 < icon->size(); i += 2 + (*icon)[i] * (*icon)[i + 1])
            icons += (icons.empty() ? "" : ", ") + std::string("[") + std::to_string((*icon)[i]) + ", " +
                     std::to_string((*icon)[i + 1]) + "]";
    }
    const std::string opacity = opacityText(d, w);
    std::printf(
        "{\"x\": %d, \"y\": %d, \"width\": %u, \"height\": %u, \"viewable\": %s, \"name_hex\": %s, "
        "\"min_size\": %s, \"max_size\": %s, \"icon_sizes\": [%s], \"opacity\": %s}\n",
        p.x, p.y, p.width, p.height, attributes.map_state == IsViewable ? "true" : "false",
        name ? ("\"" + hex(*name) + "\"").c_str() : "null",
        (hints.flags & PMinSize) ? ("[" + std::to_string(hints.min_width) + ", " + std::to_string(hints.min_height) + "]").c_str() : "null",
        (hints.flags & PMaxSize) ? ("[" + std::to_string(hints.max_width) + ", " + std::to_string(hints.max_height) + "]").c_str() : "null",
        icons.c_str(), opacity == "none" ? "null" : opacity.c_str());
    return 0;
}

int shot(Display* d, Window w, const char* file) {
    const Place p = placeOf(d, w);
    const std::unique_ptr<XImage, ImageDestroyer> image{
        XGetImage(d, w, 0, 0, p.width, p.height, AllPlanes, ZPixmap)};
    if (!image) return 1;
    // Scale each channel by its mask, whatever the visual's layout.
    const auto channel = [](unsigned long pixel, unsigned long mask) {
        if (!mask) return 0UL;
        unsigned shift = 0;
        while (!((mask >> shift) & 1)) ++shift;
        const unsigned long max = mask >> shift;
        return ((pixel & mask) >> shift) * 255 / max;
    };
    std::ofstream out(file, std::ios::binary);
    out << "P6\n" << p.width << " " << p.height << "\n255\n";
    for (unsigned y = 0; y < p.height; ++y)
        for (unsigned x = 0; x < p.width; ++x) {
            const unsigned long pixel = XGetPixel(image.get(), static_cast<int>(x), static_cast<int>(y));
            const char rgb[3] = {static_cast<char>(channel(pixel, image->red_mask)),
                                 static_cast<char>(channel(pixel, image->green_mask)),
                                 static_cast<char>(channel(pixel, image->blue_mask))};
            out.write(rgb, 3);
        }
    return out ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    const DisplayPtr display{XOpenDisplay(nullptr)};
    if (!display) {
        std::fprintf(stderr, "x11probe: cannot open the display\n");
        return 2;
    }
    XSetErrorHandler(ignoreErrors);
    Display* d = display.get();
    const auto window = [&] { return static_cast<Window>(std::strtoul(argv[2], nullptr, 0)); };
    if (command == "watch") return watch(d);
    if (command == "close" && argc >= 3) return closeRequests(d, window(), argc > 3 ? std::atoi(argv[3]) : 1);
    if (command == "describe" && argc == 3) return describe(d, window());
    if (command == "shot" && argc == 4) return shot(d, window(), argv[3]);
    std::fprintf(stderr, "usage: x11probe watch | close XID [COUNT] | describe XID | shot XID FILE\n");
    return 2;
}
