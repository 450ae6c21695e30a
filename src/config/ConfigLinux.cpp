#include "config/ConfigLinux.h"

#include "config/AboutDialog.h"
#include "config/ConfigDialog.h"
#include "config/DialogDisplay.h"
#include "config/RealtimeConfigDialog.h"
#include "record/RecordControl.h"

#include <FL/Fl.H>
#include <FL/fl_ask.H>

#include <cstdio>

namespace
{
bool askYesNo(const char* question)
{
    return fl_choice("%s", "No", "Yes", nullptr, question) == 1;
}

void alertUser(const char* message)
{
    fl_alert("%s", message);
}

// One configuration window at a time: a host that asks for another while the
// real-time window is open gets a message instead of a second window (the windows
// share their widget pointers, and the second loop would wait for the first).
// Takes FLTK's lock, which the caller releases; true when it may show its dialog.
bool beginDialog()
{
    lockDialogs();
    if (!openDialogDisplay())
        return false;
    if (pflConfigWindow != nullptr)
    {
        std::fprintf(stderr, "SPU: the configuration window is already open.\n");
        return false;
    }
    return true;
}
} // namespace

ConfigLinux::ConfigLinux() {}

ConfigLinux::~ConfigLinux() {}

// Without a display (a host running headless) the dialog counts as cancelled.
int ConfigLinux::showConfigDialog()
{
    Config::showConfigDialog();
    int result = 2;
    if (beginDialog())
    {
        thisConfig = this;
        result = makeConfigDialog(ConfigDialogProc);
    }
    Fl::unlock();
    return result;
}

int ConfigLinux::showRealtimeConfigDialog()
{
    int result = 2;
    if (beginDialog())
    {
        thisConfig = this;
        setRecordQuestion(askYesNo);
        setRecordAlert(alertUser);
        result = makeConfigDialog(RealtimeConfigDialogProc, setUpRealtimeConfigDialog);
    }
    Fl::unlock();
    return result;
}

// Runs on the host's thread, which must not touch the window: the request wakes
// the window's own thread, which closes it.
void ConfigLinux::destroyRealtimeConfigDialog()
{
    bRealtimeDialogClose = true;
    wakeRealtimeConfigDialog();
}

int ConfigLinux::showAboutDialog()
{
    int result = 0;
    if (beginDialog())
        result = makeAboutDialog();
    Fl::unlock();
    return result;
}
