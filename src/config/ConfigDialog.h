#pragma once

#include <FL/Fl_Widget.H>

class Fl_Button;
class Fl_Check_Button;
class Fl_Choice;
class Fl_Counter;
class Fl_Return_Button;
class Fl_Window;

// The configuration window: the modal dialog behind SPUconfigure, and (built with
// RealtimeConfigDialogProc) the real-time window that stays open while a game
// plays. One window at a time; the widget pointers below tell the callbacks which
// widget fired and are null while no window exists. The dialogs run on whichever
// thread shows them, with FLTK's lock held (lockDialogs), so that only one thread
// at a time uses the toolkit.

// 2 while the dialog is open or when it was cancelled, 1 when accepted.
extern int dialogResult;

extern Fl_Window* pflConfigWindow;
extern Fl_Choice* pflAudioDevice;
extern Fl_Counter* pflBufferSize;
extern Fl_Choice* pflAudioOutMethod;
extern Fl_Choice* pflAsyncMode;
extern Fl_Check_Button* pflShowRealtimeConfigWindow;
extern Fl_Check_Button* pflWaitForXABufferIsFree;
extern Fl_Check_Button* pflCacheVagDecode;
extern Fl_Counter* pflFinetune;
extern Fl_Button* pflRecOption;
extern Fl_Choice* pflReverbType;
extern Fl_Check_Button* pflUpdateBeforeRegisterAccess;
extern Fl_Check_Button* pflSPUIRQWaitCPUAction;
extern Fl_Check_Button* pflSPUIRQForceInterruptFlag7;
extern Fl_Return_Button* pflOK;
extern Fl_Button* pflCancel;
extern Fl_Button* pflDefault;

// Fl::lock() for the dialogs. FLTK sets its lock up on the first call, unguarded,
// so that first call is made once for all threads. Pair with Fl::unlock().
void lockDialogs();
// Wakes the event loop of the real-time window, if it runs, so that it sees the
// close request set before the call. Safe from any thread.
void wakeRealtimeConfigDialog();

// Builds and shows the window with the given callback on every widget and runs the
// event loop until no window is shown. Returns dialogResult. The display must be
// open (openDialogDisplay). The mode is the set-up: without one, the modal dialog
// loads its values from Config::thisConfig; with one, the window is the
// real-time window, which that set-up loads (it returns false when the window must
// not be shown) and which closes when Config::thisConfig->bRealtimeDialogClose
// is raised.
typedef bool (*RealtimeSetUp)();
int makeConfigDialog(Fl_Callback* callback, RealtimeSetUp setUpRealtime = nullptr);
// Steps of makeConfigDialog before the values are loaded: creates the window and
// its widgets without showing them.
void buildConfigDialog(Fl_Callback* callback);
void ConfigDialogProc(Fl_Widget* widget, void* data);
void setDialogValue();
void getDialogValue();
// Hides the recording options and the configuration window; the event loop of
// makeConfigDialog then ends. Runs on the dialog's own thread.
void destroyConfigDialog();
// Deletes the window and the recording options, if any, and nulls the pointers.
void deleteConfigDialog();
// "Async mode:" only matters when the host paces output ("SPUasync"), the XA wait
// only when it does not: activates one of the two and greys the other.
void activateForAudioOutMethod(int method);
