// rival [--name NAME] [--geometry WxH+X+Y] [--override-redirect] [--raise-every MS]
// Opens a window filled with pure red (so a look at the screen tells whether any of it shows)
// and prints "window <id>" once it is mapped, then one line per event:
//   button <x> <y>   a click reached it (root coordinates)
//   raised <n>       with --raise-every: raised itself n times so far (every 100th time)
// With --override-redirect the window manager never sees it; with --raise-every it raises itself
// every MS milliseconds, as a program fighting for the top of the screen does. "stop" on stdin
// ends the raising, end of input ends the program.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    std::string name = "rival";
    unsigned width = 400;
    unsigned height = 300;
    int x = 50;
    int y = 50;
    bool overrideRedirect = false;
    int raiseEveryMs = 0;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--name") == 0 && hasValue) {
            name = argv[++i];
        } else if (std::strcmp(argv[i], "--geometry") == 0 && hasValue) {
            if (std::sscanf(argv[++i], "%ux%u+%d+%d", &width, &height, &x, &y) != 4) {
                std::fprintf(stderr, "rival: --geometry wants WxH+X+Y\n");
                return 2;
            }
        } else if (std::strcmp(argv[i], "--override-redirect") == 0) {
            overrideRedirect = true;
        } else if (std::strcmp(argv[i], "--raise-every") == 0 && hasValue) {
            raiseEveryMs = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr,
                         "usage: rival [--name NAME] [--geometry WxH+X+Y] [--override-redirect] "
                         "[--raise-every MS]\n");
            return 2;
        }
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "rival: cannot open the display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    XColor red{};
    red.red = 0xffff;
    red.flags = DoRed | DoGreen | DoBlue;
    XAllocColor(display, DefaultColormap(display, screen), &red);
    XSetWindowAttributes attributes{};
    attributes.background_pixel = red.pixel;
    attributes.override_redirect = overrideRedirect ? True : False;
    attributes.event_mask = ButtonPressMask | StructureNotifyMask | ExposureMask;
    Window window = XCreateWindow(display, RootWindow(display, screen), x, y, width, height, 0,
                                  CopyFromParent, InputOutput, CopyFromParent,
                                  CWBackPixel | CWOverrideRedirect | CWEventMask, &attributes);
    XStoreName(display, window, name.c_str());
    // Where it asked to be: managers otherwise place a new window as they like.
    XSizeHints size{};
    size.flags = USPosition | USSize;
    size.x = x;
    size.y = y;
    size.width = static_cast<int>(width);
    size.height = static_cast<int>(height);
    XSetWMNormalHints(display, window, &size);
    XMapRaised(display, window);
    XSync(display, False);
    std::printf("window %lu\n", window);
    std::fflush(stdout);

    bool raising = raiseEveryMs > 0;
    long raised = 0;
    auto next = std::chrono::steady_clock::now();
    pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == ButtonPress) {
                std::printf("button %d %d\n", event.xbutton.x_root, event.xbutton.y_root);
                std::fflush(stdout);
            }
        }
        int timeoutMs = -1;
        if (raising) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= next) {
                XRaiseWindow(display, window);
                XFlush(display);
                if (++raised % 100 == 0) {
                    std::printf("raised %ld\n", raised);
                    std::fflush(stdout);
                }
                next = now + std::chrono::milliseconds(raiseEveryMs);
            }
            timeoutMs = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count());
            timeoutMs = timeoutMs < 0 ? 0 : timeoutMs;
        }
        if (poll(fds, 2, timeoutMs) < 0)
            continue;
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char line[64];
            if (!std::fgets(line, sizeof line, stdin))
                return 0;
            if (std::strncmp(line, "stop", 4) == 0)
                raising = false;
        }
    }
}
