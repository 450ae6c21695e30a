#pragma once

#include <FL/Fl_Widget.H>

// The real-time window: the configuration window built with this callback while a
// game plays, on a thread of its own. OK and Cancel are hidden, "Default" becomes
// "Record", and every change applies at once (copied into Config::thisConfig
// and pushed into the class statics) without touching the file.

// The window's set-up, between building and showing: loads the widgets inside the
// critical section while bRealtimeDialogReady is false, then turns the dialog into
// the real-time window. Returns false when a close request arrived meanwhile, in
// which case the window must not be shown.
bool setUpRealtimeConfigDialog();
void RealtimeConfigDialogProc(Fl_Widget* widget, void* data);

// The recorder as the window's "Record" button sees it, handed over by the plugin
// when it loads; all three run inside the critical section. Until then nothing
// records and the button does nothing.
struct RealtimeRecording
{
    bool (*isRecording)();
    bool (*start)(); // true when a recording runs afterwards
    void (*stop)();
};
void setRealtimeRecording(const RealtimeRecording& recording);

class Config;

// The window's own thread, started at SPUopen when the configuration's
// "ShowRealtimeConfigWindow" is set (it shows the window on config) and stopped at
// SPUclose: the stop asks the window to close and joins the thread.
void startRealtimeConfigWindow(Config& config);
void stopRealtimeConfigWindow();
