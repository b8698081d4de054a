// Asks an X11 window to close the way a window manager does when the user
// clicks its close box: a WM_DELETE_WINDOW client message. Plain Xvfb runs no
// window manager, and destroying the window instead (xdotool windowclose)
// would pull it from under the program rather than let it close itself.
//   x11_close_window <window id>
// Exits 0 once the message is sent, 1 when the window does not take it.

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <window id>\n", argv[0]);
        return 1;
    }
    const Window window = std::strtoul(argv[1], nullptr, 0);
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "cannot open the display\n");
        return 1;
    }
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);

    // A window that does not list the protocol would be killed by a window
    // manager instead; that is not the close this is for.
    Atom* listed = nullptr;
    int count = 0;
    bool takesDelete = false;
    if (XGetWMProtocols(display, window, &listed, &count) != 0) {
        for (int i = 0; i < count; ++i)
            takesDelete = takesDelete || listed[i] == deleteWindow;
        XFree(listed);
    }
    if (!takesDelete) {
        std::fprintf(stderr, "window 0x%lx does not take WM_DELETE_WINDOW\n", window);
        XCloseDisplay(display);
        return 1;
    }

    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(deleteWindow);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return 0;
}
