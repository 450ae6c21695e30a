#pragma once

// The X display the dialogs draw on. FLTK ends the process when it cannot open a
// display, which must never happen to a host running headless, so every dialog
// opens it through here first and gives up quietly when there is none.

// Opens the display named by $DISPLAY for FLTK, once per process. Returns false,
// with a line on standard error, when there is none. Call with Fl::lock() held.
bool openDialogDisplay();
