#include "config/ConfigLinux.h"

Config* ConfigLinux::thisConfig = nullptr;

ConfigLinux::ConfigLinux() {}

ConfigLinux::~ConfigLinux() {}

// The dialogs are not drawn in this build: the configuration dialog counts as
// cancelled, so nothing is saved.
int ConfigLinux::showConfigDialog()
{
    Config::showConfigDialog();
    thisConfig = this;
    return 2;
}

int ConfigLinux::showRealtimeConfigDialog()
{
    thisConfig = this;
    return 2;
}

void ConfigLinux::destroyRealtimeConfigDialog()
{
    bRealtimeDialogClose = true;
}

int ConfigLinux::showAboutDialog()
{
    return 0;
}
