#pragma once

// The plugin's settings file (./cfg/spuTalvane.cfg, read at SPUinit) as the tests
// write it: the thirteen keys in the order the plugin writes them, "Key = value" a
// line. Every key has the value the plugin writes when it finds no file, unless
// `changes` names it; a key changed to OmitSetting is left out, and keys that are
// not among the thirteen follow them, for a test that wants a stray line.

#include <climits>
#include <map>
#include <string>
#include <utility>

const int OmitSetting = INT_MIN;

inline std::string settingsText(const std::map<std::string, int>& changes = {})
{
    static const std::pair<const char*, int> defaults[] = {{"AudioDevice", 3},
                                                           {"SoundBufferSize", 64},
                                                           {"AudioOutMethod", 0},
                                                           {"AsyncMode", 0},
                                                           {"ShowRealtimeConfigWindow", 0},
                                                           {"WaitForXABufferIsFree", 1},
                                                           {"CacheVagDecode", 0},
                                                           {"Finetune", 0},
                                                           {"ReverbType", 4},
                                                           {"RecOpt", 5},
                                                           {"UpdateBeforeRegisterAccess", 0},
                                                           {"SPUIRQWaitCPUAction", 0},
                                                           {"SPUIRQForceInterruptFlag7", 0}};
    std::map<std::string, int> rest = changes;
    std::string text;
    for (const auto& key : defaults)
    {
        const auto change = rest.find(key.first);
        const int value = change != rest.end() ? change->second : key.second;
        if (change != rest.end())
            rest.erase(change);
        if (value != OmitSetting)
            text += std::string(key.first) + " = " + std::to_string(value) + "\n";
    }
    for (const auto& extra : rest)
        text += extra.first + " = " + std::to_string(extra.second) + "\n";
    return text;
}
