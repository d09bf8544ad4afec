#include "silent_owner.h"

#include <X11/Xlib.h>

namespace silent_owner {
namespace {
Display* display = nullptr;
}

bool take() {
  display = XOpenDisplay(nullptr);
  if (!display) return false;
  Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
  XSetSelectionOwner(display, XInternAtom(display, "CLIPBOARD", False), window, CurrentTime);
  XSync(display, False);
  return true;
}

void release() {
  if (display) XCloseDisplay(display);
  display = nullptr;
}

}  // namespace silent_owner
