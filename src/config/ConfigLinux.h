#pragma once

#include "config/Config.h"

// Configuration with the dialogs of this platform: the modal configuration dialog,
// the real-time window and the about box.
class ConfigLinux : public Config
{
public:
    ConfigLinux();
    ~ConfigLinux() override;

    int showConfigDialog() override;
    int showRealtimeConfigDialog() override;
    void destroyRealtimeConfigDialog() override;
    int showAboutDialog() override;
};
