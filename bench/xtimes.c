/* Reference key timer for the accuracy bench: a bare X11 window that records every KeyPress
 * and KeyRelease with the X server's own event timestamp (milliseconds), as delivered.
 *
 * Usage: xtimes   (DISPLAY from the environment)
 * Opens the window "xtimes key timer"; when Escape is released (the end marker, not
 * recorded) prints one line per recorded event: "<server_ms> <down|up> <keysym-name>" and
 * exits. Nothing is written while keys arrive, so output costs no time in the run.
 */
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <stdio.h>

typedef struct {
    unsigned long time;
    int down;
    KeySym sym;
} Record;

static Record g_records[1 << 16];

int main(void) {
    Display *dpy = XOpenDisplay(NULL);
    if (!dpy) {
        fprintf(stderr, "xtimes: cannot open display\n");
        return 1;
    }
    const int screen = DefaultScreen(dpy);
    Window win = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 0, 0, 320, 120, 0,
                                     BlackPixel(dpy, screen), WhitePixel(dpy, screen));
    XStoreName(dpy, win, "xtimes key timer");
    XSelectInput(dpy, win, KeyPressMask | KeyReleaseMask);
    XMapRaised(dpy, win);

    size_t count = 0;
    for (;;) {
        XEvent ev;
        XNextEvent(dpy, &ev);
        if (ev.type != KeyPress && ev.type != KeyRelease)
            continue;
        const KeySym sym = XLookupKeysym(&ev.xkey, 0);
        if (sym == XK_Escape) {
            if (ev.type == KeyRelease)
                break;
            continue;
        }
        if (count == sizeof g_records / sizeof g_records[0]) {
            fprintf(stderr, "xtimes: more than %zu key events\n", count);
            return 1;
        }
        g_records[count].time = ev.xkey.time;
        g_records[count].down = ev.type == KeyPress;
        g_records[count].sym = sym;
        ++count;
    }
    for (size_t i = 0; i < count; ++i) {
        const char *name = XKeysymToString(g_records[i].sym);
        printf("%lu %s %s\n", g_records[i].time, g_records[i].down ? "down" : "up",
               name ? name : "?");
    }
    XCloseDisplay(dpy);
    return 0;
}
