/* Plays a script of real key presses and releases into the X server (XTest) at absolute times,
 * and reports when each one was actually sent, for end-to-end tests and timing benchmarks.
 *
 * Usage: injector < script
 *
 * Script (stdin): one event per line, "<time_ms> <down|up> <keysym-name>", times relative to the
 * start of the script and non-decreasing; '#' starts a comment. The keysym names are X names
 * ("a", "Shift_L", "BackSpace", "Return"). Events are physical keys: a capital letter is
 * "down Shift_L" + "down a", not "down A".
 *
 * Output (stdout, after the last event, so that writing costs no time during the run):
 * one line per event, "<scheduled_ms> <actual_ms> <down|up> <keysym-name>", actual with three
 * decimals, both measured from the same start on CLOCK_MONOTONIC. "actual" is taken right
 * after the request has been flushed to the server.
 *
 * On a loaded machine the wake-up of an ordinary process can come milliseconds late, so the
 * injector asks for a modest real-time priority (SCHED_FIFO) and locked memory; where that is
 * not permitted it says so on stderr and goes on with normal scheduling. It sleeps between
 * events and never spins, so the priority cannot starve the program under test.
 *
 * Exit codes: 0 all sent, 1 X or system failure, 2 a bad script or a keysym that
 * the current keymap cannot type. Keys still held when the run stops (end of script, error,
 * SIGINT/SIGTERM) are released, so that no key stays stuck in the X server.
 */
#define _POSIX_C_SOURCE 200809L

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <errno.h>
#include <math.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>

enum { EXIT_X_FAILURE = 1, EXIT_BAD_INPUT = 2 };

typedef struct {
    double at_ms;    /* scheduled time, from the script */
    int down;        /* 1 press, 0 release */
    KeySym sym;
    KeyCode code;
    char name[64];
    double sent_ms;  /* measured */
} Event;

typedef struct {
    Event *items;
    size_t count;
    size_t capacity;
} EventList;

static volatile sig_atomic_t g_stop = 0;
static unsigned char g_x_error_code = 0; /* 0: none (no X error has code 0) */

static void on_signal(int sig) {
    (void)sig;
    g_stop = 1;
}

/* Called by Xlib for an asynchronous protocol error; remembered and checked after XSync. */
static int on_x_error(Display *dpy, XErrorEvent *ev) {
    (void)dpy;
    g_x_error_code = ev->error_code;
    return 0;
}

static double elapsed_ms(const struct timespec *start) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)(now.tv_sec - start->tv_sec) * 1e3 + (double)(now.tv_nsec - start->tv_nsec) / 1e6;
}

static struct timespec add_ms(const struct timespec *start, double ms) {
    long long ns = start->tv_nsec + llround(ms * 1e6);
    struct timespec t = {start->tv_sec + (time_t)(ns / 1000000000LL), (long)(ns % 1000000000LL)};
    return t;
}

static int push_event(EventList *list, const Event *ev) {
    if (list->count == list->capacity) {
        size_t cap = list->capacity ? list->capacity * 2 : 256;
        Event *grown = realloc(list->items, cap * sizeof *grown);
        if (!grown)
            return -1;
        list->items = grown;
        list->capacity = cap;
    }
    list->items[list->count++] = *ev;
    return 0;
}

/* Parses one script line into ev. Returns 1 for an event, 0 for a blank or comment line,
 * -1 (with a message) for a malformed line. */
static int parse_line(char *line, unsigned long lineno, Event *ev) {
    char *hash = strchr(line, '#');
    if (hash)
        *hash = '\0';
    /* A field wider than its buffer spills into the next one and is refused as a wrong count. */
    char t[64], dir[16], key[sizeof ev->name], extra[2];
    int fields = sscanf(line, "%63s %15s %63s %1s", t, dir, key, extra);
    if (fields == EOF)
        return 0;
    if (fields != 3) {
        fprintf(stderr, "injector: line %lu: expected '<time_ms> <down|up> <keysym>'\n", lineno);
        return -1;
    }
    char *end = NULL;
    errno = 0;
    double at = strtod(t, &end);
    if (errno || *end != '\0' || !isfinite(at) || at < 0.0 || at > 86400e3) {
        fprintf(stderr, "injector: line %lu: bad time '%s'\n", lineno, t);
        return -1;
    }
    if (strcmp(dir, "down") == 0) {
        ev->down = 1;
    } else if (strcmp(dir, "up") == 0) {
        ev->down = 0;
    } else {
        fprintf(stderr, "injector: line %lu: expected 'down' or 'up', got '%s'\n", lineno, dir);
        return -1;
    }
    ev->at_ms = at;
    strcpy(ev->name, key);
    ev->sym = XStringToKeysym(key);
    if (ev->sym == NoSymbol) {
        fprintf(stderr, "injector: line %lu: unknown keysym '%s'\n", lineno, key);
        return -1;
    }
    ev->code = 0;
    ev->sent_ms = -1.0;
    return 1;
}

static int read_script(FILE *in, EventList *list) {
    char *line = NULL;
    size_t cap = 0;
    unsigned long lineno = 0;
    double last = 0.0;
    int rc = 0;
    while (getline(&line, &cap, in) != -1) {
        ++lineno;
        Event ev;
        int r = parse_line(line, lineno, &ev);
        if (r < 0) {
            rc = -1;
            break;
        }
        if (r == 0)
            continue;
        if (ev.at_ms < last) {
            fprintf(stderr, "injector: line %lu: time %.3f is before the previous event's %.3f\n",
                    lineno, ev.at_ms, last);
            rc = -1;
            break;
        }
        last = ev.at_ms;
        if (push_event(list, &ev) != 0) {
            fprintf(stderr, "injector: out of memory\n");
            rc = -1;
            break;
        }
    }
    if (rc == 0 && ferror(in)) {
        perror("injector: reading the script");
        rc = -1;
    }
    free(line);
    return rc;
}

