// keylogger --log FILE [--name NAME]
// Opens a small window and appends one line per event to FILE, flushed at once:
//   press <keysym> <state>   release <keysym> <state>   focus-in   focus-out
// Prints "window <id>" on stdout once the map request is sent. Runs until killed.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    std::string logPath;
    std::string name = "keylogger";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--log") == 0)
            logPath = argv[i + 1];
        else if (std::strcmp(argv[i], "--name") == 0)
            name = argv[i + 1];
    }
    if (logPath.empty()) {
        std::fprintf(stderr, "usage: keylogger --log FILE [--name NAME]\n");
        return 2;
    }
    FILE* log = std::fopen(logPath.c_str(), "a");
    if (!log) {
        std::perror(logPath.c_str());
        return 1;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "keylogger: cannot open the display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 50, 50, 320, 200, 1,
                                        BlackPixel(display, screen), WhitePixel(display, screen));
    XStoreName(display, window, name.c_str());
    XWMHints hints{};
    hints.flags = InputHint;
    hints.input = True;
    XSetWMHints(display, window, &hints);
    XSelectInput(display, window,
                 KeyPressMask | KeyReleaseMask | FocusChangeMask | StructureNotifyMask);
    XMapWindow(display, window);
    XSync(display, False);
    std::printf("window %lu\n", window);
    std::fflush(stdout);

    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        switch (event.type) {
            case KeyPress:
            case KeyRelease: {
                const KeySym sym = XLookupKeysym(&event.xkey, 0);
                const char* symName = XKeysymToString(sym);
                std::fprintf(log, "%s %s %u\n", event.type == KeyPress ? "press" : "release",
                             symName ? symName : "NoSymbol", event.xkey.state);
                std::fflush(log);
                break;
            }
            case FocusIn:
                std::fprintf(log, "focus-in\n");
                std::fflush(log);
                break;
            case FocusOut:
                std::fprintf(log, "focus-out\n");
                std::fflush(log);
                break;
            default:
                break;
        }
    }
}
