#include "config/ConfigLinux.h"

#include "config/AboutDialog.h"
#include "config/ConfigDialog.h"
#include "config/DialogDisplay.h"
#include "config/RealtimeConfigDialog.h"
#include "record/RecordControl.h"

#include <FL/Fl.H>
#include <FL/fl_ask.H>

Config* ConfigLinux::thisConfig = nullptr;

namespace
{
bool askYesNo(const char* question)
{
    return fl_choice("%s", "No", "Yes", nullptr, question) == 1;
}
} // namespace

ConfigLinux::ConfigLinux() {}

ConfigLinux::~ConfigLinux() {}

// Without a display (a host running headless) the dialog counts as cancelled.
int ConfigLinux::showConfigDialog()
{
    Config::showConfigDialog();
    lockDialogs();
    int result = 2;
    if (openDialogDisplay())
    {
        thisConfig = this;
        result = makeConfigDialog(ConfigDialogProc);
    }
    Fl::unlock();
    return result;
}

int ConfigLinux::showRealtimeConfigDialog()
{
    lockDialogs();
    int result = 2;
    if (openDialogDisplay())
    {
        thisConfig = this;
        setRecordQuestion(askYesNo);
        result = makeConfigDialog(RealtimeConfigDialogProc);
    }
    Fl::unlock();
    return result;
}

// Runs on the host's thread, which must not touch the window: the request wakes
// the window's own thread, which closes it.
void ConfigLinux::destroyRealtimeConfigDialog()
{
    bRealtimeDialogClose = true;
    wakeDialogs();
}

int ConfigLinux::showAboutDialog()
{
    lockDialogs();
    int result = 0;
    if (openDialogDisplay())
        result = makeAboutDialog();
    Fl::unlock();
    return result;
}