/* Finds a keycode for every event; fails when the keymap has no key for a keysym. */
static int resolve_keycodes(Display *dpy, EventList *list) {
    for (size_t i = 0; i < list->count; ++i) {
        Event *ev = &list->items[i];
        ev->code = XKeysymToKeycode(dpy, ev->sym);
        if (ev->code == 0) {
            fprintf(stderr, "injector: keysym '%s' is not in the current keymap\n", ev->name);
            return -1;
        }
        /* A keysym on a shifted level (e.g. "A", "exclam") is typed by its key alone. */
        if (XkbKeycodeToKeysym(dpy, ev->code, 0, 0) != ev->sym && ev->down)
            fprintf(stderr, "injector: note: '%s' is not on the unshifted level of its key; "
                            "send Shift_L yourself if the shifted character is meant\n", ev->name);
    }
    return 0;
}

/* Releases every key this run pressed and did not release. */
static void release_held(Display *dpy, const unsigned char *held) {
    int released = 0;
    for (int code = 0; code < 256; ++code) {
        if (held[code]) {
            XTestFakeKeyEvent(dpy, (unsigned)code, False, CurrentTime);
            ++released;
        }
    }
    if (released) {
        XSync(dpy, False);
        fprintf(stderr, "injector: released %d key(s) still held at the end\n", released);
    }
}

/* Real-time priority for the sending loop, when the system allows it. */
static void raise_priority(void) {
    struct sched_param sp;
    memset(&sp, 0, sizeof sp);
    sp.sched_priority = 10;
    if (sched_setscheduler(0, SCHED_FIFO, &sp) != 0)
        fprintf(stderr, "injector: note: no real-time priority (%s); send times may be late "
                        "on a loaded machine\n", strerror(errno));
    if (mlockall(MCL_CURRENT | MCL_FUTURE) != 0)
        fprintf(stderr, "injector: note: memory not locked (%s)\n", strerror(errno));
}

int main(void) {
    EventList list = {NULL, 0, 0};
    Display *dpy = NULL;
    int rc = EXIT_BAD_INPUT;
    if (read_script(stdin, &list) != 0)
        goto done;
    rc = EXIT_X_FAILURE;
    if (!(dpy = XOpenDisplay(NULL))) {
        fprintf(stderr, "injector: cannot open display '%s'\n", getenv("DISPLAY") ? getenv("DISPLAY") : "");
        goto done;
    }
    XSetErrorHandler(on_x_error);
    int ev_base, err_base, major, minor;
    if (!XTestQueryExtension(dpy, &ev_base, &err_base, &major, &minor)) {
        fprintf(stderr, "injector: the X server has no XTEST extension\n");
        goto done;
    }
    if (resolve_keycodes(dpy, &list) != 0) {
        rc = EXIT_BAD_INPUT;
        goto done;
    }
    /* No SA_RESTART: a signal must wake the sleep so that held keys are released promptly. */
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, NULL);
    sigaction(SIGTERM, &sa, NULL);

    raise_priority();

    unsigned char held[256] = {0};
    rc = 0;
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    size_t sent = 0;
    for (; sent < list.count && !g_stop; ++sent) {
        Event *ev = &list.items[sent];
        struct timespec due = add_ms(&start, ev->at_ms);
        int s;
        while ((s = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, NULL)) == EINTR && !g_stop) {
        }
        if (g_stop)
            break;
        if (s != 0) {
            fprintf(stderr, "injector: clock_nanosleep: %s\n", strerror(s));
            rc = EXIT_X_FAILURE;
            break;
        }
        if (!XTestFakeKeyEvent(dpy, ev->code, ev->down ? True : False, CurrentTime)) {
            fprintf(stderr, "injector: XTestFakeKeyEvent failed for '%s'\n", ev->name);
            rc = EXIT_X_FAILURE;
            break;
        }
        XFlush(dpy);
        ev->sent_ms = elapsed_ms(&start);
        held[ev->code] = (unsigned char)ev->down;
        /* The round trip confirms the server took the event before the next one is due. */
        XSync(dpy, False);
        if (g_x_error_code) {
            fprintf(stderr, "injector: X error %u after '%s'\n", (unsigned)g_x_error_code, ev->name);
            rc = EXIT_X_FAILURE;
            ++sent;
            break;
        }
    }
    if (g_stop && rc == 0) {
        fprintf(stderr, "injector: stopped by a signal after %zu of %zu events\n", sent, list.count);
        rc = EXIT_X_FAILURE;
    }
    release_held(dpy, held);

    for (size_t i = 0; i < list.count; ++i) {
        const Event *ev = &list.items[i];
        if (ev->sent_ms < 0.0)
            break;
        printf("%.3f %.3f %s %s\n", ev->at_ms, ev->sent_ms, ev->down ? "down" : "up", ev->name);
    }
    if (fflush(stdout) != 0 && rc == 0)
        rc = EXIT_X_FAILURE;
done:
    if (dpy)
        XCloseDisplay(dpy);
    free(list.items);
    return rc;
}
