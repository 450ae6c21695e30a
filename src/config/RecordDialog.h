#pragma once

#include <FL/Fl_Widget.H>

class Fl_Button;
class Fl_Check_Button;
class Fl_Return_Button;
class Fl_Window;

// "Recording Option": a small modal dialog that edits the "RecOpt" bits of the
// configuration being edited, one check button per kind of host event. The bits
// reach Record::ConfigRecOpt when the configuration is next applied. Opened by the
// "Rec option" button of the configuration and real-time windows, whose event loop
// serves it.

// The latest window, or null; the configuration window hides it when it closes.
extern Fl_Window* pflRecordWindow;
extern Fl_Check_Button* pflREGwrite;
extern Fl_Check_Button* pflREGread;
extern Fl_Check_Button* pflDMAwrite;
extern Fl_Check_Button* pflDMAread;
extern Fl_Check_Button* pflXAplay;
extern Fl_Check_Button* pflCDDAplay;
extern Fl_Return_Button* pflRecOK;
extern Fl_Button* pflRecCancel;

// Builds a new window (replacing the previous, hidden one), loads the check
// buttons from recOpt, shows it and returns at once; OK writes them back to recOpt,
// which must outlive the window.
void makeRecordDialog(int& recOpt);
void RecOptDialogProc(Fl_Widget* widget, void* data);
// Deletes the window, if any; the configuration window does so when it is done.
void deleteRecordDialog();
