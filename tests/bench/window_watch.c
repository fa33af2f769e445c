/* Watches the X display for a window of a given name and for text in one of
 * its regions: prints the monotonic time at which the window first exists and
 * at which the region first holds both light and dark pixels (text drawn on a
 * cleared background), as "window <s>" and "shown <s>". Exits 1 on time-out. */
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double monotonic_s(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec * 1e-9;
}

static void sleep_us(long us)
{
    struct timespec delay = {0, us * 1000};
    nanosleep(&delay, NULL);
}

/* A window that is not mapped yet makes XGetImage fail; that is expected here. */
static int ignore_errors(Display* display, XErrorEvent* error)
{
    (void)display;
    (void)error;
    return 0;
}

static Window find_named(Display* display, Window parent, const char* name, int depth)
{
    Window root_return, parent_return, *children = NULL;
    unsigned int count = 0;
    Window found = 0;
    char* window_name = NULL;
    if (XFetchName(display, parent, &window_name) && window_name != NULL) {
        const int match = strcmp(window_name, name) == 0;
        XFree(window_name);
        if (match)
            return parent;
    }
    if (depth > 3 || !XQueryTree(display, parent, &root_return, &parent_return, &children, &count))
        return 0;
    for (unsigned int i = 0; i < count && found == 0; ++i)
        found = find_named(display, children[i], name, depth + 1);
    if (children != NULL)
        XFree(children);
    return found;
}

/* 1 when the region holds both a light and a dark pixel. */
static int region_has_text(Display* display, Window window, int x, int y, unsigned w, unsigned h)
{
    XImage* image = XGetImage(display, window, x, y, w, h, AllPlanes, ZPixmap);
    if (image == NULL)
        return 0;
    int light = 0;
    int dark = 0;
    for (unsigned row = 0; row < h && !(light && dark); ++row) {
        for (unsigned column = 0; column < w; ++column) {
            const unsigned long pixel = XGetPixel(image, (int)column, (int)row);
            const unsigned long level = ((pixel >> 16) & 0xFF) + ((pixel >> 8) & 0xFF) + (pixel & 0xFF);
            if (level > 600)
                light = 1;
            else if (level < 150)
                dark = 1;
        }
    }
    XDestroyImage(image);
    return light && dark;
}

int main(int argc, char** argv)
{
    if (argc != 8) {
        fprintf(stderr, "usage: window_watch NAME X Y WIDTH HEIGHT TIMEOUT_MS POLL_US\n");
        return 2;
    }
    const char* name = argv[1];
    const int x = atoi(argv[2]);
    const int y = atoi(argv[3]);
    const int width = atoi(argv[4]);
    const int height = atoi(argv[5]);
    const double deadline_s = monotonic_s() + atof(argv[6]) / 1000.0;
    const long poll_us = atol(argv[7]);
    if (width <= 0 || height <= 0 || poll_us <= 0) {
        fprintf(stderr, "window_watch: the region and the poll interval must be positive\n");
        return 2;
    }

    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "window_watch: cannot open the display\n");
        return 1;
    }
    XSetErrorHandler(ignore_errors);
    Window window = 0;
    while (window == 0) {
        if (monotonic_s() > deadline_s) {
            fprintf(stderr, "window_watch: no window named %s\n", name);
            return 1;
        }
        window = find_named(display, DefaultRootWindow(display), name, 0);
        if (window == 0)
            sleep_us(poll_us);
    }
    printf("window %.6f\n", monotonic_s());
    fflush(stdout);
    while (!region_has_text(display, window, x, y, (unsigned)width, (unsigned)height)) {
        if (monotonic_s() > deadline_s) {
            fprintf(stderr, "window_watch: nothing shown in the region\n");
            return 1;
        }
        sleep_us(poll_us);
    }
    printf("shown %.6f\n", monotonic_s());
    XCloseDisplay(display);
    return 0;
}
