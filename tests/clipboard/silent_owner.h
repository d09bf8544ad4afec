// An X client of the test's own that takes the clipboard and never answers a request (Xlib's
// names stay in silent_owner.cpp, away from the test framework's).
#pragma once

namespace silent_owner {

// Takes the CLIPBOARD selection on a connection of its own; false when the display cannot be
// opened.
bool take();
// Closes that connection, which lets go of the selection.
void release();

}  // namespace silent_owner
