#pragma once

#include <FL/Fl_Widget.H>

// The real-time window: the configuration window built with this callback while a
// game plays, on a thread of its own. OK and Cancel are hidden, "Default" becomes
// "Record", and every change applies at once (copied into ConfigLinux::thisConfig
// and pushed into the class statics) without touching the file.

// The window's set-up, between building and showing: loads the widgets inside the
// critical section while bRealtimeDialogReady is false, then turns the dialog into
// the real-time window. Returns false when a close request arrived meanwhile, in
// which case the window must not be shown.
bool setUpRealtimeConfigDialog();
void RealtimeConfigDialogProc(Fl_Widget* widget, void* data);
