// Clicks into a window of the X server that DISPLAY names, as a person
// would, through the XTest extension (libXtst, loaded at run time):
//
//   x_click TITLE X Y
//
// moves the pointer to (X, Y) of the client area of the window titled
// TITLE and presses and releases the left button. Exits 0 when the click
// was sent, 1 when the window or the extension is missing.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "x_window.h"

namespace {

using fake_motion_t = int (*)(Display *, int, int, int, unsigned long);
using fake_button_t = int (*)(Display *, unsigned int, Bool, unsigned long);

}  // namespace

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: %s TITLE X Y\n", argv[0]);
        return 2;
    }
    void *xtst = dlopen("libXtst.so.6", RTLD_NOW);
    auto motion = xtst ? reinterpret_cast<fake_motion_t>(dlsym(xtst, "XTestFakeMotionEvent")) : nullptr;
    auto button = xtst ? reinterpret_cast<fake_button_t>(dlsym(xtst, "XTestFakeButtonEvent")) : nullptr;
    if (!motion || !button) {
        fprintf(stderr, "x_click: no XTest (libXtst.so.6)\n");
        return 1;
    }
    Display *dpy = XOpenDisplay(nullptr);
    if (!dpy) {
        fprintf(stderr, "x_click: no X server\n");
        return 1;
    }
    Window root = DefaultRootWindow(dpy);
    Window win = find_window(dpy, root, argv[1]);
    if (!win) {
        fprintf(stderr, "x_click: no window titled %s\n", argv[1]);
        XCloseDisplay(dpy);
        return 1;
    }
    int rx = 0, ry = 0;
    Window child;
    XTranslateCoordinates(dpy, win, root, atoi(argv[2]), atoi(argv[3]), &rx, &ry, &child);
    motion(dpy, -1, rx, ry, 0);
    XSync(dpy, False);
    button(dpy, 1, True, 0);
    XSync(dpy, False);
    button(dpy, 1, False, 0);
    XSync(dpy, False);
    XCloseDisplay(dpy);
    return 0;
}
