#include "spuhost/DeviceChoice.h"

#include "spuhost/Plugin.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
const char* const SettingsFile = "cfg/spuTalvane.cfg";
const char* const DeviceKey = "AudioDevice";

std::string currentFolder()
{
    char path[4096];
    return getcwd(path, sizeof(path)) != nullptr ? std::string(path) : std::string();
}

bool readFile(const std::string& path, std::string& contents)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    contents = text.str();
    return true;
}

// Removes the scratch folder and its settings file, whatever happened.
void removeScratch(const std::string& folder)
{
    std::remove((folder + "/" + SettingsFile).c_str());
    rmdir((folder + "/cfg").c_str());
    rmdir(folder.c_str());
}
} // namespace

int DeviceChoice::deviceIndex(const std::string& name)
{
    if (name == "oss")
        return 3;
    if (name == "sdl")
        return 1;
    return -1;
}

bool DeviceChoice::init(Plugin& plugin, int index)
{
    const std::string home = currentFolder();
    char pattern[] = "/tmp/spuhost-device-XXXXXX";
    if (home.empty() || mkdtemp(pattern) == nullptr)
    {
        lastError = std::string("cannot make a scratch folder: ") + std::strerror(errno);
        return false;
    }
    const std::string scratch = pattern;
    if (mkdir((scratch + "/cfg").c_str(), 0755) != 0 || chdir(scratch.c_str()) != 0)
    {
        lastError = "cannot prepare " + scratch + ": " + std::strerror(errno);
        removeScratch(scratch);
        return false;
    }

    std::string settings;
    if (!readFile(home + "/" + SettingsFile, settings))
    {
        // No file of the user's: the plugin writes its defaults on its first start.
        plugin.SPUinit();
        plugin.SPUshutdown();
        readFile(SettingsFile, settings);
    }

    // The first line that starts with the key wins, so the choice goes first and
    // the file's own device lines are dropped.
    std::ostringstream chosen;
    chosen << DeviceKey << " = " << index << "\n";
    std::istringstream lines(settings);
    for (std::string line; std::getline(lines, line);)
        if (line.compare(0, std::strlen(DeviceKey), DeviceKey) != 0)
            chosen << line << "\n";
    std::ofstream out(SettingsFile, std::ios::binary | std::ios::trunc);
    out << chosen.str();
    out.close();
    const bool written = static_cast<bool>(out);

    if (written)
        plugin.SPUinit();
    const bool back = chdir(home.c_str()) == 0;
    removeScratch(scratch);
    if (!written)
        lastError = "cannot write the settings in " + scratch;
    else if (!back)
        lastError = "cannot return to " + home + ": " + std::strerror(errno);
    return written && back;
}
