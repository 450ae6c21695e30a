#pragma once

// A fresh copy of the built plugin for one test, loaded with dlopen as a host loads
// it, with its configuration file written first (the plugin reads ./cfg/spuTalvane.cfg
// at SPUinit, so the test runs in a directory of its own). The library must not be
// loaded already: class statics such as the noise generator live as long as it does.

#include "spuhost/Plugin.h"
#include "support/ScratchDir.h"
#include "support/SettingsFile.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace e2e
{
inline int& callbackCount()
{
    static int count = 0;
    return count;
}

inline void countCallback()
{
    ++callbackCount();
}

class PluginSession
{
public:
    // `settings` overrides configuration keys; every other key keeps its default.
    explicit PluginSession(const std::map<std::string, int>& settings = {})
        : dir(ScratchDir::WorkInside, "spu_e2e")
    {
        if (!dir.ok())
            return;
        mkdir("cfg", 0755);
        FILE* cfg = std::fopen("cfg/spuTalvane.cfg", "w");
        if (cfg == nullptr)
            return;
        std::fputs(settingsText(settings).c_str(), cfg);
        std::fclose(cfg);

        freshLoad = dlopen(SPU_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD) == nullptr;
        plugin.reset(new Plugin);
        if (!freshLoad || !plugin->load(SPU_PLUGIN_PATH))
            return;
        plugin->SPUinit();
        callbackCount() = 0;
        if (plugin->SPUregisterCallback != nullptr)
            plugin->SPUregisterCallback(countCallback);
        ready = plugin->SPUrender != nullptr;
    }

    ~PluginSession()
    {
        if (ready)
            plugin->SPUshutdown();
        plugin.reset();
        if (!dir.close())
            std::fprintf(stderr, "%s\n", dir.error().c_str());
    }

    bool ok() const { return ready; }
    bool fresh() const { return freshLoad; }
    Plugin& operator*() { return *plugin; }
    Plugin* operator->() { return plugin.get(); }

private:
    ScratchDir dir;
    std::unique_ptr<Plugin> plugin;
    bool freshLoad = false;
    bool ready = false;
};
} // namespace e2e
