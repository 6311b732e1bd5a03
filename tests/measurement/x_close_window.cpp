// Asks an X window to close the way a window manager's close button does:
// sends it WM_DELETE_WINDOW. Usage: kolvar-x-close-window WINDOW_ID
// (decimal or 0x hexadecimal). Exit status 0 when the message was sent.
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kolvar-x-close-window WINDOW_ID\n");
        return 2;
    }
    char* end = nullptr;
    const unsigned long window = std::strtoul(argv[1], &end, 0);
    if (end == argv[1] || *end != '\0') {
        std::fprintf(stderr, "kolvar-x-close-window: not a window id: %s\n", argv[1]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "kolvar-x-close-window: cannot open the display\n");
        return 2;
    }
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return sent ? 0 : 1;
}
