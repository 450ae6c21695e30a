#pragma once

#include <string>

class Plugin;

// Starts a plugin with its sound device chosen by the caller rather than by its
// settings file. The plugin reads "./cfg/spuTalvane.cfg" from the working folder
// at SPUinit, so init() runs SPUinit in a scratch folder holding a copy of that
// file (or, where there is none, the plugin's own defaults) with the "AudioDevice"
// line replaced, then returns to the caller's folder. The user's file is never
// written; everything else it says (ring size, pacing, reverb) still holds.
class DeviceChoice
{
public:
    // "oss" or "sdl"; the settings-file index for it, or -1 for any other name.
    static int deviceIndex(const std::string& name);

    // SPUinit with "AudioDevice" = index. False, with error() set, when the scratch
    // folder or its file cannot be made; the plugin is then not initialised.
    bool init(Plugin& plugin, int index);
    const std::string& error() const { return lastError; }

private:
    std::string lastError;
};
