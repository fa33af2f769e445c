/* Asks an X window to close the way a window manager's close button does:
   sends it WM_DELETE_WINDOW. Usage: wm_close WINDOW_ID (decimal or 0x hex). */
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int x_error_seen = 0;

static int note_x_error(Display* display, XErrorEvent* error)
{
    (void)display;
    (void)error;
    x_error_seen = 1;
    return 0;
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: wm_close WINDOW_ID\n");
        return 2;
    }
    char* end = NULL;
    unsigned long window_id = strtoul(argv[1], &end, 0);
    if (end == argv[1] || *end != '\0' || window_id == 0) {
        fprintf(stderr, "wm_close: not a window id: %s\n", argv[1]);
        return 2;
    }
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "wm_close: cannot open the X display\n");
        return 2;
    }
    XSetErrorHandler(note_x_error);

    XEvent event;
    memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = (Window)window_id;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, (Window)window_id, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    if (x_error_seen) {
        fprintf(stderr, "wm_close: no such window: %s\n", argv[1]);
        return 1;
    }
    return 0;
}
