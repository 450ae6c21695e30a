#pragma once

class Fl_Window;

// The about box behind SPUabout: the plugin's name and version and what it builds
// on. Modal; blocks until it is closed (OK, Enter or the close box).
extern Fl_Window* pflAboutWindow;

// Builds a new window, shows it and runs the event loop until no window is shown.
// The display must be open (openDialogDisplay). Returns 0.
int makeAboutDialog();
