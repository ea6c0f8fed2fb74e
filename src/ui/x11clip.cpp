// Serves a PNG image on the X11 CLIPBOARD selection. X has no clipboard
// store: the owner keeps the data and answers each SelectionRequest by
// writing a property on the requestor's window, so the image lives here
// until another client (SDL's text clipboard included) takes the selection.
// Images larger than one request are refused rather than sent in pieces;
// a window picture of the terminal is far below the 16 MB a server with
// big requests takes.
#include "ui/x11clip.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <vector>

#include "log.h"

static const char kSrc[] = "src/ui/x11clip";

static struct {
  Display *d;
  Window w;
  Atom clipboard, targets, png;
  std::vector<uint8_t> data;
  int owned;
} xs;

static int connect(void) {
  if (xs.d) return 0;
  xs.d = XOpenDisplay(nullptr);
  if (!xs.d) return -1;
  xs.w = XCreateSimpleWindow(xs.d, DefaultRootWindow(xs.d), 0, 0, 1, 1, 0, 0, 0);
  xs.clipboard = XInternAtom(xs.d, "CLIPBOARD", False);
  xs.targets = XInternAtom(xs.d, "TARGETS", False);
  xs.png = XInternAtom(xs.d, "image/png", False);
  return 0;
}

static size_t max_property_bytes(void) {
  long units = XExtendedMaxRequestSize(xs.d);
  if (units == 0) units = XMaxRequestSize(xs.d);
  return (size_t)units * 4 - 256;  // room for the request's own header
}

int x11clip_set_png(const uint8_t *png, size_t n) {
  if (connect() != 0) {
    log(LOG_ERROR, kSrc, "can't open display for the clipboard");
    return -1;
  }
  if (n > max_property_bytes()) {
    log(LOG_ERROR, kSrc, "image of %zu bytes too large for the clipboard", n);
    return -1;
  }
  xs.data.assign(png, png + n);
  XSetSelectionOwner(xs.d, xs.clipboard, xs.w, CurrentTime);
  xs.owned = XGetSelectionOwner(xs.d, xs.clipboard) == xs.w;
  XFlush(xs.d);
  if (!xs.owned) {
    log(LOG_ERROR, kSrc, "can't own the clipboard");
    xs.data.clear();
    return -1;
  }
  return 0;
}

static void answer(const XSelectionRequestEvent &rq) {
  XSelectionEvent ev = {};
  ev.type = SelectionNotify;
  ev.display = rq.display;
  ev.requestor = rq.requestor;
  ev.selection = rq.selection;
  ev.target = rq.target;
  ev.time = rq.time;
  Atom prop = rq.property != None ? rq.property : rq.target;  // old clients name no property
  ev.property = None;
  if (xs.owned && rq.selection == xs.clipboard) {
    if (rq.target == xs.targets) {
      Atom list[2] = {xs.targets, xs.png};
      XChangeProperty(xs.d, rq.requestor, prop, XA_ATOM, 32, PropModeReplace,
                      (const unsigned char *)list, 2);
      ev.property = prop;
    } else if (rq.target == xs.png) {
      XChangeProperty(xs.d, rq.requestor, prop, xs.png, 8, PropModeReplace, xs.data.data(),
                      (int)xs.data.size());
      ev.property = prop;
    }
  }
  XSendEvent(xs.d, rq.requestor, False, NoEventMask, (XEvent *)&ev);
}

void x11clip_pump(void) {
  if (!xs.d) return;
  while (XPending(xs.d)) {
    XEvent e;
    XNextEvent(xs.d, &e);
    if (e.type == SelectionRequest) {
      answer(e.xselectionrequest);
    } else if (e.type == SelectionClear && e.xselectionclear.selection == xs.clipboard) {
      xs.owned = 0;  // someone else's content now
      xs.data.clear();
    }
  }
  XFlush(xs.d);
}

int x11clip_owned(void) { return xs.owned; }

void x11clip_shutdown(void) {
  if (!xs.d) return;
  XDestroyWindow(xs.d, xs.w);
  XCloseDisplay(xs.d);
  xs.d = nullptr;
  xs.owned = 0;
  xs.data.clear();
  xs.data.shrink_to_fit();
}
