// libX11's functions used by the clipboard, opened on first use (see lazy_library.h). Without the
// library no display opens, which the clipboard reports as it does when there is no display.
#include <X11/Xlib.h>

#include "platform/os/lazy_library.h"

namespace {
platform::LazyLibrary x11("libX11.so.6");
}

extern "C" {

Status XInitThreads() {
  ZEL_LAZY_FUNCTION(x11, XInitThreads);
  return fn ? fn() : 0;
}

Display* XOpenDisplay(const char* name) {
  ZEL_LAZY_FUNCTION(x11, XOpenDisplay);
  return fn ? fn(name) : nullptr;
}

XErrorHandler XSetErrorHandler(XErrorHandler handler) {
  ZEL_LAZY_FUNCTION(x11, XSetErrorHandler);
  return fn ? fn(handler) : nullptr;
}

XIOErrorHandler XSetIOErrorHandler(XIOErrorHandler handler) {
  ZEL_LAZY_FUNCTION(x11, XSetIOErrorHandler);
  return fn ? fn(handler) : nullptr;
}

void XSetIOErrorExitHandler(Display* display, XIOErrorExitHandler handler, void* data) {
  ZEL_LAZY_FUNCTION(x11, XSetIOErrorExitHandler);
  if (fn) fn(display, handler, data);
}

// The rest take a display, so the library is open when they are called.

int XCloseDisplay(Display* display) {
  ZEL_LAZY_FUNCTION(x11, XCloseDisplay);
  return fn(display);
}

int XChangeProperty(Display* display, Window window, Atom property, Atom type, int format,
                    int mode, const unsigned char* data, int count) {
  ZEL_LAZY_FUNCTION(x11, XChangeProperty);
  return fn(display, window, property, type, format, mode, data, count);
}

Bool XCheckIfEvent(Display* display, XEvent* event, Bool (*predicate)(Display*, XEvent*, XPointer),
                   XPointer argument) {
  ZEL_LAZY_FUNCTION(x11, XCheckIfEvent);
  return fn(display, event, predicate, argument);
}

int XConvertSelection(Display* display, Atom selection, Atom target, Atom property,
                      Window requestor, Time time) {
  ZEL_LAZY_FUNCTION(x11, XConvertSelection);
  return fn(display, selection, target, property, requestor, time);
}

Window XCreateWindow(Display* display, Window parent, int x, int y, unsigned int width,
                     unsigned int height, unsigned int border_width, int depth,
                     unsigned int window_class, Visual* visual, unsigned long value_mask,
                     XSetWindowAttributes* attributes) {
  ZEL_LAZY_FUNCTION(x11, XCreateWindow);
  return fn(display, parent, x, y, width, height, border_width, depth, window_class, visual,
            value_mask, attributes);
}

int XDeleteProperty(Display* display, Window window, Atom property) {
  ZEL_LAZY_FUNCTION(x11, XDeleteProperty);
  return fn(display, window, property);
}

int XFlush(Display* display) {
  ZEL_LAZY_FUNCTION(x11, XFlush);
  return fn(display);
}

int XFree(void* data) {
  ZEL_LAZY_FUNCTION(x11, XFree);
  return fn(data);
}

char* XGetAtomName(Display* display, Atom atom) {
  ZEL_LAZY_FUNCTION(x11, XGetAtomName);
  return fn(display, atom);
}

Window XGetSelectionOwner(Display* display, Atom selection) {
  ZEL_LAZY_FUNCTION(x11, XGetSelectionOwner);
  return fn(display, selection);
}

int XGetWindowProperty(Display* display, Window window, Atom property, long offset, long length,
                       Bool remove, Atom wanted, Atom* type, int* format, unsigned long* count,
                       unsigned long* remaining, unsigned char** data) {
  ZEL_LAZY_FUNCTION(x11, XGetWindowProperty);
  return fn(display, window, property, offset, length, remove, wanted, type, format, count,
            remaining, data);
}

Status XInternAtoms(Display* display, char** names, int count, Bool only_if_exists, Atom* atoms) {
  ZEL_LAZY_FUNCTION(x11, XInternAtoms);
  return fn(display, names, count, only_if_exists, atoms);
}

int XNextEvent(Display* display, XEvent* event) {
  ZEL_LAZY_FUNCTION(x11, XNextEvent);
  return fn(display, event);
}

int XPending(Display* display) {
  ZEL_LAZY_FUNCTION(x11, XPending);
  return fn(display);
}

int XSelectInput(Display* display, Window window, long mask) {
  ZEL_LAZY_FUNCTION(x11, XSelectInput);
  return fn(display, window, mask);
}

Status XSendEvent(Display* display, Window window, Bool propagate, long mask, XEvent* event) {
  ZEL_LAZY_FUNCTION(x11, XSendEvent);
  return fn(display, window, propagate, mask, event);
}

int XSetSelectionOwner(Display* display, Atom selection, Window owner, Time time) {
  ZEL_LAZY_FUNCTION(x11, XSetSelectionOwner);
  return fn(display, selection, owner, time);
}

}  // extern "C"
