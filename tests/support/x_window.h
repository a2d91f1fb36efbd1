// The window of an X server whose title is `title`, searched from `at` down
// through its children (0 when there is none): for the tests that drive the
// real window through X.
#ifndef X_WINDOW_H
#define X_WINDOW_H

#include <X11/Xlib.h>

#include <cstring>

inline Window find_window(Display *dpy, Window at, const char *title) {
    char *name = nullptr;
    if (XFetchName(dpy, at, &name) && name) {
        bool same = std::strcmp(name, title) == 0;
        XFree(name);
        if (same) return at;
    }
    Window root, parent, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(dpy, at, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) found = find_window(dpy, children[i], title);
    if (children) XFree(children);
    return found;
}

#endif
