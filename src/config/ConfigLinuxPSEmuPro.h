#pragma once

#include "config/ConfigLinux.h"

#include <cstdio>

// Configuration kept in the plain-text file "./cfg/spuTalvane.cfg" (relative to the
// host's working directory): one "key = value" line per setting.
class ConfigLinuxPSEmuPro : public ConfigLinux
{
public:
    static const char* CfgFile;

    ConfigLinuxPSEmuPro();
    ~ConfigLinuxPSEmuPro() override;

    void loadConfig() override;
    int saveConfig() override;

    // 0: opened an existing file; 1: created a new empty one; -1: failed.
    int openConfigData(FILE*& file);
    int getConfigValue(FILE* file, const char* key);
    void setConfigValue(FILE* file, const char* key, int value);
    int closeConfigData(FILE* file);
};
