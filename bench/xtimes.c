/* Reference key timer for the accuracy bench: a bare X11 window that records every KeyPress
 * and KeyRelease with the X server's own event timestamp (milliseconds), as delivered.
 *
 * Usage: xtimes   (DISPLAY from the environment)
 * Prints "window <id>" once the window is mapped, then, when Escape is released (the end
 * marker, not recorded) or on SIGTERM, one line per recorded event: "<server_ms> <down|up>
 * <keysym-name>". Nothing is written while keys arrive, so output costs no time in the run.
 */
#define _POSIX_C_SOURCE 200809L

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <signal.h>
#include <sys/select.h>
#include <stdio.h>
#include <stdlib.h>

typedef struct {
    unsigned long time;
    int down;
    KeySym sym;
} Record;

static volatile sig_atomic_t g_stop = 0;

static void on_signal(int sig) {
    (void)sig;
    g_stop = 1;
}

int main(void) {
    Display *dpy = XOpenDisplay(NULL);
    if (!dpy) {
        fprintf(stderr, "xtimes: cannot open display\n");
        return 1;
    }
    size_t capacity = 1 << 16, count = 0;
    Record *records = malloc(capacity * sizeof *records);
    if (!records)
        return 1;

    const int screen = DefaultScreen(dpy);
    Window win = XCreateSimpleWindow(dpy, RootWindow(dpy, screen), 0, 0, 320, 120, 0,
                                     BlackPixel(dpy, screen), WhitePixel(dpy, screen));
    XStoreName(dpy, win, "xtimes key timer");
    XSelectInput(dpy, win, KeyPressMask | KeyReleaseMask | ExposureMask | StructureNotifyMask);
    XMapRaised(dpy, win);
    for (;;) { /* wait until mapped so that the caller can focus it */
        XEvent ev;
        XNextEvent(dpy, &ev);
        if (ev.type == MapNotify)
            break;
    }
    printf("window %lu\n", (unsigned long)win);
    fflush(stdout);

    struct sigaction sa = {0};
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, NULL);
    sigaction(SIGINT, &sa, NULL);

    const int fd = ConnectionNumber(dpy);
    while (!g_stop) {
        if (!XPending(dpy)) {
            /* Block in select so that a signal can end the wait. */
            fd_set set;
            FD_ZERO(&set);
            FD_SET(fd, &set);
            struct timeval tv = {0, 200000};
            select(fd + 1, &set, NULL, NULL, &tv);
            continue;
        }
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
        if (count == capacity) {
            Record *grown = realloc(records, 2 * capacity * sizeof *records);
            if (!grown)
                return 1;
            records = grown;
            capacity *= 2;
        }
        records[count].time = ev.xkey.time;
        records[count].down = ev.type == KeyPress;
        records[count].sym = sym;
        ++count;
    }
    for (size_t i = 0; i < count; ++i) {
        const char *name = XKeysymToString(records[i].sym);
        printf("%lu %s %s\n", records[i].time, records[i].down ? "down" : "up",
               name ? name : "?");
    }
    free(records);
    XCloseDisplay(dpy);
    return 0;
}
