// The clipboard as values: what read-clipboard and write-clipboard do. Text comes and goes as
// string!, file lists as blocks of file! values, through the desktop's clipboard
// (platform/gui/clipboard.h). Images wait for the image! datatype. With no display to reach,
// both raise access/cannot-open naming the clipboard and what is missing.
#pragma once
#include "runtime/cell.h"

namespace clipboard {

// Pushes what the clipboard holds: a string! (CR characters dropped, up to the first NUL), a
// block of file! values, none! when it holds nothing usable, or false when its owner did not
// hand the data over. May allocate.
Cell* read();

// Puts the value on the clipboard: none! empties it, a string! from its position goes as text, a
// block! of file! or string! paths (relative ones made absolute from the current directory) as a
// file list. True when the process took the clipboard. Any other value, or a block item that is
// no path, raises script/invalid-arg with it. The value must be rooted. May allocate.
bool write(const Cell& data);

}  // namespace clipboard
